#pragma once

#include "dbtable.h"
#include "serverconnection.h"
#include "startupquestions.h"
#include "usedvalues.h"

#include <QFile>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

class QSqlDatabase;
class ServerNotifications;
class QSqlTableModel;
struct sqlite3;

// The registry's connection, to a file or to a server: the process-wide instance, which of the two
// this run works on, opening it, recovery of a lost server connection, and the statements,
// variables and table models of the main connection. At construction a file is created when
// missing, checked and migrated (FileSchema) and opened in exclusive locking mode; a server's
// registry is made or checked (ServerSchema). During the run every statement of the program goes
// through this connection, and its signals tell what no caller can return.
class Database : public QObject {
    Q_OBJECT

public:
    // The table registry of the edition; set once before the first construction.
    static void setSchema(const QMap<QString, DBTable>& tables, const QString& mainPrimaryKeyName);
    // Who answers the start-up questions; the store shows nothing itself. Without anybody (null,
    // the default) a file that cannot be brought into shape is kept and the start fails.
    static void setStartupQuestions(StartupQuestions* questions);

    // Works on this file instead of the data folder's database; its folder becomes the data folder.
    static void useFile(const QString& path);
    // Works on the registry of this PostgreSQL server database instead of a file (made there when
    // the database is empty). Several programs may work on it at once: nothing is locked.
    static void useServer(const ServerAddress& address);
    // Back to the registry file of the data folder (or of useFile()) after useServer().
    static void useDataFolderFile();
    // Whether this run's registry is on a server, and where.
    static bool usesServer();
    static ServerAddress serverAddress();
    // What the address, without the password, is shown as ("postgresql://user@host:port/dbname").
    static QString serverText();
    // This run works on the registry file although the settings put the registry on a server that
    // could not be reached: the file may be an old copy, and what is written there stays there.
    static void setServerFallback(bool on);
    static bool isServerFallback();
    // Asked before the first write of a run on a fallback file; true lets this write and every later
    // one go. Without a question (null, the default) every write goes.
    static void setWriteQuestion(const std::function<bool()>& question);
    // Runs one save as every save runs (EditTransaction::save, Savepoint::write): asked
    // about first on a fallback file (false with the reason when the user declined), writeFailed
    // blocked meanwhile (the caller tells of its own failure), and a failure's reason in `error`
    // worded by failureInWords().
    static bool guardedWrite(const std::function<bool()>& write, QString* error);

    explicit Database(bool checkStructure);
    ~Database() override;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // The process-wide database, constructed with the check on at the first call.
    static Database* instance();
    static bool hasInstance();
    // Commits, closes, releases the settings stores and destroys the instance.
    static void shutdown();

    // Opens `path` for reading only, as the process-wide database, for tools that print from a
    // registry: nothing is written, migrated or backed up; the views live only in this connection.
    // A file that lacks tables or columns is refused (declared types do not matter for reading),
    // and so is a file the running program holds (heldByProgramText). Null with `error` set on
    // failure.
    static Database* openForReading(const QString& path, QString* error);
    // The same for a registry on a server ("postgresql://user@host/dbname"): it is only read.
    static Database* openServerForReading(const ServerAddress& address, QString* error);
    // The tools' --db: a registry file's name or a server's "postgresql://user@host/dbname".
    static Database* openSourceForReading(const QString& fileOrAddress, QString* error);

    // False when the start ended on a problem; startupProblem() then says which and with what
    // exit code the program ends.
    bool isValid() const { return _valid; }
    const StartupProblem& startupProblem() const { return _startupProblem; }
    // After a statement failed on a server registry: when the connection was lost, it is opened
    // again (at most every two seconds) and true is returned, so that the caller may try once more.
    bool recover(const QSqlError& failure);
    // Whether a failure means the server cannot be reached now (restarted, network down).
    static bool isConnectionLoss(const QSqlError& error);
    // A failed write's reason with the clerk's words first when the server connection was lost
    // since `troublesBefore` or is still lost: what happened, that nothing was saved and that the
    // typing is kept. The server's text follows on its own line. Other reasons (a file's SQLite
    // text) are returned as they are.
    QString failureInWords(const QString& reason, int troublesBefore) const;
    // The first line of what a lost server connection is said with.
    static QString connectionLostText();
    // Why a server registry could not be opened (None for a file or an open one).
    ServerProblem serverProblem() const { return _serverProblem; }
    // Documents can be read and printed, nothing saved: the file or its folder cannot be written, or
    // the server's login may only read the registry (ServerPrivileges). Every save is refused then.
    bool isReadOnly() const { return _readOnly; }
    // Why, in the clerk's words (the windows' tooltips and title); empty while the registry can be
    // written.
    QString readOnlyReason() const { return _readOnlyReason; }
    // What the window tells the user once it is up: why nothing can be saved (a read-only file or
    // folder, a full disk); empty when the file could be written at start.
    QString startWarning() const { return _startWarning; }
    void commitAndClose();

    // SQLite's word on a failure: the file cannot be used now (busy, locked, read-only, I/O error,
    // disk full), as opposed to a file whose content or structure is wrong.
    static bool isUnavailable(const QSqlError& error);
    // The tools' word on a registry the running program holds (its exclusive lock).
    static QString heldByProgramText();

