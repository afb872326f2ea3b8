#include "scratchfilesystem.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStorageInfo>
#include <unistd.h>

namespace {
bool runQuietly(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void setWritable(const QString& folder, bool writable) {
    const QFile::Permissions write = QFile::WriteOwner | QFile::WriteUser | QFile::WriteGroup | QFile::WriteOther;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    QStringList paths{folder};
    while (it.hasNext())
        paths << it.next();
    for (const QString& path : paths) {
        const QFile::Permissions now = QFile::permissions(path);
        QFile::setPermissions(path, writable ? now | QFile::WriteOwner | QFile::WriteUser : now & ~write);
    }
}
} // namespace

ScratchFileSystem::ScratchFileSystem(const QString& folder, qint64 bytes) : _folder(folder) {
    QDir().mkpath(folder);
    if (::geteuid() == 0)
        _mounted = runQuietly(QStringLiteral("mount"),
                              {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                               QStringLiteral("size=%1").arg(bytes), QStringLiteral("tmpfs"), folder});
}

ScratchFileSystem::~ScratchFileSystem() {
    if (_mounted)
        runQuietly(QStringLiteral("umount"), {QStringLiteral("-l"), _folder});
    else
        setWritable(_folder, true);
}

bool ScratchFileSystem::canBeReadOnly() const {
    return _mounted || ::geteuid() != 0;
}

bool ScratchFileSystem::setReadOnly(bool readOnly) {
    if (_mounted)
        return runQuietly(
            QStringLiteral("mount"),
            {QStringLiteral("-o"), readOnly ? QStringLiteral("remount,ro") : QStringLiteral("remount,rw"), _folder});
    if (!canBeReadOnly())
        return false;
    setWritable(_folder, !readOnly);
    return true;
}

bool ScratchFileSystem::fill(qint64 freeBytes) {
    if (!_mounted)
        return false;
    QFile filler(_folder + QStringLiteral("/filler"));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const QByteArray block(4096, 'x');
    for (;;) {
        QStorageInfo storage(_folder);
        storage.refresh();
        if (storage.bytesAvailable() <= freeBytes)
            return true;
        const qint64 chunk = qMin<qint64>(block.size(), storage.bytesAvailable() - freeBytes);
        if (filler.write(block.constData(), chunk) != chunk || !filler.flush())
            return QStorageInfo(_folder).bytesAvailable() <= freeBytes;
    }
}
