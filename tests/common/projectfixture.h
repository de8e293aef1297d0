// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "processrun.h"
#include "projectentity.h"
#include "snapshot.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// Builds project trees on disk and packs them with the system's tar and gzip,
// so the archives under test never come from our own packing code.
class ProjectFixture
{
public:
    ProjectFixture()
    {
        QDir(m_dir.path()).mkpath(QStringLiteral("src"));
    }

    QString root() const { return m_dir.filePath(QStringLiteral("src")); }
    QString path(const QString &name) const { return m_dir.filePath(name); }

    void addFile(const QString &relativePath, const QByteArray &bytes)
    {
        const QString full = root() + QLatin1Char('/') + relativePath;
        QDir().mkpath(QFileInfo(full).absolutePath());
        QFile f(full);
        QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(full));
        f.write(bytes);
    }

    void addProjectXml(const QString &name, const QString &author, const QString &description)
    {
        addFile(QStringLiteral("active-project/project.xml"),
                QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<project>\n  <name>%1</name>\n"
                               "  <author>%2</author>\n  <description>%3</description>\n</project>\n")
                    .arg(name, author, description)
                    .toUtf8());
    }

    // A device directory named exactly as given (colon form inside the archive).
    void addTando(const QString &dirName, const QString &label)
    {
        addFile(QStringLiteral("active-project/devices/tando/%1/prefs").arg(dirName),
                QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<prefs>\n  <UnitName>%1</UnitName>\n"
                               "  <Other>kept</Other>\n</prefs>\n")
                    .arg(label)
                    .toUtf8());
    }

    void addProfile(const QString &dirName, const QString &file, const QList<QPair<QString, QString>> &entries)
    {
        QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<profile>\n");
        for (const auto &entry : entries)
            xml += QStringLiteral("  <unit>\n    <mac>%1</mac>\n    <unitname>%2</unitname>\n  </unit>\n")
                       .arg(entry.first, entry.second);
        xml += QStringLiteral("</profile>\n");
        addFile(QStringLiteral("active-project/devices/tando/%1/profiles/%2").arg(dirName, file), xml.toUtf8());
    }

    void addKsb12(const QString &dirName, const QByteArray &prefsBytes)
    {
        addFile(QStringLiteral("active-project/devices/ksb12/%1/prefs").arg(dirName), prefsBytes);
    }

    // tar of the tree at `root()`, with the system tar, in ustar form.
    QString makeTar(const QString &name, const QStringList &members = {QStringLiteral("active-project")})
    {
        const QString tarPath = path(name);
        outputOf(QStringLiteral("tar"), QStringList{"--format=gnu", "-cf", tarPath, "-C", root()} + members);
        return tarPath;
    }

    // gzip of a tar named `innerName`, keeping that name in the gzip header.
    QString makeTgz(const QString &name, const QString &innerName = QStringLiteral("project.tar"))
    {
        const QString tarPath = makeTar(innerName);
        outputOf(QStringLiteral("gzip"), {"-N", "-f", tarPath});
        const QString tgz = path(name);
        QFile::remove(tgz);
        QFile::rename(tarPath + QStringLiteral(".gz"), tgz);
        return tgz;
    }

    // Unpacks an archive with the system tar into a fresh directory.
    QString unpack(const QString &archive)
    {
        const QString target = path(QStringLiteral("out%1").arg(++m_unpacked));
        QDir().mkpath(target);
        outputOf(QStringLiteral("tar"), {"-xf", archive, "-C", target});
        return target;
    }

    static QByteArray readFile(const QString &path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return QByteArray("<missing>");
        return f.readAll();
    }

private:
    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/tando-fixture-XXXXXX")};
    int m_unpacked = 0;
};

// While it lives, TMPDIR names an empty directory of its own, so that a test
// can see what was written to the temporary directory.
class TemporaryDirWatch
{
public:
    explicit TemporaryDirWatch(const QString &path)
        : m_path(path), m_wasSet(qEnvironmentVariableIsSet("TMPDIR")), m_saved(qgetenv("TMPDIR"))
    {
        QDir().mkpath(path);
        qputenv("TMPDIR", QFile::encodeName(path));
    }
    ~TemporaryDirWatch()
    {
        if (m_wasSet)
            qputenv("TMPDIR", m_saved);
        else
            qunsetenv("TMPDIR");
    }
    TemporaryDirWatch(const TemporaryDirWatch &) = delete;
    TemporaryDirWatch &operator=(const TemporaryDirWatch &) = delete;

    QStringList entries() const
    {
        return entryNames(m_path);
    }

private:
    QString m_path;
    bool m_wasSet;
    QByteArray m_saved;
};

// The loaded device of that type whose old MAC is exactly `mac`.
inline DeviceEntity *deviceByMac(ProjectEntity &project, const QString &type, const QString &mac)
{
    for (DeviceEntity *d : project.devices()->objectsOfType<DeviceEntity>()) {
        if (d->deviceType() == type && d->oldMac() == mac)
            return d;
    }
    return nullptr;
}
