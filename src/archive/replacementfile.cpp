#include "replacementfile.h"

#include "logging.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

ReplacementFile::ReplacementFile(const QString &target)
    : m_target(target)
    , m_file(QFileInfo(target).absolutePath() + QStringLiteral("/.") + QFileInfo(target).fileName()
             + QStringLiteral(".XXXXXX.part"))
{
}

Result ReplacementFile::open()
{
    if (!m_file.open())
        return Result::failure(QStringLiteral("Cannot write beside %1: %2").arg(m_target, m_file.errorString()));
    m_file.close();
    return Result::success();
}

Result ReplacementFile::commit()
{
    if (std::rename(QFile::encodeName(m_file.fileName()).constData(),
                    QFile::encodeName(QFileInfo(m_target).absoluteFilePath()).constData()) != 0)
        return Result::failure(
            QStringLiteral("Cannot replace %1: %2").arg(m_target, QString::fromLocal8Bit(std::strerror(errno))));
    m_file.setAutoRemove(false);
    return Result::success();
}
