#include "datarelocation.h"

#include "appsettings.h"
#include "mzlog.h"
#include "productinfo.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTime>
#include <QUuid>
#include <algorithm>

DataRelocation::CopyFunction DataRelocation::_copy;

namespace {
const QString stagedSuffix = QStringLiteral(".orvane-part");
const QString previousSuffix = QStringLiteral(".orvane-previous");

QString absoluteClean(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

bool copyFile(const QString& from, const QString& to) {
    return QFile::copy(from, to);
}

#ifdef Q_OS_WIN
constexpr Qt::CaseSensitivity fileNameCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity fileNameCase = Qt::CaseSensitive;
#endif

const QStringList transferredFolders{QStringLiteral("reports/"), QStringLiteral("dict/")};
const QString shippedFolder = QStringLiteral("default_reports/");

QString databaseName() {
    return ProductTypeInfo::appName() + QStringLiteral(".db");
}

bool startsWithAny(const QString& relative, const QStringList& folders) {
    for (const QString& folder : folders)
        if (relative.startsWith(folder, fileNameCase))
            return true;
    return false;
}
} // namespace

DataRelocation::DataRelocation(const QString& currentFolder, const QString& targetFolder)
    : _current(currentFolder), _target(targetFolder) {}

DataRelocation::Refusal DataRelocation::refusal() const {
    const QFileInfo current(_current);
    const QFileInfo target(_target);
    const Qt::CaseSensitivity cs = fileNameCase;
    // Canonical paths also see through links and "..", when both folders exist.
    const bool same = absoluteClean(_current).compare(absoluteClean(_target), cs) == 0 ||
                      (!current.canonicalFilePath().isEmpty() &&
                       current.canonicalFilePath().compare(target.canonicalFilePath(), cs) == 0);
    if (same)
        return Refusal::SameFolder;
    if (_target.isEmpty() || QDir::isRelativePath(_target))
        return Refusal::RelativePath;
    if (target.exists() && !target.isDir())
        return Refusal::NotAFolder;
    return Refusal::None;
}

bool DataRelocation::targetExists() const {
    return QFileInfo(_target).isDir();
}

bool DataRelocation::createTarget() const {
    return QDir().mkpath(_target);
}

bool DataRelocation::targetWritable() const {
    const QDir target(_target);
    QString name = QStringLiteral("Temp") + QTime::currentTime().toString(QStringLiteral("hhmmss"));
    // A folder of that name may be the user's own; it is never touched.
    for (int n = 2; QFileInfo::exists(target.filePath(name)); ++n)
        name = name.left(10) + QStringLiteral("_%1").arg(n);
    const QString probeFolder = target.filePath(name);
    const QString probeFile = probeFolder + QStringLiteral("/probe");
    bool writable = target.mkdir(name);
    if (writable) {
        QFile file(probeFile);
        writable = file.open(QIODevice::WriteOnly) && file.write("1", 1) == 1 && file.flush();
        file.close();
        writable = QFile::remove(probeFile) && writable;
    }
    if (!target.rmdir(name) && QFileInfo::exists(probeFolder)) {
        MZ_LOG() << "cant remove the test folder" << probeFolder;
        writable = false;
    }
    return writable;
}

bool DataRelocation::targetHasEntries() const {
    return !QDir(_target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System).isEmpty();
}

void DataRelocation::listFiles(QStringList* transferred, QStringList* others) const {
    const QDir current(_current);
    // A target inside the current folder is not part of what is moved.
    const QString target = absoluteClean(_target) + QLatin1Char('/');
    const QString lockFile = databaseName() + QStringLiteral(".lock");
    QDirIterator it(_current, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (absoluteClean(path).startsWith(target, fileNameCase))
            continue;
        const QString relative = current.relativeFilePath(path);
        if (relative.compare(lockFile, fileNameCase) == 0 || relative.startsWith(shippedFolder, fileNameCase))
            continue;
        const bool taken = relative.compare(databaseName(), fileNameCase) == 0 ||
                           relative.compare(QStringLiteral("settings.ini"), fileNameCase) == 0 ||
                           startsWithAny(relative, transferredFolders);
        (taken ? transferred : others)->append(relative);
    }
    transferred->sort();
    others->sort();
}

QStringList DataRelocation::filesToTransfer() const {
    QStringList transferred, others;
    listFiles(&transferred, &others);
    return transferred;
}

QStringList DataRelocation::otherFiles() const {
    QStringList transferred, others;
    listFiles(&transferred, &others);
    return others;
}

void DataRelocation::setCopyFunction(CopyFunction copy) {
    _copy = std::move(copy);
}

DataRelocation::Outcome DataRelocation::transfer(bool move, const OverwriteQuestion& askOverwrite) {
    // The copies must be complete: shared settings not yet written would be lost with the old
    // folder. The caller has closed the database, so that nobody writes it while it is copied.
    if (QSettings* store = AppSettings::dataSettings())
        store->sync();

    Outcome outcome;
    QStringList relatives;
    listFiles(&relatives, &outcome.notTransferred);
    QList<Item> items;
    for (const QString& relative : qAsConst(relatives)) {
        Item item{relative, _current + QLatin1Char('/') + relative, _target + QLatin1Char('/') + relative, {}, {}};
        if (QFileInfo::exists(item.target) && !askOverwrite(item.target)) {
            outcome.kept << relative;
            continue;
        }
        item.staged = item.target + stagedSuffix;
        item.previous = item.target + previousSuffix;
        items << item;
    }

    for (const Item& item : qAsConst(items))
        if (!stage(item))
            outcome.failed << item.relative;
    if (!outcome.failed.isEmpty()) {
        for (const Item& item : qAsConst(items))
            QFile::remove(item.staged);
        return outcome;
    }

    for (int i = 0; i < items.size(); ++i) {
        if (install(items[i]))
            continue;
        outcome.failed << items[i].relative;
        for (int j = 0; j < i; ++j)
            rollBack(items[j]);
        for (const Item& item : qAsConst(items))
            QFile::remove(item.staged);
        return outcome;
    }

    for (const Item& item : qAsConst(items)) {
        if (!item.previous.isEmpty())
            QFile::remove(item.previous);
        // A source that stays behind is a spare copy, not a loss; still the user hears of it.
        if (move && !QFile::remove(item.source)) {
            MZ_LOG() << "cant remove moved file" << item.source;
            outcome.notRemoved << item.relative;
        }
    }
    if (move)
        removeEmptyFolders();
    return outcome;
}

void DataRelocation::removeEmptyFolders() const {
    for (const QString& folder : transferredFolders) {
        const QString root = _current + QLatin1Char('/') + folder;
        QStringList folders;
        QDirIterator it(root, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            folders << it.next();
        // Deepest first; a folder that still holds something stays.
        std::sort(folders.begin(), folders.end(),
                  [](const QString& a, const QString& b) { return a.size() > b.size(); });
        for (const QString& path : qAsConst(folders))
            QDir().rmdir(path);
        QDir().rmdir(root);
    }
}

bool DataRelocation::replaceWithCopy(const QString& source, const QString& target) {
    Item item{QFileInfo(target).fileName(), source, target, target + stagedSuffix, target + previousSuffix};
    if (!stage(item) || !install(item))
        return false;
    if (!item.previous.isEmpty())
        QFile::remove(item.previous);
    return true;
}

bool DataRelocation::stage(const Item& item) {
    if (QFileInfo::exists(item.target) && !QFileInfo(item.target).isFile()) {
        MZ_LOG() << "not a file, cannot be replaced:" << item.target;
        return false;
    }
    QDir().mkpath(QFileInfo(item.target).absolutePath());
    QFile::remove(item.staged);
    const bool copied = (_copy ? _copy : copyFile)(item.source, item.staged);
    if (copied && verify(item))
        return true;
    MZ_LOG() << "cant copy" << item.source << "to" << item.staged;
    QFile::remove(item.staged);
    return false;
}

bool DataRelocation::verify(const Item& item) {
    const QFileInfo staged(item.staged);
    if (!staged.isFile() || staged.size() != QFileInfo(item.source).size())
        return false;
    return !item.relative.endsWith(QStringLiteral(".db")) || isDatabaseIntact(item.staged);
}

bool DataRelocation::install(Item& item) {
    const bool hadPrevious = QFileInfo::exists(item.target);
    if (hadPrevious) {
        QFile::remove(item.previous);
        if (!QFile::rename(item.target, item.previous)) {
            MZ_LOG() << "cant set aside" << item.target;
            return false;
        }
    } else {
        item.previous.clear();
    }
    if (QFile::rename(item.staged, item.target))
        return true;
    MZ_LOG() << "cant rename" << item.staged << "to" << item.target;
    if (hadPrevious && !QFile::rename(item.previous, item.target))
        MZ_LOG() << "cant put back" << item.target << "it stays in" << item.previous;
    return false;
}

void DataRelocation::rollBack(const Item& item) {
    QFile::remove(item.target);
    if (!item.previous.isEmpty() && !QFile::rename(item.previous, item.target))
        MZ_LOG() << "cant put back" << item.target << "it stays in" << item.previous;
}

bool DataRelocation::isDatabaseIntact(const QString& path) {
    const QString name = QStringLiteral("relocation_check_") + QUuid::createUuid().toString();
    bool intact = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery check(db);
            const bool read = check.exec(QStringLiteral("PRAGMA integrity_check")) && check.next();
            intact = read && check.value(0).toString() == QLatin1String("ok");
            if (!intact)
                MZ_LOG() << "copied database is damaged" << path
                         << (read ? check.value(0).toString() : check.lastError().text());
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return intact;
}
