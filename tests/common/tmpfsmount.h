// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

// A small tmpfs mounted on a new directory for as long as the object lives,
// for tests of a full disk or a tiny temporary directory. Mounting needs root (as on CI) and may still be
// refused inside a sandbox: then isMounted() is false, reason() says why, and
// the test takes its fallback.
class TmpfsMount
{
public:
    TmpfsMount(const QString &path, qint64 bytes)
        : m_path(path)
    {
        QDir().mkpath(path);
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0700";
        if (::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) == 0)
            m_mounted = true;
        else
            m_reason = QString::fromLocal8Bit(std::strerror(errno));
    }
    ~TmpfsMount()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
        QDir().rmdir(m_path);
    }
    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;

    bool isMounted() const { return m_mounted; }
    QString path() const { return m_path; }
    QString reason() const { return m_reason; }

private:
    QString m_path;
    bool m_mounted = false;
    QString m_reason;
};
