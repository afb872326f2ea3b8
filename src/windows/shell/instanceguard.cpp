#include "instanceguard.h"

#include "messagebox.h"
#include "mzlog.h"
#include "productinfo.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

InstanceGuard::InstanceGuard(const QString& key) : _key(key), _memory(key) {}

InstanceGuard::~InstanceGuard() = default;

QString InstanceGuard::defaultKey() {
    return QStringLiteral("61BB200D-3579-453e-9044-") + ProductTypeInfo::appName();
}

QString InstanceGuard::tokenLockPath(const QString& key) {
    return QDir(QDir::tempPath()).filePath(QString::fromLatin1(QUrl::toPercentEncoding(key)) + QStringLiteral(".lock"));
}

bool InstanceGuard::acquire() {
#ifdef Q_OS_WIN
    return _memory.create(512, QSharedMemory::ReadWrite);
#else
    // System V segments and semaphores outlive a killed copy, and a later key file that happens to
    // get the same inode would meet them and be refused. A lock file names its process, so one left
    // by a dead copy is simply taken over.
    _token = std::make_unique<QLockFile>(tokenLockPath(_key));
    _token->setStaleLockTime(0);
    if (_token->tryLock(0))
        return true;
    if (_token->error() == QLockFile::LockFailedError)
        return false;
    // A temporary folder that takes no file cannot tell about other copies; the data folder's lock
    // still keeps a second copy off the database.
    MZ_LOG() << "no instance lock in" << QDir::tempPath() << int(_token->error());
    return true;
#endif
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
