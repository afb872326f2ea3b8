#include "registrybackup.h"

#include "database.h"
#include "edittransaction.h"
#include "fileschema.h"
#include "mzlog.h"
#include "registrymove.h"
#include "serverconnection.h"
#include "serverschema.h"
#include "storequery.h"
#include "textmatch.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStorageInfo>

namespace {
const QString readOnlyOption = QStringLiteral("QSQLITE_OPEN_READONLY");

QSqlDatabase connectionNamed(const QString& name) {
    return QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                        : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
}

// What is wrong with the first hundred bytes of a database file, in Russian; empty when they are a
// database's. The header names the page size and, when it is current, the page count: a file of
// another length is cut or padded.
QString sqliteHeaderProblem(const QString& path, QString* technical) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *technical = file.errorString();
        return QStringLiteral("его не удалось открыть для чтения.");
    }
    const qint64 size = file.size();
    if (size == 0)
        return QStringLiteral("он пуст.");
    const QByteArray header = file.read(100);
    if (header.size() < 100 || !header.startsWith(QByteArray("SQLite format 3\0", 16)))
        return QStringLiteral("это не файл базы данных.");
    const auto number = [&header](int at, int bytes) {
        quint32 value = 0;
        for (int i = 0; i < bytes; ++i)
            value = value << 8 | quint8(header.at(at + i));
        return value;
    };
    const quint32 pageSize = number(16, 2) == 1 ? 65536 : number(16, 2);
    if (pageSize < 512 || pageSize > 65536 || (pageSize & (pageSize - 1)) != 0)
        return QStringLiteral("заголовок базы данных в нём повреждён.");
    const quint32 pages = number(28, 4);
    // The page count counts only when the file was last written by a version that keeps it.
    if (pages > 0 && number(24, 4) == number(92, 4) && qint64(pages) * pageSize != size) {
        *technical =
            QStringLiteral("%1 bytes, the header says %2 pages of %3 bytes").arg(size).arg(pages).arg(pageSize);
        return qint64(pages) * pageSize > size ? QStringLiteral("он обрезан (повреждён).")
                                               : QStringLiteral("его размер больше, чем база данных в нём: файл "
                                                                "повреждён или не является резервной копией.");
    }
    return QString();
}

// Copies `from` to `to`, which must not exist; false with the system's reason.
bool copyFile(const QString& from, const QString& to, QString* reason) {
    QFile source(from);
    if (!source.copy(to)) {
        *reason = source.errorString();
        return false;
    }
    return true;
}

bool isWriteProtected(const QFileInfo& file) {
    return !(file.permissions() & (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther));
}

// Why a file of `size` bytes could not be written to `path`, in words a user can act on; the
// system's own text, when there is one, follows on a line of its own.
QString writeFailureReason(const QString& path, qint64 size, const QString& technical) {
    const QFileInfo target(path);
    const QFileInfo folder(target.absolutePath());
    const QString name = QDir::toNativeSeparators(target.absoluteFilePath());
    const QString where = QDir::toNativeSeparators(folder.absoluteFilePath());
    QString reason;
    if (target.isDir())
        reason = QStringLiteral("%1 — это папка, а не файл.").arg(name);
    else if (!folder.isDir())
        reason = QStringLiteral("Папка %1 не существует.").arg(where);
    else if (target.exists() && (!target.isWritable() || isWriteProtected(target)))
        reason = QStringLiteral("Файл %1 защищён от записи.").arg(name);
    else if (!folder.isWritable())
        reason = QStringLiteral("Нет права на запись в папку %1.").arg(where);
    else if (QStorageInfo(folder.absoluteFilePath()).bytesAvailable() < size)
        reason = QStringLiteral("На диске нет места: нужно %1 КБ.").arg((size + 1023) / 1024);
    else
        reason = QStringLiteral("Ошибка записи в файл %1.").arg(name);
    if (!technical.trimmed().isEmpty())
        reason += QStringLiteral("\nТехнические сведения: ") + technical.simplified();
    return reason;
}
} // namespace

QString RegistryBackup::restoreStagingPath() {
    return Database::filePath() + QStringLiteral(".restore");
}

bool RegistryBackup::backup(const QString& destination, QString* error) {
    // The reasons below are kept first-come: an earlier call's reason is not this one's.
    if (error)
        error->clear();
    // A file marked read-only is not replaced, also where the user (root) could.
    const QFileInfo target(destination);
    if (Database::usesServer()) {
        if (target.exists() && (!target.isWritable() || isWriteProtected(target)))
            return StoreQuery::fail(error, writeFailureReason(destination, 0, QStringLiteral("the file is read-only")));
        return backupServer(destination, error);
    }
    QString technical;
    bool copied = false;
    if (!target.exists() || (target.isWritable() && !isWriteProtected(target))) {
        QSqlDatabase db = QSqlDatabase::database();
        // The immediate transaction keeps writers out during the copy; it is ours to roll back only
        // when it began (a failing BEGIN means somebody else's transaction is open).
        const bool locked = QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE;"));
        copied = _db.copyHeldFile(destination, &technical);
        if (locked)
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK;"));
    }
    qDebug() << "Database::backup" << copied << technical;
    if (!copied && error)
        *error = writeFailureReason(destination, QFileInfo(Database::filePath()).size(), technical);
    return copied;
}

