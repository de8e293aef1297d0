// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Shared by the fuzz targets: a quiet Qt, and a private sandbox whose
// temporary directory stands in for the system's, so that every target can
// check after each input that nothing was written outside it and nothing was
// left in it.

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QString>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <set>
#include <string>

namespace FuzzSupport {

// The workspace writes diagnostics for every refused input; at tens of
// thousands of inputs a second they would drown libFuzzer's own output.
inline void dropMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

// Stops the run with a message; libFuzzer keeps the input as a crash.
[[noreturn]] inline void fail(const char *what, const std::string &detail = std::string())
{
    std::fprintf(stderr, "fuzz check failed: %s %s\n", what, detail.c_str());
    std::abort();
}

// The names in a directory, read with the system's calls: Qt leaves out
// names that are not valid in the local encoding.
inline std::set<std::string> namesIn(const std::string &dir)
{
    std::set<std::string> names;
    DIR *d = opendir(dir.c_str());
    if (!d)
        return names;
    while (const dirent *e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.insert(e->d_name);
    }
    closedir(d);
    return names;
}

inline int removeEntry(const char *path, const struct stat *, int, struct FTW *)
{
    return ::remove(path);
}

// Layout: root/a/b/c/tmp is TMPDIR, so that an entry that climbs up to four
// levels out of an unpacking directory still lands inside root and is seen.
class Sandbox
{
public:
    Sandbox()
    {
        const char *base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tando-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data()))
            fail("cannot create the sandbox in", pattern);
        m_root = pattern;
        m_tmp = m_root + "/a/b/c/tmp";
        for (const char *sub : {"/a", "/a/b", "/a/b/c", "/a/b/c/tmp", "/work"})
            ::mkdir((m_root + sub).c_str(), 0700);
        setenv("TMPDIR", m_tmp.c_str(), 1);
    }
    ~Sandbox() { nftw(m_root.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS); }

    // A directory for the target's own inputs and outputs.
    std::string work() const { return m_root + "/work"; }
    QString workPath(const char *name) const { return QString::fromStdString(work() + "/" + name); }
    std::string tmp() const { return m_tmp; }

    // Nothing outside the temporary directory changed, and nothing is left in it.
    void check(const std::set<std::string> &workNames) const
    {
        const std::string levels[] = {m_root, m_root + "/a", m_root + "/a/b", m_root + "/a/b/c"};
        const std::set<std::string> expected[] = {{"a", "work"}, {"b"}, {"c"}, {"tmp"}};
        for (int i = 0; i < 4; ++i) {
            if (namesIn(levels[i]) != expected[i])
                fail("an entry appeared outside the temporary directory in", levels[i]);
        }
        if (namesIn(work()) != workNames)
            fail("the work directory changed:", work());
        const std::set<std::string> left = namesIn(m_tmp);
        if (!left.empty())
            fail("left in the temporary directory:", *left.begin());
    }

private:
    std::string m_root;
    std::string m_tmp;
};

// The sandbox of the run, removed when the run ends normally. (A run that
// stops at a finding keeps it, for a look at what was left.)
inline Sandbox &sandbox()
{
    static Sandbox box;
    return box;
}

inline bool writeFile(const QString &path, const uint8_t *data, size_t size)
{
    FILE *f = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// One application object for the whole run, named after the target.
inline void startQt(int *argc, char ***argv)
{
    static QCoreApplication *app = nullptr;
    if (!app)
        app = new QCoreApplication(*argc, *argv);
    qInstallMessageHandler(dropMessages);
}

} // namespace FuzzSupport
