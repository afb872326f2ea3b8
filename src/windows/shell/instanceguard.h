#pragma once

#include <QLockFile>
#include <QSharedMemory>
#include <QString>
#include <memory>

// Refuses a second copy of the program: the first copy holds a shared-memory segment named by the
// key on this computer, and a lock file beside the database of its data folder, for as long as it
// runs. The lock file also keeps out copies that the segment cannot see (another account, another
// temporary folder, another computer on a shared folder).
class InstanceGuard {
public:
    explicit InstanceGuard(const QString& key = defaultKey());
    ~InstanceGuard();

    static QString defaultKey();
    // True when this process now holds the segment.
    bool acquire();
    // True when this process now holds the lock file at `path` (a lock left by a crashed copy on
    // this computer is taken over). A folder where no lock file can be made does not refuse the
    // start: the database's own locking still keeps other writers out.
    bool lockDataFolder(const QString& path);
    // Shows the refusal box and returns the exit code of a refused start.
    static int refuse();

private:
    QSharedMemory _memory;
    std::unique_ptr<QLockFile> _lock;
};
