#include "replacementfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {
// Puts `from` in place of `to` in one step, so `to` is either the old or the new file.
bool replaceFile(const QString& from, const QString& to, QString* reason) {
#ifdef Q_OS_WIN
    if (MoveFileExW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(from).utf16()),
                    reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(to).utf16()),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    *reason = qt_error_string(int(GetLastError()));
    return false;
#else
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    *reason = qt_error_string(errno);
    return false;
#endif
}
} // namespace

ReplacementFile::ReplacementFile(const QString& target) : _target(QFileInfo(target).absoluteFilePath()) {}

ReplacementFile::~ReplacementFile() = default;

bool ReplacementFile::create(QString* reason) {
    const QFileInfo target(_target);
    // Beside the target, so that the final rename stays within one file system; hidden, so that
    // nobody opens it meanwhile.
    _file = std::make_unique<QTemporaryFile>(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                                             QStringLiteral(".XXXXXX.part"));
    if (!_file->open()) {
        *reason = _file->errorString();
        _file.reset();
        return false;
    }
    _file->close();
    return true;
}

QString ReplacementFile::path() const {
    return _file ? _file->fileName() : QString();
}

bool ReplacementFile::commit(QString* reason) {
    if (!_file) {
        *reason = QStringLiteral("no new version was written");
        return false;
    }
    const QFileInfo old(_target);
    QFile::setPermissions(_file->fileName(), old.exists() ? old.permissions()
                                                          : QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                                QFileDevice::ReadGroup | QFileDevice::ReadOther);
    if (!replaceFile(_file->fileName(), _target, reason))
        return false;
    _file->setAutoRemove(false);
    _file.reset();
    return true;
}
