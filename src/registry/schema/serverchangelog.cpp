#include "serverchangelog.h"

#include "serverschema.h"
#include "storequery.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>

namespace {
// Every statement that writes documents leaves the ids it wrote in orvane_list_log, stamped with
// the writing transaction's id, so that a list can read again only what changed since it last
// read (ServerListLog::changes). A statement of many rows, and TRUNCATE, leave one NULL instead:
// read everything. A transaction that sets orvane.list_log to 'off' (the restore) logs nothing
// and leaves its own NULL. Entries older than a day are pruned; orvane_list_pruned keeps the
// highest transaction id pruned, so that a list older than that reads everything.
constexpr int manyRows = 10000;
const char* const listLogOff = "SET LOCAL orvane.list_log = 'off'";
const char* const listLogEverything = "INSERT INTO orvane_list_log(profId) VALUES (NULL)";

} // namespace

QStringList ServerListLog::statements() {
    const QStringList statements = {
        QStringLiteral("CREATE TABLE IF NOT EXISTS orvane_list_log (xact BIGINT NOT NULL DEFAULT txid_current(), "
                       "profId BIGINT, at TIMESTAMPTZ NOT NULL DEFAULT now())"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS orvane_list_log_xact ON orvane_list_log(xact)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS orvane_list_pruned (upto BIGINT NOT NULL)"),
        QStringLiteral("INSERT INTO orvane_list_pruned SELECT 0 WHERE NOT EXISTS (SELECT 1 FROM orvane_list_pruned)"),
        QStringLiteral("CREATE OR REPLACE FUNCTION orvane_log_documents() RETURNS trigger LANGUAGE plpgsql AS $$ "
                       "DECLARE n bigint; "
                       "BEGIN "
                       "IF current_setting('orvane.list_log', true) = 'off' THEN RETURN NULL; END IF; "
                       "IF TG_OP = 'TRUNCATE' THEN n := %1 + 1; "
                       "ELSIF TG_OP = 'DELETE' THEN SELECT count(*) INTO n FROM old_rows; "
                       "ELSE SELECT count(*) INTO n FROM new_rows; END IF; "
                       "IF n > %1 THEN INSERT INTO orvane_list_log(profId) VALUES (NULL); "
                       "ELSIF TG_OP = 'INSERT' THEN INSERT INTO orvane_list_log(profId) SELECT profId FROM new_rows; "
                       "ELSIF TG_OP = 'DELETE' THEN INSERT INTO orvane_list_log(profId) SELECT profId FROM old_rows; "
                       "ELSE INSERT INTO orvane_list_log(profId) SELECT profId FROM new_rows "
                       "UNION SELECT profId FROM old_rows; "
                       "END IF; RETURN NULL; END $$")
            .arg(manyRows),
        QStringLiteral("DROP TRIGGER IF EXISTS ProfDocuments_log_truncate ON ProfDocuments"),
        QStringLiteral("CREATE TRIGGER ProfDocuments_log_truncate AFTER TRUNCATE ON ProfDocuments FOR EACH STATEMENT "
                       "EXECUTE FUNCTION orvane_log_documents()")};
    return statements + ServerSchema::transitionTriggers(QStringLiteral("ProfDocuments"), QStringLiteral("log"),
                                                         QStringLiteral("orvane_log_documents"));
}

bool ServerListLog::markAllChanged(QSqlDatabase& db, QString* error) {
    QString reason;
    if (StoreQuery::run(db, QLatin1String(listLogOff), &reason) &&
        StoreQuery::run(db, QLatin1String(listLogEverything), &reason))
        return true;
    return StoreQuery::fail(error, reason);
}

bool ServerListLog::changes(QSqlDatabase& db, qint64 since, qint64* horizon, QVector<qint64>* ids, bool* all,
                            QString* error) {
    ids->clear();
    *all = since < 0;
    // One statement, one snapshot: what committed below the new horizon is in the entries read.
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (since < 0) {
        query.prepare(QStringLiteral("SELECT 0, txid_snapshot_xmin(txid_current_snapshot())"));
    } else {
        query.prepare(QStringLiteral("SELECT 0, txid_snapshot_xmin(txid_current_snapshot()) "
                                     "UNION ALL SELECT 1, profId FROM (SELECT DISTINCT profId FROM orvane_list_log "
                                     "WHERE xact >= ?) AS written "
                                     "UNION ALL SELECT 2, NULL FROM orvane_list_pruned WHERE upto >= ?"));
        query.addBindValue(since);
        query.addBindValue(since);
    }
    if (!query.exec())
        return StoreQuery::failed(query, error);
    bool found = false;
    while (query.next()) {
        const int kind = query.value(0).toInt();
        const QVariant value = query.value(1);
        if (kind == 0) {
            *horizon = value.toLongLong(&found);
        } else if (kind == 2 || value.isNull()) {
            *all = true;
        } else {
            ids->append(value.toLongLong());
        }
    }
    if (!found)
        return StoreQuery::fail(error, QStringLiteral("no transaction horizon: ") + StoreQuery::reasonOf(query));
    if (*all)
        ids->clear();
    std::sort(ids->begin(), ids->end());
    return true;
}

bool ServerListLog::prune(QSqlDatabase& db, QString* error) {
    return StoreQuery::run(
        db,
        QStringLiteral("WITH gone AS (DELETE FROM orvane_list_log WHERE at < now() - interval '1 day' "
                       "RETURNING xact) UPDATE orvane_list_pruned SET upto = greatest(upto, "
                       "(SELECT max(xact) FROM gone)) WHERE EXISTS (SELECT 1 FROM gone)"),
        error);
}
