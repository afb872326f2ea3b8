#include "database.h"

#include "appsettings.h"
#include "edittransaction.h"
#include "mzlog.h"
#include "productinfo.h"
#include "servernotifications.h"
#include "serverschema.h"
#include "sqldialect.h"
#include "storequery.h"
#include "textmatch.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QStorageInfo>
#include <algorithm>
#include <numeric>
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

// SQLite's primary result codes (the driver reports them as native error codes).
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

int sqliteCode(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? code & 0xff : 0;
}

// A read-only connection meets a journal it would have to roll back (SQLITE_READONLY_ROLLBACK,
// or the plain read-only code with the journal beside the file).
bool isHotJournal(const QSqlError& error, const QString& path) {
    constexpr int readOnlyRollback = ReadOnly | (3 << 8);
    return error.nativeErrorCode() == QString::number(readOnlyRollback) ||
           (sqliteCode(error) == ReadOnly && QFileInfo(path + QStringLiteral("-journal")).size() > 0);
}

// The last failure of the check and creation steps: their texts alone cannot tell a locked file
// from a damaged one.
QSqlError& lastFailure() {
    static QSqlError error;
    return error;
}

QString errorText(const QSqlError& error) {
    return error.text().trimmed();
}

bool driverReady(const QSqlDatabase& db) {
    return db.isOpen() && !db.isOpenError();
}

// Puts `text` in `error` when the caller asked for it; false, for returning at once.
bool failWith(QString* error, const QString& text) {
    if (error)
        *error = text;
    return false;
}

// Runs one statement; false with the driver's text in `error`.
bool run(QSqlDatabase& db, const QString& sql, QString* error = nullptr) {
    QSqlQuery query(db);
    if (query.exec(sql))
        return true;
    lastFailure() = query.lastError();
    return failWith(error, errorText(query.lastError()));
}

QSqlDatabase connectionNamed(const QString& name) {
    return QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                        : QSqlDatabase::addDatabase(driverName, name);
}

// True when a registry column already has its registry type in the file.
bool columnMatches(QSqlDatabase& db, const QString& table, const QString& column, const QString& type) {
    QSqlQuery query(db);
    QString sql =
        QStringLiteral("SELECT COUNT(*) AS CNTREC FROM pragma_table_info('%1') WHERE name='%2'").arg(table, column);
    if (!type.isEmpty())
        sql += QStringLiteral(" AND type='%1';").arg(type);
    if (!query.exec(sql))
        lastFailure() = query.lastError();
    return query.isActive() && query.next() && query.value(0).toInt() > 0;
}

// What is wrong with the first hundred bytes of a database file, in Russian; empty when they are a
// database's. The header names the page size and, when it is current, the page count: a file of
// another length is cut or padded.
QString sqliteHeaderProblem(const QString& path, QString* technical) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *technical = file.errorString();
        return QStringLiteral("его не удалось открыть для чтения.");
    }
    const qint64 size = file.size();
    if (size == 0)
        return QStringLiteral("он пуст.");
    const QByteArray header = file.read(100);
    if (header.size() < 100 || !header.startsWith(QByteArray("SQLite format 3\0", 16)))
        return QStringLiteral("это не файл базы данных.");
    const auto number = [&header](int at, int bytes) {
        quint32 value = 0;
        for (int i = 0; i < bytes; ++i)
            value = value << 8 | quint8(header.at(at + i));
        return value;
    };
    const quint32 pageSize = number(16, 2) == 1 ? 65536 : number(16, 2);
    if (pageSize < 512 || pageSize > 65536 || (pageSize & (pageSize - 1)) != 0)
        return QStringLiteral("заголовок базы данных в нём повреждён.");
    const quint32 pages = number(28, 4);
    // The page count counts only when the file was last written by a version that keeps it.
    if (pages > 0 && number(24, 4) == number(92, 4) && qint64(pages) * pageSize != size) {
        *technical =
            QStringLiteral("%1 bytes, the header says %2 pages of %3 bytes").arg(size).arg(pages).arg(pageSize);
        return qint64(pages) * pageSize > size ? QStringLiteral("он обрезан (повреждён).")
                                               : QStringLiteral("его размер больше, чем база данных в нём: файл "
                                                                "повреждён или не является резервной копией.");
    }
    return QString();
}

// Copies `from` to `to`, which must not exist; false with the system's reason.
bool copyFile(const QString& from, const QString& to, QString* reason) {
    QFile source(from);
    if (!source.copy(to)) {
        *reason = source.errorString();
        return false;
    }
    return true;
}

