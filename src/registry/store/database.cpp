#include "database.h"

#include "appsettings.h"
#include "documentcount.h"
#include "edittransaction.h"
#include "fileschema.h"
#include "mzlog.h"
#include "productinfo.h"
#include "savepoint.h"
#include "serverconnection.h"
#include "servernotifications.h"
#include "serverprivileges.h"
#include "serverschema.h"
#include "sqldialect.h"
#include "storequery.h"
#include "textmatch.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <algorithm>
#include <sqlite3.h>

Database* Database::_instance = nullptr;
QMap<QString, DBTable> Database::_schema;
QString Database::_schemaKey;
QString Database::_fileOverride;
bool Database::_onServer = false;
ServerAddress Database::_server;
bool Database::_serverFallback = false;
bool Database::_writesAgreed = false;
std::function<bool()> Database::_writeQuestion;
StartupQuestions* Database::_questions = nullptr;

namespace {
const QString driverName = QStringLiteral("QSQLITE");
const QString readOnlyOption = QStringLiteral("QSQLITE_OPEN_READONLY");

using Code = FileSchema::SqliteCode;

int sqliteCode(const QSqlError& error) {
    return FileSchema::sqliteCode(error);
}

// A read-only connection meets a journal it would have to roll back (SQLITE_READONLY_ROLLBACK,
// or the plain read-only code with the journal beside the file).
bool isHotJournal(const QSqlError& error, const QString& path) {
    constexpr int readOnlyRollback = Code::ReadOnly | (3 << 8);
    return error.nativeErrorCode() == QString::number(readOnlyRollback) ||
           (sqliteCode(error) == Code::ReadOnly && QFileInfo(path + QStringLiteral("-journal")).size() > 0);
}

QSqlDatabase connectionNamed(const QString& name) {
    return QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                        : QSqlDatabase::addDatabase(driverName, name);
}

} // namespace

void Database::setSchema(const QMap<QString, DBTable>& tables, const QString& mainPrimaryKeyName) {
    _schema = tables;
    _schemaKey = mainPrimaryKeyName;
}

void Database::setStartupQuestions(StartupQuestions* questions) {
    _questions = questions;
}

// The helpers below the store run the main connection's statements as the store does: failures
// told, a lost server connection opened again, every save guarded.
void Database::installHooks() {
    StoreQuery::setRunner([](QSqlQuery& query) {
        if (hasInstance())
            return instance()->execPrepared(query);
        if (query.exec())
            return true;
        MZ_LOG() << query.lastError().text() << query.lastQuery();
        return false;
    });
    Savepoint::setRecovery([](const QSqlError& failure) { return hasInstance() && instance()->recover(failure); });
    Savepoint::setWriteGuard(&Database::guardedWrite);
}

Database::Database(bool checkStructure) {
    installHooks();
    AppSettings::setup();
    if (!_instance)
        _instance = this;

    if (checkStructure) {
        initTables();
        qDebug() << "Tables inited";
    } else {
        qDebug() << "Database checking disabled";
    }
    if (_onServer) {
        openServer();
        return;
    }

    const QString path = filePath();
    if (!QFileInfo(path).isFile()) {
        qDebug() << "Db file not found. Creating new db.";
        if (!createNewDb())
            return;
    }
    if (checkStructure && !checkWithSafetyCopy())
        return;
    if (!openMainConnection())
        return;
    probeWritable();
    // A file that cannot be written now gets the views for this run only.
    QString views;
    if (runViewsScript(!_startWarning.isEmpty(), &views))
        qDebug() << "Views updated";
    else
        MZ_LOG() << "views not made:" << views;
}

Database::Database(ReadOnlyTag) {
    installHooks();
    initTables();
    _readOnly = true;
    _forReading = true;
    _readOnlyReason = QStringLiteral("Реестр открыт только для чтения.");
}

Database* Database::openForReading(const QString& path, QString* error) {
    if (error)
        error->clear();
    const auto refuse = [error](const QString& text) -> Database* {
        StoreQuery::fail(error, text);
        return nullptr;
    };
    if (_instance)
        return refuse(QStringLiteral("a database is open already"));
    if (!QFileInfo(path).isFile())
        return refuse(QStringLiteral("no database file %1").arg(path));
    useFile(path);
    auto* db = new Database(ReadOnlyTag{});
    _instance = db;
    QString text;
    if (!db->openReadOnly(path, &text)) {
        delete db;
        return refuse(text);
    }
    return db;
}

