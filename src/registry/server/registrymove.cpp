#include "registrymove.h"

#include "dbtable.h"
#include "documentcount.h"
#include "fileschema.h"
#include "mzlog.h"
#include "profschema.h"
#include "savepoint.h"
#include "serverchangelog.h"
#include "serverhistory.h"
#include "serverschema.h"
#include "storequery.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <limits>

using ServerSchema::hasIntegerKey;
using ServerSchema::Kind;
using ServerSchema::kindOf;
using ServerSchema::serverType;

namespace {
// Rows per INSERT of the move, fewer when their texts are long.
constexpr int rowsPerStatement = 2000;
constexpr qint64 charsPerStatement = 8 << 20;
} // namespace

namespace {
// SQLite's primary result codes for a file another connection holds.
constexpr int sqliteBusy = 5;
constexpr int sqliteLocked = 6;

// What a refusal starts with: the move onto an empty database or the restore over a registry.
QString& movePrefix() {
    static QString prefix;
    return prefix;
}

bool refuse(QString* error, const QString& reason) {
    MZ_LOG() << "registry move:" << reason;
    return StoreQuery::fail(error, movePrefix() + reason);
}

bool isHeld(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    return ok && (code == sqliteBusy || code == sqliteLocked);
}

QString fileReadProblem(const QString& path, const QSqlError& failure) {
    if (isHeld(failure))
        return QStringLiteral("файл %1 занят другой программой (реестр открыт в Orvane?); закройте её и повторите "
                              "перенос. (%2)")
            .arg(path, StoreQuery::reasonOf(failure));
    return QStringLiteral("файл %1 не удалось прочитать как реестр: %2").arg(path, StoreQuery::reasonOf(failure));
}

// A value shown in a message: short, on one line.
QString shown(const QVariant& value) {
    const QString text = value.toString().simplified();
    return text.size() > 40 ? text.left(40) + QStringLiteral("…") : text;
}

// The file's value as the server's column takes it, or why it cannot be taken without a loss.
bool convert(const QVariant& value, Kind kind, QVariant* out, QString* problem) {
    if (value.isNull()) {
        *out = QVariant();
        return true;
    }
    const int type = value.userType();
    const bool isText = type == QMetaType::QString;
    const bool isBytes = type == QMetaType::QByteArray;
    const bool isReal = type == QMetaType::Double;
    switch (kind) {
    case Kind::Integer:
        if (isBytes)
            return StoreQuery::fail(problem, QStringLiteral("двоичные данные вместо целого числа"));
        if (isReal) {
            const double d = value.toDouble();
            if (std::trunc(d) != d || std::fabs(d) >= 9.2e18)
                return StoreQuery::fail(problem, QStringLiteral("дробное число %1 вместо целого").arg(shown(value)));
            *out = qlonglong(d);
            return true;
        }
        if (isText) {
            // A text the file's column kept as text; taken only when it is exactly a number.
            bool ok = false;
            const qlonglong number = value.toString().toLongLong(&ok);
            if (!ok || QString::number(number) != value.toString())
                return StoreQuery::fail(problem, QStringLiteral("текст «%1» вместо целого числа").arg(shown(value)));
            *out = number;
            return true;
        }
        *out = value.toLongLong();
        return true;
    case Kind::Real: {
        bool ok = !isBytes;
        const double d = value.toDouble(&ok);
        if (!ok)
            return StoreQuery::fail(problem, QStringLiteral("«%1» вместо числа").arg(shown(value)));
        *out = d;
        return true;
    }
    case Kind::Blob:
        if (!isBytes && !isText)
            return StoreQuery::fail(problem, QStringLiteral("число %1 вместо двоичных данных").arg(shown(value)));
        *out = isText ? value.toString().toUtf8() : value.toByteArray();
        return true;
    case Kind::Text:
        break;
    }
    if (isBytes)
        return StoreQuery::fail(problem, QStringLiteral("двоичные данные вместо текста"));
    const QString text = value.toString();
    if (text.contains(QChar(0)))
        return StoreQuery::fail(problem, QStringLiteral("текст с символом с кодом 0, которого сервер не хранит"));
    *out = text;
    return true;
}

// One element of an array literal of the server: NULL bare, every other value quoted.
QString arrayElement(const QVariant& value, Kind kind) {
    if (value.isNull())
        return QStringLiteral("NULL");
    QString text;
    switch (kind) {
    case Kind::Integer:
        return QString::number(value.toLongLong());
    case Kind::Real:
        text = QString::number(value.toDouble(), 'g', 17);
        break;
    case Kind::Blob:
        text = QStringLiteral("\\x") + QString::fromLatin1(value.toByteArray().toHex());
        break;
    case Kind::Text:
        text = value.toString();
        break;
    }
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

struct TablePlan {
    DBTable table;
    QStringList columns; // the schema's columns the file has
    QList<Kind> kinds;
    QList<bool> notNull;
    int keyIndex = -1;
    qint64 rows = 0;
    qint64 fileSequence = 0; // the file's AUTOINCREMENT counter: ids past it are never reused
};

class Move {
public:
    // `replace`: the database holds a registry whose rows the file's take the place of.
    Move(const QString& path, QSqlDatabase& server, const RegistryMove::Progress& progress, bool replace = false)
        : _path(path), _server(server), _progress(progress), _replace(replace),
          _connection(QStringLiteral("orvane_move_") + QUuid::createUuid().toString(QUuid::Id128)) {}
    ~Move() {
        if (_file.isOpen())
            _file.close();
        _file = QSqlDatabase();
        QSqlDatabase::removeDatabase(_connection);
    }

    bool run(QList<RegistryMove::Counts>* counts, QString* error);

private:
    bool openFile(QString* error);
    bool planTables(QString* error);
    bool planTable(const DBTable& table, const QStringList& fileTables, QString* error);
    bool copyTable(const TablePlan& plan, QString* error);
    bool prepareInsert(const TablePlan& plan, QSqlQuery* insert, QString* error);
    bool flush(const TablePlan& plan, QSqlQuery* insert, QVector<QStringList>* columns, QString* error);
    bool refuseValue(const TablePlan& plan, const QSqlQuery& read, qint64 position, int column, const QString& problem,
                     QString* error);
    bool finish(QList<RegistryMove::Counts>* counts, QString* error);
    bool transfer(QList<RegistryMove::Counts>* counts, QString* error);
    bool report(const QString& table, qint64 done, qint64 total) { return !_progress || _progress(table, done, total); }

    QString _path;
    QSqlDatabase& _server;
    RegistryMove::Progress _progress;
    bool _replace = false;
    QString _connection;
    QSqlDatabase _file;
    QList<TablePlan> _plans;
};

bool Move::openFile(QString* error) {
    if (!QFileInfo(_path).isFile())
        return refuse(error, QStringLiteral("файл реестра %1 не найден.").arg(_path));
    _file = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), _connection);
    _file.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=1000"));
    _file.setDatabaseName(_path);
    if (!_file.open())
        return refuse(error, fileReadProblem(_path, _file.lastError()));
    return true;
}

