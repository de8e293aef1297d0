#include "testutil.h"
#include "testfiles.h"
#include "dircopy.h"
#include "treelisting.h"
#include "treeremoval.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {


// The target text of a symbolic link, as stored.
QByteArray linkText(const QString &path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer);
    return n < 0 ? QByteArray() : QByteArray(buffer, int(n));
}

// Every entry below root, relative, without following links; hidden ones too.
QStringList treeOf(const QString &root)
{
    QStringList entries;
    const QDir dir(root);
    for (const QFileInfo &info : dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                                   QDir::Name)) {
        if (info.isSymLink()) {
            entries << info.fileName() + " -> " + QString::fromUtf8(linkText(info.filePath()));
        } else if (info.isDir()) {
            entries << info.fileName() + "/";
            for (const QString &inner : treeOf(info.filePath()))
                entries << info.fileName() + "/" + inner;
        } else {
            entries << info.fileName();
        }
    }
    return entries;
}

mode_t modeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

QString copyLine(const QString &source, const QString &destination)
{
    return "Copy didnt work " + source + " " + destination;
}

} // namespace

class TestDirCopy : public QObject
{
    Q_OBJECT

private slots:
    void emptySourceGivesEmptyDestination()
    {
        QTemporaryDir tmp;
        QVERIFY(QDir().mkpath(tmp.path() + "/src"));
        const QString dst = tmp.path() + "/dst";
        LogCapture capture("tando.workspace");
        QVERIFY(copyDirectory(tmp.path() + "/src", dst));
        QVERIFY(QFileInfo(dst).isDir());
        QCOMPARE(treeOf(dst), QStringList());
        QCOMPARE(capture.lines(), QStringList());
    }

    void copiesTheWholeTree()
    {
        QTemporaryDir tmp;
        const QString src = tmp.path() + "/src";
        QVERIFY(writeFile(src + "/project.xml", "<project/>"));
        QVERIFY(writeFile(src + "/devices/tando/00_1a_2b_3c_4d_5e/prefs", "<prefs/>"));
        QVERIFY(writeFile(src + "/devices/ksb12/0a_0b_0c_0d_0e_0f/prefs", QByteArray("label\0\0\0", 8) + QByteArray(84, '\x7f')));
        QVERIFY(QDir().mkpath(src + "/empty"));
        const QString dst = tmp.path() + "/dst";
        QVERIFY(copyDirectory(src, dst));
        QCOMPARE(treeOf(dst), treeOf(src));
        QCOMPARE(readFile(dst + "/devices/ksb12/0a_0b_0c_0d_0e_0f/prefs"), readFile(src + "/devices/ksb12/0a_0b_0c_0d_0e_0f/prefs"));
        QCOMPARE(readFile(dst + "/project.xml"), QByteArray("<project/>"));
    }

    void existingFileReplacedOthersStay()
    {
        QTemporaryDir tmp;
        const QString src = tmp.path() + "/src";
        const QString dst = tmp.path() + "/dst";
        QVERIFY(writeFile(src + "/a.txt", "new"));
        QVERIFY(writeFile(src + "/sub/b.txt", "new b"));
        QVERIFY(writeFile(dst + "/a.txt", "old contents that are longer"));
        QVERIFY(writeFile(dst + "/extra.txt", "stays"));
        QVERIFY(writeFile(dst + "/sub/b.txt", "old b"));
        QVERIFY(writeFile(dst + "/sub/extra", "stays too"));
        QVERIFY(copyDirectory(src, dst));
        QCOMPARE(readFile(dst + "/a.txt"), QByteArray("new"));
        QCOMPARE(readFile(dst + "/sub/b.txt"), QByteArray("new b"));
        QCOMPARE(readFile(dst + "/extra.txt"), QByteArray("stays"));
        QCOMPARE(readFile(dst + "/sub/extra"), QByteArray("stays too"));
    }

