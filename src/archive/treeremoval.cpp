#include "treeremoval.h"

#include "logging.h"
#include "posixfile.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

#include <ftw.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Removal mostly waits for the disk (with online discard, at every freed
// extent); a few threads overlap those waits, more only cost memory.
constexpr int MaxRemovalThreads = 8;

// nftw keeps no state for its callback; the first failure is kept here.
thread_local int firstError = 0;
thread_local QByteArray firstFailure;

int removeEntry(const char *path, const struct stat *, int type, struct FTW *)
{
    // A directory that could not be read is still tried: remove() then fails
    // with the reason, unless it was empty.
    if (type == FTW_NS || ::remove(path) == 0)
        return 0;
    if (firstError == 0) {
        firstError = errno;
        firstFailure = path;
    }
    return 0; // go on: remove as much as possible
}

} // namespace

bool removeDirectoryTree(const QString &path)
{
    if (path.isEmpty())
        return true;
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0 && errno == ENOENT)
        return true;
    firstError = 0;
    firstFailure.clear();
    const int walked = ::nftw(native.constData(), removeEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
    if (walked != 0 && firstError == 0) {
        firstError = errno;
        firstFailure = native;
    }
    if (firstError == 0)
        return true;
    qCDebug(lcWorkspace).noquote() << QStringLiteral("Cannot remove %1: %2")
                                          .arg(QFile::decodeName(firstFailure), Archive::errnoText(firstError));
    return false;
}

#ifdef Q_OS_UNIX
namespace {

// Lists the tree below the directory open as fd (taken over): files and
// links into *files, directories into *directories after their contents.
bool listTree(int fd, const QByteArray &path, QList<QByteArray> *files, QList<QByteArray> *directories)
{
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    bool ok = true;
    while (const dirent *item = ::readdir(dir)) {
        const char *name = item->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        bool isDirectory = item->d_type == DT_DIR;
        if (item->d_type == DT_UNKNOWN) {
            struct stat st {};
            isDirectory = ::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        const QByteArray child = path + '/' + name;
        if (isDirectory) {
            const int childFd = ::openat(::dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            ok = childFd >= 0 && listTree(childFd, child, files, directories) && ok;
        } else {
            files->append(child);
        }
    }
    ::closedir(dir);
    directories->append(path);
    return ok;
}

template<typename Work>
void onThreads(int threads, int count, Work work)
{
    std::atomic<int> next{0};
    auto run = [&] {
        for (int i = next++; i < count; i = next++)
            work(i);
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) {
        try {
            pool.emplace_back(run);
        } catch (const std::system_error &) {
            break; // the calling thread does the rest
        }
    }
    run();
    for (std::thread &thread : pool)
        thread.join();
}

} // namespace
#endif

void removeDirectoryTrees(const QStringList &paths)
{
#ifdef Q_OS_UNIX
    QList<QByteArray> files;
    QList<QByteArray> directories; // every directory after the ones inside it
    QStringList rest;
    for (const QString &path : paths) {
        if (path.isEmpty())
            continue;
        const QByteArray encoded = QFile::encodeName(path);
        const int fd = ::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 || !listTree(fd, encoded, &files, &directories))
            rest.append(path);
    }
    // A thread for every few hundred files: small trees are not worth more.
    const int threads = qBound(1, files.size() / 256, MaxRemovalThreads);
    onThreads(threads, files.size(), [&files](int i) { ::unlink(files.at(i).constData()); });
    // Directories by depth, deepest first; those of one depth side by side.
    std::stable_sort(directories.begin(), directories.end(),
                     [](const QByteArray &a, const QByteArray &b) { return a.count('/') > b.count('/'); });
    int begin = 0;
    while (begin < directories.size()) {
        const int depth = directories.at(begin).count('/');
        int end = begin;
        while (end < directories.size() && directories.at(end).count('/') == depth)
            ++end;
        onThreads(threads, end - begin, [&directories, begin](int i) { ::rmdir(directories.at(begin + i).constData()); });
        begin = end;
    }
    for (const QString &path : paths) {
        if (!path.isEmpty() && QFileInfo::exists(path))
            removeDirectoryTree(path);
    }
#else
    for (const QString &path : paths)
        removeDirectoryTree(path);
#endif
}

BackgroundRemoval::~BackgroundRemoval()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    removeDirectoryTrees(m_queue); // what no thread took
}

void BackgroundRemoval::remove(const QStringList &paths)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_queue += paths;
    }
    if (!m_thread.joinable()) {
        try {
            m_thread = std::thread([this] { run(); });
        } catch (const std::system_error &) {
            const std::lock_guard<std::mutex> lock(m_mutex);
            removeDirectoryTrees(m_queue);
            m_queue.clear();
            return;
        }
    }
    m_changed.notify_all();
}

void BackgroundRemoval::run()
{
    for (;;) {
        QStringList paths;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stopping || !m_queue.isEmpty(); });
            if (m_queue.isEmpty())
                return;
            paths.swap(m_queue);
        }
        removeDirectoryTrees(paths);
    }
}