bool Move::planTables(QString* error) {
    QSqlQuery query(_file);
    if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%'")))
        return refuse(error, fileReadProblem(_path, query.lastError()));
    QStringList fileTables;
    while (query.next())
        fileTables << query.value(0).toString();
    // The file's kept number of documents is the file's own: a server counts.
    fileTables.removeAll(DocumentCount::tableName());
    const QMap<QString, DBTable> schema = ProfSchema::tables();
    QStringList unknown;
    for (const QString& name : qAsConst(fileTables)) {
        const bool known = std::any_of(schema.cbegin(), schema.cend(), [&](const DBTable& t) {
            return t.name.compare(name, Qt::CaseInsensitive) == 0;
        });
        if (!known)
            unknown << name;
    }
    if (!unknown.isEmpty())
        return refuse(error, QStringLiteral("в файле есть таблицы, которых нет в реестре программы: %1. Их данные "
                                            "потерялись бы при переносе.")
                                 .arg(unknown.join(QStringLiteral(", "))));
    for (const DBTable& table : schema)
        if (!planTable(table, fileTables, error))
            return false;
    return true;
}

bool Move::planTable(const DBTable& table, const QStringList& fileTables, QString* error) {
    TablePlan plan;
    plan.table = table;
    const bool inFile = fileTables.contains(table.name, Qt::CaseInsensitive);
    if (inFile) {
        QSqlQuery query(_file);
        if (!query.exec(QStringLiteral("SELECT name FROM pragma_table_info('%1')").arg(table.name)))
            return refuse(error, fileReadProblem(_path, query.lastError()));
        QStringList unknown;
        while (query.next()) {
            const QString name = query.value(0).toString();
            const auto column = std::find_if(table.columns.cbegin(), table.columns.cend(), [&](const DBColumn& c) {
                return c.name.compare(name, Qt::CaseInsensitive) == 0;
            });
            if (column == table.columns.cend()) {
                unknown << name;
                continue;
            }
            if (column->name == table.sequence_col)
                plan.keyIndex = plan.columns.size();
            plan.columns << column->name;
            plan.kinds << kindOf(column->type);
            plan.notNull << (column->name == table.sequence_col || !column->constraint.isEmpty());
        }
        if (!unknown.isEmpty())
            return refuse(error, QStringLiteral("в таблице %1 файла есть столбцы, которых нет в реестре программы: "
                                                "%2. Их данные потерялись бы при переносе.")
                                     .arg(table.name, unknown.join(QStringLiteral(", "))));
        if (!query.exec(QStringLiteral("SELECT count(*) FROM %1").arg(table.name)) || !query.next())
            return refuse(error, fileReadProblem(_path, query.lastError()));
        plan.rows = query.value(0).toLongLong();
        query.prepare(QStringLiteral("SELECT seq FROM sqlite_sequence WHERE name = ? COLLATE NOCASE"));
        query.addBindValue(table.name);
        if (!query.exec())
            MZ_LOG() << "registry move: no id counter for" << table.name;
        else if (query.next())
            plan.fileSequence = query.value(0).toLongLong();
    }
    _plans << plan;
    return true;
}