// The main connection, read-only, with the views for this connection only; false with the
// reason it cannot be used.
bool Database::openReadOnly(const QString& path, QString* error) {
    QSqlDatabase connection = connectionNamed(QLatin1String(QSqlDatabase::defaultConnection));
    connection.setConnectOptions(readOnlyOption);
    connection.setDatabaseName(filePath());
    if (!connection.open())
        return StoreQuery::fail(
            error, QStringLiteral("cannot open %1: %2").arg(path, StoreQuery::reasonOf(connection.lastError())));
    TextMatch::registerFunctions(connection);
    QSqlError failure;
    FileSchema::Gaps gaps;
    FileSchema(_tables).gaps(connection, &gaps, &failure);
    const int code = sqliteCode(failure);
    if (code == Code::Busy || code == Code::Locked)
        return StoreQuery::fail(error,
                                heldByProgramText() + QStringLiteral(" (%1)").arg(StoreQuery::reasonOf(failure)));
    if (failure.type() != QSqlError::NoError)
        return StoreQuery::fail(error, QStringLiteral("cannot read %1: %2").arg(path, StoreQuery::reasonOf(failure)));
    // Declared types do not matter for reading; missing tables and columns do.
    if (!gaps.missingCoreTables().isEmpty() || !gaps.missingColumns.isEmpty())
        return StoreQuery::fail(
            error, QStringLiteral("%1 has to be brought up to date by the program first (it needs the structure "
                                  "check: %2 missing); start the program on it once")
                       .arg(path, (gaps.missingCoreTables() + gaps.missingColumns).join(QStringLiteral(", "))));
    QString views;
    if (!runViewsScript(true, &views))
        return StoreQuery::fail(error, QStringLiteral("cannot make the views of %1: %2").arg(path, views));
    return true;
}

