#pragma once

#include "dbtable.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVector>

// The registry's structure on a PostgreSQL server: the tables of the schema (ProfSchema::tables(),
// the same names and columns as in the file, unquoted, so that the store's statements name them
// the same way), the views, the indexes, and the SQL function the filters use. Identifiers are
// unquoted, so the server folds them to lower case and "ProfDocuments" and "profdocuments" are one.
namespace ServerSchema {
// Whether the database already holds a registry (its main table exists).
bool hasRegistry(QSqlDatabase& db, bool* found, QString* error);

// Creates every table, index, view and function of the registry in an empty database, in one
// transaction; false with the reason (nothing is left half made).
bool create(QSqlDatabase& db, QString* error);

// The structure check of a server registry: what a program of this version needs and the
// database lacks (missing tables and columns are added, views and functions made again), in one
// transaction. False with the reason.
bool check(QSqlDatabase& db, QString* error);

// The DDL `create` runs, in order (for the tests and the README).
QStringList statements();

// The channel the registry's triggers notify (ServerNotifications listens to it).
constexpr const char* notifyChannel = "orvane_registry";

// What the move to a server shares with the check. Held until the transaction ends: the lock
// that keeps two programs from making the structure side by side (with the notices quietened).
bool lockStructure(QSqlDatabase& db, QString* error);
// The registry's tables, in an empty database.
bool createTables(QSqlDatabase& db, QString* error);
// Everything after the tables (row versions, the list's change log, notifications, indexes,
// functions, views), marked as this program's structure.
bool makeDerived(QSqlDatabase& db, QString* error);

// How a column declared in the file is kept on the server, by SQLite's affinity rules.
enum class Kind { Integer, Text, Real, Blob };
Kind kindOf(const QString& declared);
QString serverType(Kind kind);
// Whether the table's key is an integer the server numbers.
bool hasIntegerKey(const DBTable& table);
// The three statement triggers "<table>_<name>_insert|update|delete" of `table` running `function`
// with the rows written as new_rows and old_rows.
QStringList transitionTriggers(const QString& table, const QString& name, const QString& function);
} // namespace ServerSchema