bool isWriteProtected(const QFileInfo& file) {
    return !(file.permissions() & (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther));
}

// Why a file of `size` bytes could not be written to `path`, in words a user can act on; the
// system's own text, when there is one, follows on a line of its own.
QString writeFailureReason(const QString& path, qint64 size, const QString& technical) {
    const QFileInfo target(path);
    const QFileInfo folder(target.absolutePath());
    const QString name = QDir::toNativeSeparators(target.absoluteFilePath());
    const QString where = QDir::toNativeSeparators(folder.absoluteFilePath());
    QString reason;
    if (target.isDir())
        reason = QStringLiteral("%1 — это папка, а не файл.").arg(name);
    else if (!folder.isDir())
        reason = QStringLiteral("Папка %1 не существует.").arg(where);
    else if (target.exists() && (!target.isWritable() || isWriteProtected(target)))
        reason = QStringLiteral("Файл %1 защищён от записи.").arg(name);
    else if (!folder.isWritable())
        reason = QStringLiteral("Нет права на запись в папку %1.").arg(where);
    else if (QStorageInfo(folder.absoluteFilePath()).bytesAvailable() < size)
        reason = QStringLiteral("На диске нет места: нужно %1 КБ.").arg((size + 1023) / 1024);
    else
        reason = QStringLiteral("Ошибка записи в файл %1.").arg(name);
    if (!technical.trimmed().isEmpty())
        reason += QStringLiteral("\nТехнические сведения: ") + technical.simplified();
    return reason;
}

// Views for one connection only: the script's view definitions as temporary views, which shadow
// the file's own; dropping and indexing would write.
QString temporaryStatement(const QString& statement) {
    static const QRegularExpression createView(QStringLiteral("^CREATE\\s+VIEW\\s"),
                                               QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = createView.match(statement);
    if (!match.hasMatch())
        return QString();
    return QStringLiteral("CREATE TEMP VIEW ") + statement.mid(match.capturedLength());
}
} // namespace

void Database::setSchema(const QMap<QString, DBTable>& tables, const QString& mainPrimaryKeyName) {
    _schema = tables;
    _schemaKey = mainPrimaryKeyName;
}

void Database::setStartupQuestions(StartupQuestions* questions) {
    _questions = questions;
}

Database::Database(bool checkStructure) {
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
    initTables();
    _readOnly = true;
}

