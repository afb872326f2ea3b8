#pragma once

#include <QList>
#include <QString>

class QSqlDatabase;
class QSqlQuery;

// The few places where the registry file (SQLite) and the registry server (PostgreSQL) need
// different SQL. Every other statement is written once, in what both understand (COALESCE,
// ON CONFLICT, unquoted names), so that there is one store with two connections, not two stores.
namespace SqlDialect {
// Whether `db` is a connection to the registry server; the default connection when not given.
bool isServer(const QSqlDatabase& db);
bool isServer();

// The type of a temporary table's id column: SQLite's INTEGER PRIMARY KEY is the row id itself
// (any other spelling adds an index to every lookup), the server needs 64 bits said.
QString idType(const QSqlDatabase& db);

// The ids as the JSON array idsFromJson() reads: "[1,2,3]".
QString jsonIds(const QList<qint64>& ids);

// A subquery giving one row per id of a JSON array of integers bound at `placeholder` ("?" or
// ":name"), the id in the column "value".
QString idsFromJson(const QSqlDatabase& db, const QString& placeholder);

// The sum of `expression` as a floating-point number: 0.0 over no rows, NULLs skipped, never an
// overflow (SQLite's total(), a double precision SUM on the server).
QString floatSum(const QSqlDatabase& db, const QString& expression);

// `column`'s day as "yyyy-MM-dd" text, read from its first ten characters as the list reads it,
// NULL when they are not a real day ("2016-02-30", text): the value a day range compares.
QString dayOf(const QSqlDatabase& db, const QString& column);

// What to append to an INSERT so that insertedId() can give the new row's id (nothing for SQLite,
// which keeps the last id on the connection).
QString returningId(const QSqlDatabase& db, const QString& idColumn);
// The id the INSERT just executed on `query` created, 0 when it created none.
qint64 insertedId(QSqlQuery& query);
} // namespace SqlDialect