Database::~Database() {
    retireModels();
    qDeleteAll(_retiredModels);
    _retiredModels.clear();
    {
        QSqlDatabase db = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    if (_instance == this)
        _instance = nullptr;
}

Database* Database::instance() {
    if (!_instance)
        new Database(true);
    return _instance;
}

bool Database::hasInstance() {
    return _instance != nullptr;
}

void Database::shutdown() {
    if (!_instance)
        return;
    _instance->commitAndClose();
    AppSettings::release();
    delete _instance;
}

void Database::commitAndClose() {
    QSqlDatabase db = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
    if (!db.isOpen())
        return;
    // The server says so when nothing is open to commit; the file does not mind.
    if (!_onServer || EditTransaction::isOpen())
        db.commit();
    db.close();
    _heldFile.close();
}

void Database::fail(const StartupProblem& problem) {
    _valid = false;
    _startupProblem = problem;
    // The refused replacement was the user's own answer; everything else is news to them.
    if (_questions && problem.kind != StartupProblem::Kind::Unrepairable)
        _questions->tellFatal(problem);
}

QString Database::dataPath() {
    return AppSettings::dataPath();
}

void Database::useServer(const ServerAddress& address) {
    _onServer = true;
    _server = address;
}

void Database::useDataFolderFile() {
    _onServer = false;
    _server = ServerAddress();
}

bool Database::usesServer() {
    return _onServer;
}

ServerAddress Database::serverAddress() {
    return _server;
}

QString Database::serverText() {
    return _server.toUrl();
}

void Database::setServerFallback(bool on) {
    _serverFallback = on;
    _writesAgreed = false;
}

bool Database::isServerFallback() {
    return _serverFallback;
}

void Database::setWriteQuestion(const std::function<bool()>& question) {
    _writeQuestion = question;
    _writesAgreed = false;
}

bool Database::guardedWrite(const std::function<bool()>& write, QString* error) {
    Database* db = hasInstance() ? instance() : nullptr;
    // The windows offer no save then; one that slips through is refused in the same words.
    if (db && db->_readOnly)
        return StoreQuery::fail(error, db->_readOnlyReason);
    if (!mayWrite(error))
        return false;
    const QSignalBlocker quiet(db);
    const int troubles = db ? db->_troubles : 0;
    const bool done = write();
    if (!done && error && db)
        *error = db->failureInWords(*error, troubles);
    return done;
}

bool Database::mayWrite(QString* error) {
    if (!_serverFallback || _writesAgreed || !_writeQuestion)
        return true;
    // A write asked for while the question is open waits for its answer by failing.
    static bool asking = false;
    if (!asking) {
        asking = true;
        _writesAgreed = _writeQuestion();
        asking = false;
    }
    if (_writesAgreed)
        return true;
    MZ_LOG() << "a write into the fallback file was declined";
    return StoreQuery::fail(error, QStringLiteral("Изменения не записаны: программа работает с файлом реестра на этом "
                                                  "компьютере, потому что сервер реестра был недоступен при запуске. "
                                                  "Введённое остаётся в открытых окнах."));
}

// The registry on the server: connected, made in an empty database or brought up to this
// version's structure, and the views and functions made again. Nothing is locked: other programs
// work on it at the same time.
bool Database::openServer() {
    const QString name = QLatin1String(QSqlDatabase::defaultConnection);
    ServerProblem problem = ServerProblem::None;
    QString error;
    if (ServerConnection::open(_server, name, &problem, &error)) {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        bool found = false;
        if (ServerSchema::hasRegistry(db, &found, &error) &&
            (found ? ServerSchema::check(db, &error) : ServerSchema::create(db, &error))) {
            // A save that waits for another program's rows gives up instead of hanging the window.
            StoreQuery::run(db, QStringLiteral("SET lock_timeout = '5s'"));
            MZ_LOG() << "registry on the server" << serverText() << (found ? "opened" : "made");
            checkPrivileges(db);
            listenToOthers(db);
            return true;
        }
        problem = ServerConnection::problemOf(FileSchema::lastFailure()) == ServerProblem::NoRights
                      ? ServerProblem::NoRights
                      : ServerProblem::Other;
        db.close();
    }
    MZ_LOG() << "server registry not opened:" << serverText() << error;
    _serverProblem = problem;
    StartupProblem failure;
    failure.kind = StartupProblem::Kind::CannotOpen;
    failure.error = error;
    failure.text = QStringLiteral("Не удалось открыть реестр на сервере %1.\n%2\nПрограмма будет закрыта.")
                       .arg(_server.displayText(), error);
    fail(failure);
    return false;
}

// A login whose rights the server does not tell is let write: its saves say what they are refused.
void Database::checkPrivileges(QSqlDatabase& db) {
    ServerPrivileges privileges;
    QString error;
    if (!privileges.read(db, _tables, &error)) {
        MZ_LOG() << "the login's rights are not known:" << error;
        return;
    }
    if (privileges.mayWrite())
        return;
    _readOnly = true;
    _readOnlyReason = ServerPrivileges::readOnlyText(_server.user);
}

// The list follows the other programs; without the notifications it still works, refreshed by hand.
void Database::listenToOthers(QSqlDatabase& db) {
    QSqlQuery query(db);
    const qint64 process =
        query.exec(QStringLiteral("SELECT pg_backend_pid()")) && query.next() ? query.value(0).toLongLong() : 0;
    _notifications = new ServerNotifications(this);
    connect(_notifications, &ServerNotifications::changedElsewhere, this, &Database::changedElsewhere);
    // An idle window hears of a lost server from the listening connection, within seconds.
    connect(_notifications, &ServerNotifications::lost, this,
            [this](const QString& technical) { connectionLost(technical, false); });
    // The listening connection comes back with the server: the main one is brought back then too,
    // before the user's next save finds it dead.
    connect(_notifications, &ServerNotifications::reconnected, this, [this] {
        // A connection known lost is opened again at once; the others are tried, not reopened
        // behind the store's back.
        if (_connectionLost) {
            _lastReconnect = 0;
            reconnect();
            return;
        }
        QSqlQuery probe(QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false));
        if (!probe.exec(QStringLiteral("SELECT 1")))
            recover(probe.lastError());
    });
    QString error;
    if (!_notifications->start(_server, process, &error))
        MZ_LOG() << "the server's notifications are not heard:" << error;
}

Database* Database::openServerForReading(const ServerAddress& address, QString* error) {
    if (error)
        error->clear();
    if (_instance)
        return StoreQuery::fail(error, QStringLiteral("a database is open already")), nullptr;
    auto* db = new Database(ReadOnlyTag{});
    _instance = db;
    _onServer = true;
    _server = address;
    ServerProblem problem = ServerProblem::None;
    QString text;
    const QString name = QLatin1String(QSqlDatabase::defaultConnection);
    bool found = false;
    if (ServerConnection::open(address, name, &problem, &text)) {
        QSqlDatabase connection = QSqlDatabase::database(name, false);
        // Nothing the tool does may write: the server refuses it for this connection.
        if (StoreQuery::run(connection, QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY"),
                            &text) &&
            ServerSchema::hasRegistry(connection, &found, &text) && !found)
            text = QStringLiteral("в базе данных %1 нет реестра").arg(address.toUrl());
    }
    if (found)
        return db;
    delete db;
    return StoreQuery::fail(error, text), nullptr;
}

