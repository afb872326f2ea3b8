#pragma once

#include <QString>

// A folder with a small file system of its own (tmpfs), for tests of full and read-only disks.
// Mounting needs root; without it the folder stays an ordinary one: it can still be made
// read-only by its permissions (which bind everybody but root), but it cannot be filled.
class ScratchFileSystem {
public:
    // Mounts a file system of `bytes` on `folder` (created when missing).
    ScratchFileSystem(const QString& folder, qint64 bytes);
    ~ScratchFileSystem();
    ScratchFileSystem(const ScratchFileSystem&) = delete;
    ScratchFileSystem& operator=(const ScratchFileSystem&) = delete;

    QString path() const { return _folder; }
    bool isMounted() const { return _mounted; }
    // Whether writes into the folder can be refused at all here.
    bool canBeReadOnly() const;
    // Remounts read-only (or changes the permissions of the folder and its files) and back.
    bool setReadOnly(bool readOnly);
    // Writes a filler file until at most `freeBytes` are left; false when not mounted.
    bool fill(qint64 freeBytes);

private:
    QString _folder;
    bool _mounted = false;
};
