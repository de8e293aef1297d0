#pragma once

#include <QString>
#include <QStringList>

#include <condition_variable>
#include <mutex>
#include <thread>

// Removes the directory at path with everything below it, links not followed
// and other file systems mounted below it not entered. Works on names in any
// byte form (QDir skips names that are not valid in the local encoding, and
// so cannot remove a tree that holds one). An empty path names no directory
// and removes nothing. True when nothing is left; false, after a debug line
// naming what could not be removed, otherwise.
bool removeDirectoryTree(const QString &path);

// Removes the directories at paths and everything below them, links as
// links, never following one, on a few threads: with online discard, a file
// system waits for the disk at every freed extent, and these waits can overlap.
void removeDirectoryTrees(const QStringList &paths);

// Removes trees on a thread of its own, so that a window need not wait for
// the disk; the destructor waits until every tree handed over is gone. When
// no thread can be started, trees are removed at once.
class BackgroundRemoval
{
public:
    BackgroundRemoval() = default;
    ~BackgroundRemoval();
    BackgroundRemoval(const BackgroundRemoval &) = delete;
    BackgroundRemoval &operator=(const BackgroundRemoval &) = delete;

    void remove(const QStringList &paths);

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    QStringList m_queue;
    bool m_stopping = false;
    std::thread m_thread;
};
