#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <functional>

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
