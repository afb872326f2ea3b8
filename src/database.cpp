#include "database.h"

#include "appsettings.h"
#include "messagebox.h"
#include "mzlog.h"
#include "productinfo.h"
#include "textmatch.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <algorithm>
#include <cstdlib>
#include <sqlite3.h>

Database* Database::_instance = nullptr;
QMap<QString, DBTable> Database::_schema;
QString Database::_schemaKey;
QString Database::_fileOverride;
std::function<void(int)> Database::_exit = [](int code) { std::exit(code); };

namespace {
const QString driverName = QStringLiteral("QSQLITE");
const QString attention = QStringLiteral("Внимание!");
const QString readOnlyOption = QStringLiteral("QSQLITE_OPEN_READONLY");

// SQLite's primary result codes (the driver reports them as native error codes).
enum SqliteCode {
    Perm = 3,
    Busy = 5,
    Locked = 6,
    NoMem = 7,
    ReadOnly = 8,
    IoErr = 10,
    Full = 13,
    CantOpen = 14,
    Protocol = 15,
    NoLfs = 22,
    Auth = 23
};

int sqliteCode(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? code & 0xff : 0;
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

// Runs one statement; the error text is empty on success.
QString run(QSqlDatabase& db, const QString& sql) {
    QSqlQuery query(db);
    if (query.exec(sql))
        return QString();
    lastFailure() = query.lastError();
    return errorText(query.lastError());
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

void Database::setExitHandler(std::function<void(int)> handler) {
    _exit = std::move(handler);
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

    const QString path = filePath();
    if (!QFileInfo(path).isFile()) {
        qDebug() << "Db file not found. Creating new db.";
        if (!createDbUi())
            return;
    }
    if (checkStructure && !checkWithSafetyCopy())
        return;
    if (!openMainConnection())
        return;
    _readOnly = !probeWritable();
    if (_readOnly)
        MZ_LOG() << "database is read-only" << path;
    runViewsScript(_readOnly);
    qDebug() << "Views updated";
}

Database::Database(ReadOnlyTag) {
    initTables();
    _readOnly = true;
}

Database* Database::openForReading(const QString& path, QString* error) {
    const auto failWith = [error](const QString& text) -> Database* {
        if (error)
            *error = text;
        MZ_LOG() << text;
        return nullptr;
    };
    if (_instance)
        return failWith(QStringLiteral("a database is open already"));
    if (!QFileInfo(path).isFile())
        return failWith(QStringLiteral("no database file %1").arg(path));
    useFile(path);
    auto* db = new Database(ReadOnlyTag{});
    _instance = db;
    QSqlDatabase connection = connectionNamed(QLatin1String(QSqlDatabase::defaultConnection));
    connection.setConnectOptions(readOnlyOption);
    connection.setDatabaseName(filePath());
    QSqlError failure;
    QString text;
    if (!connection.open()) {
        text = QStringLiteral("cannot open %1: %2").arg(path, errorText(connection.lastError()));
    } else {
        TextMatch::registerFunctions(connection);
        const bool needsCheck = db->structureNeedsCheck(connection, &failure);
        if (failure.type() != QSqlError::NoError)
            text = QStringLiteral("cannot read %1: %2").arg(path, errorText(failure));
        else if (needsCheck)
            text = QStringLiteral("%1 has to be brought up to date by the program first (it needs the structure "
                                  "check); start the program on it once")
                       .arg(path);
    }
    if (!text.isEmpty()) {
        delete db;
        return failWith(text);
    }
    db->runViewsScript(true);
    return db;
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
    db.commit();
    db.close();
    _heldFile.close();
}

void Database::fail(int exitCode) {
    _valid = false;
    _exit(exitCode);
}

QString Database::dataPath() {
    return AppSettings::dataPath();
}

void Database::useFile(const QString& path) {
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

QString Database::createDb() {
    const QString name = filePath() + QStringLiteral("_create_database");
    QString result;
    {
        QSqlDatabase db = connectionNamed(name);
        db.setDatabaseName(filePath());
        if (!db.open()) {
            result = QStringLiteral("Cant opeb db:") + errorText(db.lastError());
        } else {
            for (const DBTable& table : _tables) {
                result = createTable(db, table);
                if (!result.isEmpty())
                    break;
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

bool Database::createDbUi() {
    const QString result = createDb();
    if (result.isEmpty()) {
        qDebug() << "Database::createDb_Ui"
                 << "ok";
        return true;
    }
    MZ_LOG() << result;
    MessageBox::show(nullptr, QMessageBox::NoIcon, attention,
                     QStringLiteral("Не удалось создать новую базу данных\n") + result);
    fail(0);
    return false;
}

bool Database::checkWithSafetyCopy() {
    const QString path = filePath();
    const QString inspection = path + QStringLiteral("_inspect");
    bool needsCheck = true;
    QSqlError failure;
    {
        QSqlDatabase db = connectionNamed(inspection);
        db.setConnectOptions(readOnlyOption);
        db.setDatabaseName(path);
        if (db.open())
            needsCheck = structureNeedsCheck(db, &failure);
        else
            failure = db.lastError();
        db.close();
    }
    QSqlDatabase::removeDatabase(inspection);
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
    const QString error = checkDbStructure(path);
    if (error.isEmpty()) {
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

    const auto answer =
        MessageBox::show(nullptr, QMessageBox::NoIcon, attention,
                         QStringLiteral("Неверный формат базы данных. Исправить не удалось.\nОшибка: ") + error +
                             QStringLiteral(".\nБэкап сохранён:\n") + backup +
                             QStringLiteral("\nБудет создана пустая база данных верного формата взамен текущей"),
                         QMessageBox::Ok | QMessageBox::Cancel);
    if (answer != QMessageBox::Ok) {
        fail(-1);
        return false;
    }
    // Without a safety copy the old file itself becomes the backup, so nothing is lost.
    const bool removed = backedUp || !QFileInfo(path).size() ? QFile::remove(path) : QFile::rename(path, backup);
    qDebug() << "remove" << removed;
    if (!createDbUi())
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
    else if (code == ReadOnly || code == Perm || code == CantOpen || code == Auth)
        text = QStringLiteral("Нет права на запись в базу данных:\n%1\nСтруктуру базы данных нужно обновить, "
                              "но файл или его папка доступны только для чтения.");
    else
        text = QStringLiteral("Не удалось прочитать или записать базу данных:\n%1");
    text = text.arg(QDir::toNativeSeparators(filePath()));
    text +=
        QStringLiteral("\nОшибка: %1\nФайл базы данных не изменён. Программа будет закрыта.").arg(errorText(failure));
    MessageBox::show(nullptr, QMessageBox::NoIcon, attention, text);
    fail(1);
}

bool Database::structureNeedsCheck(QSqlDatabase& db, QSqlError* failure) const {
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT m.name, p.name, p.type FROM sqlite_master AS m "
                                   "JOIN pragma_table_info(m.name) AS p WHERE m.type = 'table';"))) {
        *failure = query.lastError();
        // Unreadable content is for the check to judge; a busy or unreadable file is not.
        return !isUnavailable(*failure);
    }
    // The same comparisons as the check makes: exact names and declared types.
    QMap<QString, QMap<QString, QString>> found;
    while (query.next())
        found[query.value(0).toString()].insert(query.value(1).toString(), query.value(2).toString());
    if (query.lastError().type() != QSqlError::NoError) {
        *failure = query.lastError();
        return !isUnavailable(*failure);
    }
    for (const DBTable& table : _tables) {
        const auto columns = found.constFind(table.name);
        if (columns == found.constEnd())
            return true;
        for (const DBColumn& column : table.columns) {
            const auto type = columns->constFind(column.name);
            if (type == columns->constEnd() || *type != column.type)
                return true;
        }
    }
    return false;
}

bool Database::openMainConnection() {
    QSqlDatabase db = connectionNamed(QLatin1String(QSqlDatabase::defaultConnection));
    db.setDatabaseName(filePath());
    if (!db.open()) {
        MZ_LOG() << errorText(db.lastError());
        MessageBox::show(nullptr, QMessageBox::NoIcon, attention,
                         QStringLiteral("Не удалось открыть базу данных\nОшибка: ") + errorText(db.lastError()) +
                             QStringLiteral("\nПрограмма будет закрыта."));
        fail(0);
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

bool Database::copyHeldFile(const QString& destination) {
    if (!_heldFile.isOpen() || !_heldFile.seek(0))
        return false;
    // The destination is replaced only by a complete copy.
    QSaveFile copy(destination);
    if (!copy.open(QIODevice::WriteOnly))
        return false;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 read = _heldFile.read(buffer.data(), buffer.size());
        if (read < 0)
            return false;
        if (read == 0)
            break;
        if (copy.write(buffer.constData(), read) != read)
            return false;
    }
    return copy.commit();
}

// A write that is rolled back at once: SQLite opens a file it may not write read-only, and a
// folder without write access shows only when the journal is made. In exclusive locking mode
// this also takes the write lock for the rest of the run.
bool Database::probeWritable() {
    QSqlDatabase db = QSqlDatabase::database();
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("BEGIN IMMEDIATE;"))) {
        MZ_LOG() << "write probe:" << errorText(query.lastError());
        return false;
    }
    const bool written = query.exec(QStringLiteral("CREATE TABLE orvane_write_probe (x);"));
    if (!written)
        MZ_LOG() << "write probe:" << errorText(query.lastError());
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK;"));
    return written;
}

QString Database::checkDbStructure(const QString& path) {
    const QString name = path + QStringLiteral("checkdbstatus");
    QString result;
    {
        QSqlDatabase db = connectionNamed(name);
        db.setDatabaseName(path);
        if (!db.open()) {
            lastFailure() = db.lastError();
            result = QStringLiteral("Database::checkDbStructure: ") + errorText(db.lastError());
        } else {
            dropViews(db);
            for (const DBTable& table : _tables) {
                result = checkTable(db, table);
                if (!result.isEmpty())
                    break;
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

QString Database::checkTable(QSqlDatabase& db, const DBTable& table) {
    QSqlQuery query(db);
    bool exists = false;
    if (query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' AND name='%1';").arg(table.name)))
        while (query.next())
            exists = exists || query.value(0).toString() == table.name;
    if (!exists) {
        qDebug() << QStringLiteral("Table '%1' does not exist").arg(table.name);
        const QString error = createTable(db, table);
        if (!error.isEmpty())
            return error;
    }
    for (const DBColumn& column : table.columns) {
        if (columnMatches(db, table.name, column.name, QString()))
            continue;
        qDebug() << QStringLiteral("Column '%1' in table '%2' does not exist").arg(column.name, table.name);
        const QString error = createColumn(db, table, column.name);
        if (!error.isEmpty())
            return error;
    }
    bool rebuild = false;
    for (const DBColumn& column : table.columns) {
        if (columnMatches(db, table.name, column.name, column.type))
            continue;
        qDebug() << QStringLiteral("Column '%1' in table '%2' has wrong type").arg(column.name, table.name);
        rebuild = true;
    }
    return rebuild ? changeColumnType(db, table) : QString();
}

QString Database::createTable(QSqlDatabase& db, const DBTable& table) {
    if (!driverReady(db))
        return QStringLiteral("Database::createTable: driver is not opened") + errorText(db.lastError());
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
    const QString error = run(db, QStringLiteral("CREATE TABLE IF NOT EXISTS '%1' (%2);")
                                      .arg(table.name, definitions.join(QStringLiteral(", "))));
    return error.isEmpty() ? QString() : QStringLiteral("Database::createTable: ") + error;
}

QString Database::createColumn(QSqlDatabase& db, const DBTable& table, const QString& columnName) {
    const DBColumn* column = table.column(columnName);
    if (!column)
        return QStringLiteral("Unable to update database. The '%1' column that is being created is not registered")
            .arg(columnName);
    if (!driverReady(db))
        return QStringLiteral("Database::createColumn: ") + errorText(db.lastError());
    const QString error = run(db, QStringLiteral("ALTER TABLE '%1' ADD COLUMN '%2' %3 %4;")
                                      .arg(table.name, column->name, column->type, column->constraint));
    return error.isEmpty() ? QString() : QStringLiteral("Database::createColumn: ") + error;
}

QString Database::changeColumnType(QSqlDatabase& db, const DBTable& table) {
    if (!driverReady(db))
        return QStringLiteral("Database::changeColumnType: ") + errorText(db.lastError());
    db.transaction();
    const QString t = table.name;
    QString error;
    if (!(error = run(db, QStringLiteral("DROP TABLE IF EXISTS tmp_table_%1;").arg(t))).isEmpty()) {
        error = QStringLiteral("Database::changeColumnType DROP:") + error;
    } else if (!(error = run(db, QStringLiteral("ALTER TABLE %1 RENAME TO tmp_table_%1;").arg(t))).isEmpty()) {
        MZ_LOG() << "rename failed" << error;
        error = QStringLiteral("Database::changeColumnType ALTER:") + error;
    } else if ((error = createTable(db, table)).isEmpty()) {
        const QString list = columns(t, true);
        if (!(error = run(db, QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM tmp_table_%1;").arg(t, list)))
                 .isEmpty())
            error = QStringLiteral("Database::changeColumnType INSERT:") + error;
        else if (!(error = run(db, QStringLiteral("DROP TABLE IF EXISTS tmp_table_%1;").arg(t))).isEmpty())
            error = QStringLiteral("Database::changeColumnType DROP 2:") + error;
    }
    if (error.isEmpty())
        db.commit();
    else
        db.rollback();
    return error;
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

void Database::runViewsScript(bool temporary) {
    QSqlDatabase db = QSqlDatabase::database();
    runScript(db, QStringLiteral(":/views.sql"), "SQL ERROR", temporary);
}

void Database::runViewsScript(QSqlDatabase& db) {
    runScript(db, QStringLiteral(":/views.sql"), "SQL ERROR", false);
}

void Database::runPatchScript() {
    QSqlDatabase db = QSqlDatabase::database();
    runScript(db, QStringLiteral(":/patch.sql"), "patch fail", false);
}

void Database::runScript(QSqlDatabase& db, const QString& resource, const char* failureText, bool temporary) {
    QFile file(resource);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    const QStringList pieces = QString::fromUtf8(file.readAll()).split(QLatin1Char(';'));
    for (const QString& piece : pieces) {
        QString statement = piece.simplified();
        if (temporary)
            statement = temporaryStatement(statement);
        if (statement.isEmpty())
            continue;
        QSqlQuery query(db);
        if (!query.exec(statement))
            MZ_LOG() << failureText << errorText(query.lastError()) << statement;
    }
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

void Database::reportFailure(const QSqlError& error, const QString& statement) {
    MZ_LOG() << errorText(error) << statement;
    if (!_readOnly && !isUnavailable(error))
        return;
    const QString file = QDir::toNativeSeparators(filePath());
    emit writeFailed(
        _readOnly ? QStringLiteral("База данных открыта только для чтения, изменения не сохранены:\n%1").arg(file)
                  : QStringLiteral("Не удалось обратиться к базе данных:\n%1\nОшибка: %2").arg(file, errorText(error)));
}

QString Database::variable(const QString& name, QString* error) {
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(QStringLiteral("SELECT value FROM Variables WHERE name LIKE ?;"));
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

bool Database::setVariable(const QString& name, const QString& value) {
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(QStringLiteral("INSERT OR REPLACE INTO Variables VALUES(?, ?);"));
    query.addBindValue(name);
    query.addBindValue(value);
    return execPrepared(query);
}

QSqlTableModel* Database::tableModel(const QString& table) {
    QSqlTableModel*& model = _models[table];
    if (!model) {
        model = new QSqlTableModel(nullptr, QSqlDatabase::database());
        model->setTable(table);
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
    sqlite3* connection = sqliteHandle(QSqlDatabase::database());
    return connection ? sqlite3_total_changes64(connection) : -1;
}

sqlite3* Database::sqliteHandle(const QSqlDatabase& db) {
    const QVariant handle = db.isOpen() && db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.data());
}

// Each distinct value is counted by SQLite; the counts are kept until a row of the connection
// changes, so that a dialog opened again does not read the whole table again. Values come in the
// index's order and are mostly stored trimmed, so only the others need merging.
const QVector<QPair<QString, int>>& Database::usedValueCounts(const QString& table, const QStringList& columnNames) {
    const QString key = table + QLatin1Char('|') + columnNames.join(QLatin1Char('|'));
    const qint64 changes = totalChanges();
    UsedValues& cached = _usedValues[key];
    if (changes >= 0 && cached.changes == changes)
        return cached.counts;
    QVector<QPair<QString, int>> counts;
    QHash<QString, int> untrimmed;
    for (const QString& column : columnNames) {
        QSqlQuery query(QSqlDatabase::database());
        query.setForwardOnly(true);
        if (!query.exec(QStringLiteral("SELECT %1, COUNT(*) FROM %2 GROUP BY %1").arg(column, table)))
            reportFailure(query.lastError(), query.lastQuery());
        while (query.next()) {
            const QString value = query.value(0).toString();
            const QString trimmed = value.trimmed();
            if (trimmed.isEmpty())
                continue;
            if (trimmed.size() == value.size() && columnNames.size() == 1)
                counts.append(qMakePair(value, query.value(1).toInt()));
            else
                untrimmed[trimmed] += query.value(1).toInt();
        }
    }
    if (!untrimmed.isEmpty()) {
        for (const auto& entry : qAsConst(counts))
            untrimmed[entry.first] += entry.second;
        counts.clear();
        for (auto it = untrimmed.constBegin(); it != untrimmed.constEnd(); ++it)
            counts.append(qMakePair(it.key(), it.value()));
    }
    const auto byValue = [](const auto& a, const auto& b) { return a.first < b.first; };
    if (!std::is_sorted(counts.begin(), counts.end(), byValue))
        std::sort(counts.begin(), counts.end(), byValue);
    // A number and its text are separate groups for SQLite but one value here.
    int kept = 0;
    for (int i = 0; i < counts.size(); ++i) {
        if (kept > 0 && counts[kept - 1].first == counts[i].first)
            counts[kept - 1].second += counts[i].second;
        else
            counts[kept++] = counts[i];
    }
    counts.resize(kept);
    cached.counts = std::move(counts);
    cached.changes = changes;
    return cached.counts;
}

QStringList Database::mostFrequentValues(const QString& table, const QStringList& columnNames, int limit,
                                         bool alphabetical) {
    QVector<QPair<QString, int>> entries = usedValueCounts(table, columnNames);
    if (alphabetical)
        std::stable_sort(entries.begin(), entries.end(),
                         [](const auto& a, const auto& b) { return a.first.toLower() < b.first.toLower(); });
    else
        std::stable_sort(entries.begin(), entries.end(),
                         [](const auto& a, const auto& b) { return a.second > b.second; });
    QStringList result;
    result.reserve(limit > 0 ? qMin(limit, entries.size()) : entries.size());
    for (const auto& entry : qAsConst(entries)) {
        if (limit > 0 && result.size() >= limit)
            break;
        result << entry.first;
    }
    return result;
}

// --- backup and restore --------------------------------------------------------------------

bool Database::backup(const QString& destination) {
    QSqlDatabase db = QSqlDatabase::database();
    // The immediate transaction keeps writers out during the copy; it is ours to roll back only
    // when it began (a failing BEGIN means somebody else's transaction is open).
    const bool locked = QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE;"));
    const bool copied = copyHeldFile(destination);
    if (locked)
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK;"));
    qDebug() << "Database::backup" << copied;
    return copied;
}

// Why `file` cannot replace the registry: not an SQLite database, damaged, or without the main
// table. Empty when it can.
QString Database::registryFileError(const QString& file) const {
    const QString name = file + QStringLiteral("_verify");
    QString result;
    {
        QSqlDatabase db = connectionNamed(name);
        db.setConnectOptions(readOnlyOption);
        db.setDatabaseName(file);
        if (!db.open()) {
            result = errorText(db.lastError());
        } else {
            QSqlQuery check(db);
            if (!check.exec(QStringLiteral("PRAGMA quick_check")) || !check.next())
                result = errorText(check.lastError());
            else if (check.value(0).toString() != QLatin1String("ok"))
                result = check.value(0).toString();
            check.finish();
            QSqlQuery table(db);
            table.prepare(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?"));
            table.addBindValue(mainTableName());
            if (result.isEmpty() && (!table.exec() || !table.next()))
                result = table.lastError().type() != QSqlError::NoError
                             ? errorText(table.lastError())
                             : QStringLiteral("нет таблицы %1").arg(mainTableName());
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return result.trimmed();
}

bool Database::restore(const QString& source, QString* error) {
    const auto failWith = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    const QString path = filePath();
    if (!QFileInfo(source).isFile()) {
        MZ_LOG() << "Database::restore(" << source << ") file does not exist!!!";
        return failWith(QStringLiteral("Файл '%1' не найден").arg(source));
    }
    // The source is staged beside the database first, so a failed copy leaves the database as it is.
    const QString staged = restoreStagingPath();
    QFile::remove(staged);
    if (!QFile::copy(source, staged)) {
        MZ_LOG() << "Database::restore(" << source << ") cant copy from source to database file" << path;
        return failWith(QStringLiteral("Не удалось скопировать '%1' в '%2'").arg(source, path));
    }
    QFile::setPermissions(staged, QFile::permissions(staged) | QFile::WriteOwner);
    const QString unusable = registryFileError(staged);
    if (!unusable.isEmpty()) {
        MZ_LOG() << "Database::restore(" << source << ") not a usable registry:" << unusable;
        QFile::remove(staged);
        return failWith(QStringLiteral("Файл '%1' не является базой данных программы или повреждён. Текущая база "
                                       "данных не изменена.\nОшибка: %2")
                            .arg(source, unusable));
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
        return failWith(failure);
    qDebug() << "Database::restore OK!";
    runPatchScript();
    runViewsScript();
    return true;
}