bool Move::refuseValue(const TablePlan& plan, const QSqlQuery& read, qint64 position, int column,
                       const QString& problem, QString* error) {
    const QString row =
        plan.keyIndex >= 0 && !read.isNull(plan.keyIndex)
            ? QStringLiteral("%1 = %2").arg(plan.columns[plan.keyIndex], shown(read.value(plan.keyIndex)))
            : QStringLiteral("№ %1 по порядку").arg(position);
    return refuse(error, QStringLiteral("в таблице %1, запись %2, столбец %3: %4. Исправьте значение в файле и "
                                        "повторите перенос.")
                             .arg(plan.table.name, row, plan.columns[column], problem));
}

bool Move::copyTable(const TablePlan& plan, QString* error) {
    if (!report(plan.table.name, 0, plan.rows))
        return false;
    if (plan.columns.isEmpty() || plan.rows == 0)
        return true;
    QSqlQuery read(_file);
    read.setForwardOnly(true);
    if (!read.exec(QStringLiteral("SELECT %1 FROM %2").arg(plan.columns.join(QStringLiteral(", ")), plan.table.name)))
        return refuse(error, fileReadProblem(_path, read.lastError()));
    QSqlQuery insert(_server);
    if (!prepareInsert(plan, &insert, error))
        return false;
    const int width = plan.columns.size();
    QVector<QStringList> columns(width);
    qint64 done = 0;
    qint64 size = 0;
    int rows = 0;
    while (read.next()) {
        for (int i = 0; i < width; ++i) {
            QVariant value;
            QString problem;
            const QVariant original = read.value(i);
            if (original.isNull() && plan.notNull[i])
                problem = QStringLiteral("пустое значение (NULL), которого столбец не допускает");
            if (!problem.isEmpty() || !convert(original, plan.kinds[i], &value, &problem))
                return refuseValue(plan, read, done + rows + 1, i, problem, error);
            columns[i] << arrayElement(value, plan.kinds[i]);
            size += columns[i].last().size();
        }
        if (++rows < rowsPerStatement && size < charsPerStatement)
            continue;
        if (!flush(plan, &insert, &columns, error))
            return false;
        done += rows;
        rows = 0;
        size = 0;
        if (!report(plan.table.name, done, plan.rows))
            return false;
    }
    if (read.lastError().type() != QSqlError::NoError)
        return refuse(error, fileReadProblem(_path, read.lastError()));
    if (rows > 0 && !flush(plan, &insert, &columns, error))
        return false;
    done += rows;
    return report(plan.table.name, done, plan.rows);
}

