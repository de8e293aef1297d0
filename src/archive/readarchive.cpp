// SPDX-License-Identifier: GPL-3.0-or-later
// Loading: the archive file -> gzip decoder (when the content is gzip) ->
// libarchive's tar reader, with the entry guard and the limits, and beside
// it our own walk of the same bytes, which indexes every entry for storing.

#include "projectarchive.h"

#include "archivehandles.h"
#include "archivesource.h"
#include "entryguard.h"
#include "interruption.h"
#include "logging.h"
#include "unpackbudget.h"

#include <QFile>
#include <QLocale>

#include <fcntl.h>

namespace Archive {

namespace {

// libarchive reads the decoded bytes through this; the index walk sees
// every block first.
class IndexingReader
{
public:
    explicit IndexingReader(ArchiveSource &source)
        : m_source(source)
        , m_walker([this](const TarStream::EntryInfo &e, TarStream::EntryEdit *, QString *) { return record(e); },
                   TarStream::Walker::Sink())
    {
    }

    static la_ssize_t read(archive *, void *client, const void **buffer)
    {
        auto *self = static_cast<IndexingReader *>(client);
        self->m_block = self->m_source.next();
        if (self->m_block.isEmpty() && !self->m_source.error().isEmpty())
            return -1;
        // libarchive names a damaged header best; a walk that fails alone
        // fails the load once libarchive is through.
        if (self->m_walkError.isEmpty() && !self->m_walker.write(self->m_block.constData(), self->m_block.size()))
            self->m_walkError = self->m_walker.error();
        *buffer = self->m_block.constData();
        return la_ssize_t(self->m_block.size());
    }

    // Reads what follows the tar's end, so that the gzip layer is checked to
    // its end and the index walk sees every byte.
    Result finish()
    {
        for (;;) {
            const QByteArray block = m_source.next();
            if (block.isEmpty())
                break;
            if (m_walkError.isEmpty() && !m_walker.write(block.constData(), block.size()))
                m_walkError = m_walker.error();
        }
        if (!m_source.error().isEmpty())
            return Result::failure(m_source.error());
        if (m_walkError.isEmpty() && !m_walker.finish())
            m_walkError = m_walker.error();
        return m_walkError.isEmpty() ? Result::success() : Result::failure(m_walkError);
    }

    // Why reading stopped early, when it was not libarchive's own finding.
    QString readError() const { return m_source.error(); }
    QString walkError() const { return m_walkError; }
    const std::vector<IndexEntry> &index() const { return m_index; }
    // The main header's type flag and the name of each entry, as our walk read them.
    char typeOf(int entry) const { return m_types.at(size_t(entry)); }
    const QByteArray &pathOf(int entry) const { return m_paths.at(size_t(entry)); }
    qint64 tailOffset() const { return m_walker.endOffset(); }

private:
    bool record(const TarStream::EntryInfo &e)
    {
        m_index.push_back({e.offset, e.dataOffset, e.end, e.headerCrc});
        m_types.push_back(e.type);
        m_paths.push_back(e.path);
        return true;
    }

