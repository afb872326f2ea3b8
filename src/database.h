#pragma once

#include "dbtable.h"

#include <QList>
#include <QMap>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <functional>

class QSqlDatabase;
class QSqlTableModel;

// The program's one SQLite database file and its main connection. At construction the file is
// created when missing, checked and migrated against the table registry, and opened in exclusive
// locking mode; during the run every statement of the program goes through here.
class Database {
public:
    // The table registry of the edition; set once before the first construction.
    static void setSchema(const QMap<QString, DBTable>& tables, const QString& mainPrimaryKeyName);
    // What ends the process on a fatal start-up failure (std::exit by default). Tests replace it;
    // when it returns, construction stops and isValid() is false.
    static void setExitHandler(std::function<void(int)> handler);

    // Works on this file instead of the data folder's database; its folder becomes the data folder.
    static void useFile(const QString& path);

    explicit Database(bool checkStructure);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // The process-wide database, constructed with the check on at the first call.
    static Database* instance();
    static bool hasInstance();
    // Commits, closes, releases the settings stores and destroys the instance.
    static void shutdown();

    bool isValid() const { return _valid; }
    void commitAndClose();

    static QString dataPath();
    static QString filePath();
    // Name of the safety copy taken before the structure check, for the current time.
    static QString backupFilePath();

    // Runs a statement on the main connection; a failure is logged and gives a query without rows.
    QSqlQuery execSql(const QString& sql);
    // Runs a query the caller prepared and bound; false (logged) on failure.
    bool execPrepared(QSqlQuery& query);

    QString variable(const QString& name);
    void setVariable(const QString& name, const QString& value);

    // Editable model of a table on the main connection, cached and owned here.
    QSqlTableModel* tableModel(const QString& table);

    const QMap<QString, DBTable>& tables() const { return _tables; }
    QString mainPrimaryKeyName() const { return _mainPrimaryKeyName; }
    QString mainTableName() const;
    QStringList additionalTableNames() const;
    // Column names of a table joined with ", ": all of them, or the copyable ones only.
    QString columns(const QString& table, bool all) const;
    QStringList mostFrequentValues(const QString& table, const QStringList& columnNames, int limit, bool alphabetical);

    bool backup(const QString& destination);
    bool restore(const QString& source, QString* error = nullptr);
    // Where a restore stages its copy before it replaces the database file.
    static QString restoreStagingPath();

    // Structure check and migration.
    QString checkDbStructure(const QString& path);
    static QString createTable(QSqlDatabase& db, const DBTable& table);
    QString createColumn(QSqlDatabase& db, const DBTable& table, const QString& columnName);
    QString changeColumnType(QSqlDatabase& db, const DBTable& table);
    static void dropViews(QSqlDatabase& db);
    void runViewsScript();
    void runPatchScript();

private:
    void initTables();
    QString createDb();
    bool createDbUi();
    bool checkWithSafetyCopy();
    bool openMainConnection();
    QString checkTable(QSqlDatabase& db, const DBTable& table);
    void runScript(const QString& resource, const char* failureText);
    void retireModels();
    void fail(int exitCode);

    static Database* _instance;
    static QMap<QString, DBTable> _schema;
    static QString _schemaKey;
    static std::function<void(int)> _exit;
    static QString _fileOverride;

    QMap<QString, DBTable> _tables;
    QString _mainPrimaryKeyName;
    QMap<QString, QSqlTableModel*> _models;
    QList<QSqlTableModel*> _retiredModels;
    bool _valid = true;
};
