// SPDX-License-Identifier: GPL-3.0-or-later
#include "processfacts.h"

#include <QFile>
#include <QRegularExpression>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

namespace Archive {

namespace {

struct Facts
{
    mode_t umask = 022;
    QString pidNamespace;
    QString ownerTag;
    QByteArray pausePoint;
};

Facts &facts()
{
    static Facts instance;
    return instance;
}

// /proc/<pid>/stat field 22: when the process started, in clock ticks since
// boot. Empty when the process does not exist.
QString startTimeOf(const QString &pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray line = stat.readAll();
    // The command name (field 2) may hold spaces and parentheses: count from its end.
    const int end = line.lastIndexOf(')');
    if (end < 0)
        return QString();
    const QList<QByteArray> fields = line.mid(end + 2).split(' ');
    return fields.size() > 19 ? QString::fromLatin1(fields.at(19)) : QString();
}

QString pidNamespaceOf(const QString &pid)
{
    const QString link = QFile::symLinkTarget(QStringLiteral("/proc/%1/ns/pid").arg(pid));
    static const QRegularExpression inode(QStringLiteral("\\[(\\d+)\\]$"));
    const QRegularExpressionMatch match = inode.match(link);
    return match.hasMatch() ? match.captured(1) : QString();
}

mode_t readUmask()
{
    // /proc/self/status tells it without changing it (Linux 4.7 and later).
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint value = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(value);
            }
        }
    }
    const mode_t value = ::umask(022);
    ::umask(value);
    return value;
}

void capture()
{
    Facts &f = facts();
    f.umask = readUmask();
    const QString pid = QString::number(::getpid());
    const QString start = startTimeOf(pid);
    f.pidNamespace = pidNamespaceOf(pid);
    if (!start.isEmpty() && !f.pidNamespace.isEmpty())
        f.ownerTag = f.pidNamespace + QLatin1Char('-') + pid + QLatin1Char('-') + start;
    if (const char *point = std::getenv("TANDO_TEST_PAUSE_AT"))
        f.pausePoint = point;
}

std::once_flag captured;

// Before main(), and so before any thread.
[[maybe_unused]] const bool capturedAtStart = (captureProcessFacts(), true);

} // namespace

void captureProcessFacts()
{
    std::call_once(captured, capture);
}

mode_t processUmask()
{
    captureProcessFacts();
    return facts().umask;
}

QString ownerTag()
{
    captureProcessFacts();
    return facts().ownerTag;
}

Owner ownerState(const QString &tag)
{
    captureProcessFacts();
    static const QRegularExpression shape(QStringLiteral("\\A\\d+-\\d+-\\d+\\z"));
    const QStringList parts = tag.split(QLatin1Char('-'));
    if (!shape.match(tag).hasMatch() || facts().ownerTag.isEmpty() || parts.at(0) != facts().pidNamespace)
        return Owner::Alive;
    return startTimeOf(parts.at(1)) == parts.at(2) ? Owner::Alive : Owner::Gone;
}

QByteArray testPausePoint()
{
    captureProcessFacts();
    return facts().pausePoint;
}

} // namespace Archive