Database* Database::openSourceForReading(const QString& fileOrAddress, QString* error) {
    if (error)
        error->clear();
    if (!ServerAddress::looksLikeUrl(fileOrAddress)) {
        if (!QFileInfo(fileOrAddress).isFile())
            return StoreQuery::fail(error, QStringLiteral("no database file %1").arg(fileOrAddress)), nullptr;
        return openForReading(QFileInfo(fileOrAddress).absoluteFilePath(), error);
    }
    ServerAddress address;
    if (!ServerAddress::fromUrl(fileOrAddress, &address, error))
        return nullptr;
    return openServerForReading(address, error);
}

void Database::useFile(const QString& path) {
    _onServer = false;
    _fileOverride = QFileInfo(path).absoluteFilePath();
    AppSettings::setDataPathOverride(QFileInfo(_fileOverride).absolutePath());
}

QString Database::filePath() {
    if (!_fileOverride.isEmpty())
        return _fileOverride;
    return QFileInfo(dataPath()).absoluteFilePath() + QLatin1Char('/') + ProductTypeInfo::appName() +
           QStringLiteral(".db");
}

QString Database::backupFilePath() {
    const QString base = QFileInfo(dataPath()).absoluteFilePath() + QLatin1Char('/') + ProductTypeInfo::appName() +
                         QDateTime::currentDateTime().toString(QStringLiteral("_hh-mm_dd-MM-yyyy"));
    // Two starts within a minute must not replace the copy that the first one announced.
    QString path = base + QStringLiteral(".bak");
    for (int n = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n)
        path = base + QStringLiteral("_%1.bak").arg(n);
    return path;
}

QString Database::lockFilePath() {
    return filePath() + QStringLiteral(".lock");
}

bool Database::isUnavailable(const QSqlError& error) {
    return FileSchema::isUnavailable(error);
}

QString Database::heldByProgramText() {
    return QStringLiteral("реестр открыт программой Orvane; закройте её или создайте в ней резервную копию "
                          "(\"Создать резервную копию\") и укажите файл копии в --db");
}

void Database::initTables() {
    _tables = _schema;
    _mainPrimaryKeyName = _schemaKey;
    if (_tables.isEmpty())
        MZ_LOG() << "No table registry set";
}

// --- creation, check and opening -----------------------------------------------------------

