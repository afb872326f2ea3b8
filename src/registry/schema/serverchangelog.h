#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVector>

// The change log of the documents on a server, for the list's refresh. A horizon is a transaction
// id below which every transaction had ended when it was taken.
namespace ServerListLog {
// The horizon now and, when `since` is not negative, the ids of the documents written by the
// transactions from `since` on, ascending and each once; `all` when that cannot be told (a
// statement of many rows, TRUNCATE, or entries pruned since). False with the reason.
bool changes(QSqlDatabase& db, qint64 since, qint64* horizon, QVector<qint64>* ids, bool* all, QString* error);
// Drops the entries older than a day; false with the reason.
bool prune(QSqlDatabase& db, QString* error);
// The log's table, function and triggers (part of the server schema's structure).
QStringList statements();
// For the rest of the transaction nothing is logged, and every list reads everything once (the
// restore replaces every row).
bool markAllChanged(QSqlDatabase& db, QString* error);
} // namespace ServerListLog
