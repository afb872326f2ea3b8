#pragma once

#include <QString>

class QSqlDatabase;

// How many documents the list shows (the rows of ViewProfDocuments). A registry file keeps the
// number in a table of its own, moved by triggers on every insert, delete and change of a
// document's template mark, so that a start need not count a million rows; the triggers live in
// the file, so whatever program writes to it keeps the number right. A server, and a file that
// cannot be given the table (read-only), is counted.
namespace DocumentCount {
// The file's table of the kept number: no table of the registry's own (ProfSchema), and nothing
// a server takes over, since it counts.
QString tableName();
// Gives the file on `db` its kept number and triggers when it lacks them, counting its documents
// once; true when the file keeps the number afterwards. A server is left alone (false, no error).
bool keep(QSqlDatabase& db, QString* error);
// Whether the registry on `db` keeps the number: the table with its one row and every trigger.
bool isKept(const QSqlDatabase& db);
// The number of documents of the open registry, kept or counted; -1 with the reason in `error`.
qint64 read(QString* error);
// Sets a kept number that turned out wrong to the documents counted now; true when there is
// nothing kept to correct.
bool recount(QString* error);
} // namespace DocumentCount
