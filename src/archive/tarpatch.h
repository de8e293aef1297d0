#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <functional>
#include <memory>

// The 512-byte header record of a ustar archive.
struct tar_ustarheader
{
    char name[100];
    char mode[8];
    char uid[8];
    char gid[8];
    char size[12];
    char mtime[12];
    char chksum[8];
    char typeflag;
    char linkname[100];
    char magic[6];
    char version[2];
    char uname[32];
    char gname[32];
    char devmajor[8];
    char devminor[8];
    char prefix[155];
    char padding[12];
};
static_assert(sizeof(tar_ustarheader) == 512, "a tar header is one 512-byte block");

namespace TarPatch {

// Sum of the header's bytes as unsigned values, the chksum field counting as spaces.
unsigned int tarHeaderChecksum(const tar_ustarheader *header);

// Entry size as tar readers read it: leading spaces, octal digits ended by NUL
// or space; base-256 when the first byte has its high bit set. 0 when unreadable.
quint64 tarEntrySize(const tar_ustarheader *header);

// The checksum-fixing visitor: a header with a non-empty name gets its checksum
// written as octal digits without leading zeros, followed by zero bytes.
void fixTarHeaderChecksum(tar_ustarheader *header);

// Visits every 512-byte header position of a copy of the image and returns the copy.
// Each entry's size is read (tarEntrySize) before the visitor is called; the walk
// goes on past the end-of-archive zero blocks and ends when fewer than 512 bytes
// remain or an entry's data runs past the end of the image.
QByteArray walkTarHeaders(QByteArray image, const std::function<void(tar_ustarheader *)> &visitor);

// Replaces, in place in the tar file, each `first` by its `second` (same length;
// pairs of unequal length are skipped) inside entry names only: the name field
// (joined with the prefix field in the POSIX ustar layout), the target of a hard
// link (linkname field, pax "linkpath" record, GNU long-link entry), the pax
// "path" and "GNU.sparse.name" records and GNU long-name entries. The target of
// a symbolic link is no entry name and stays. Every header with a non-empty
// name gets its size field ended by a NUL and its checksum rewritten by
// fixTarHeaderChecksum. File data keeps its bytes; the file is streamed
// through StreamPatcher, so memory use does not grow with the archive (pax
// and GNU name data is held up to 1 MiB).
// The walk ends at the first zero block (end of archive) or when fewer than
// 512 bytes remain. Returns false when the file cannot be opened, read or
// written, a header's checksum does not match (not a tar), an entry runs past
// the end of the file (truncated) or a pax header is malformed or too large;
// the archive is checked completely first, so in these cases (except a write
// error) the file is left unchanged.
bool patchTarNames(const QString &tarPath, const QList<QPair<QByteArray, QByteArray>> &replacements);

// The name patching of patchTarNames (which runs it over a file), applied to
// a tar stream while it is written: bytes go in as the tar writer produces
// them and come out patched, in order, to the sink. Extension headers are
// held back until the header of the entry they belong to has arrived; file
// data passes through at once. Every header's size field ends in a NUL and
// its checksum is rewritten. After the first zero block everything passes
// unchanged.
class StreamPatcher
{
public:
    using Sink = std::function<bool(const char *data, qint64 size)>;
    StreamPatcher(const QList<QPair<QByteArray, QByteArray>> &replacements, Sink sink);
    ~StreamPatcher();
    StreamPatcher(const StreamPatcher &) = delete;
    StreamPatcher &operator=(const StreamPatcher &) = delete;

    bool write(const char *data, qint64 size);
    // False when the stream ended inside an entry or an error happened before.
    bool finish();
    // Past the end-of-archive block: what follows passes unchanged.
    bool ended() const;
    // Between entries: no header, extension or data is waiting for more bytes.
    bool atEntryBoundary() const;
    QString error() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace TarPatch
