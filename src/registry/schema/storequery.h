#pragma once

#include <QSqlQuery>
#include <QString>
#include <functional>
#include <memory>

class QSqlDatabase;
struct sqlite3;
struct sqlite3_stmt;
class QSqlError;
class QSqlRecord;
class QSqlTableModel;

// What the registry's stores share: statements on the main connection, and the reason SQLite
// gave for a failure, without the driver's own words (the second line of the dialogs' boxes).
namespace StoreQuery {
QSqlQuery prepared(const QString& sql);
// Runs a prepared query; false (logged) on failure. Works before the process-wide database
// exists, for tools and tests that open a registry on the default connection themselves.
bool exec(QSqlQuery& query);
// How exec() runs a query while a registry is open: the process-wide database sets it, so that a
// failure is told as its failures are and a lost server is reconnected. Empty: exec() only logs.
using Runner = std::function<bool(QSqlQuery&)>;
void setRunner(const Runner& runner);
// As exec(), keeping the reason of a failure in `error`.
bool write(QSqlQuery& query, QString* error);

QString reasonOf(const QSqlError& error);
QString reasonOf(const QSqlQuery& query);
QString reasonOf(const QSqlTableModel* model);
// Prepares `sql` on the main connection; false (logged) with the reason in `error` when SQLite or
// the server refuses it (a refused statement keeps its reason only until it is run).
bool prepare(QSqlQuery& query, const QString& sql, QString* error);
// Runs a statement text on `db`; false (logged) with the reason in `error` on failure, and the
// driver's error in `failure` for a caller that tells a busy file from a damaged one.
bool run(QSqlDatabase& db, const QString& sql, QString* error = nullptr, QSqlError* failure = nullptr);
// As above on `query`, whose rows are then read.
bool run(QSqlQuery& query, const QString& sql, QString* error);
// False, with the failed query's reason kept in `error`.
bool failed(const QSqlQuery& query, QString* error);
// False, with `reason` logged and kept in `error`.
bool fail(QString* error, const QString& reason);
// Sets `*error` (when given) to `reason` unless an earlier reason is there: the first one counts.
void keep(QString* error, const QString& reason);
// The row of `table` that belongs to document `profId`; false with no reason when there is none,
// false with the reason when it cannot be read. `table` is one of the registry's own.
bool readDocumentRow(const QString& table, qint64 profId, QSqlRecord* row, QString* error);
// The reason of a write tried while no registry is open.
QString notOpenText();

// SQLite's own statements, for the reads of a file that go through millions of rows, where the
// driver's values would cost more than the work.
using SqliteStatement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;
// The SQLite handle of the main connection; null on a server or with no registry open.
sqlite3* mainFileHandle();
// `sql` prepared on `db`; null when `db` is null or SQLite refuses it (its reason is then
// sqlite3_errmsg(db)).
SqliteStatement prepareSqlite(sqlite3* db, const char* sql);
// The text Qt's driver binds for a value that is neither a number nor a blob.
QString boundText(const QVariant& value);
// Binds `value` to parameter `at` (from 1) of `statement` as Qt's driver binds it, so that the row
// stores the same types, but a text as UTF-8, the file's own encoding, which SQLite then keeps as it
// is; false when SQLite refuses it.
bool bindSqlite(sqlite3_stmt* statement, int at, const QVariant& value);
// Runs a bound SQLite statement that returns no rows and resets it, keeping its values for the next
// run; false with SQLite's reason, logged and kept in `error`, on failure.
bool stepSqlite(sqlite3_stmt* statement, QString* error);
// Binds `count` values to the first parameters of `statement` and runs it as stepSqlite() does.
bool runSqlite(sqlite3_stmt* statement, const QVariant* values, int count, QString* error);
} // namespace StoreQuery
