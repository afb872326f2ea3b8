#include "savepoint.h"

#include "mzlog.h"
#include "storequery.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {
// PostgreSQL's "no transaction is in progress": a savepoint outside a transaction.
const char noTransaction[] = "25P01";

Savepoint::Recovery& recovery() {
    static Savepoint::Recovery recover;
    return recover;
}

Savepoint::WriteGuard& writeGuard() {
    static Savepoint::WriteGuard guard;
    return guard;
}
} // namespace

void Savepoint::setRecovery(const Recovery& recover) {
    recovery() = recover;
}

void Savepoint::setWriteGuard(const WriteGuard& guard) {
    writeGuard() = guard;
}

int Savepoint::_openOnMain = 0;

Savepoint::Savepoint(const QString& name)
    : _name(name), _connectionName(QLatin1String(QSqlDatabase::defaultConnection)), _main(true) {
    begin(true);
}

Savepoint::Savepoint(const QString& name, const QSqlDatabase& db)
    : _name(name), _connectionName(db.connectionName()),
      _main(_connectionName == QLatin1String(QSqlDatabase::defaultConnection)) {
    begin(true);
}

Savepoint::Savepoint(const QString& name, Nested)
    : _name(name), _connectionName(QLatin1String(QSqlDatabase::defaultConnection)), _main(true), _nested(true) {
    begin(false);
}

Savepoint::~Savepoint() {
    if (_open)
        rollback();
}

QSqlDatabase Savepoint::connection() const {
    return QSqlDatabase::database(_connectionName, false);
}

// A statement of the savepoint's own; its failure's reason replaces whatever `error` held.
bool Savepoint::exec(const QString& statement, QString* error) {
    if (error)
        error->clear();
    QSqlDatabase db = connection();
    return StoreQuery::run(db, statement, error);
}

bool Savepoint::notOpen(QString* error) const {
    StoreQuery::keep(error, _reason.isEmpty() ? StoreQuery::notOpenText() : _reason);
    return false;
}

bool Savepoint::commitRefused(QSqlDatabase& db, QString* error) {
    MZ_LOG() << db.lastError().text();
    _reason = StoreQuery::reasonOf(db.lastError());
    StoreQuery::keep(error, _reason);
    return false;
}

void Savepoint::begin(bool mayRecover) {
    QSqlDatabase db = connection();
    const bool outermost = !_nested && !(_main && _openOnMain > 0);
    // A lost server connection is opened again once, and the savepoint taken on the new one.
    const auto recovered = [&](const QSqlError& failure) {
        if (!mayRecover || !_main || !outermost || !recovery() || !recovery()(failure))
            return false;
        _reason.clear();
        begin(false);
        return true;
    };
    if (!db.isOpen()) {
        _reason = StoreQuery::notOpenText();
        recovered(QSqlError());
        return;
    }
    const QString statement = QStringLiteral("SAVEPOINT %1;").arg(_name);
    QSqlQuery query(db);
    if (query.exec(statement)) {
        opened();
        return;
    }
    const QSqlError failure = query.lastError();
    _reason = StoreQuery::reasonOf(failure);
    if (failure.nativeErrorCode() != QLatin1String(noTransaction)) {
        MZ_LOG() << failure.text() << statement;
        recovered(failure);
        return;
    }
    // A server outside a transaction: the expected way to one of our own, not worth a log line.
    if (!outermost || !db.transaction()) {
        MZ_LOG() << failure.text() << statement;
        return;
    }
    _ownTransaction = true;
    if (exec(statement, &_reason)) {
        _reason.clear();
        opened();
        return;
    }
    // Without the savepoint the work could not be undone: it is not begun.
    db.rollback();
    _ownTransaction = false;
}

void Savepoint::opened() {
    _open = true;
    if (_main)
        ++_openOnMain;
}

void Savepoint::closed() {
    _open = false;
    if (_main)
        --_openOnMain;
}

bool Savepoint::release(QString* error) {
    if (!_open)
        return notOpen(error);
    if (!exec(QStringLiteral("RELEASE %1;").arg(_name), &_reason)) {
        StoreQuery::keep(error, _reason);
        rollback();
        return false;
    }
    closed();
    if (!_ownTransaction)
        return true;
    _ownTransaction = false;
    QSqlDatabase db = connection();
    // A refused commit has ended the transaction already.
    return db.commit() || commitRefused(db, error);
}

bool Savepoint::commit(QString* error) {
    if (!_open)
        return notOpen(error);
    QSqlDatabase db = connection();
    if (db.commit()) {
        closed();
        _ownTransaction = false;
        return true;
    }
    commitRefused(db, error);
    rollback();
    return false;
}

void Savepoint::rollback() {
    if (!_open)
        return;
    closed();
    // After a failure SQLite may have given the whole transaction up (a full disk): then there is
    // nothing left to roll back to, and these statements fail harmlessly.
    exec(QStringLiteral("ROLLBACK TO %1;").arg(_name));
    exec(QStringLiteral("RELEASE %1;").arg(_name));
    if (_ownTransaction) {
        connection().rollback();
        _ownTransaction = false;
    }
}

bool Savepoint::run(const QString& name, const std::function<bool()>& work, QString* error) {
    return run(name, QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false), work, error);
}

bool Savepoint::run(const QString& name, const QSqlDatabase& db, const std::function<bool()>& work, QString* error) {
    Savepoint savepoint(name, db);
    return savepoint.complete(work, error);
}

bool Savepoint::nested(const QString& name, const std::function<bool()>& work, QString* error) {
    Savepoint savepoint(name, Nested());
    return savepoint.complete(work, error);
}

bool Savepoint::complete(const std::function<bool()>& work, QString* error) {
    if (!_open) {
        StoreQuery::keep(error, _reason);
        return false;
    }
    if (!work()) {
        rollback();
        return false;
    }
    return release(error);
}

bool Savepoint::write(const QString& name, const std::function<bool()>& work, QString* error) {
    const auto save = [&] { return run(name, work, error); };
    return writeGuard() ? writeGuard()(save, error) : save();
}