    void filesFirstSortedIgnoringCaseAndStopAtFailure()
    {
        QTemporaryDir tmp;
        const QString src = tmp.path() + "/src";
        const QString dst = tmp.path() + "/dst";
        QVERIFY(writeFile(src + "/0dir/inner", "i")); // sorts first, but directories come after files
        QVERIFY(writeFile(src + "/a", "a"));
        QVERIFY(writeFile(src + "/B", "b"));
        QVERIFY(writeFile(src + "/c", "c"));
        // A non-empty directory where "B" goes: that copy fails.
        QVERIFY(writeFile(dst + "/B/blocker", "x"));
        LogCapture capture("tando.workspace");
        QVERIFY(!copyDirectory(src, dst));
        QCOMPARE(capture.lines(), QStringList({copyLine(src + "/B", dst + "/B")}));
        QVERIFY(QFileInfo(dst + "/a").isFile()); // before "B"
        QVERIFY(!QFileInfo::exists(dst + "/c")); // after "B": the copy stopped
        QVERIFY(!QFileInfo::exists(dst + "/0dir"));
        QVERIFY(QFileInfo(dst + "/B/blocker").isFile()); // nothing rolled back or removed
    }

    void failureTwoLevelsDownGivesThreeLines()
    {
        QTemporaryDir tmp;
        const QString src = tmp.path() + "/src";
        const QString dst = tmp.path() + "/dst";
        QVERIFY(writeFile(src + "/top.txt", "t"));
        QVERIFY(writeFile(src + "/one/two/f", "f"));
        QVERIFY(writeFile(src + "/one/two/g", "g"));
        QVERIFY(writeFile(src + "/one/z/later", "l"));
        QVERIFY(writeFile(dst + "/one/two/f/blocker", "x"));
        LogCapture capture("tando.workspace");
        QVERIFY(!copyDirectory(src, dst));
        QCOMPARE(capture.lines(), QStringList({
                                      copyLine(src + "/one/two/f", dst + "/one/two/f"),
                                      copyLine(src + "/one/two", dst + "/one/two"),
                                      copyLine(src + "/one", dst + "/one"),
                                  }));
        QVERIFY(QFileInfo(dst + "/top.txt").isFile());
        QVERIFY(!QFileInfo::exists(dst + "/one/two/g"));
        QVERIFY(!QFileInfo::exists(dst + "/one/z"));
    }

    void hiddenEntriesNotCopied()
    {
        QTemporaryDir tmp;
        const QString src = tmp.path() + "/src";
        const QString dst = tmp.path() + "/dst";
        QVERIFY(writeFile(src + "/.hidden", "h"));
        QVERIFY(writeFile(src + "/.hiddendir/file", "h"));
        QVERIFY(writeFile(src + "/visible/.inner", "h"));
        QVERIFY(writeFile(src + "/visible/shown", "s"));
        QVERIFY(copyDirectory(src, dst));
        QCOMPARE(treeOf(dst), QStringList({"visible/", "visible/shown"}));
    }

    void systemEntriesNotCopied()
    {
        QTemporaryDir tmp;
        const QString src = tmp.path() + "/src";
        const QString dst = tmp.path() + "/dst";
        QVERIFY(writeFile(src + "/file", "f"));
        // A pipe: copying it would block on reading.
        QCOMPARE(::mkfifo(QFile::encodeName(src + "/pipe").constData(), 0644), 0);
        QVERIFY(copyDirectory(src, dst));
        QCOMPARE(treeOf(dst), QStringList({"file"}));
    }

    void missingOrEmptySource_data()
    {
        QTest::addColumn<QString>("source"); // below the scratch directory; "<empty>" for an empty path
        QTest::newRow("empty path") << "<empty>";
        QTest::newRow("missing") << "missing";
        QTest::newRow("a file") << "file";
    }

    void missingOrEmptySource()
    {
        QFETCH(QString, source);
        QTemporaryDir tmp;
        QVERIFY(writeFile(tmp.path() + "/file", "x"));
        const QString dst = tmp.path() + "/dst";
        LogCapture capture("tando.workspace");
        // An empty path would name the current directory, which is never empty here.
        QVERIFY(!copyDirectory(source == "<empty>" ? QString() : tmp.path() + "/" + source, dst));
        QCOMPARE(capture.lines(), QStringList({"Source dir exists"}));
        QVERIFY(!QFileInfo::exists(dst));
    }

