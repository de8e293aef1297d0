// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gzipstream.h"
#include "posixfile.h"

#include <QByteArray>
#include <QString>

#include <memory>

// The decoded bytes of an archive file, from its start: decoded on the way
// when its content is gzip, whatever its name; read as they are otherwise.
namespace Archive {

class ArchiveSource
{
public:
    // Reads the file open at fd (not taken over) from its start, by offset:
    // other readers of the same descriptor may run at the same time.
    Result open(int fd);

    bool isGzip() const { return m_inflater != nullptr; }
    qint64 size() const { return m_size; }
    // Bytes of the file read so far, for progress.
    qint64 consumed() const { return m_inflater ? m_inflater->consumed() : m_consumed; }
    // Bytes of the tar handed out so far.
    qint64 tarBytes() const { return m_tarBytes; }

    // The next block of the tar; empty at the end or on an error (see error()).
    // It stays valid until the next call.
    QByteArray next();
    // Why reading stopped early; empty while everything read was valid.
    QString error() const { return m_inflater ? m_inflater->error() : m_readError; }

private:
    int m_fd = -1;
    std::unique_ptr<GzipStream::Inflater> m_inflater;
    QByteArray m_buffer;
    qint64 m_size = 0;
    qint64 m_consumed = 0;
    qint64 m_tarBytes = 0;
    QString m_readError;
};

} // namespace Archive
