#include "sqldialect.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QVariant>

bool SqlDialect::isServer(const QSqlDatabase& db) {
    return db.driverName() == QLatin1String("QPSQL");
}

bool SqlDialect::isServer() {
    return isServer(QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false));
}

QString SqlDialect::idType(const QSqlDatabase& db) {
    return isServer(db) ? QStringLiteral("BIGINT") : QStringLiteral("INTEGER");
}

QString SqlDialect::jsonIds(const QList<qint64>& ids) {
    QByteArray json;
    json.reserve(ids.size() * 8 + 2);
    json += '[';
    for (int i = 0; i < ids.size(); ++i) {
        if (i > 0)
            json += ',';
        json += QByteArray::number(ids.at(i));
    }
    json += ']';
    return QString::fromLatin1(json);
}

QString SqlDialect::idsFromJson(const QSqlDatabase& db, const QString& placeholder) {
    if (isServer(db))
        return QStringLiteral("SELECT CAST(value AS BIGINT) AS value FROM json_array_elements_text(CAST(%1 AS json))")
            .arg(placeholder);
    return QStringLiteral("SELECT value FROM json_each(%1)").arg(placeholder);
}

QString SqlDialect::floatSum(const QSqlDatabase& db, const QString& expression) {
    if (isServer(db))
        return QStringLiteral("COALESCE(SUM(CAST(%1 AS DOUBLE PRECISION)), 0)").arg(expression);
    return QStringLiteral("total(%1)").arg(expression);
}

QString SqlDialect::dayOf(const QSqlDatabase& db, const QString& column) {
    // The server has the same reading as a function of the registry's structure.
    if (isServer(db))
        return QStringLiteral("orvane_day(%1)").arg(column);
    return QStringLiteral("date(substr(%1, 1, 10))").arg(column);
}

QString SqlDialect::returningId(const QSqlDatabase& db, const QString& idColumn) {
    return isServer(db) ? QStringLiteral(" RETURNING ") + idColumn : QString();
}

qint64 SqlDialect::insertedId(QSqlQuery& query) {
    // The server tells the row by its RETURNING id; a forward-only query there counts no rows affected.
    if (query.driver() && query.driver()->dbmsType() == QSqlDriver::PostgreSQL)
        return query.next() ? query.value(0).toLongLong() : 0;
    if (query.numRowsAffected() != 1)
        return 0;
    return query.lastInsertId().toLongLong();
}