    void destinationParentMissing()
    {
        QTemporaryDir tmp;
        const QString src = tmp.path() + "/src";
        const QString dst = tmp.path() + "/no/such/parent/dst";
        QVERIFY(QDir().mkpath(src));
        // Nothing to copy: true, although the destination cannot be created.
        QVERIFY(copyDirectory(src, dst));
        QVERIFY(!QFileInfo::exists(dst));

        QVERIFY(writeFile(src + "/f", "f"));
        LogCapture capture("tando.workspace");
        QVERIFY(!copyDirectory(src, dst));
        QCOMPARE(capture.lines(), QStringList({copyLine(src + "/f", dst + "/f")}));
        QVERIFY(!QFileInfo::exists(tmp.path() + "/no"));
    }

    void emptyDestination()
    {
        QTemporaryDir tmp;
        const QString src = tmp.path() + "/src";
        QVERIFY(writeFile(src + "/f", "f"));
        QVERIFY(writeFile(src + "/sub/g", "g"));
        const QDir current = QDir::current();
        const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
        const QStringList currentBefore = current.entryList(all);
        LogCapture capture("tando.workspace");
        QVERIFY(!copyDirectory(src, QString()));
        QCOMPARE(capture.lines(), QStringList({"Destination dir is empty"}));
        QCOMPARE(current.entryList(all), currentBefore); // nothing landed in the current directory
    }

    void destinationInsideSource()
    {
        QTemporaryDir tmp;
        const QString src = tmp.path() + "/src";
        QVERIFY(writeFile(src + "/f", "keep me"));
        QVERIFY(QDir().mkpath(src + "/sub"));
        QVERIFY(::symlink("src/sub", QFile::encodeName(tmp.path() + "/alias").constData()) == 0);
        const QStringList before = treeOf(src);
        {
            LogCapture capture("tando.workspace");
            QVERIFY(!copyDirectory(src, src));
            QVERIFY(!copyDirectory(src, src + "/sub"));
            QVERIFY(!copyDirectory(src, src + "/sub/../new"));
            QVERIFY(!copyDirectory(src + "/", src + "/./"));
            QVERIFY(!copyDirectory(src, tmp.path() + "/alias/deeper")); // through a link
            QCOMPARE(capture.lines(), QStringList(QVector<QString>(5, "Destination dir lies inside the source dir").toList()));
        }
        QCOMPARE(treeOf(src), before);
        QCOMPARE(readFile(src + "/f"), QByteArray("keep me"));
        // A sibling whose name begins like the source is not inside it.
        QVERIFY(copyDirectory(src, src + "-copy"));
        QCOMPARE(treeOf(src + "-copy"), before);
    }

    void symbolicLinksCopiedAsLinks()
    {
        QTemporaryDir tmp;
        const QString src = tmp.path() + "/src";
        const QString dst = tmp.path() + "/dst";
        QVERIFY(writeFile(src + "/file.txt", "data"));
        QVERIFY(writeFile(src + "/sub/inner.txt", "inner"));
        QVERIFY(writeFile(tmp.path() + "/outside/secret", "outside"));
        auto link = [](const QByteArray &target, const QString &at) {
            return ::symlink(target.constData(), QFile::encodeName(at).constData()) == 0;
        };
        QVERIFY(link("file.txt", src + "/rel"));
        QVERIFY(link("/etc", src + "/etc-link"));
        QVERIFY(link("../outside", src + "/out-dir"));
        QVERIFY(link("../outside/secret", src + "/out-file"));
        QVERIFY(link("sub", src + "/dir-link"));
        QVERIFY(link("does/not/exist", src + "/broken"));
        QVERIFY(link("../file.txt", src + "/sub/up"));
        // What the destination already has where a link goes is replaced.
        QVERIFY(writeFile(dst + "/rel", "old file"));
        QVERIFY(link("stale", dst + "/broken"));

        LogCapture capture("tando.workspace");
        QVERIFY(copyDirectory(src, dst));
        QCOMPARE(capture.lines(), QStringList());
        for (const char *name : {"rel", "etc-link", "out-dir", "out-file", "dir-link", "broken", "sub/up"}) {
            QVERIFY2(QFileInfo(dst + "/" + name).isSymLink(), name);
            QCOMPARE(linkText(dst + "/" + name), linkText(src + "/" + name));
        }
        QCOMPARE(treeOf(dst), treeOf(src));
        QCOMPARE(treeOf(dst), QStringList({"broken -> does/not/exist", "dir-link -> sub", "etc-link -> /etc", "file.txt",
                                           "out-dir -> ../outside", "out-file -> ../outside/secret", "rel -> file.txt",
                                           "sub/", "sub/inner.txt", "sub/up -> ../file.txt"}));
        QCOMPARE(readFile(dst + "/rel"), QByteArray("data")); // resolves inside the copy
    }

