#pragma once

// Ways to make the console's files fail, for the fault tests: a folder that
// the process really cannot write (also as root), a test body run in a child
// process with its own mount namespace (for a full or read-only file system),
// and the beds a bed file holds.

#include "plan/BedLine.h"
#include "settings/Expected.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace kalvora::test {

// Makes a folder unwritable for this thread of this process while it lives:
// the folder loses its write permission and, since root ignores permissions,
// the thread gives up its capability to override them (it keeps the right to
// take it back). engaged() tells whether a file really cannot be created.
class FolderWriteLock {
public:
    explicit FolderWriteLock(QString folder);
    ~FolderWriteLock();
    FolderWriteLock(const FolderWriteLock &) = delete;
    FolderWriteLock &operator=(const FolderWriteLock &) = delete;

    bool engaged() const { return m_engaged; }
    void release();

private:
    QString m_folder;
    bool m_droppedCapability = false;
    bool m_engaged = false;
};

// Whether this process may make a private mount namespace (unshare --mount).
bool mountNamespaceAvailable();
// True inside the child that runChildInMountNamespace started.
bool inChildMountNamespace();

// Runs one test function (with its data tag) of this test executable in a
// child process with a private mount namespace and, with ownNetwork, a
// network namespace of its own too (loopback down: its ports are its own,
// nothing it sends leaves it); returns its exit code (0: it passed) and its
// output.
struct ChildRun {
    int exitCode = -1;
    QByteArray output;
};
ChildRun runChildInMountNamespace(const QString &functionAndTag, bool ownNetwork = false,
                                  int timeoutMs = 120000);

// Mounts a tmpfs of the given size on the folder (inside a child's own mount
// namespace only); remounts it read-only or writable again.
Status mountTmpfs(const QString &folder, qint64 bytes);
Status remountTmpfs(const QString &folder, bool readOnly);
void unmount(const QString &folder);

// Fills the file system holding the folder: a filler file grows until the
// disk is full, then gives back `pagesFree` pages. Returns the filler's path.
Expected<QString> fillFileSystem(const QString &folder, int pagesFree);

// The beds of a bed file, or the error that stops loading it.
Expected<QList<BedRecord>> loadBeds(const QString &dataDir);
// Files in the folder other than the expected ones (leftover temporary files).
QStringList strayFiles(const QString &folder, const QStringList &expected);

// Copies the demo data folder to `to`.
void copyDemoData(const QString &to);

QByteArray readAll(const QString &path);
bool writeAll(const QString &path, const QByteArray &bytes);

} // namespace kalvora::test
