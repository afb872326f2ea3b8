#include "listchanges.h"

#include "database.h"
#include "mzlog.h"
#include "serverchangelog.h"
#include "storequery.h"

#include <QSqlDatabase>
#include <algorithm>
#include <sqlite3.h>
#include <vector>

namespace {
// The list's rows are those of this table.
constexpr const char* listTable = "ProfDocuments";
} // namespace

// SQLite's three hooks of the program's connection, shared by every ListChanges alive. They are
// set once per connection, with the connection as their argument, which tells a new one from the
// old.
struct ListChangeHooks {
    static std::vector<ListChanges*>& watchers() {
        static std::vector<ListChanges*> all;
        return all;
    }
    static sqlite3*& hooked() {
        static sqlite3* db = nullptr;
        return db;
    }

    static void onUpdate(void* db, int, const char* database, const char* table, sqlite3_int64 rowid) {
        if (qstrcmp(database, "main") != 0 || sqlite3_stricmp(table, listTable) != 0)
            return;
        const bool inTransaction = sqlite3_get_autocommit(static_cast<sqlite3*>(db)) == 0;
        for (ListChanges* watcher : watchers()) {
            watcher->_pending.insert(rowid);
            if (inTransaction)
                watcher->_inTransaction.insert(rowid);
        }
    }
    static int onCommit(void*) {
        for (ListChanges* watcher : watchers())
            watcher->_inTransaction.clear();
        return 0;
    }
    static void onRollback(void*) {
        for (ListChanges* watcher : watchers()) {
            watcher->_pending.unite(watcher->_inTransaction);
            watcher->_inTransaction.clear();
        }
    }

    // Hooks `db` unless it is hooked already; false when it was not (a connection new to us).
    static bool follow(sqlite3* db) {
        void* previous = sqlite3_update_hook(db, onUpdate, db);
        if (previous == db && hooked() == db)
            return true;
        sqlite3_commit_hook(db, onCommit, db);
        sqlite3_rollback_hook(db, onRollback, db);
        hooked() = db;
        for (ListChanges* watcher : watchers()) {
            watcher->_all = true;
            watcher->_pending.clear();
            watcher->_inTransaction.clear();
        }
        return false;
    }
};

ListChanges::ListChanges() {
    ListChangeHooks::watchers().push_back(this);
}

ListChanges::~ListChanges() {
    auto& watchers = ListChangeHooks::watchers();
    watchers.erase(std::remove(watchers.begin(), watchers.end(), this), watchers.end());
}

ListChanges::Changes ListChanges::take() {
    sqlite3* db = StoreQuery::mainFileHandle();
    Changes changes;
    if (!db)
        return takeFromServer();
    _server.clear();
    _horizon = -1;
    ListChangeHooks::follow(db);
    changes.all = _all;
    if (!_all) {
        changes.ids.reserve(_pending.size());
        for (qint64 id : qAsConst(_pending))
            changes.ids.append(id);
        std::sort(changes.ids.begin(), changes.ids.end());
    }
    _all = false;
    _pending.clear();
    // What the open transaction wrote stays known: its rollback shows the rows as they were.
    return changes;
}

ListChanges::Changes ListChanges::takeFromServer() {
    QSqlDatabase db = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
    Changes changes;
    _all = true;
    _pending.clear();
    _inTransaction.clear();
    const QString server =
        db.isOpen() && db.driverName() == QLatin1String("QPSQL")
            ? QStringLiteral("%1:%2/%3@%4").arg(db.hostName()).arg(db.port()).arg(db.databaseName(), db.userName())
            : QString();
    const qint64 since = !server.isEmpty() && server == _server ? _horizon : -1;
    _server = server;
    _horizon = -1;
    if (server.isEmpty())
        return changes;
    QString error;
    // At the first question of a run: the log keeps a day.
    if (since < 0 && !ServerListLog::prune(db, &error))
        MZ_LOG() << "cannot prune the list's change log:" << error;
    bool all = true;
    qint64 horizon = -1;
    if (!ServerListLog::changes(db, since, &horizon, &changes.ids, &all, &error)) {
        MZ_LOG() << "cannot read the list's change log:" << error;
        changes.ids.clear();
        return changes;
    }
    _horizon = horizon;
    changes.all = all;
    return changes;
}