    ArchiveSource &m_source;
    TarStream::Walker m_walker;
    QByteArray m_block;
    QString m_walkError;
    std::vector<IndexEntry> m_index;
    std::vector<char> m_types;
    std::vector<QByteArray> m_paths;
};

QString sizeText(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes);
}

// libarchive's own reason ("Damaged tar archive") for a person; the call
// that gave it goes to the debug log only.
Result libraryFailure(const char *call, archive *a)
{
    qCDebug(lcArchive).noquote() << archiveError(call, a);
    const char *text = archive_error_string(a);
    return Result::failure(text ? QString::fromLocal8Bit(text) : QStringLiteral("the archive cannot be read"));
}

// A name as the visitor sees it: its parts, "." and empty ones dropped.
QByteArray joinedParts(const QByteArray &name)
{
    QByteArrayList parts = name.split('/');
    parts.removeAll(QByteArray());
    parts.removeAll(QByteArray("."));
    return parts.join('/');
}

// A name as both readings compare it: a directory's trailing '/' is
// written by some tools and not by others, and a ustar prefix ending in '/'
// doubles the one that joins it to the name; "a//b" is "a/b" to everyone.
QByteArray comparable(const QByteArray &name)
{
    QByteArray single;
    single.reserve(name.size());
    for (const char c : name) {
        if (c != '/' || !single.endsWith('/'))
            single.append(c);
    }
    if (single.size() > 1 && single.endsWith('/'))
        single.chop(1);
    return single;
}

// What kind of entry a tar type flag makes, as libarchive reports kinds;
// hard links as their own kind. Flags no tool reads specially are regular
// files, as libarchive takes them.
enum class Kind { Regular, HardLink, Symlink, Directory, CharDevice, BlockDevice, Fifo, Other };

Kind kindOfFlag(char flag)
{
    switch (flag) {
    case '1':
        return Kind::HardLink;
    case '2':
        return Kind::Symlink;
    case '3':
        return Kind::CharDevice;
    case '4':
        return Kind::BlockDevice;
    case '5':
    case 'D': // a GNU incremental dump's directory
        return Kind::Directory;
    case '6':
        return Kind::Fifo;
    default: // '0', '\0', '7', 'S' (GNU sparse) and the rest
        return Kind::Regular;
    }
}

Kind kindOfEntry(archive_entry *entry)
{
    if (archive_entry_hardlink(entry))
        return Kind::HardLink;
    switch (archive_entry_filetype(entry)) {
    case AE_IFREG:
        return Kind::Regular;
    case AE_IFLNK:
        return Kind::Symlink;
    case AE_IFDIR:
        return Kind::Directory;
    case AE_IFCHR:
        return Kind::CharDevice;
    case AE_IFBLK:
        return Kind::BlockDevice;
    case AE_IFIFO:
        return Kind::Fifo;
    default:
        return Kind::Other;
    }
}

QString kindText(Kind kind)
{
    static const char *const texts[] = {"a regular file",     "a hard link",    "a symbolic link", "a directory",
                                        "a character device", "a block device", "a FIFO",          "an entry of unknown type"};
    return QString::fromLatin1(texts[int(kind)]);
}

// A failure that names the entry it is about.
Result about(const QString &name, const Result &result)
{
    return result ? result : Result::failure(QStringLiteral("%1: %2").arg(name, result.reason()));
}

// The one read loop: every entry is guarded, counted and shown to the
// visitor; the data of the files it keeps is read, all other data skipped.
class EntryLoop
{
public:
    EntryLoop(IndexingReader &reader, EntryVisitor &visitor, JobControl *control, ArchiveSource &source)
        : m_reader(reader), m_visitor(visitor), m_control(control), m_source(source)
    {
    }

    Result run(archive *a)
    {
        for (int index = 0;; ++index) {
            if (m_control && m_control->isCancelled())
                return Result::cancelled();
            archive_entry *entry = nullptr;
            const int r = archive_read_next_header(a, &entry);
            if (r == ARCHIVE_EOF)
                return checkCount(index);
            if (r != ARCHIVE_OK && r != ARCHIVE_WARN) // a damaged header gives ARCHIVE_RETRY
                return failure("archive_read_next_header", a);
            if (const Result visited = visit(a, entry, index); !visited)
                return visited;
            if (m_control)
                m_control->report(JobControl::Phase::Reading, m_source.consumed(), m_source.size());
        }
    }

private:
    Result failure(const char *call, archive *a) const
    {
        const QString readError = m_reader.readError();
        return !readError.isEmpty() ? Result::failure(readError) : libraryFailure(call, a);
    }

    // Our walk and libarchive must agree on where each entry lies: the
    // store copies entries by our walk, the guard saw them by libarchive's.
    Result checkPlace(archive *a, int index) const
    {
        const qint64 at = archive_read_header_position(a);
        if (size_t(index) >= m_reader.index().size() && !m_reader.walkError().isEmpty())
            return Result::failure(m_reader.walkError());
        if (size_t(index) >= m_reader.index().size() || m_reader.index()[size_t(index)].offset != at)
            return Result::failure(
                QStringLiteral("the tar entry at offset %1 has a layout this editor cannot store again").arg(at));
        return Result::success();
    }