Database* Database::openForReading(const QString& path, QString* error) {
    const auto refuse = [error](const QString& text) -> Database* {
        failWith(error, text);
        MZ_LOG() << text;
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
        return failWith(error, QStringLiteral("cannot open %1: %2").arg(path, errorText(connection.lastError())));
    TextMatch::registerFunctions(connection);
    QSqlError failure;
    StructureGaps gaps;
    structureGaps(connection, &gaps, &failure);
    const int code = sqliteCode(failure);
    if (code == Busy || code == Locked)
        return failWith(error, heldByProgramText() + QStringLiteral(" (%1)").arg(errorText(failure)));
    if (failure.type() != QSqlError::NoError)
        return failWith(error, QStringLiteral("cannot read %1: %2").arg(path, errorText(failure)));
    // Declared types do not matter for reading; missing tables and columns do.
    if (!gaps.missingTables.isEmpty() || !gaps.missingColumns.isEmpty())
        return failWith(error,
                        QStringLiteral("%1 has to be brought up to date by the program first (it needs the structure "
                                       "check: %2 missing); start the program on it once")
                            .arg(path, (gaps.missingTables + gaps.missingColumns).join(QStringLiteral(", "))));
    QString views;
    if (!runViewsScript(true, &views))
        return failWith(error, QStringLiteral("cannot make the views of %1: %2").arg(path, views));
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
    if (!mayWrite(error))
        return false;
    Database* db = hasInstance() ? instance() : nullptr;
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
    return failWith(error, QStringLiteral("Изменения не записаны: программа работает с файлом реестра на этом "
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
            run(db, QStringLiteral("SET lock_timeout = '5s'"));
            MZ_LOG() << "registry on the server" << serverText() << (found ? "opened" : "made");
            listenToOthers(db);
            return true;
        }
        problem = ServerConnection::problemOf(lastFailure()) == ServerProblem::NoRights ? ServerProblem::NoRights
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
    if (_instance)
        return failWith(error, QStringLiteral("a database is open already")), nullptr;
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
        if (run(connection, QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY"), &text) &&
            ServerSchema::hasRegistry(connection, &found, &text) && !found)
            text = QStringLiteral("в базе данных %1 нет реестра").arg(address.toUrl());
    }
    if (found)
        return db;
    delete db;
    return failWith(error, text), nullptr;
}

Database* Database::openSourceForReading(const QString& fileOrAddress, QString* error) {
    if (!ServerAddress::looksLikeUrl(fileOrAddress)) {
        if (!QFileInfo(fileOrAddress).isFile())
            return failWith(error, QStringLiteral("no database file %1").arg(fileOrAddress)), nullptr;
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
    switch (sqliteCode(error)) {
    case Perm:
    case Busy:
    case Locked:
    case NoMem:
    case ReadOnly:
    case IoErr:
    case Full:
    case CantOpen:
    case Protocol:
    case NoLfs:
    case Auth:
        return true;
    default:
        return false;
    }
}

QString Database::heldByProgramText() {
    return QStringLiteral("реестр открыт программой Orvane; закройте её или создайте в ней резервную копию "
                          "(\"Создать резервную копию\") и укажите файл копии в --db");
}

QString Database::restoreStagingPath() {
    return filePath() + QStringLiteral(".restore");
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
            created = failWith(error, QStringLiteral("Cant opeb db:") + errorText(db.lastError()));
        } else {
            for (const DBTable& table : _tables)
                if (!(created = createTable(db, table, error)))
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
            *needsCheck = structureNeedsCheck(db, failure);
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
    MZ_LOG() << "hot journal beside" << path << errorText(*failure) << failure->nativeErrorCode();
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
        MZ_LOG() << "hot journal not rolled back:" << errorText(*failure);
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
    lastFailure() = QSqlError();
    QString error;
    if (checkDbStructure(path, &error)) {
        QFile::remove(backup);
        qDebug() << "Database checked";
        return true;
    }
    MZ_LOG() << error;
    if (isUnavailable(lastFailure())) {
        // Nothing is replaced; the check's own steps were rolled back or are harmless.
        if (backedUp)
            QFile::remove(backup);
        refuseUnavailable(lastFailure());
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
    MZ_LOG() << "database not available" << filePath() << errorText(failure) << failure.nativeErrorCode();
    const int code = sqliteCode(failure);
    QString text;
    if (code == Busy || code == Locked)
        text = QStringLiteral("База данных занята другой программой:\n%1\nЗакройте программу, которая работает с "
                              "этим файлом (например, другую копию Orvane), и запустите Orvane снова.");
    else if (code == Full)
        text = QStringLiteral("На диске нет места для базы данных:\n%1\nОсвободите место на диске и запустите "
                              "Orvane снова.");
    else if (code == ReadOnly || code == Perm || code == CantOpen || code == Auth)
        text = QStringLiteral("Нет права на запись в базу данных:\n%1\nСтруктуру базы данных нужно обновить, "
                              "но файл или его папка доступны только для чтения.");
    else
        text = QStringLiteral("Не удалось прочитать или записать базу данных:\n%1");
    text = text.arg(QDir::toNativeSeparators(filePath()));
    text +=
        QStringLiteral("\nОшибка: %1\nФайл базы данных не изменён. Программа будет закрыта.").arg(errorText(failure));
    StartupProblem problem;
    problem.kind = StartupProblem::Kind::Unavailable;
    problem.error = errorText(failure);
    problem.text = text;
    problem.exitCode = 1;
    fail(problem);
}

bool Database::structureNeedsCheck(QSqlDatabase& db, QSqlError* failure) const {
    StructureGaps gaps;
    if (!structureGaps(db, &gaps, failure))
        // Unreadable content is for the check to judge; a busy or unreadable file is not.
        return !isUnavailable(*failure);
    return gaps.any();
}

bool Database::structureGaps(QSqlDatabase& db, StructureGaps* gaps, QSqlError* failure) const {
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT m.name, p.name, p.type FROM sqlite_master AS m "
                                   "JOIN pragma_table_info(m.name) AS p WHERE m.type = 'table';"))) {
        *failure = query.lastError();
        return false;
    }
    // The same comparisons as the check makes: exact names and declared types.
    QMap<QString, QMap<QString, QString>> found;
    while (query.next())
        found[query.value(0).toString()].insert(query.value(1).toString(), query.value(2).toString());
    if (query.lastError().type() != QSqlError::NoError) {
        *failure = query.lastError();
        return false;
    }
    for (const DBTable& table : _tables) {
        const auto columns = found.constFind(table.name);
        if (columns == found.constEnd()) {
            gaps->missingTables << table.name;
            continue;
        }
        for (const DBColumn& column : table.columns) {
            const QString name = table.name + QLatin1Char('.') + column.name;
            const auto type = columns->constFind(column.name);
            if (type == columns->constEnd()) {
                gaps->missingColumns << name;
                if (column.constraint.contains(QLatin1String("NOT NULL"), Qt::CaseInsensitive))
                    gaps->unaddableColumns << name;
            } else if (*type != column.type) {
                gaps->mistypedColumns << name;
            }
        }
    }
    return true;
}

bool Database::openMainConnection() {
    // A new connection counts its changes from nought again.
    _usedValues.clear();
    QSqlDatabase db = connectionNamed(QLatin1String(QSqlDatabase::defaultConnection));
    db.setDatabaseName(filePath());
    if (!db.open()) {
        MZ_LOG() << errorText(db.lastError());
        StartupProblem problem;
        problem.kind = StartupProblem::Kind::CannotOpen;
        problem.error = errorText(db.lastError());
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
    MZ_LOG() << "write probe:" << errorText(failure) << failure.nativeErrorCode();
    const QString file = QDir::toNativeSeparators(filePath());
    // A full disk is no missing permission: the file is writable again once there is room.
    if (sqliteCode(failure) == Full) {
        _startWarning = QStringLiteral("На диске нет места для базы данных:\n%1\nДокументы можно просматривать "
                                       "и печатать, но изменения не будут сохранены, пока на диске не освободится "
                                       "место.")
                            .arg(file);
        return;
    }
    _readOnly = true;
    MZ_LOG() << "database is read-only" << filePath();
    _startWarning = QStringLiteral("База данных открыта только для чтения:\n%1\nНет права на запись в файл или его "
                                   "папку. Документы можно просматривать и печатать, но изменения не будут "
                                   "сохранены.")
                        .arg(file);
}

bool Database::checkDbStructure(const QString& path, QString* error) {
    const QString name = path + QStringLiteral("checkdbstatus");
    bool checked = true;
    {
        QSqlDatabase db = connectionNamed(name);
        db.setDatabaseName(path);
        if (!db.open()) {
            lastFailure() = db.lastError();
            checked = failWith(error, QStringLiteral("Database::checkDbStructure: ") + errorText(db.lastError()));
        } else {
            dropViews(db);
            for (const DBTable& table : _tables)
                if (!(checked = checkTable(db, table, error)))
                    break;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return checked;
}

bool Database::checkTable(QSqlDatabase& db, const DBTable& table, QString* error) {
    QSqlQuery query(db);
    bool exists = false;
    if (query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' AND name='%1';").arg(table.name)))
        while (query.next())
            exists = exists || query.value(0).toString() == table.name;
    if (!exists) {
        qDebug() << QStringLiteral("Table '%1' does not exist").arg(table.name);
        if (!createTable(db, table, error))
            return false;
    }
    for (const DBColumn& column : table.columns) {
        if (columnMatches(db, table.name, column.name, QString()))
            continue;
        qDebug() << QStringLiteral("Column '%1' in table '%2' does not exist").arg(column.name, table.name);
        if (!createColumn(db, table, column.name, error))
            return false;
    }
    bool rebuild = false;
    for (const DBColumn& column : table.columns) {
        if (columnMatches(db, table.name, column.name, column.type))
            continue;
        qDebug() << QStringLiteral("Column '%1' in table '%2' has wrong type").arg(column.name, table.name);
        rebuild = true;
    }
    return !rebuild || changeColumnType(db, table, error);
}

bool Database::createTable(QSqlDatabase& db, const DBTable& table, QString* error) {
    if (!driverReady(db))
        return failWith(error,
                        QStringLiteral("Database::createTable: driver is not opened") + errorText(db.lastError()));
    QStringList definitions;
    for (const DBColumn& column : table.columns) {
        if (column.name == table.sequence_col) {
            const QString autoIncrement =
                column.type.toLower().contains(QLatin1String("int")) ? QStringLiteral("AUTOINCREMENT") : QString();
            definitions << QStringLiteral("'%1' %2 PRIMARY KEY %4 UNIQUE %3")
                               .arg(column.name, column.type, column.constraint, autoIncrement)
                               .trimmed();
        } else {
            definitions << QStringLiteral("'%1' %2 %3").arg(column.name, column.type, column.constraint);
        }
    }
    definitions << table.extraDefinitions;
    QString failure;
    if (run(db,
            QStringLiteral("CREATE TABLE IF NOT EXISTS '%1' (%2);")
                .arg(table.name, definitions.join(QStringLiteral(", "))),
            &failure))
        return true;
    return failWith(error, QStringLiteral("Database::createTable: ") + failure);
}

bool Database::createColumn(QSqlDatabase& db, const DBTable& table, const QString& columnName, QString* error) {
    const DBColumn* column = table.column(columnName);
    if (!column)
        return failWith(
            error, QStringLiteral("Unable to update database. The '%1' column that is being created is not registered")
                       .arg(columnName));
    if (!driverReady(db))
        return failWith(error, QStringLiteral("Database::createColumn: ") + errorText(db.lastError()));
    QString failure;
    if (run(db,
            QStringLiteral("ALTER TABLE '%1' ADD COLUMN '%2' %3 %4;")
                .arg(table.name, column->name, column->type, column->constraint),
            &failure))
        return true;
    return failWith(error, QStringLiteral("Database::createColumn: ") + failure);
}

bool Database::changeColumnType(QSqlDatabase& db, const DBTable& table, QString* error) {
    if (!driverReady(db))
        return failWith(error, QStringLiteral("Database::changeColumnType: ") + errorText(db.lastError()));
    db.transaction();
    const QString t = table.name;
    QString failure;
    if (!run(db, QStringLiteral("DROP TABLE IF EXISTS tmp_table_%1;").arg(t), &failure)) {
        failure = QStringLiteral("Database::changeColumnType DROP:") + failure;
    } else if (!run(db, QStringLiteral("ALTER TABLE %1 RENAME TO tmp_table_%1;").arg(t), &failure)) {
        MZ_LOG() << "rename failed" << failure;
        failure = QStringLiteral("Database::changeColumnType ALTER:") + failure;
    } else if (createTable(db, table, &failure)) {
        const QString list = columns(t, true);
        if (!run(db, QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM tmp_table_%1;").arg(t, list), &failure))
            failure = QStringLiteral("Database::changeColumnType INSERT:") + failure;
        else if (!run(db, QStringLiteral("DROP TABLE IF EXISTS tmp_table_%1;").arg(t), &failure))
            failure = QStringLiteral("Database::changeColumnType DROP 2:") + failure;
    }
    if (failure.isEmpty()) {
        db.commit();
        return true;
    }
    db.rollback();
    return failWith(error, failure);
}

void Database::dropViews(QSqlDatabase& db) {
    if (!db.isOpen()) {
        MZ_LOG() << "Database::dropViews: driver is not opened" << errorText(db.lastError());
        return;
    }
    QSqlQuery query(db);
    QStringList views;
    if (query.exec(QStringLiteral("SELECT name FROM main.sqlite_master WHERE type = 'view';")))
        while (query.next())
            views << query.value(0).toString();
    for (const QString& view : views)
        run(db, QStringLiteral("DROP VIEW IF EXISTS %1;").arg(view));
}

bool Database::runViewsScript(bool temporary, QString* error) {
    QSqlDatabase db = QSqlDatabase::database();
    return runScript(db, QStringLiteral(":/views.sql"), "SQL ERROR", temporary, false, error);
}

bool Database::runViewsScript(QSqlDatabase& db, QString* error) {
    return runScript(db, QStringLiteral(":/views.sql"), "SQL ERROR", false, false, error);
}

void Database::runPatchScript() {
    QSqlDatabase db = QSqlDatabase::database();
    runScript(db, QStringLiteral(":/patch.sql"), "patch fail", false, true, nullptr);
}

// Every statement runs, also after a failing one; `error` names the first failure. A missing
// script is a failure unless it is `optional` (the program ships no patch script).
bool Database::runScript(QSqlDatabase& db, const QString& resource, const char* failureText, bool temporary,
                         bool optional, QString* error) {
    QFile file(resource);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (optional)
            return true;
        // The resources live in a library: an executable that never registered them has none.
        MZ_LOG() << failureText << "no script" << resource << file.errorString();
        return failWith(error, QStringLiteral("the script %1 is not built into this program").arg(resource));
    }
    QString first;
    const QStringList pieces = QString::fromUtf8(file.readAll()).split(QLatin1Char(';'));
    for (const QString& piece : pieces) {
        QString statement = piece.simplified();
        if (temporary)
            statement = temporaryStatement(statement);
        if (statement.isEmpty())
            continue;
        QSqlQuery query(db);
        if (!query.exec(statement)) {
            MZ_LOG() << failureText << errorText(query.lastError()) << statement;
            if (first.isEmpty())
                first = errorText(query.lastError()) + QStringLiteral(": ") + statement;
        }
    }
    return first.isEmpty() || failWith(error, first);
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
    MZ_LOG() << errorText(error) << statement;
    if (_onServer) {
        recover(error);
        return;
    }
    const int code = sqliteCode(error);
    const bool unusable = code == IoErr || code == CantOpen || code == Corrupt || code == NotADb;
    if (!unusable || _unusableSaid || signalsBlocked())
        return;
    _unusableSaid = true;
    emit writeFailed(QStringLiteral("Не удалось обратиться к базе данных:\n%1\nОшибка: %2")
                         .arg(QDir::toNativeSeparators(filePath()), errorText(error)));
}

QString Database::variable(const QString& name, QString* error) {
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(_onServer ? QStringLiteral("SELECT value FROM Variables WHERE lower(name) = lower(?);")
                            : QStringLiteral("SELECT value FROM Variables WHERE name LIKE ?;"));
    query.addBindValue(name);
    if (!execPrepared(query)) {
        if (error)
            *error = errorText(query.lastError());
        return QString();
    }
    if (!query.next()) {
        if (error && query.lastError().type() != QSqlError::NoError)
            *error = errorText(query.lastError());
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
    return execPrepared(query) || failWith(error, StoreQuery::reasonOf(query.lastError()));
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
    const QVariant handle = db.isOpen() && db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.data());
}

// The counts are kept until the registry changes, so that a dialog opened again does not read the
// whole table again.
const QVector<QPair<QString, int>>& Database::usedValueCounts(const QString& table, const QStringList& columnNames) {
    QSqlDatabase db = QSqlDatabase::database();
    QSqlError failure;
    const UsedValues::Counts& counts = _usedValues.counts(db, table, columnNames, totalChanges(), &failure);
    if (failure.type() != QSqlError::NoError)
        reportFailure(failure, QStringLiteral("used values of %1 %2").arg(table, columnNames.join(QLatin1Char(','))));
    return counts;
}

// Counts no longer current are read again in the background, as they are wanted.
bool Database::usedValuesComing(const QString& table, const QStringList& columnNames) {
    if (!_onServer)
        return false;
    _usedValues.readAhead(_server, totalChanges(), table);
    return _usedValues.coming(table, columnNames, totalChanges());
}

// On a server the counts are read on a connection of their own, now and whenever they are wanted
// again after a change; the file's main connection holds the file alone, and its counts take a
// moment only. The sets are read together, in one thread.
void Database::readUsedValuesAhead(const QString& table, const QList<QStringList>& columnSets) {
    if (!_onServer)
        return;
    for (const QStringList& columnNames : columnSets)
        _usedValues.want(table, columnNames);
    _usedValues.readAhead(_server, totalChanges(), table);
}

QStringList Database::mostFrequentValues(const QString& table, const QStringList& columnNames, int limit,
                                         bool alphabetical) {
    const QVector<QPair<QString, int>> entries = usedValueCounts(table, columnNames);
    std::vector<int> order(size_t(entries.size()));
    std::iota(order.begin(), order.end(), 0);
    if (alphabetical) {
        // Each value lowered once, not once per comparison: a registry's certificate numbers are
        // a million values.
        QVector<QString> lowered;
        lowered.reserve(entries.size());
        for (const auto& entry : entries)
            lowered << entry.first.toLower();
        std::stable_sort(order.begin(), order.end(), [&lowered](int a, int b) { return lowered[a] < lowered[b]; });
    } else {
        std::stable_sort(order.begin(), order.end(),
                         [&entries](int a, int b) { return entries[a].second > entries[b].second; });
    }
    QStringList result;
    result.reserve(limit > 0 ? qMin(limit, entries.size()) : entries.size());
    for (int at : order) {
        if (limit > 0 && result.size() >= limit)
            break;
        result << entries[at].first;
    }
    return result;
}

// --- backup and restore --------------------------------------------------------------------

int Database::otherProgramsConnected(QString* error) {
    if (!_onServer)
        return 0;
    QSqlDatabase db = QSqlDatabase::database();
    return ServerConnection::otherPrograms(db, error);
}

bool Database::backup(const QString& destination, QString* error) {
    // A file marked read-only is not replaced, also where the user (root) could.
    const QFileInfo target(destination);
    if (_onServer) {
        if (target.exists() && (!target.isWritable() || isWriteProtected(target)))
            return failWith(error, writeFailureReason(destination, 0, QStringLiteral("the file is read-only")));
        return backupServer(destination, error);
    }
    QString technical;
    bool copied = false;
    if (!target.exists() || (target.isWritable() && !isWriteProtected(target))) {
        QSqlDatabase db = QSqlDatabase::database();
        // The immediate transaction keeps writers out during the copy; it is ours to roll back only
        // when it began (a failing BEGIN means somebody else's transaction is open).
        const bool locked = QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE;"));
        copied = copyHeldFile(destination, &technical);
        if (locked)
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK;"));
    }
    qDebug() << "Database::backup" << copied << technical;
    if (!copied && error)
        *error = writeFailureReason(destination, QFileInfo(filePath()).size(), technical);
    return copied;
}

bool Database::isRestoreCandidate(const QString& file, QString* error) const {
    const QFileInfo info(file);
    const QString name = QDir::toNativeSeparators(info.absoluteFilePath());
    const auto refusal = [&name](const QString& reason, const QString& technical = QString()) {
        QString text =
            QStringLiteral("Файл %1 нельзя загрузить: %2\nТекущая база данных не изменена.").arg(name, reason);
        // SQLite's own words, on one line of their own.
        if (!technical.trimmed().isEmpty())
            text += QStringLiteral("\nТехнические сведения: ") + technical.simplified();
        return text;
    };
    if (!info.isFile())
        return failWith(error, QStringLiteral("Файл '%1' не найден").arg(file));
    if (info.canonicalFilePath() == QFileInfo(filePath()).canonicalFilePath())
        return failWith(error, refusal(QStringLiteral("это и есть текущая база данных программы.")));
    QString header;
    const QString headerProblem = sqliteHeaderProblem(file, &header);
    if (!headerProblem.isEmpty())
        return failWith(error, refusal(headerProblem, header));

    const QString connection = file + QStringLiteral("_verify");
    QString reason;
    QString technical;
    {
        QSqlDatabase db = connectionNamed(connection);
        db.setConnectOptions(readOnlyOption);
        db.setDatabaseName(file);
        StructureGaps gaps;
        QSqlError failure;
        if (!db.open()) {
            failure = db.lastError();
        } else {
            QSqlQuery check(db);
            if (!check.exec(QStringLiteral("PRAGMA quick_check")) || !check.next())
                failure = check.lastError();
            else if (check.value(0).toString() != QLatin1String("ok"))
                technical = check.value(0).toString();
            check.finish();
            if (failure.type() == QSqlError::NoError && technical.isEmpty())
                structureGaps(db, &gaps, &failure);
        }
        if (failure.type() != QSqlError::NoError) {
            technical = errorText(failure);
            reason = isUnavailable(failure) ? QStringLiteral("его не удалось прочитать.")
                                            : QStringLiteral("он повреждён или не является базой данных.");
        } else if (!technical.isEmpty()) {
            reason = QStringLiteral("он повреждён.");
        } else if (!gaps.missingTables.isEmpty() || !gaps.unaddableColumns.isEmpty()) {
            // Every version of the program makes all of its tables; the check adds columns and
            // corrects their types, but cannot add a column that may not be empty.
            reason = QStringLiteral("это не реестр документов программы, в нём нет нужных таблиц или столбцов.");
            technical =
                QStringLiteral("missing ") + (gaps.missingTables + gaps.unaddableColumns).join(QStringLiteral(", "));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return reason.isEmpty() || failWith(error, refusal(reason, technical));
}

bool Database::restore(const QString& source, QString* error) {
    if (_onServer)
        return restoreOnServer(source, error);
    const QString path = filePath();
    if (!QFileInfo(source).isFile()) {
        MZ_LOG() << "Database::restore(" << source << ") file does not exist!!!";
        return failWith(error, QStringLiteral("Файл '%1' не найден").arg(source));
    }
    QString unusable;
    if (!isRestoreCandidate(source, &unusable)) {
        MZ_LOG() << "Database::restore(" << source << ") not a usable registry:" << unusable;
        return failWith(error, unusable);
    }
    // The source is staged beside the database and brought into shape there, so a failed copy or
    // check leaves the database as it is.
    const QString staged = restoreStagingPath();
    QFile::remove(staged);
    QString reason;
    if (!copyFile(source, staged, &reason)) {
        MZ_LOG() << "Database::restore(" << source << ") cant copy from source to database file" << path << reason;
        QFile::remove(staged);
        return failWith(error, QStringLiteral("Не удалось скопировать '%1' в '%2'").arg(source, path) +
                                   QLatin1Char('\n') + writeFailureReason(staged, QFileInfo(source).size(), reason));
    }
    QFile::setPermissions(staged, QFile::permissions(staged) | QFile::WriteOwner);
    QString migration;
    if (!checkDbStructure(staged, &migration)) {
        MZ_LOG() << "Database::restore(" << source << ") check failed:" << migration;
        QFile::remove(staged);
        return failWith(error,
                        QStringLiteral("Файл %1 нельзя загрузить: его структуру не удалось привести к нужному виду."
                                       "\nТекущая база данных не изменена.\nТехнические сведения: %2")
                            .arg(QDir::toNativeSeparators(source), migration));
    }

    commitAndClose();
    retireModels();
    const QString previous = path + QStringLiteral(".previous");
    QFile::remove(previous);
    QString failure;
    if (QFileInfo::exists(path) && !QFile::rename(path, previous)) {
        MZ_LOG() << "Database::restore(" << source << ") cant delete database file" << path;
        failure = QStringLiteral("Не удалось удалить файл '%1'").arg(path);
    } else if (!QFile::rename(staged, path)) {
        MZ_LOG() << "Database::restore(" << source << ") cant copy from source to database file" << path;
        failure = QStringLiteral("Не удалось скопировать '%1' в '%2'").arg(source, path);
        if (QFileInfo::exists(previous) && !QFile::rename(previous, path))
            MZ_LOG() << "cant put the database back, it stays in" << previous;
    }
    QFile::remove(staged);
    if (failure.isEmpty())
        QFile::remove(previous);

    QSqlDatabase db = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
    db.setDatabaseName(path);
    if (!db.open())
        MZ_LOG() << "cant reopen database" << errorText(db.lastError());
    execSql(QStringLiteral("PRAGMA locking_mode = EXCLUSIVE"));
    holdFile();
    TextMatch::registerFunctions(db);
    if (!failure.isEmpty())
        return failWith(error, failure);
    qDebug() << "Database::restore OK!";
    runPatchScript();
    QString views;
    if (!runViewsScript(false, &views))
        MZ_LOG() << "views not made:" << views;
    return true;
}

// --- backup and restore of a registry on a server ------------------------------------------

// The copy is read on a connection of its own, in one snapshot, so that an edit transaction open
// on the main connection neither blocks it nor shows in it.
bool Database::backupServer(const QString& destination, QString* error) {
    bool written = false;
    {
        const ServerConnection::Scoped connection(_server, QStringLiteral("orvane_server_backup"));
        QString failure = QStringLiteral("Резервная копия реестра с сервера не создана: ") + connection.error();
        if (connection.isOpen()) {
            QSqlDatabase db = connection.database();
            written = RegistryMove::toFile(db, destination, &failure);
        }
        if (!written)
            failWith(error, failure);
    }
    MZ_LOG() << "server backup to" << destination << written;
    return written;
}

// The file is checked and brought to this version's structure in a staged copy, as for the file
// store; its rows then take the place of the server's in one transaction.
bool Database::restoreOnServer(const QString& source, QString* error) {
    if (!QFileInfo(source).isFile())
        return failWith(error, QStringLiteral("Файл '%1' не найден").arg(source));
    QString unusable;
    if (!isRestoreCandidate(source, &unusable))
        return failWith(error, unusable);
    const QString staged = restoreStagingPath();
    QFile::remove(staged);
    QString reason;
    if (!copyFile(source, staged, &reason)) {
        QFile::remove(staged);
        return failWith(error, writeFailureReason(staged, QFileInfo(source).size(), reason));
    }
    QFile::setPermissions(staged, QFile::permissions(staged) | QFile::WriteOwner);
    QString failure;
    bool restored = checkDbStructure(staged, &failure);
    if (!restored) {
        failure = QStringLiteral("Файл %1 нельзя загрузить: его структуру не удалось привести к нужному виду."
                                 "\nРеестр на сервере не изменён.\nТехнические сведения: %2")
                      .arg(QDir::toNativeSeparators(source), failure);
    } else {
        QSqlDatabase db = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
        // Whatever the main connection holds open is not part of the restore.
        if (EditTransaction::isOpen())
            EditTransaction::rollback();
        retireModels();
        restored = ServerSchema::check(db, &failure) && RegistryMove::replaceOnServer(staged, db, nullptr, &failure);
    }
    QFile::remove(staged);
    MZ_LOG() << "server restore from" << source << restored << failure;
    return restored || failWith(error, failure);
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
    if (!_onServer || _readOnly)
        return false;
    // A reconnection that failed leaves the connection closed: the driver's texts then differ.
    const bool closed = !QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false).isOpen();
    if (!closed && !isConnectionLoss(failure))
        return false;
    // A write blocks the signal and tells of the loss itself, in its own box.
    connectionLost(errorText(failure), signalsBlocked());
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
    run(db, QStringLiteral("SET lock_timeout = '5s'"));
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
