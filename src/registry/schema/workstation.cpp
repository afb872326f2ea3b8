#include "workstation.h"

#include <QDir>
#include <QSysInfo>

// The user the system logged in: the environment says so on every system the program runs on;
// the home folder's name is the last resort.
QString Workstation::user() {
    for (const char* name : {"USER", "USERNAME"}) {
        const QString user = qEnvironmentVariable(name).trimmed();
        if (!user.isEmpty())
            return user;
    }
    return QDir(QDir::homePath()).dirName();
}

QString Workstation::name() {
    return QSysInfo::machineHostName();
}
