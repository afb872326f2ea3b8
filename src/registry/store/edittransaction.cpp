#include "edittransaction.h"

#include "database.h"
#include "mzlog.h"
#include "savepoint.h"
#include "sqldialect.h"
#include "storequery.h"

#include <QSqlDatabase>
#include <sqlite3.h>

namespace {
const QString saveSavepoint = QStringLiteral("edit_dialog_save");
const QString writeSavepoint = QStringLiteral("edit_dialog_write");

QSqlDatabase connection() {
    return QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
}

// A server's triggers make its entries; they learn the kind of the dialogs' writes here, also of
// the subjects grid's cells, which are written before any save.
void announceEdit(const QSqlDatabase& db) {
    QString reason;
    if (!DocumentHistory::announce(db, DocumentHistory::Kind::Edited, QString(), &reason))
        MZ_LOG() << "cannot announce the dialogs' change:" << reason;
}
} // namespace

QMap<qint64, EditTransaction::Followed> EditTransaction::_followed;
QPointer<QObject> EditTransaction::_owner;
bool EditTransaction::_open = false;

void EditTransaction::begin(QObject* owner) {
    if (_owner && _owner != owner)
        return; // shared: the open transaction is another dialog's
    QSqlDatabase db = connection();
    if (db.isOpen() && db.transaction()) {
        _owner = owner;
        _open = true;
        announceEdit(db);
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
    if (savepoint.ownsTransaction())
        announceEdit(connection());
    QString reason;
    QMap<qint64, DocumentHistory::State> committed;
    const bool written = write(&reason) && recordFollowed(&committed, &reason);
    if (written && savepoint.commit(&reason)) {
        for (auto it = committed.cbegin(); it != committed.cend(); ++it)
            if (_followed.contains(it.key()))
                _followed[it.key()].committed = it.value();
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

void EditTransaction::follow(QObject* dialog, qint64 profId) {
    addFollower(dialog, profId, nullptr);
}

void EditTransaction::followNew(QObject* dialog, qint64 profId) {
    const DocumentHistory::State none;
    addFollower(dialog, profId, &none);
}

bool EditTransaction::follows(qint64 profId) {
    prune();
    return _followed.contains(profId);
}

void EditTransaction::prune() {
    for (auto it = _followed.begin(); it != _followed.end();) {
        it->dialogs.removeAll(nullptr);
        it = it->dialogs.isEmpty() ? _followed.erase(it) : std::next(it);
    }
}

void EditTransaction::addFollower(QObject* dialog, qint64 profId, const DocumentHistory::State* committed) {
    const QSqlDatabase db = connection();
    if (!dialog || profId <= 0 || !db.isOpen() || SqlDialect::isServer(db))
        return;
    prune();
    auto found = _followed.find(profId);
    if (found == _followed.end()) {
        Followed followed;
        QString reason;
        if (committed) {
            followed.committed = *committed;
        } else if (!DocumentHistory::readState(db, profId, &followed.committed, &reason)) {
            MZ_LOG() << "cannot read document" << profId << "for its history:" << reason;
            return;
        }
        found = _followed.insert(profId, followed);
    }
    if (!found->dialogs.contains(dialog))
        found->dialogs.append(dialog);
}

bool EditTransaction::recordFollowed(QMap<qint64, DocumentHistory::State>* states, QString* error) {
    using Kind = DocumentHistory::Kind;
    prune();
    const QSqlDatabase db = connection();
    for (auto it = _followed.cbegin(); it != _followed.cend(); ++it) {
        const DocumentHistory::State& before = it->committed;
        DocumentHistory::State after;
        if (!DocumentHistory::readState(db, it.key(), &after, error))
            return false;
        const Kind kind = !before.exists ? Kind::Created : !after.exists ? Kind::Deleted : Kind::Edited;
        if ((before.exists || after.exists) &&
            !DocumentHistory::record(db, it.key(), kind, before, after, QString(), error))
            return false;
        states->insert(it.key(), after);
    }
    return true;
}
