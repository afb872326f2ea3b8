#include "organisationdata.h"

#include "database.h"
#include "mzlog.h"
#include "storequery.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <sqlite3.h>

namespace {
const QString savepoint = QStringLiteral("organisation");

bool runStatement(const QString& sql, QString* reason = nullptr) {
    const QSqlQuery query = Database::instance()->execSql(sql);
    if (query.lastError().type() == QSqlError::NoError)
        return true;
    if (reason)
        *reason = query.lastError().databaseText().trimmed();
    return false;
}

// SQLite's word on the statement that failed last on the main connection.
QString lastReason() {
    sqlite3* handle = Database::sqliteHandle(QSqlDatabase::database());
    return handle ? QString::fromUtf8(sqlite3_errmsg(handle)) : QString();
}
} // namespace

QString OrganisationData::value(const QString& name, QString* error) {
    if (!Database::hasInstance()) {
        StoreQuery::keep(error, StoreQuery::notOpenText());
        return QString();
    }
    return Database::instance()->variable(name, error);
}

bool OrganisationData::write(const QVector<QPair<QString, QString>>& values, QString* error) {
    if (!Database::hasInstance()) {
        StoreQuery::keep(error, StoreQuery::notOpenText());
        return false;
    }
    // A savepoint works whether or not a transaction is already open on the connection.
    QString why;
    if (!runStatement(QStringLiteral("SAVEPOINT %1;").arg(savepoint), &why)) {
        StoreQuery::keep(error, why);
        return false;
    }
    Database* db = Database::instance();
    bool saved = true;
    for (const auto& value : values) {
        saved = db->setVariable(value.first, value.second);
        if (!saved) {
            why = lastReason(); // before the rollback replaces it
            break;
        }
    }
    if (saved && runStatement(QStringLiteral("RELEASE %1;").arg(savepoint), &why))
        return true;
    runStatement(QStringLiteral("ROLLBACK TO %1;").arg(savepoint));
    runStatement(QStringLiteral("RELEASE %1;").arg(savepoint));
    MZ_LOG() << "organisation data not saved" << why;
    StoreQuery::keep(error, why);
    return false;
}
