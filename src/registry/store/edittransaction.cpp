#include "edittransaction.h"

#include "database.h"
#include "mzlog.h"
#include "storequery.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <sqlite3.h>

namespace {
const QString saveSavepoint = QStringLiteral("edit_dialog_save");
const QString writeSavepoint = QStringLiteral("edit_dialog_write");

QSqlDatabase connection() {
    return QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
}

bool run(QSqlDatabase& db, const QString& sql, QString* error = nullptr) {
    QSqlQuery query(db);
    if (query.exec(sql))
        return true;
    MZ_LOG() << query.lastError().text() << sql;
    if (error)
        *error = StoreQuery::reasonOf(query.lastError());
    return false;
}
} // namespace

QPointer<QObject> EditTransaction::_owner;
bool EditTransaction::_open = false;

void EditTransaction::begin(QObject* owner) {
    if (_owner && _owner != owner)
        return; // shared: the open transaction is another dialog's
    QSqlDatabase db = connection();
    if (db.isOpen() && db.transaction()) {
        _owner = owner;
        _open = true;
    }
}

bool EditTransaction::isOwnedBy(const QObject* owner) {
    return _owner && _owner == owner;
}

// Only what was begun here: a server says so when nothing is open to roll back.
void EditTransaction::rollback() {
    QSqlDatabase db = connection();
    if (db.isOpen() && _open)
        db.rollback();
    _owner = nullptr;
    _open = false;
}

void EditTransaction::release(const QObject* owner) {
    if (isOwnedBy(owner))
        rollback();
}

bool EditTransaction::save(QObject* owner, const std::function<bool(QString*)>& write, QString* error) {
    // The caller tells of its own failures; the main window's box would only repeat them.
    return Database::guardedWrite([&] { return saveNow(owner, write, error); }, error);
}

bool EditTransaction::saveNow(QObject* owner, const std::function<bool(QString*)>& write, QString* error) {
    const auto fail = [error](const QString& reason) {
        StoreQuery::keep(error, reason);
        return false;
    };
    QString reason;
    QSqlDatabase db = connection();
    // A server connection that was lost is tried again before the save gives up.
    if (!db.isOpen() && !(Database::hasInstance() && Database::instance()->recover(QSqlError())))
        return fail(StoreQuery::notOpenText());
    if (!_owner)
        begin(owner);
    if (!savepoint(db, owner, &reason))
        return fail(reason);
    const bool written = write(&reason);
    if (written && commit(owner, &reason))
        return true;
    undoSave(owner);
    return fail(reason);
}

// On a server whose connection was lost and opened again, the transaction the dialogs shared went
// with the old connection: the save begins another and tries once more.
bool EditTransaction::savepoint(QSqlDatabase& db, QObject* owner, QString* reason) {
    const QString statement = QStringLiteral("SAVEPOINT %1;").arg(saveSavepoint);
    QSqlQuery query(db);
    if (query.exec(statement))
        return true;
    const QSqlError failure = query.lastError();
    MZ_LOG() << failure.text() << statement;
    *reason = StoreQuery::reasonOf(failure);
    const bool outside = failure.nativeErrorCode() == QLatin1String("25P01");
    if (!outside && !(Database::hasInstance() && Database::instance()->recover(failure)))
        return false;
    _owner = nullptr;
    _open = false;
    begin(owner);
    return run(db, statement, reason);
}

// A commit ends the one open transaction whoever began it; the saving owner begins the next.
bool EditTransaction::commit(QObject* owner, QString* error) {
    QSqlDatabase db = connection();
    if (!db.commit()) {
        MZ_LOG() << db.lastError().text();
        *error = StoreQuery::reasonOf(db.lastError());
        return false;
    }
    _owner = nullptr;
    _open = false;
    begin(owner);
    return true;
}

void EditTransaction::undoSave(QObject* owner) {
    QSqlDatabase db = connection();
    sqlite3* handle = Database::sqliteHandle(db);
    if (handle && sqlite3_get_autocommit(handle)) {
        // SQLite gave the whole transaction up (as it may on a full disk): nothing of it is left.
        _owner = nullptr;
        _open = false;
        begin(owner);
        return;
    }
    run(db, QStringLiteral("ROLLBACK TO %1;").arg(saveSavepoint));
    run(db, QStringLiteral("RELEASE %1;").arg(saveSavepoint));
}

bool EditTransaction::atomically(const std::function<bool()>& write) {
    QSqlDatabase db = connection();
    if (!db.isOpen() || !run(db, QStringLiteral("SAVEPOINT %1;").arg(writeSavepoint)))
        return false;
    const bool written = write();
    if (!written)
        run(db, QStringLiteral("ROLLBACK TO %1;").arg(writeSavepoint));
    run(db, QStringLiteral("RELEASE %1;").arg(writeSavepoint));
    return written;
}
