#pragma once

#include <QString>
#include <functional>

class QSqlDatabase;
class QSqlError;

// All or nothing: what is written while a Savepoint is open is undone unless release() succeeds,
// and it is undone when the Savepoint goes out of scope unreleased. A file takes a savepoint inside
// or outside a transaction; a server refuses one outside a transaction, so there the Savepoint
// begins a transaction of its own, committed by release(). Work that could not be undone is
// refused: when the savepoint cannot be taken isOpen() is false and the work must not begin.
// Every failure is worded through StoreQuery::reasonOf.
class Savepoint {
public:
    // A savepoint on the main connection.
    explicit Savepoint(const QString& name);
    // A savepoint on another connection (the structure check's, the move's).
    Savepoint(const QString& name, const QSqlDatabase& db);
    ~Savepoint();
    Savepoint(const Savepoint&) = delete;
    Savepoint& operator=(const Savepoint&) = delete;

    bool isOpen() const { return _open; }
    // Whether the savepoint began the transaction it stands in (a server's, outside one).
    bool ownsTransaction() const { return _ownTransaction; }
    // Why the savepoint could not be taken, released or committed; empty otherwise.
    QString reason() const { return _reason; }
    // Keeps the work. A savepoint that cannot be released (or its own transaction committed) is a
    // failed commit: the work is undone rather than left to whatever commits next, and false is
    // returned with the reason kept in `error`.
    bool release(QString* error = nullptr);
    // Keeps the work by committing the whole transaction the savepoint stands in (the edit
    // dialogs' shared one). A refused commit undoes this savepoint's work only: false, with the
    // reason kept in `error`.
    bool commit(QString* error = nullptr);
    // Undoes the work now.
    void rollback();

    // Runs `work` inside a savepoint: all of it or nothing. False with the reason in `error` (the
    // work's own, or the savepoint's when it could not be taken or released).
    static bool run(const QString& name, const std::function<bool()>& work, QString* error = nullptr);
    static bool run(const QString& name, const QSqlDatabase& db, const std::function<bool()>& work,
                    QString* error = nullptr);
    // run() on the main connection as every save of the program runs (Database::guardedWrite):
    // asked about first on a fallback file, and a failure worded with the clerk's words first when
    // the server was lost meanwhile.
    static bool write(const QString& name, const std::function<bool()>& work, QString* error = nullptr);
    // run() for work that belongs to a transaction already open on the main connection (the edit
    // dialogs'): it neither reconnects nor begins a transaction of its own, since the work it
    // belongs to would be gone; without that transaction a server refuses it.
    static bool nested(const QString& name, const std::function<bool()>& work, QString* error = nullptr);

    // Set by the process-wide database: whether a failure on the main connection was a lost server
    // connection that is open again (the savepoint is then taken once more) ...
    using Recovery = std::function<bool(const QSqlError& failure)>;
    static void setRecovery(const Recovery& recovery);
    // ... and how write() runs its work (Database::guardedWrite). Without a guard write() is run().
    using WriteGuard = std::function<bool(const std::function<bool()>& write, QString* error)>;
    static void setWriteGuard(const WriteGuard& guard);

private:
    struct Nested {};
    Savepoint(const QString& name, Nested);
    void begin(bool mayRecover);
    // Runs `work` in this savepoint and releases it; see run().
    bool complete(const std::function<bool()>& work, QString* error);
    void opened();
    void closed();
    bool exec(const QString& statement, QString* error = nullptr);
    // False with the reason the savepoint is not open kept in `error`.
    bool notOpen(QString* error) const;
    // False with the reason of the refused commit on `db` kept, here and in `error`.
    bool commitRefused(QSqlDatabase& db, QString* error);
    QSqlDatabase connection() const;

    QString _name;
    QString _connectionName;
    QString _reason;
    bool _open = false;
    bool _ownTransaction = false;
    bool _main = false;
    bool _nested = false;
    // Savepoints open on the main connection: an inner one never reconnects nor begins a
    // transaction, since the work it belongs to went with the connection it stood on.
    static int _openOnMain;
};