    void filePermissionsKept()
    {
        QTemporaryDir tmp;
        const QString src = tmp.path() + "/src";
        const QString dst = tmp.path() + "/dst";
        QVERIFY(writeFile(src + "/script.sh", "#!/bin/sh\n"));
        QVERIFY(writeFile(src + "/private", "p"));
        QVERIFY(writeFile(src + "/sub/readonly", "r"));
        QCOMPARE(::chmod(QFile::encodeName(src + "/script.sh").constData(), 0750), 0);
        QCOMPARE(::chmod(QFile::encodeName(src + "/private").constData(), 0600), 0);
        QCOMPARE(::chmod(QFile::encodeName(src + "/sub/readonly").constData(), 0444), 0);
        QVERIFY(copyDirectory(src, dst));
        QCOMPARE(modeOf(dst + "/script.sh"), mode_t(0750));
        QCOMPARE(modeOf(dst + "/private"), mode_t(0600));
        QCOMPARE(modeOf(dst + "/sub/readonly"), mode_t(0444));
        QCOMPARE(readFile(dst + "/script.sh"), QByteArray("#!/bin/sh\n"));
        // A second copy replaces the read-only file as well.
        QVERIFY(copyDirectory(src, dst));
        QCOMPARE(modeOf(dst + "/sub/readonly"), mode_t(0444));
    }

    // Both trees go completely, hidden entries and links included; what a
    // link points to outside stays, and so does a directory beside them.
    void removeTrees()
    {
        QTemporaryDir tmp;
        const QString outside = tmp.filePath("outside");
        QVERIFY(QDir().mkpath(outside + "/keep"));
        QFile kept(outside + "/keep/file");
        QVERIFY(kept.open(QIODevice::WriteOnly));
        kept.write("kept");
        kept.close();
        QStringList trees;
        for (const QString &name : {QStringLiteral("one"), QStringLiteral("two")}) {
            const QString root = tmp.filePath(name);
            for (int d = 0; d < 5; ++d) {
                const QString dir = root + QStringLiteral("/a%1/b/c").arg(d);
                QVERIFY(QDir().mkpath(dir));
                QFile file(dir + "/.hidden");
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write(QByteArray(5000, 'x'));
            }
            QVERIFY(QFile::link(outside, root + "/a0/to-outside"));
            QVERIFY(QFile::link(outside + "/keep/file", root + "/a1/b/file-link"));
            QVERIFY(QFile::link("missing", root + "/dangling"));
            QCOMPARE(::chmod(QFile::encodeName(root + "/a2/b/c/.hidden").constData(), 0), 0);
            trees << root;
        }
        removeDirectoryTrees(trees << QString()); // an empty path names nothing
        QVERIFY(!QFileInfo::exists(trees.at(0)));
        QVERIFY(!QFileInfo::exists(trees.at(1)));
        QCOMPARE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"outside"});
        QVERIFY(QFileInfo(outside + "/keep/file").isFile());
    }
};

QTEST_GUILESS_MAIN(TestDirCopy)
#include "tst_dircopy.moc"
