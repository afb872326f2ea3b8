#pragma once

#include <QSharedMemory>
#include <QString>

// Refuses a second copy of the program on this computer: the first copy holds a shared-memory
// segment named by the key for as long as it runs.
class InstanceGuard {
public:
    explicit InstanceGuard(const QString& key = defaultKey());

    static QString defaultKey();
    // True when this process now holds the segment.
    bool acquire();
    // Shows the refusal box and returns the exit code of a refused start.
    static int refuse();

private:
    QSharedMemory _memory;
};