bool RegistryBackup::isRestoreCandidate(const QString& file, QString* error) const {
    if (error)
        error->clear();
    const QFileInfo info(file);
    const QString name = QDir::toNativeSeparators(info.absoluteFilePath());
    const auto refusal = [&name](const QString& reason, const QString& technical = QString()) {
        QString text =
            QStringLiteral("Файл %1 нельзя загрузить: %2\nТекущая база данных не изменена.").arg(name, reason);
        // SQLite's own words, on one line of their own.
        if (!technical.trimmed().isEmpty())
            text += QStringLiteral("\nТехнические сведения: ") + technical.simplified();
        return text;
    };
    if (!info.isFile())
        return StoreQuery::fail(error, QStringLiteral("Файл '%1' не найден").arg(file));
    if (info.canonicalFilePath() == QFileInfo(Database::filePath()).canonicalFilePath())
        return StoreQuery::fail(error, refusal(QStringLiteral("это и есть текущая база данных программы.")));
    QString header;
    const QString headerProblem = sqliteHeaderProblem(file, &header);
    if (!headerProblem.isEmpty())
        return StoreQuery::fail(error, refusal(headerProblem, header));

    const QString connection = file + QStringLiteral("_verify");
    QString reason;
    QString technical;
    {
        QSqlDatabase db = connectionNamed(connection);
        db.setConnectOptions(readOnlyOption);
        db.setDatabaseName(file);
        FileSchema::Gaps gaps;
        QSqlError failure;
        if (!db.open()) {
            failure = db.lastError();
        } else {
            QSqlQuery check(db);
            if (!check.exec(QStringLiteral("PRAGMA quick_check")) || !check.next())
                failure = check.lastError();
            else if (check.value(0).toString() != QLatin1String("ok"))
                technical = check.value(0).toString();
            check.finish();
            if (failure.type() == QSqlError::NoError && technical.isEmpty())
                FileSchema(_db.tables()).gaps(db, &gaps, &failure);
        }
        if (failure.type() != QSqlError::NoError) {
            technical = StoreQuery::reasonOf(failure);
            reason = Database::isUnavailable(failure) ? QStringLiteral("его не удалось прочитать.")
                                                      : QStringLiteral("он повреждён или не является базой данных.");
        } else if (!technical.isEmpty()) {
            reason = QStringLiteral("он повреждён.");
        } else if (!gaps.missingCoreTables().isEmpty() || !gaps.unaddableColumns.isEmpty()) {
            // Every version of the program makes its document tables; the check adds columns,
            // later tables and corrects types, but cannot add a column that may not be empty.
            reason = QStringLiteral("это не реестр документов программы, в нём нет нужных таблиц или столбцов.");
            technical = QStringLiteral("missing ") +
                        (gaps.missingCoreTables() + gaps.unaddableColumns).join(QStringLiteral(", "));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return reason.isEmpty() || StoreQuery::fail(error, refusal(reason, technical));
}

bool RegistryBackup::restore(const QString& source, QString* error) {
    if (error)
        error->clear();
    if (Database::usesServer())
        return restoreOnServer(source, error);
    const QString path = Database::filePath();
    if (!QFileInfo(source).isFile()) {
        MZ_LOG() << "RegistryBackup::restore(" << source << ") file does not exist!!!";
        return StoreQuery::fail(error, QStringLiteral("Файл '%1' не найден").arg(source));
    }
    QString unusable;
    if (!isRestoreCandidate(source, &unusable)) {
        MZ_LOG() << "RegistryBackup::restore(" << source << ") not a usable registry:" << unusable;
        return StoreQuery::fail(error, unusable);
    }
    // The source is staged beside the database and brought into shape there, so a failed copy or
    // check leaves the database as it is.
    const QString staged = restoreStagingPath();
    QFile::remove(staged);
    QString reason;
    if (!copyFile(source, staged, &reason)) {
        MZ_LOG() << "RegistryBackup::restore(" << source << ") cant copy from source to database file" << path
                 << reason;
        QFile::remove(staged);
        return StoreQuery::fail(error, QStringLiteral("Не удалось скопировать '%1' в '%2'").arg(source, path) +
                                           QLatin1Char('\n') +
                                           writeFailureReason(staged, QFileInfo(source).size(), reason));
    }
    QFile::setPermissions(staged, QFile::permissions(staged) | QFile::WriteOwner);
    QString migration;
    if (!FileSchema(_db.tables()).check(staged, &migration)) {
        MZ_LOG() << "RegistryBackup::restore(" << source << ") check failed:" << migration;
        QFile::remove(staged);
        return StoreQuery::fail(
            error, QStringLiteral("Файл %1 нельзя загрузить: его структуру не удалось привести к нужному виду."
                                  "\nТекущая база данных не изменена.\nТехнические сведения: %2")
                       .arg(QDir::toNativeSeparators(source), migration));
    }

    _db.commitAndClose();
    _db.retireModels();
    const QString previous = path + QStringLiteral(".previous");
    QFile::remove(previous);
    QString failure;
    if (QFileInfo::exists(path) && !QFile::rename(path, previous)) {
        MZ_LOG() << "RegistryBackup::restore(" << source << ") cant delete database file" << path;
        failure = QStringLiteral("Не удалось удалить файл '%1'").arg(path);
    } else if (!QFile::rename(staged, path)) {
        MZ_LOG() << "RegistryBackup::restore(" << source << ") cant copy from source to database file" << path;
        failure = QStringLiteral("Не удалось скопировать '%1' в '%2'").arg(source, path);
        if (QFileInfo::exists(previous) && !QFile::rename(previous, path))
            MZ_LOG() << "cant put the database back, it stays in" << previous;
    }
    QFile::remove(staged);
    if (failure.isEmpty())
        QFile::remove(previous);

    QSqlDatabase db = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
    db.setDatabaseName(path);
    if (!db.open()) {
        // The copy is in place but cannot be worked on: that is no successful restore.
        const QString reason = StoreQuery::reasonOf(db.lastError());
        MZ_LOG() << "cant reopen database" << reason;
        const QString what =
            failure.isEmpty()
                ? QStringLiteral("Резервная копия загружена в %1, но открыть её не удалось. Перезапустите программу.")
                      .arg(QDir::toNativeSeparators(path))
                : failure + QStringLiteral("\nБазу данных не удалось открыть снова: перезапустите программу.");
        return StoreQuery::fail(error, what + QStringLiteral("\nОшибка: ") + reason);
    }
    _db.execSql(QStringLiteral("PRAGMA locking_mode = EXCLUSIVE"));
    _db.holdFile();
    TextMatch::registerFunctions(db);
    if (!failure.isEmpty())
        return StoreQuery::fail(error, failure);
    qDebug() << "Database::restore OK!";
    _db.runPatchScript();
    QString views;
    if (!_db.runViewsScript(false, &views))
        MZ_LOG() << "views not made:" << views;
    return true;
}

// --- a registry on a server ----------------------------------------------------------------

// The copy is read on a connection of its own, in one snapshot, so that an edit transaction open
// on the main connection neither blocks it nor shows in it.
bool RegistryBackup::backupServer(const QString& destination, QString* error) {
    bool written = false;
    {
        const ScopedServerConnection connection(Database::serverAddress(), QStringLiteral("orvane_server_backup"));
        QString failure = QStringLiteral("Резервная копия реестра с сервера не создана: ") + connection.error();
        if (connection.isOpen()) {
            QSqlDatabase db = connection.database();
            written = RegistryMove::toFile(db, destination, &failure);
        }
        if (!written)
            StoreQuery::fail(error, failure);
    }
    MZ_LOG() << "server backup to" << destination << written;
    return written;
}

// The file is checked and brought to this version's structure in a staged copy, as for the file
// store; its rows then take the place of the server's in one transaction.
bool RegistryBackup::restoreOnServer(const QString& source, QString* error) {
    if (!QFileInfo(source).isFile())
        return StoreQuery::fail(error, QStringLiteral("Файл '%1' не найден").arg(source));
    QString unusable;
    if (!isRestoreCandidate(source, &unusable))
        return StoreQuery::fail(error, unusable);
    const QString staged = restoreStagingPath();
    QFile::remove(staged);
    QString reason;
    if (!copyFile(source, staged, &reason)) {
        QFile::remove(staged);
        return StoreQuery::fail(error, writeFailureReason(staged, QFileInfo(source).size(), reason));
    }
    QFile::setPermissions(staged, QFile::permissions(staged) | QFile::WriteOwner);
    QString failure;
    bool restored = FileSchema(_db.tables()).check(staged, &failure);
    if (!restored) {
        failure = QStringLiteral("Файл %1 нельзя загрузить: его структуру не удалось привести к нужному виду."
                                 "\nРеестр на сервере не изменён.\nТехнические сведения: %2")
                      .arg(QDir::toNativeSeparators(source), failure);
    } else {
        QSqlDatabase db = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
        // Whatever the main connection holds open is not part of the restore.
        if (EditTransaction::isOpen())
            EditTransaction::rollback();
        _db.retireModels();
        restored = ServerSchema::check(db, &failure);
        if (!restored)
            failure = QStringLiteral("Копия %1 не загружена: структуру реестра на сервере не удалось проверить."
                                     "\nРеестр на сервере не изменён.\nТехнические сведения: %2")
                          .arg(QDir::toNativeSeparators(source), failure);
        else
            restored = RegistryMove::replaceOnServer(staged, db, nullptr, &failure);
    }
    QFile::remove(staged);
    MZ_LOG() << "server restore from" << source << restored << failure;
    return restored || StoreQuery::fail(error, failure);
}
