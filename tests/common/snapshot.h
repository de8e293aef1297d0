// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "processrun.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QVector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

// Relative path ("/a/b") → kind, mode and contents (a SHA-1 for files, the target for links).
using TreeSnapshot = QMap<QByteArray, QByteArray>;

// Every entry below root, read with the system's calls so that names in any
// byte form are seen (QDir leaves out names that are not valid UTF-8).
inline void listTree(const QByteArray &root, const QByteArray &prefix, TreeSnapshot *tree)
{
    DIR *dir = ::opendir((root + prefix).constData());
    if (!dir)
        return;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        const QByteArray relative = prefix + '/' + entry->d_name;
        const QByteArray path = root + relative;
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0) {
            tree->insert(relative, "vanished");
            continue;
        }
        const QByteArray mode = QByteArray::number(st.st_mode & 07777, 8);
        if (S_ISDIR(st.st_mode)) {
            tree->insert(relative, "dir " + mode);
            listTree(root, relative, tree);
        } else if (S_ISLNK(st.st_mode)) {
            QByteArray target(4096, '\0');
            const ssize_t n = ::readlink(path.constData(), target.data(), size_t(target.size()));
            tree->insert(relative, "link " + target.left(int(n > 0 ? n : 0)));
        } else if (S_ISREG(st.st_mode)) {
            QFile file(QFile::decodeName(path));
            QCryptographicHash hash(QCryptographicHash::Sha1);
            // Opened by its bytes: a name QFile cannot encode shows as unreadable.
            const int fd = ::open(path.constData(), O_RDONLY);
            if (fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
                hash.addData(&file);
            tree->insert(relative, "file " + mode + ' ' + QByteArray::number(qint64(st.st_size)) + ' ' + hash.result().toHex());
        } else {
            tree->insert(relative, "special " + mode);
        }
    }
    ::closedir(dir);
}

inline TreeSnapshot treeSnapshot(const QString &root)
{
    TreeSnapshot tree;
    listTree(QFile::encodeName(root), QByteArray(), &tree);
    return tree;
}

// The names in one directory, hidden ones too, sorted.
inline QStringList entryNames(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// An entry of a tar archive as Python's tarfile reads it, so that no code of
// the editor reads the archive under test.
struct ArchiveEntry
{
    QByteArray name; // bytes as stored
    QByteArray linkname;
    char type = 0;
    qint64 offset = 0; // in the uncompressed stream: the first header,
    qint64 offsetData = 0; // the data,
    qint64 end = 0;        // and the next entry
    qint64 size = 0;
    bool sparse = false;
    QString attributes; // mode, owner, group, mtime
    QByteArray pax;     // the extended records that apply to it, "key=value" a line
    QString sha;        // SHA-256 of a regular file's data
};

inline QVector<ArchiveEntry> archiveEntries(const QString &archive)
{
    static const char *const lister = R"(
import hashlib, json, sys, tarfile
raw = lambda text: text.encode("utf-8", "surrogateescape").hex()
entries = []
with tarfile.open(sys.argv[1], encoding="utf-8") as tar:
    for m in iter(tar.next, None):
        entries.append({"offset": m.offset, "offset_data": m.offset_data, "end": tar.offset, "size": m.size,
                        "name": raw(m.name), "linkname": raw(m.linkname), "type": m.type.decode(),
                        "attributes": "%o %d:%d %s:%s %.17g" % (m.mode, m.uid, m.gid, m.uname, m.gname, m.mtime),
                        "pax": raw("".join("%s=%s\n" % record for record in sorted(m.pax_headers.items()))),
                        "sparse": m.sparse is not None,
                        "sha": hashlib.sha256(tar.extractfile(m).read()).hexdigest() if m.isreg() else ""})
json.dump(entries, sys.stdout)
)";
    QVector<ArchiveEntry> entries;
    for (const QJsonValue value : QJsonDocument::fromJson(outputOf("python3", {"-c", lister, archive})).array()) {
        ArchiveEntry e;
        e.offset = value["offset"].toVariant().toLongLong();
        e.offsetData = value["offset_data"].toVariant().toLongLong();
        e.end = value["end"].toVariant().toLongLong();
        e.size = value["size"].toVariant().toLongLong();
        e.name = QByteArray::fromHex(value["name"].toString().toLatin1());
        e.linkname = QByteArray::fromHex(value["linkname"].toString().toLatin1());
        e.type = value["type"].toString().toLatin1().at(0);
        e.sparse = value["sparse"].toBool();
        e.attributes = value["attributes"].toString();
        e.pax = QByteArray::fromHex(value["pax"].toString().toLatin1());
        e.sha = value["sha"].toString();
        entries.append(e);
    }
    return entries;
}

inline QList<QByteArray> archiveNames(const QString &archive)
{
    QList<QByteArray> names;
    for (const ArchiveEntry &entry : archiveEntries(archive))
        names.append(entry.name);
    return names;
}