    // And on what it is: the guard and the visitor see libarchive's name and
    // type, the store rewrites and copies by our walk's.
    Result checkReading(archive_entry *entry, int index, qint64 at) const
    {
        const QByteArray &walked = m_reader.pathOf(index);
        const char *read = archive_entry_pathname(entry);
        if (read && comparable(walked) != comparable(QByteArray(read)))
            return Result::failure(QStringLiteral("the tar entry at offset %1 has two names, %2 and %3, depending on "
                                                  "which of its headers a tar reader follows")
                                       .arg(at)
                                       .arg(shown(walked), shown(QByteArray(read))));
        const Kind flagged = kindOfFlag(m_reader.typeOf(index));
        const Kind reported = kindOfEntry(entry);
        // Old tar writers mark a directory by the '/' that ends its name alone.
        const bool oldDirectory = flagged == Kind::Regular && reported == Kind::Directory && walked.endsWith('/');
        if (flagged != reported && !oldDirectory)
            return Result::failure(QStringLiteral("the tar entry at offset %1 is %2 or %3, depending on how its "
                                                  "headers are read")
                                       .arg(at)
                                       .arg(kindText(flagged), kindText(reported)));
        return Result::success();
    }

    Result checkCount(int count) const
    {
        if (size_t(count) != m_reader.index().size())
            return Result::failure(QStringLiteral("the tar holds entries after its end"));
        return Result::success();
    }

    Result visit(archive *a, archive_entry *entry, int index)
    {
        if (const Result placed = checkPlace(a, index); !placed)
            return placed;
        if (const Result read = checkReading(entry, index, archive_read_header_position(a)); !read)
            return read;
        const QString name = shown(QByteArray(archive_entry_pathname(entry)));
        QByteArrayList parts;
        if (const Result guarded = m_guard.check(entry, &parts); !guarded)
            return guarded;
        const mode_t type = archive_entry_filetype(entry);
        const char *linked = archive_entry_hardlink(entry);
        const bool hardlink = linked != nullptr;
        const bool withData = type == AE_IFREG && !hardlink && archive_entry_size_is_set(entry);
        if (const Result fits = about(name, m_budget.takeEntry(withData ? archive_entry_size(entry) : 0)); !fits)
            return fits;
        bool keep = false;
        if (const Result taken = about(name, m_visitor.entry(index, parts, hardlink ? AE_IFREG : type, hardlink ? joinedParts(linked) : QByteArray(), &keep)); !taken)
            return taken;
        const char tarType = m_reader.typeOf(index);
        keep = keep && withData && (tarType == '0' || tarType == '\0') && archive_entry_sparse_count(entry) == 0;
        if (m_visitor.wantsFacts())
            return readFacts(a, entry, index, name, parts.join('/'), keep);
        if (!keep)
            return archive_read_data_skip(a) == ARCHIVE_OK ? Result::success()
                                                           : about(name, failure("archive_read_data_skip", a));
        return readKept(a, entry, index, name);
    }

    Result readFacts(archive *a, archive_entry *entry, int index, const QString &name, const QByteArray &path, bool keep)
    {
        const char *linked = archive_entry_hardlink(entry);
        EntryFacts facts = headerFacts(entry, index, path, linked ? joinedParts(linked) : QByteArray());
        const qint64 size = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : 0;
        const Result read = keep ? readKept(a, entry, index, name, &facts) : about(name, digestData(a, size, &facts));
        if (read)
            m_visitor.facts(facts);
        return read;
    }

