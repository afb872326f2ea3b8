#include "fileschema.h"

#include "mzlog.h"
#include "savepoint.h"
#include "storequery.h"

#include <QDebug>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QVariant>
#include <sqlite3.h>

namespace {
bool driverReady(const QSqlDatabase& db) {
    return db.isOpen() && !db.isOpenError();
}

// Runs one statement; false with the driver's reason in `error`, its error kept as the last failure.
bool run(QSqlDatabase& db, const QString& sql, QString* error = nullptr) {
    return StoreQuery::run(db, sql, error, &FileSchema::lastFailure());
}

// True when a registry column already has its registry type in the file.
bool columnMatches(QSqlDatabase& db, const QString& table, const QString& column, const QString& type) {
    QSqlQuery query(db);
    QString sql =
        QStringLiteral("SELECT COUNT(*) AS CNTREC FROM pragma_table_info('%1') WHERE name='%2'").arg(table, column);
    if (!type.isEmpty())
        sql += QStringLiteral(" AND type='%1';").arg(type);
    if (!query.exec(sql))
        FileSchema::lastFailure() = query.lastError();
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

QString columnList(const DBTable& table) {
    QStringList names;
    for (const DBColumn& column : table.columns)
        names << column.name;
    return names.join(QStringLiteral(", "));
}
} // namespace

QSqlError& FileSchema::lastFailure() {
    static QSqlError error;
    return error;
}

int FileSchema::sqliteCode(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? code & 0xff : 0;
}

bool FileSchema::isUnavailable(const QSqlError& error) {
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

sqlite3* FileSchema::sqliteHandle(const QSqlDatabase& db) {
    const QVariant handle = db.isOpen() && db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.data());
}

bool FileSchema::needsCheck(QSqlDatabase& db, QSqlError* failure) const {
    Gaps found;
    if (!gaps(db, &found, failure))
        // Unreadable content is for the check to judge; a busy or unreadable file is not.
        return !isUnavailable(*failure);
    return found.any();
}

QStringList FileSchema::Gaps::missingCoreTables() const {
    QStringList core = missingTables;
    core.removeAll(QStringLiteral("DocumentHistory"));
    return core;
}

bool FileSchema::gaps(QSqlDatabase& db, Gaps* gaps, QSqlError* failure) const {
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

bool FileSchema::check(const QString& path, QString* error) const {
    const QString name = path + QStringLiteral("checkdbstatus");
    bool checked = true;
    {
        QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                       : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open()) {
            lastFailure() = db.lastError();
            checked = StoreQuery::fail(error, QStringLiteral("Database::checkDbStructure: ") +
                                                  db.lastError().text().trimmed());
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

bool FileSchema::checkTable(QSqlDatabase& db, const DBTable& table, QString* error) const {
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

bool FileSchema::createTable(QSqlDatabase& db, const DBTable& table, QString* error) {
    if (!driverReady(db))
        return StoreQuery::fail(error, QStringLiteral("Database::createTable: driver is not opened") +
                                           db.lastError().text().trimmed());
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
    return StoreQuery::fail(error, QStringLiteral("Database::createTable: ") + failure);
}

bool FileSchema::createColumn(QSqlDatabase& db, const DBTable& table, const QString& columnName, QString* error) {
    const DBColumn* column = table.column(columnName);
    if (!column)
        return StoreQuery::fail(
            error, QStringLiteral("Unable to update database. The '%1' column that is being created is not registered")
                       .arg(columnName));
    if (!driverReady(db))
        return StoreQuery::fail(error, QStringLiteral("Database::createColumn: ") + db.lastError().text().trimmed());
    QString failure;
    if (run(db,
            QStringLiteral("ALTER TABLE '%1' ADD COLUMN '%2' %3 %4;")
                .arg(table.name, column->name, column->type, column->constraint),
            &failure))
        return true;
    return StoreQuery::fail(error, QStringLiteral("Database::createColumn: ") + failure);
}

bool FileSchema::changeColumnType(QSqlDatabase& db, const DBTable& table, QString* error) {
    if (!driverReady(db))
        return StoreQuery::fail(error,
                                QStringLiteral("Database::changeColumnType: ") + db.lastError().text().trimmed());
    Savepoint rebuild(QStringLiteral("orvane_change_column_type"), db);
    const QString t = table.name;
    QString failure;
    if (!rebuild.isOpen()) {
        failure = QStringLiteral("Database::changeColumnType: ") + rebuild.reason();
    } else if (!run(db, QStringLiteral("DROP TABLE IF EXISTS tmp_table_%1;").arg(t), &failure)) {
        failure = QStringLiteral("Database::changeColumnType DROP:") + failure;
    } else if (!run(db, QStringLiteral("ALTER TABLE %1 RENAME TO tmp_table_%1;").arg(t), &failure)) {
        failure = QStringLiteral("Database::changeColumnType ALTER:") + failure;
    } else if (createTable(db, table, &failure)) {
        const QString list = columnList(table);
        if (!run(db, QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM tmp_table_%1;").arg(t, list), &failure))
            failure = QStringLiteral("Database::changeColumnType INSERT:") + failure;
        else if (!run(db, QStringLiteral("DROP TABLE IF EXISTS tmp_table_%1;").arg(t), &failure))
            failure = QStringLiteral("Database::changeColumnType DROP 2:") + failure;
    }
    if (failure.isEmpty() && rebuild.release(&failure))
        return true;
    rebuild.rollback();
    return StoreQuery::fail(error, failure);
}

void FileSchema::dropViews(QSqlDatabase& db) {
    if (!db.isOpen()) {
        MZ_LOG() << "Database::dropViews: driver is not opened" << db.lastError().text().trimmed();
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

bool FileSchema::runViewsScript(QSqlDatabase& db, bool temporary, QString* error) {
    return runScript(db, QStringLiteral(":/views.sql"), "SQL ERROR", temporary, false, error);
}

void FileSchema::runPatchScript(QSqlDatabase& db) {
    runScript(db, QStringLiteral(":/patch.sql"), "patch fail", false, true, nullptr);
}

// Every statement runs, also after a failing one; `error` names the first failure. A missing
// script is a failure unless it is `optional` (the program ships no patch script).
bool FileSchema::runScript(QSqlDatabase& db, const QString& resource, const char* failureText, bool temporary,
                           bool optional, QString* error) {
    QFile file(resource);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (optional)
            return true;
        // The resources live in a library: an executable that never registered them has none.
        MZ_LOG() << failureText << "no script" << resource << file.errorString();
        return StoreQuery::fail(error, QStringLiteral("the script %1 is not built into this program").arg(resource));
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
            const QString reason = StoreQuery::reasonOf(query);
            MZ_LOG() << failureText << reason << statement;
            if (first.isEmpty())
                first = reason + QStringLiteral(": ") + statement;
        }
    }
    return first.isEmpty() || StoreQuery::fail(error, first);
}
