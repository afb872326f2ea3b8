#pragma once

#include "dbtable.h"

#include <QMap>
#include <QSqlError>
#include <QString>
#include <QStringList>

class QSqlDatabase;
struct sqlite3;

// The registry's structure in a SQLite file: how a file's tables differ from the table registry,
// the structure check that adds what is missing and corrects declared types, and the views and
// patch scripts. Works on any open connection; the caller decides which file and when.
class FileSchema {
public:
    // How a file's tables differ from the registry, as the check would find it.
    struct Gaps {
        QStringList missingTables;
        QStringList missingColumns; // "table.column"
        // Missing columns the check cannot add (NOT NULL without a default).
        QStringList unaddableColumns;
        QStringList mistypedColumns;
        bool any() const { return !missingTables.isEmpty() || !missingColumns.isEmpty() || !mistypedColumns.isEmpty(); }
        // The missing tables but those the program added after its first registries (the
        // history): a registry of an earlier version lacks them, the check makes them empty, and
        // nothing that reads or restores documents needs them.
        QStringList missingCoreTables() const;
    };

    explicit FileSchema(const QMap<QString, DBTable>& tables) : _tables(tables) {}

    // False with `failure` set when the tables cannot be read.
    bool gaps(QSqlDatabase& db, Gaps* gaps, QSqlError* failure) const;
    // Whether the check would change anything in the file, found without writing. False with
    // `failure` set when the file cannot be read; a file that is no database needs the check.
    bool needsCheck(QSqlDatabase& db, QSqlError* failure) const;
    // The structure check and migration of the file at `path` on a connection of its own: false
    // with the first failure's text in `error` (and the driver's error in lastFailure()).
    bool check(const QString& path, QString* error) const;
    bool checkTable(QSqlDatabase& db, const DBTable& table, QString* error) const;

    static bool createTable(QSqlDatabase& db, const DBTable& table, QString* error);
    static bool createColumn(QSqlDatabase& db, const DBTable& table, const QString& columnName, QString* error);
    // Rebuilds the table with the registry's declared types, all or nothing.
    static bool changeColumnType(QSqlDatabase& db, const DBTable& table, QString* error);
    static void dropViews(QSqlDatabase& db);
    // The views script; `temporary`: the views are made for this connection only (a file that is
    // not written). A script missing from the resources is an error.
    static bool runViewsScript(QSqlDatabase& db, bool temporary, QString* error);
    static void runPatchScript(QSqlDatabase& db);

    // The last failure of the check and creation steps: their texts alone cannot tell a locked
    // file from a damaged one.
    static QSqlError& lastFailure();
    // SQLite's primary result code of a failure (the driver reports it as the native code).
    static int sqliteCode(const QSqlError& error);
    // SQLite's word on a failure: the file cannot be used now (busy, locked, read-only, I/O error,
    // disk full), as opposed to a file whose content or structure is wrong.
    static bool isUnavailable(const QSqlError& error);
    // The SQLite handle behind an open connection; null when there is none.
    static sqlite3* sqliteHandle(const QSqlDatabase& db);

    // SQLite's primary result codes the store tells apart.
    enum SqliteCode {
        Perm = 3,
        Busy = 5,
        Locked = 6,
        NoMem = 7,
        ReadOnly = 8,
        IoErr = 10,
        Corrupt = 11,
        Full = 13,
        CantOpen = 14,
        Protocol = 15,
        NoLfs = 22,
        Auth = 23,
        NotADb = 26
    };

private:
    static bool runScript(QSqlDatabase& db, const QString& resource, const char* failureText, bool temporary,
                          bool optional, QString* error);

    QMap<QString, DBTable> _tables;
};