// The rows go as one array per column, which the server takes apart again: a few parameters per
// statement however many rows, every value bound.
bool Move::prepareInsert(const TablePlan& plan, QSqlQuery* insert, QString* error) {
    QStringList arrays;
    for (const Kind kind : plan.kinds)
        arrays << QStringLiteral("?::%1[]").arg(serverType(kind));
    if (insert->prepare(
            QStringLiteral("INSERT INTO %1 (%2) SELECT * FROM unnest(%3)")
                .arg(plan.table.name, plan.columns.join(QStringLiteral(", ")), arrays.join(QStringLiteral(", ")))))
        return true;
    return refuse(error, QStringLiteral("сервер не принял запись в таблицу %1: %2")
                             .arg(plan.table.name, StoreQuery::reasonOf(insert->lastError())));
}

bool Move::flush(const TablePlan& plan, QSqlQuery* insert, QVector<QStringList>* columns, QString* error) {
    for (int i = 0; i < columns->size(); ++i) {
        insert->bindValue(i, QLatin1Char('{') + (*columns)[i].join(QLatin1Char(',')) + QLatin1Char('}'));
        (*columns)[i].clear();
    }
    if (insert->exec())
        return true;
    return refuse(error, QStringLiteral("сервер не принял запись в таблицу %1: %2")
                             .arg(plan.table.name, StoreQuery::reasonOf(insert->lastError())));
}

// Indexes, function and views after the rows (building an index once is faster than keeping it
// up to date row by row), the sequences past the highest id, and the counts compared.
bool Move::finish(QList<RegistryMove::Counts>* counts, QString* error) {
    QString failure;
    // A registry that is replaced keeps its structure: remaking its views would wait for every
    // other program that has read them in an open transaction.
    if (!_replace && !ServerSchema::makeDerived(_server, &failure))
        return refuse(error, QStringLiteral("сервер не создал структуру реестра: ") + failure);
    QList<RegistryMove::Counts> compared;
    QStringList differing;
    for (const TablePlan& plan : qAsConst(_plans)) {
        QSqlQuery query(_server);
        if (hasIntegerKey(plan.table)) {
            query.prepare(QStringLiteral("SELECT setval(pg_get_serial_sequence(?, ?), greatest(coalesce(max(%1), 0), "
                                         "?) + 1, false) FROM %2")
                              .arg(plan.table.sequence_col, plan.table.name));
            query.addBindValue(plan.table.name);
            query.addBindValue(plan.table.sequence_col.toLower());
            query.addBindValue(plan.fileSequence);
            if (!query.exec())
                return refuse(error, QStringLiteral("сервер не продолжил нумерацию таблицы %1: %2")
                                         .arg(plan.table.name, StoreQuery::reasonOf(query.lastError())));
        }
        if (!query.exec(QStringLiteral("SELECT count(*) FROM %1").arg(plan.table.name)) || !query.next())
            return refuse(error, QStringLiteral("сервер не сосчитал записи таблицы %1: %2")
                                     .arg(plan.table.name, StoreQuery::reasonOf(query.lastError())));
        const RegistryMove::Counts c{plan.table.name, plan.rows, query.value(0).toLongLong()};
        if (c.file != c.server)
            differing << QStringLiteral("%1: в файле %2, на сервере %3").arg(c.table).arg(c.file).arg(c.server);
        compared << c;
    }
    if (counts)
        *counts = compared;
    if (!differing.isEmpty())
        return refuse(error,
                      QStringLiteral("число записей не совпало (%1).").arg(differing.join(QStringLiteral("; "))));
    return true;
}