    Result readKept(archive *a, archive_entry *entry, int index, const QString &name, EntryFacts *facts = nullptr)
    {
        const qint64 size = archive_entry_size(entry);
        if (size > MaxKeptFileBytes)
            return Result::failure(QStringLiteral("%1: %2 is more than a project file may hold (%3)")
                                       .arg(name, sizeText(size), sizeText(MaxKeptFileBytes)));
        m_keptBytes += size;
        if (m_keptBytes > MaxKeptBytes)
            return Result::failure(
                QStringLiteral("the project's files together are larger than %1").arg(sizeText(MaxKeptBytes)));
        QByteArray data(int(size), Qt::Uninitialized);
        qint64 done = 0;
        while (done < size) {
            const la_ssize_t n = archive_read_data(a, data.data() + done, size_t(size - done));
            if (n < 0)
                return about(name, failure("archive_read_data", a));
            if (n == 0)
                return Result::failure(QStringLiteral("%1: the data ends early").arg(name));
            done += n;
        }
        if (facts)
            addData(facts, data.constData(), size_t(size));
        m_visitor.data(index, data);
        return Result::success();
    }

    IndexingReader &m_reader;
    EntryVisitor &m_visitor;
    JobControl *m_control = nullptr;
    ArchiveSource &m_source;
    EntryGuard m_guard;
    UnpackBudget m_budget;
    qint64 m_keptBytes = 0;
};

// Reads the tar to its end.
Result readTar(ArchiveSource &source, EntryVisitor &visitor, JobControl *control, OpenedArchive *opened)
{
    IndexingReader indexing(source);
    ReadArchive reader(archive_read_new());
    if (!reader)
        return Result::failure(QStringLiteral("out of memory"));
    if (archive_read_support_format_tar(reader.get()) != ARCHIVE_OK)
        return libraryFailure("archive_read_support_format_tar", reader.get());
    if (archive_read_open(reader.get(), &indexing, nullptr, &IndexingReader::read, nullptr) != ARCHIVE_OK) {
        if (const QString readError = indexing.readError(); !readError.isEmpty())
            return Result::failure(readError);
        qCDebug(lcArchive).noquote() << archiveError("archive_read_open", reader.get());
        // The format is told from the first bytes: this is what users meet
        // when they open a file that is no project archive at all.
        return Result::failure(source.isGzip() ? QStringLiteral("the gzip data holds no tar archive")
                                               : QStringLiteral("neither a tar archive nor a gzip file"));
    }
    EntryLoop loop(indexing, visitor, control, source);
    Result result = loop.run(reader.get());
    if (result)
        result = indexing.finish();
    if (!result)
        return result;
    opened->entries = indexing.index();
    opened->tailOffset = indexing.tailOffset();
    opened->tarBytes = source.tarBytes();
    return result;
}

} // namespace

Result readArchive(const QString &path, EntryVisitor &visitor, JobControl *control,
                   std::shared_ptr<OpenedArchive> *opened)
{
    auto archive = std::make_shared<OpenedArchive>();
    archive->path = path;
    archive->fd.reset(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    Result result = archive->fd.valid() ? Result::success() : Result::failure(errnoText(errno));
    if (result) {
        ArchiveSource source;
        result = source.open(archive->fd.get());
        Interruption::pauseAt("load");
        if (result)
            result = readTar(source, visitor, control, archive.get());
    }
    if (result.isCancelled()) {
        qCDebug(lcArchive).noquote() << QStringLiteral("Reading %1 cancelled").arg(path);
        return result;
    }
    if (!result) {
        qCDebug(lcArchive).noquote() << QStringLiteral("Cannot load %1: %2").arg(path, result.reason());
        return result;
    }
    *opened = std::move(archive);
    return Result::success();
}

Result readAgain(const OpenedArchive &archive, EntryVisitor &visitor, JobControl *control)
{
    ArchiveSource source;
    OpenedArchive again;
    Result result = source.open(archive.fd.get());
    if (result)
        result = readTar(source, visitor, control, &again);
    if (result && (again.entries.size() != archive.entries.size() || again.tarBytes != archive.tarBytes))
        result = Result::failure(QStringLiteral("it has changed since it was read"));
    if (result.isFailure())
        qCDebug(lcArchive).noquote() << QStringLiteral("Cannot read %1 again: %2").arg(archive.path, result.reason());
    return result;
}

} // namespace Archive
