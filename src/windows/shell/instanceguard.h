#pragma once

#include <QLockFile>
#include <QSharedMemory>
#include <QString>
#include <memory>

// Refuses a second copy of the program: the first copy holds a token named by the key on this
// computer (a shared-memory segment on Windows, a lock file in the temporary folder elsewhere), and a
// lock file beside the database of its data folder, for as long as it runs. The data folder's lock
// also keeps out copies that the token cannot see (another account, another temporary folder,
// another computer on a shared folder).
class InstanceGuard {
public:
    explicit InstanceGuard(const QString& key = defaultKey());
    ~InstanceGuard();

    static QString defaultKey();
    // True when this process now holds the token. A token left by a copy that was killed is taken
    // over.
    bool acquire();
    // True when this process now holds the lock file at `path` (a lock left by a crashed copy on
    // this computer is taken over). A folder where no lock file can be made does not refuse the
    // start: the database's own locking still keeps other writers out.
    bool lockDataFolder(const QString& path);
    // Shows the refusal box and returns the exit code of a refused start.
    static int refuse();

    // The lock file that stands for the token outside Windows.
    static QString tokenLockPath(const QString& key);

private:
    QString _key;
    QSharedMemory _memory;
    std::unique_ptr<QLockFile> _token;
    std::unique_ptr<QLockFile> _lock;
};