bool Move::transfer(QList<RegistryMove::Counts>* counts, QString* error) {
    QString failure;
    bool found = false;
    // The rows put back are the registry's as it was, history included: no change of a document.
    if (!ServerSchema::lockStructure(_server, &failure) || !ServerSchema::hasRegistry(_server, &found, &failure) ||
        !ServerHistory::setSilent(_server, true, &failure))
        return refuse(error, failure);
    if (found && !_replace)
        return refuse(error, RegistryMove::alreadyThereText());
    if (found) {
        // Rows, not the tables: other programs keep their prepared statements and views. The lists
        // are told once to read everything, not row by row.
        if (!ServerListLog::markAllChanged(_server, &failure))
            return refuse(error, failure);
        for (const TablePlan& plan : qAsConst(_plans))
            if (!StoreQuery::run(_server, QStringLiteral("DELETE FROM %1").arg(plan.table.name), &failure))
                return refuse(error, QStringLiteral("сервер не очистил таблицу %1: ").arg(plan.table.name) + failure);
    } else if (!ServerSchema::createTables(_server, &failure)) {
        return refuse(error, QStringLiteral("сервер не создал таблицы реестра: ") + failure);
    }
    for (const TablePlan& plan : qAsConst(_plans)) {
        if (copyTable(plan, error))
            continue;
        // A refusal names its reason; no reason means the progress said stop.
        if (error && error->isEmpty())
            refuse(error, QStringLiteral("перенос отменён."));
        return false;
    }
    return finish(counts, error);
}

bool Move::run(QList<RegistryMove::Counts>* counts, QString* error) {
    if (!openFile(error) || !planTables(error))
        return false;
    // A cancelled or failed move leaves the server database as it was.
    Savepoint move(QStringLiteral("orvane_move"), _server);
    if (!move.isOpen())
        return refuse(error, move.reason());
    if (!transfer(counts, error))
        return false;
    QString failure;
    if (!ServerHistory::setSilent(_server, false, &failure))
        return refuse(error, failure);
    if (!move.release(&failure))
        return refuse(error, QStringLiteral("сервер не сохранил перенос: ") + failure);
    MZ_LOG() << "registry moved to the server from" << _path;
    return true;
}
} // namespace

QString RegistryMove::alreadyThereText() {
    return QStringLiteral("в этой базе данных на сервере уже есть реестр. Перенос выполняется только в пустую базу "
                          "данных; реестр на сервере можно открыть вместо файла.");
}

bool RegistryMove::toServer(const QString& filePath, QSqlDatabase& server, QList<Counts>* counts, QString* error,
                            const Progress& progress) {
    if (error)
        error->clear();
    if (counts)
        counts->clear();
    movePrefix() = QStringLiteral("Реестр не перенесён на сервер: ");
    Move move(filePath, server, progress);
    return move.run(counts, error);
}

bool RegistryMove::replaceOnServer(const QString& filePath, QSqlDatabase& server, QList<Counts>* counts,
                                   QString* error) {
    if (error)
        error->clear();
    if (counts)
        counts->clear();
    movePrefix() = QStringLiteral("Реестр на сервере не заменён: ");
    Move move(filePath, server, Progress(), true);
    return move.run(counts, error);
}

// --- the backup of a server registry as a file ----------------------------------------------

namespace {
// Rows read from the server per statement: a table of a million rows never sits in memory whole.
constexpr int rowsPerRead = 20000;

QString backupRefusal(const QString& reason) {
    MZ_LOG() << "server backup:" << reason;
    return QStringLiteral("Резервная копия реестра с сервера не создана: ") + reason;
}

class Backup {
public:
    Backup(QSqlDatabase& server, const QString& path, const RegistryMove::Progress& progress)
        : _server(server), _path(path), _progress(progress),
          _connection(QStringLiteral("orvane_backup_") + QUuid::createUuid().toString(QUuid::Id128)) {}
    ~Backup() {
        if (_file.isOpen())
            _file.close();
        _file = QSqlDatabase();
        QSqlDatabase::removeDatabase(_connection);
    }