    static QString dataPath();
    static QString filePath();
    // Name of the safety copy taken before the structure check, for the current time; an existing
    // file is never reused ("_2", "_3", ... are added).
    static QString backupFilePath();
    // The lock file that keeps a second program away from the data folder's database.
    static QString lockFilePath();

    // Runs a statement on the main connection; a failure is logged and gives a query without rows.
    QSqlQuery execSql(const QString& sql);
    // Runs a query the caller prepared and bound; false (logged) on failure.
    bool execPrepared(QSqlQuery& query);

    QString variable(const QString& name, QString* error = nullptr);
    // False with SQLite's reason in `error` when the value was not stored.
    bool setVariable(const QString& name, const QString& value, QString* error = nullptr);

    // Editable model of a table on the main connection, cached and owned here.
    QSqlTableModel* tableModel(const QString& table);

    const QMap<QString, DBTable>& tables() const { return _tables; }
    QString mainPrimaryKeyName() const { return _mainPrimaryKeyName; }
    QString mainTableName() const;
    QStringList additionalTableNames() const;
    // Column names of a table joined with ", ": all of them, or the copyable ones only.
    QString columns(const QString& table, bool all) const;
    // Rows changed on the main connection since it opened (-1 when unknown).
    qint64 totalChanges() const;
    // The SQLite handle behind an open connection; null when there is none.
    static sqlite3* sqliteHandle(const QSqlDatabase& db);

    // How many other programs work on the registry now: on a server, those connected to its
    // database; a file has none (it is held by one program). -1 with the reason when unknown.
    int otherProgramsConnected(QString* error = nullptr);

signals:
    // What no caller can return: the server connection was lost (found by the listening connection
    // while the window is idle, or by a read), or the file became unusable (an I/O error, the file
    // gone or damaged). Said once until it is over. A failed write travels on its caller's returned
    // reason instead (see failureInWords); the writes block this signal.
    void writeFailed(const QString& message);
    // Another program changed the documents of the server registry (a file has no others).
    void changedElsewhere();
    // The connection to the server is open again after it was lost.
    void connectionBack();

private:
    // The copies and the restore work on the held file and the models.
    friend class RegistryBackup;
    // The used values are counted on the main connection, as of its change count.
    friend class UsedValues;

    static void installHooks();
    // The views script on the main connection; `temporary`: the views are made for this
    // connection only (a file that is not written). A script missing from the resources is an error.
    // A file that is written is given its kept number of documents (DocumentCount) too.
    bool runViewsScript(bool temporary, QString* error);
    void runPatchScript();
    struct ReadOnlyTag {};
    Database(ReadOnlyTag);

    bool openReadOnly(const QString& path, QString* error);
    bool openServer();
    // Whether the login may write what a save writes; read-only when it may not.
    void checkPrivileges(QSqlDatabase& db);
    void listenToOthers(QSqlDatabase& db);
    // The connection to the server is gone, whoever found it; `told` when a write's caller says so.
    void connectionLost(const QString& technical, bool told);
    // Whether a write may begin; false with the reason in `error` when the user declined.
    static bool mayWrite(QString* error);
    bool reconnect();
    void initTables();
    bool createDb(QString* error);
    bool createNewDb();
    bool checkWithSafetyCopy();
    bool runCheck(const QString& backup, bool backedUp);
    void refuseUnavailable(const QSqlError& failure);
    bool inspect(QSqlError* failure, bool* needsCheck);
    bool rollBackHotJournal(QSqlError* failure);
    bool openMainConnection();
    void holdFile();
    bool copyHeldFile(const QString& destination, QString* reason);
    void probeWritable();
    void reportFailure(const QSqlError& error, const QString& statement);
    void retireModels();
    // Ends the start on `problem`; it is told unless it was the answer to a question.
    void fail(const StartupProblem& problem);

    static Database* _instance;
    static QMap<QString, DBTable> _schema;
    static QString _schemaKey;
    static StartupQuestions* _questions;
    static QString _fileOverride;
    static bool _onServer;
    static ServerAddress _server;
    static bool _serverFallback;
    static bool _writesAgreed;
    static std::function<bool()> _writeQuestion;

    QMap<QString, DBTable> _tables;
    QString _mainPrimaryKeyName;
    QMap<QString, QSqlTableModel*> _models;
    UsedValues _usedValues;
    QList<QSqlTableModel*> _retiredModels;
    bool _valid = true;
    StartupProblem _startupProblem;
    ServerProblem _serverProblem = ServerProblem::None;
    ServerNotifications* _notifications = nullptr; // a child: the server's notifications
    bool _connectionLost = false;
    bool _lossSaid = false;
    bool _unusableSaid = false;
    int _troubles = 0;         // losses of the server connection, counted
    QString _troubleText;      // the clerk's words for the latest trouble
    qint64 _lastReconnect = 0; // ms since the epoch
    bool _readOnly = false;
    QString _readOnlyReason;
    // The tools' connection, opened only to read (openForReading): it is never opened again.
    bool _forReading = false;
    QString _startWarning;
    // The database file, open for reading for as long as the main connection is: copies are read
    // through it, because closing any other descriptor of the file would drop SQLite's locks.
    QFile _heldFile;
};
