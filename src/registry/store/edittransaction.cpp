#include "edittransaction.h"

#include "database.h"
#include "savepoint.h"
#include "storequery.h"

#include <QSqlDatabase>
#include <sqlite3.h>

namespace {
const QString saveSavepoint = QStringLiteral("edit_dialog_save");
const QString writeSavepoint = QStringLiteral("edit_dialog_write");

QSqlDatabase connection() {
    return QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
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
    if (!_owner)
        begin(owner);
    Savepoint savepoint(saveSavepoint);
    if (!savepoint.isOpen()) {
        StoreQuery::keep(error, savepoint.reason());
        return false;
    }
    // On a server whose connection was lost and opened again, the transaction the dialogs shared
    // went with the old connection: the savepoint stands in one of its own.
    if (savepoint.ownsTransaction()) {
        _owner = nullptr;
        _open = false;
    }
    QString reason;
    const bool written = write(&reason);
    if (written && savepoint.commit(&reason)) {
        // The commit ended the one open transaction whoever began it; the saving owner begins the next.
        restart(owner);
        return true;
    }
    savepoint.rollback();
    afterFailedSave(owner);
    StoreQuery::keep(error, reason);
    return false;
}

void EditTransaction::restart(QObject* owner) {
    _owner = nullptr;
    _open = false;
    begin(owner);
}

void EditTransaction::afterFailedSave(QObject* owner) {
    sqlite3* handle = Database::sqliteHandle(connection());
    // SQLite gave the whole transaction up (as it may on a full disk): nothing of it is left.
    // A server's transaction of the save's own ended with it.
    if ((handle && sqlite3_get_autocommit(handle)) || !_open)
        restart(owner);
}

bool EditTransaction::atomically(const std::function<bool()>& write, QString* error) {
    return Savepoint::nested(writeSavepoint, write, error);
}