    bool run(QString* error) {
        if (!createFile(error))
            return false;
        Savepoint rows(QStringLiteral("orvane_backup"), _file);
        if (!rows.isOpen())
            return StoreQuery::fail(error, backupRefusal(rows.reason()));
        for (const DBTable& table : ProfSchema::tables())
            if (!copyTable(table, error))
                return false;
        QString failure;
        return rows.release(&failure) || StoreQuery::fail(error, backupRefusal(failure));
    }

private:
    bool createFile(QString* error) {
        _file = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), _connection);
        _file.setDatabaseName(_path);
        if (!_file.open())
            return StoreQuery::fail(error, backupRefusal(StoreQuery::reasonOf(_file.lastError())));
        QString failure;
        for (const DBTable& table : ProfSchema::tables())
            if (!FileSchema::createTable(_file, table, &failure))
                return StoreQuery::fail(error, backupRefusal(failure));
        if (!FileSchema::runViewsScript(_file, false, &failure))
            return StoreQuery::fail(error, backupRefusal(failure));
        return true;
    }

    // Rows in the order of their key, a slice at a time, each slice a statement of its own inside
    // the one snapshot the caller holds.
    bool copyTable(const DBTable& table, QString* error) {
        QStringList columns;
        for (const DBColumn& column : table.columns)
            columns << column.name;
        QStringList marks;
        for (int i = 0; i < columns.size(); ++i)
            marks << QStringLiteral("?");
        QSqlQuery insert(_file);
        if (!insert.prepare(QStringLiteral("INSERT INTO '%1' (%2) VALUES (%3)")
                                .arg(table.name, columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")))))
            return StoreQuery::fail(error, backupRefusal(StoreQuery::reasonOf(insert.lastError())));
        const bool sliced = hasIntegerKey(table);
        const QString select = QStringLiteral("SELECT %1 FROM %2").arg(columns.join(QStringLiteral(", ")), table.name);
        const int key = columns.indexOf(table.sequence_col);
        QVariant after;
        qint64 done = 0;
        for (;;) {
            QSqlQuery read(_server);
            read.setForwardOnly(true);
            if (sliced) {
                read.prepare(
                    select +
                    QStringLiteral(" WHERE %1 > ? ORDER BY %1 LIMIT %2").arg(table.sequence_col).arg(rowsPerRead));
                read.addBindValue(after.isValid() ? after.toLongLong() : std::numeric_limits<qint64>::min());
            } else {
                read.prepare(select);
            }
            if (!read.exec())
                return StoreQuery::fail(error,
                                        backupRefusal(QStringLiteral("сервер не выдал таблицу %1: %2")
                                                          .arg(table.name, StoreQuery::reasonOf(read.lastError()))));
            int rows = 0;
            while (read.next()) {
                for (int i = 0; i < columns.size(); ++i)
                    insert.bindValue(i, read.value(i));
                if (!insert.exec())
                    return StoreQuery::fail(
                        error, backupRefusal(QStringLiteral("файл не принял запись таблицы %1: %2")
                                                 .arg(table.name, StoreQuery::reasonOf(insert.lastError()))));
                if (key >= 0)
                    after = read.value(key);
                ++rows;
            }
            if (read.lastError().type() != QSqlError::NoError)
                return StoreQuery::fail(error, backupRefusal(StoreQuery::reasonOf(read.lastError())));
            done += rows;
            if (_progress && !_progress(table.name, done, -1))
                return StoreQuery::fail(error, backupRefusal(QStringLiteral("отменено.")));
            if (!sliced || rows < rowsPerRead)
                return true;
        }
    }

    QSqlDatabase& _server;
    QString _path;
    RegistryMove::Progress _progress;
    QString _connection;
    QSqlDatabase _file;
};
} // namespace

bool RegistryMove::toFile(QSqlDatabase& server, const QString& destination, QString* error, const Progress& progress) {
    const QString part = destination + QStringLiteral(".part");
    QFile::remove(part);
    // One snapshot for every table: what other programs commit meanwhile is not half in the copy.
    if (!server.transaction())
        return StoreQuery::fail(error, backupRefusal(StoreQuery::reasonOf(server.lastError())));
    bool written = false;
    QString failure;
    // Not a Savepoint: the isolation level must be the transaction's first statement, and nothing
    // is written here to keep or undo.
    if (StoreQuery::run(server, QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY"),
                        &failure)) {
        Backup backup(server, part, progress);
        written = backup.run(&failure);
    } else {
        failure = backupRefusal(failure);
    }
    server.rollback();
    if (!written) {
        QFile::remove(part);
        return StoreQuery::fail(error, failure);
    }
    if (QFile::rename(part, destination) || (QFile::remove(destination) && QFile::rename(part, destination)))
        return true;
    // The complete copy stays where it was written.
    return StoreQuery::fail(
        error, backupRefusal(
                   QStringLiteral("не удалось записать файл %1; копия осталась в файле %2.").arg(destination, part)));
}