// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

int fail(ExitCode code, const QString &message)
{
    err() << "tando-project: " << message << Qt::endl;
    return code;
}

QString printable(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u < 0xa0))
            shown += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

Result flushOutput()
{
    out().flush();
    if (out().status() != QTextStream::Ok)
        return Result::failure(QStringLiteral("cannot write to standard output: %1")
                                   .arg(out().device() ? out().device()->errorString() : QStringLiteral("write failed")));
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return Result::success();
    return Result::failure(QStringLiteral("cannot write to standard output: %1")
                               .arg(QString::fromLocal8Bit(std::strerror(errno ? errno : EIO))));
}

int stopped(int signalNumber)
{
    err() << "tando-project: stopped by signal " << signalNumber << " (" << ::strsignal(signalNumber) << ')' << Qt::endl;
    return 128 + signalNumber;
}
