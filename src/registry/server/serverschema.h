#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

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
} // namespace ServerSchema

// The change log of the documents on a server, for the list's refresh. A horizon is a transaction
// id below which every transaction had ended when it was taken.
namespace ServerListLog {
// The horizon now and, when `since` is not negative, the ids of the documents written by the
// transactions from `since` on, ascending and each once; `all` when that cannot be told (a
// statement of many rows, TRUNCATE, or entries pruned since). False with the reason.
bool changes(QSqlDatabase& db, qint64 since, qint64* horizon, QVector<qint64>* ids, bool* all, QString* error);
// Drops the entries older than a day; false with the reason.
bool prune(QSqlDatabase& db, QString* error);
} // namespace ServerListLog

// Copies the registry file at `filePath` into the empty server database `server`: every table
// and every row with its id, then the views, indexes and function, then the id sequences set past
// the highest id; the count of every table is compared before the transaction commits. The file is
// opened read-only and never changed. A database that already holds a registry is refused with
// ServerSchema's reason. Progress is reported per table (table, rows copied, rows in the table);
// returning false cancels, and a cancelled or failed move leaves the server database empty.
namespace RegistryMove {
using Progress = std::function<bool(const QString& table, qint64 done, qint64 total)>;
struct Counts {
    QString table;
    qint64 file = 0;
    qint64 server = 0;
};
bool toServer(const QString& filePath, QSqlDatabase& server, QList<Counts>* counts, QString* error,
              const Progress& progress = Progress());
// The reason a database that already holds a registry is refused (the window offers to open it).
QString alreadyThereText();
// The restore on a server: the rows of the registry in `server` are replaced by the file's, in one
// transaction (ids kept, counts compared); the tables stay. The structure check must have run.
bool replaceOnServer(const QString& filePath, QSqlDatabase& server, QList<Counts>* counts, QString* error);
// The backup of a server registry: a registry file at `destination`, the same as the file store
// writes (its tables, views, every row and id), read in one snapshot of the server. The file is
// written beside the destination first and replaces it only when complete; false with the reason.
bool toFile(QSqlDatabase& server, const QString& destination, QString* error, const Progress& progress = Progress());
} // namespace RegistryMove
