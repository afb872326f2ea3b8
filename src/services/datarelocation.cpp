#include "datarelocation.h"

#include "database.h"
#include "mzlog.h"
#include "productinfo.h"
#include "prof/reportlist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTime>
#include <QUuid>

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
} // namespace

DataRelocation::DataRelocation(const QString& currentFolder, const QString& targetFolder)
    : _current(currentFolder), _target(targetFolder) {}

DataRelocation::Refusal DataRelocation::refusal() const {
    const QFileInfo current(_current);
    const QFileInfo target(_target);
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity cs = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity cs = Qt::CaseSensitive;
#endif
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

QStringList DataRelocation::dataFiles() {
    ReportList::build();
    QStringList files;
    for (const ReportList::ReportInfo& report : ReportList::reports())
        files << QStringLiteral("reports/") + report.fileName + QStringLiteral(".mzrpt");
    files << QStringLiteral("dict/ru_RU.aff") << QStringLiteral("dict/ru_RU.dic")
          << ProductTypeInfo::appName() + QStringLiteral(".db");
    return files;
}

void DataRelocation::setCopyFunction(CopyFunction copy) {
    _copy = std::move(copy);
}

QStringList DataRelocation::transfer(bool move, const OverwriteQuestion& askOverwrite) {
    // The file must be complete and nobody may write it while it is copied.
    if (Database::hasInstance())
        Database::instance()->commitAndClose();

    QList<Item> items;
    for (const QString& relative : dataFiles()) {
        Item item{relative, _current + QLatin1Char('/') + relative, _target + QLatin1Char('/') + relative, {}, {}};
        if (!QFileInfo(item.source).isFile())
            continue;
        if (QFileInfo::exists(item.target) && !askOverwrite(item.target))
            continue;
        item.staged = item.target + stagedSuffix;
        item.previous = item.target + previousSuffix;
        items << item;
    }

    QStringList failed;
    for (const Item& item : qAsConst(items))
        if (!stage(item))
            failed << item.relative;
    if (!failed.isEmpty()) {
        for (const Item& item : qAsConst(items))
            QFile::remove(item.staged);
        return failed;
    }

    for (int i = 0; i < items.size(); ++i) {
        if (install(items[i]))
            continue;
        failed << items[i].relative;
        for (int j = 0; j < i; ++j)
            rollBack(items[j]);
        for (const Item& item : qAsConst(items))
            QFile::remove(item.staged);
        return failed;
    }

    for (const Item& item : qAsConst(items)) {
        if (!item.previous.isEmpty())
            QFile::remove(item.previous);
        // A source that stays behind is a spare copy, not a loss.
        if (move && !QFile::remove(item.source))
            MZ_LOG() << "cant remove moved file" << item.source;
    }
    return failed;
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
