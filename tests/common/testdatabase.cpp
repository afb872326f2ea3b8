#include "testdatabase.h"

#include "appsettings.h"
#include "database.h"
#include "profschema.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

namespace {
StartupQuestions* startupQuestions = nullptr;
} // namespace

void TestDatabase::useStartupQuestions(StartupQuestions* questions) {
    startupQuestions = questions;
}

TestDatabase::TestDatabase() {
    Database::setSchema(ProfSchema::tables(), ProfSchema::mainPrimaryKeyName());
    Database::setStartupQuestions(startupQuestions);
    AppSettings::setup();
}

TestDatabase::~TestDatabase() {
    close();
    Database::setStartupQuestions(nullptr);
}

QString TestDatabase::filePath() const {
    return Database::filePath();
}

Database* TestDatabase::open() {
    close();
    _db = new Database(true);
    // The program ends with this code where the start fails.
    if (!_db->isValid())
        _exitCodes << _db->startupProblem().exitCode;
    return _db.data();
}

void TestDatabase::close() {
    if (!_db)
        return;
    _db->commitAndClose();
    delete _db.data();
}

namespace {
template <typename Work> void withConnection(const QString& path, Work work) {
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.open();
        work(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}
} // namespace

QString execOnFile(const QString& path, const QStringList& statements) {
    QString error;
    withConnection(path, [&](QSqlDatabase& db) {
        for (const QString& sql : statements) {
            QSqlQuery query(db);
            if (!query.exec(sql) && error.isEmpty())
                error = query.lastError().text() + QStringLiteral(" in ") + sql;
        }
    });
    return error;
}

QList<QVariantList> queryFile(const QString& path, const QString& sql) {
    QList<QVariantList> rows;
    withConnection(path, [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        if (!query.exec(sql)) {
            rows.append(QVariantList{QStringLiteral("ERROR: ") + query.lastError().text()});
            return;
        }
        while (query.next()) {
            QVariantList row;
            for (int i = 0; i < query.record().count(); ++i)
                row << query.value(i);
            rows << row;
        }
    });
    return rows;
}

QSqlQuery runSql(const QString& sql, const QVariantList& values) {
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec())
        qWarning() << query.lastError().text() << sql;
    return query;
}

int insertRow(const QString& table, const QVariantMap& columns) {
    QString marks = QStringLiteral("?,").repeated(columns.size());
    marks.chop(1);
    return runSql(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                      .arg(table, QStringList(columns.keys()).join(','), marks),
                  columns.values())
        .lastInsertId()
        .toInt();
}
