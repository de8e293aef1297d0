// SPDX-License-Identifier: GPL-3.0-or-later
#include "leftovers.h"

#include "processfacts.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <sys/stat.h>
#include <unistd.h>

namespace Archive {

namespace {

const QString ownerPattern = QStringLiteral("(\\d+-\\d+-\\d+)");

// Ours to remove: of the expected type, owned by this user, and made by a
// process that has gone.
bool isStale(const QString &path, const QString &tag, mode_t type)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return (st.st_mode & S_IFMT) == type && st.st_uid == ::geteuid() && ownerState(tag) == Owner::Gone;
}

} // namespace

QString hiddenFileTemplate(const QString &directory, const QString &fileName)
{
    const QString tag = ownerTag();
    return directory + QStringLiteral("/.") + fileName + QLatin1Char('.') + (tag.isEmpty() ? QString() : tag + QLatin1Char('.'))
           + QStringLiteral("XXXXXX.part");
}

void removeStaleHiddenFiles(const QString &directory, const QString &fileName)
{
    if (ownerTag().isEmpty())
        return;
    const QRegularExpression hiddenName(QStringLiteral("\\A\\.") + QRegularExpression::escape(fileName) + QStringLiteral("\\.")
                                        + ownerPattern + QStringLiteral("\\.[A-Za-z0-9]{6}\\.part\\z"));
    const QString prefix = QStringLiteral(".") + fileName + QLatin1Char('.');
    QDirIterator it(directory, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!it.fileName().startsWith(prefix))
            continue;
        const QRegularExpressionMatch match = hiddenName.match(it.fileName());
        if (match.hasMatch() && isStale(path, match.captured(1), S_IFREG))
            ::unlink(QFile::encodeName(path).constData());
    }
}

} // namespace Archive
