#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QMap>
#include <QString>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

// Every entry below root, read with the system's calls so that names in any
// byte form are seen (QDir leaves out names that are not valid UTF-8):
// relative path → kind, mode and contents (a SHA-1 for files, the target for links).
inline void listTree(const QByteArray &root, const QByteArray &prefix, QMap<QByteArray, QByteArray> *tree)
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

inline QMap<QByteArray, QByteArray> rawTree(const QString &root)
{
    QMap<QByteArray, QByteArray> tree;
    listTree(QFile::encodeName(root), QByteArray(), &tree);
    return tree;
}