bool Database::createDb(QString* error) {
    const QString name = filePath() + QStringLiteral("_create_database");
    bool created = true;
    {
        QSqlDatabase db = connectionNamed(name);
        db.setDatabaseName(filePath());
        if (!db.open()) {
            created = StoreQuery::fail(error, QStringLiteral("Cant opeb db:") + StoreQuery::reasonOf(db.lastError()));
        } else {
            for (const DBTable& table : _tables)
                if (!(created = FileSchema::createTable(db, table, error)))
                    break;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return created;
}

bool Database::createNewDb() {
    QString error;
    if (createDb(&error)) {
        qDebug() << "Database::createDb_Ui"
                 << "ok";
        return true;
    }
    MZ_LOG() << error;
    StartupProblem problem;
    problem.kind = StartupProblem::Kind::CannotCreate;
    problem.error = error;
    problem.text = QStringLiteral("Не удалось создать новую базу данных\n") + error;
    problem.exitCode = 0;
    fail(problem);
    return false;
}

// Reads the tables without writing anything; false when the file could not be read.
bool Database::inspect(QSqlError* failure, bool* needsCheck) {
    const QString path = filePath();
    const QString inspection = path + QStringLiteral("_inspect");
    *failure = QSqlError();
    {
        QSqlDatabase db = connectionNamed(inspection);
        db.setConnectOptions(readOnlyOption);
        db.setDatabaseName(path);
        if (db.open())
            *needsCheck = FileSchema(_tables).needsCheck(db, failure);
        else
            *failure = db.lastError();
        db.close();
    }
    QSqlDatabase::removeDatabase(inspection);
    return failure->type() == QSqlError::NoError;
}

// A journal left by a program that stopped in the middle of a write: a connection that may write
// rolls it back on its first read, and the file is as it was before that write.
bool Database::rollBackHotJournal(QSqlError* failure) {
    const QString path = filePath();
    const QString recovery = path + QStringLiteral("_recover");
    MZ_LOG() << "hot journal beside" << path << StoreQuery::reasonOf(*failure) << failure->nativeErrorCode();
    bool rolledBack = false;
    {
        QSqlDatabase db = connectionNamed(recovery);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery read(db);
            rolledBack = read.exec(QStringLiteral("SELECT COUNT(*) FROM sqlite_master;")) && read.next();
            if (!rolledBack)
                *failure = read.lastError();
        } else {
            *failure = db.lastError();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(recovery);
    if (rolledBack)
        MZ_LOG() << "hot journal rolled back";
    else
        MZ_LOG() << "hot journal not rolled back:" << StoreQuery::reasonOf(*failure);
    return rolledBack;
}

bool Database::checkWithSafetyCopy() {
    const QString path = filePath();
    bool needsCheck = true;
    QSqlError failure;
    if (!inspect(&failure, &needsCheck) && isHotJournal(failure, path) && rollBackHotJournal(&failure))
        inspect(&failure, &needsCheck);
    if (isUnavailable(failure)) {
        refuseUnavailable(failure);
        return false;
    }
    if (!needsCheck) {
        qDebug() << "Database checked";
        return true;
    }

    // Only a check that is going to change the file costs a copy of it.
    const QString backup = backupFilePath();
    bool backedUp = false;
    if (QFileInfo(path).size() > 0) {
        backedUp = QFile::copy(path, backup);
        if (!backedUp)
            MZ_LOG() << "cant make safety copy" << backup;
    }
    return runCheck(backup, backedUp);
}

bool Database::runCheck(const QString& backup, bool backedUp) {
    const QString path = filePath();
    FileSchema::lastFailure() = QSqlError();
    QString error;
    if (FileSchema(_tables).check(path, &error)) {
        QFile::remove(backup);
        qDebug() << "Database checked";
        return true;
    }
    MZ_LOG() << error;
    if (isUnavailable(FileSchema::lastFailure())) {
        // Nothing is replaced; the check's own steps were rolled back or are harmless.
        if (backedUp)
            QFile::remove(backup);
        refuseUnavailable(FileSchema::lastFailure());
        return false;
    }

    StartupProblem problem;
    problem.kind = StartupProblem::Kind::Unrepairable;
    problem.error = error;
    problem.backupPath = backup;
    problem.text = QStringLiteral("Неверный формат базы данных. Исправить не удалось.\nОшибка: ") + error +
                   QStringLiteral(".\nБэкап сохранён:\n") + backup +
                   QStringLiteral("\nБудет создана пустая база данных верного формата взамен текущей");
    problem.exitCode = -1;
    if (!_questions || !_questions->replaceUnrepairable(problem)) {
        fail(problem);
        return false;
    }
    // Without a safety copy the old file itself becomes the backup, so nothing is lost.
    const bool removed = backedUp || !QFileInfo(path).size() ? QFile::remove(path) : QFile::rename(path, backup);
    qDebug() << "remove" << removed;
    if (!createNewDb())
        return false;
    qDebug() << "Database checked";
    return true;
}

// A file that cannot be used now is not a damaged one: it is left as it is and the program ends.
void Database::refuseUnavailable(const QSqlError& failure) {
    MZ_LOG() << "database not available" << filePath() << StoreQuery::reasonOf(failure) << failure.nativeErrorCode();
    const int code = sqliteCode(failure);
    QString text;
    if (code == Code::Busy || code == Code::Locked)
        text = QStringLiteral("База данных занята другой программой:\n%1\nЗакройте программу, которая работает с "
                              "этим файлом (например, другую копию Orvane), и запустите Orvane снова.");
    else if (code == Code::Full)
        text = QStringLiteral("На диске нет места для базы данных:\n%1\nОсвободите место на диске и запустите "
                              "Orvane снова.");
    else if (code == Code::ReadOnly || code == Code::Perm || code == Code::CantOpen || code == Code::Auth)
        text = QStringLiteral("Нет права на запись в базу данных:\n%1\nСтруктуру базы данных нужно обновить, "
                              "но файл или его папка доступны только для чтения.");
    else
        text = QStringLiteral("Не удалось прочитать или записать базу данных:\n%1");
    text = text.arg(QDir::toNativeSeparators(filePath()));
    text += QStringLiteral("\nОшибка: %1\nФайл базы данных не изменён. Программа будет закрыта.")
                .arg(StoreQuery::reasonOf(failure));
    StartupProblem problem;
    problem.kind = StartupProblem::Kind::Unavailable;
    problem.error = StoreQuery::reasonOf(failure);
    problem.text = text;
    problem.exitCode = 1;
    fail(problem);
}

bool Database::openMainConnection() {
    // A new connection counts its changes from nought again.
    _usedValues.clear();
    QSqlDatabase db = connectionNamed(QLatin1String(QSqlDatabase::defaultConnection));
    db.setDatabaseName(filePath());
    if (!db.open()) {
        MZ_LOG() << StoreQuery::reasonOf(db.lastError());
        StartupProblem problem;
        problem.kind = StartupProblem::Kind::CannotOpen;
        problem.error = StoreQuery::reasonOf(db.lastError());
        problem.text = QStringLiteral("Не удалось открыть базу данных\nОшибка: ") + problem.error +
                       QStringLiteral("\nПрограмма будет закрыта.");
        problem.exitCode = 0;
        fail(problem);
        return false;
    }
    execSql(QStringLiteral("PRAGMA locking_mode = EXCLUSIVE"));
    holdFile();
    TextMatch::registerFunctions(db);
    return true;
}

// POSIX locks belong to the process: when any descriptor of the file is closed, every lock the
// process holds on it goes, SQLite's exclusive lock included, without SQLite knowing. So the file
// is opened once more, here, and read only through this descriptor until the connection closes.
void Database::holdFile() {
    _heldFile.close();
    _heldFile.setFileName(filePath());
    if (!_heldFile.open(QIODevice::ReadOnly))
        MZ_LOG() << "cant hold the database file" << filePath() << _heldFile.errorString();
}

bool Database::copyHeldFile(const QString& destination, QString* reason) {
    if (!_heldFile.isOpen() || !_heldFile.seek(0)) {
        *reason = _heldFile.errorString();
        return false;
    }
    // The destination is replaced only by a complete copy.
    QSaveFile copy(destination);
    if (!copy.open(QIODevice::WriteOnly)) {
        *reason = copy.errorString();
        return false;
    }
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 read = _heldFile.read(buffer.data(), buffer.size());
        if (read < 0) {
            *reason = _heldFile.errorString();
            return false;
        }
        if (read == 0)
            break;
        if (copy.write(buffer.constData(), read) != read) {
            *reason = copy.errorString();
            return false;
        }
    }
    if (copy.commit())
        return true;
    *reason = copy.errorString();
    return false;
}

// A write that is rolled back at once: SQLite opens a file it may not write read-only, and a
// folder without write access shows only when the journal is made. In exclusive locking mode
// this also takes the write lock for the rest of the run.
void Database::probeWritable() {
    QSqlDatabase db = QSqlDatabase::database();
    QSqlQuery query(db);
    QSqlError failure;
    if (!query.exec(QStringLiteral("BEGIN IMMEDIATE;"))) {
        failure = query.lastError();
    } else {
        if (!query.exec(QStringLiteral("CREATE TABLE orvane_write_probe (x);")))
            failure = query.lastError();
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK;"));
    }
    if (failure.type() == QSqlError::NoError)
        return;
    MZ_LOG() << "write probe:" << StoreQuery::reasonOf(failure) << failure.nativeErrorCode();
    const QString file = QDir::toNativeSeparators(filePath());
    // A full disk is no missing permission: the file is writable again once there is room.
    if (sqliteCode(failure) == Code::Full) {
        _startWarning = QStringLiteral("На диске нет места для базы данных:\n%1\nДокументы можно просматривать "
                                       "и печатать, но изменения не будут сохранены, пока на диске не освободится "
                                       "место.")
                            .arg(file);
        return;
    }
    _readOnly = true;
    _readOnlyReason = QStringLiteral("Реестр открыт только для чтения: нет права на запись в файл реестра %1 или "
                                     "его папку. Документы можно просматривать, печатать и выгружать в Excel.")
                          .arg(file);
    MZ_LOG() << "database is read-only" << filePath();
    _startWarning = QStringLiteral("База данных открыта только для чтения:\n%1\nНет права на запись в файл или его "
                                   "папку. Документы можно просматривать и печатать, но изменения не будут "
                                   "сохранены.")
                        .arg(file);
}

bool Database::runViewsScript(bool temporary, QString* error) {
    QSqlDatabase db = QSqlDatabase::database();
    if (!FileSchema::runViewsScript(db, temporary, error))
        return false;
    // Without the kept number the list counts its documents at every start, as it did before.
    QString notKept;
    if (!temporary && !DocumentCount::keep(db, &notKept) && !notKept.isEmpty())
        MZ_LOG() << "the number of documents is not kept:" << notKept;
    return true;
}

void Database::runPatchScript() {
    QSqlDatabase db = QSqlDatabase::database();
    FileSchema::runPatchScript(db);
}

// --- statements, variables, models ---------------------------------------------------------

QSqlQuery Database::execSql(const QString& sql) {
    QSqlQuery query(QSqlDatabase::database());
    if (!query.exec(sql))
        reportFailure(query.lastError(), sql);
    return query;
}

bool Database::execPrepared(QSqlQuery& query) {
    if (query.exec())
        return true;
    reportFailure(query.lastError(), query.lastQuery());
    return false;
}

// A failure's caller returns it, with SQLite's reason; what no caller can return is told here: a
// lost server (recover) and, once, a file that became unusable.
void Database::reportFailure(const QSqlError& error, const QString& statement) {
    MZ_LOG() << StoreQuery::reasonOf(error) << statement;
    if (_onServer) {
        recover(error);
        return;
    }
    const int code = sqliteCode(error);
    const bool unusable =
        code == Code::IoErr || code == Code::CantOpen || code == Code::Corrupt || code == Code::NotADb;
    if (!unusable || _unusableSaid || signalsBlocked())
        return;
    _unusableSaid = true;
    emit writeFailed(QStringLiteral("Не удалось обратиться к базе данных:\n%1\nОшибка: %2")
                         .arg(QDir::toNativeSeparators(filePath()), StoreQuery::reasonOf(error)));
}

QString Database::variable(const QString& name, QString* error) {
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(_onServer ? QStringLiteral("SELECT value FROM Variables WHERE lower(name) = lower(?);")
                            : QStringLiteral("SELECT value FROM Variables WHERE name LIKE ?;"));
    query.addBindValue(name);
    if (!execPrepared(query)) {
        if (error)
            *error = StoreQuery::reasonOf(query.lastError());
        return QString();
    }
    if (!query.next()) {
        if (error && query.lastError().type() != QSqlError::NoError)
            *error = StoreQuery::reasonOf(query.lastError());
        return QString();
    }
    return query.value(0).toString();
}

bool Database::setVariable(const QString& name, const QString& value, QString* error) {
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(_onServer ? QStringLiteral("INSERT INTO Variables (name, value) VALUES(?, ?) "
                                             "ON CONFLICT (name) DO UPDATE SET value = excluded.value;")
                            : QStringLiteral("INSERT OR REPLACE INTO Variables VALUES(?, ?);"));
    query.addBindValue(name);
    query.addBindValue(value);
    return execPrepared(query) || StoreQuery::fail(error, StoreQuery::reasonOf(query.lastError()));
}

QSqlTableModel* Database::tableModel(const QString& table) {
    QSqlTableModel*& model = _models[table];
    if (!model) {
        model = new QSqlTableModel(nullptr, QSqlDatabase::database());
        // The model quotes the name it is given; the server keeps the registry's names in lower case.
        model->setTable(_onServer ? table.toLower() : table);
    }
    return model;
}

void Database::retireModels() {
    // Views may still hold the old models; they stay alive, unused, until the end.
    _retiredModels << _models.values();
    _models.clear();
}

QString Database::mainTableName() const {
    for (const DBTable& table : _tables)
        if (table.isMainTable)
            return table.name;
    return QString();
}

QStringList Database::additionalTableNames() const {
    QStringList names;
    for (const DBTable& table : _tables)
        if (table.isAdditionalTable)
            names << table.name;
    return names;
}

QString Database::columns(const QString& table, bool all) const {
    const auto it = _tables.constFind(table);
    if (it == _tables.constEnd()) {
        MZ_LOG() << "No such table" << table;
        return QString();
    }
    QStringList names;
    for (const DBColumn& column : it->columns)
        if (all || column.copyable)
            names << column.name;
    return names.join(QStringLiteral(", "));
}

// Rows changed on the main connection since it opened; -1 when SQLite cannot say.
qint64 Database::totalChanges() const {
    // On a server the changes are counted by what the notifications tell, the program's own included.
    if (_onServer)
        return _notifications ? _notifications->generation() : -1;
    sqlite3* connection = sqliteHandle(QSqlDatabase::database());
    return connection ? sqlite3_total_changes64(connection) : -1;
}

sqlite3* Database::sqliteHandle(const QSqlDatabase& db) {
    return FileSchema::sqliteHandle(db);
}

// --- other programs -----------------------------------------------------------------------

int Database::otherProgramsConnected(QString* error) {
    if (!_onServer)
        return 0;
    QSqlDatabase db = QSqlDatabase::database();
    return ServerConnection::otherPrograms(db, error);
}

// --- a lost server ------------------------------------------------------------------------

bool Database::isConnectionLoss(const QSqlError& error) {
    if (error.type() == QSqlError::ConnectionError)
        return true;
    if (ServerConnection::problemOf(error) == ServerProblem::HostNotFound)
        return true;
    // libpq's words for a connection that went away under a statement, which carry no SQLSTATE.
    const QString text = error.text();
    for (const char* words : {"server closed the connection", "no connection to the server", "terminating connection",
                              "could not receive data from server", "could not send data to server"})
        if (text.contains(QLatin1String(words), Qt::CaseInsensitive))
            return true;
    return false;
}

bool Database::recover(const QSqlError& failure) {
    if (!_onServer || _forReading)
        return false;
    // A reconnection that failed leaves the connection closed: the driver's texts then differ.
    const bool closed = !QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false).isOpen();
    if (!closed && !isConnectionLoss(failure))
        return false;
    // A write blocks the signal and tells of the loss itself, in its own box.
    connectionLost(StoreQuery::reasonOf(failure), signalsBlocked());
    return reconnect();
}

QString Database::connectionLostText() {
    return QStringLiteral("Нет связи с сервером реестра");
}

void Database::connectionLost(const QString& technical, bool told) {
    if (!_connectionLost) {
        MZ_LOG() << "the connection to the server is lost:" << technical;
        _connectionLost = true;
        ++_troubles;
        _troubleText = QStringLiteral("%1 %2: изменения не сохранены.\nВведённое остаётся в открытых окнах: "
                                      "сохраните это ещё раз, когда связь восстановится.")
                           .arg(connectionLostText(), _server.displayText());
    }
    if (_lossSaid)
        return;
    _lossSaid = true;
    if (told)
        return;
    // Found while nothing was being saved: what is typed meanwhile is kept until the server is back.
    QString text = QStringLiteral("%1 %2.\nЧто не сохранено, остаётся в открытых окнах: сохраните это ещё раз, "
                                  "когда связь восстановится.")
                       .arg(connectionLostText(), _server.displayText());
    if (!technical.isEmpty())
        text += QStringLiteral("\nОшибка: ") + technical;
    emit writeFailed(text);
}

QString Database::failureInWords(const QString& reason, int troublesBefore) const {
    const bool troubled = _troubles != troublesBefore || (_onServer && _connectionLost);
    if (!troubled || _troubleText.isEmpty() || reason.startsWith(_troubleText))
        return reason;
    return reason.isEmpty() ? _troubleText : _troubleText + QLatin1Char('\n') + reason;
}

// The main connection opened again; an edit transaction that was open is gone with the old one
// (EditTransaction begins another at the next save).
bool Database::reconnect() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - _lastReconnect < 2000)
        return false;
    _lastReconnect = now;
    const QString name = QLatin1String(QSqlDatabase::defaultConnection);
    ServerProblem problem = ServerProblem::None;
    QString error;
    if (!ServerConnection::open(_server, name, &problem, &error)) {
        MZ_LOG() << "the server is not back yet:" << error;
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(name, false);
    StoreQuery::run(db, QStringLiteral("SET lock_timeout = '5s'"));
    QSqlQuery query(db);
    if (_notifications && query.exec(QStringLiteral("SELECT pg_backend_pid()")) && query.next())
        _notifications->setOwnProcess(query.value(0).toLongLong());
    _connectionLost = false;
    _lossSaid = false;
    MZ_LOG() << "the connection to the server is back";
    emit connectionBack();
    // What the others saved meanwhile went unheard.
    emit changedElsewhere();
    return true;
}
