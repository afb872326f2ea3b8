#pragma once

#include <QString>

class Database;

// Copies of the registry and the registry put back from one: the file copied as it is held, or a
// server's registry written as a file; a copy checked, staged, brought to this version's structure
// and put in place of the file's or the server's rows. Works on the open registry of `db`.
class RegistryBackup {
public:
    explicit RegistryBackup(Database& db) : _db(db) {}

    // Copies the registry to `destination`; false with the reason, in Russian, in `error`.
    bool backup(const QString& destination, QString* error = nullptr);
    // Checks `source` first (isRestoreCandidate), then puts a migrated copy of it in place of
    // the registry. False with the reason in `error`; the registry is then as it was.
    bool restore(const QString& source, QString* error = nullptr);
    // Whether `file` can replace the registry; false with the reason in `error`, in Russian, with
    // SQLite's own text on a line of its own. The file is read in place and never written: its header first (a
    // file that is no database, or a cut or padded one, is refused without reading it), then its
    // pages and its tables, which must be the registry's or a structure the check can migrate.
    bool isRestoreCandidate(const QString& file, QString* error) const;
    // Where a restore stages its copy before it replaces the database file.
    static QString restoreStagingPath();

private:
    bool backupServer(const QString& destination, QString* error);
    bool restoreOnServer(const QString& source, QString* error);

    Database& _db;
};
