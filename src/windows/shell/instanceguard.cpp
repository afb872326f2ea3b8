#include "instanceguard.h"

#include "messagebox.h"
#include "mzlog.h"
#include "productinfo.h"

#include <QFileInfo>

InstanceGuard::InstanceGuard(const QString& key) : _memory(key) {}

InstanceGuard::~InstanceGuard() = default;

QString InstanceGuard::defaultKey() {
    return QStringLiteral("61BB200D-3579-453e-9044-") + ProductTypeInfo::appName();
}

bool InstanceGuard::acquire() {
#ifndef Q_OS_WIN
    // A segment left by a crashed copy survives it here. Attaching and detaching again removes a
    // segment that no live process holds; one held by a running copy stays.
    if (_memory.attach())
        _memory.detach();
#endif
    return _memory.create(512, QSharedMemory::ReadWrite);
}

bool InstanceGuard::lockDataFolder(const QString& path) {
    _lock = std::make_unique<QLockFile>(path);
    // Held for the whole run: only a lock whose process is gone counts as stale, never its age.
    _lock->setStaleLockTime(0);
    if (_lock->tryLock(0))
        return true;
    // In a folder that cannot be written, a lock left behind by a crash cannot be taken over, and
    // no copy can write the database there anyway: only the database's own locks count then.
    if (_lock->error() == QLockFile::LockFailedError && QFileInfo(QFileInfo(path).absolutePath()).isWritable())
        return false;
    MZ_LOG() << "no lock file beside the database:" << path << int(_lock->error());
    return true;
}

int InstanceGuard::refuse() {
    MessageBox::show(nullptr, QMessageBox::NoIcon, QString(),
                     QStringLiteral("Приложение уже запущено на этом компьютере!\nОдновременный запуск нескольких "
                                    "копий приложения запрещён."),
                     QMessageBox::Ok, QMessageBox::Ok);
    return 1;
}
