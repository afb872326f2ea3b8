#pragma once

// A registry file in a temporary folder for the tests of the registry core, which have no widgets,
// and the statements they check it with.

#include "database.h"
#include "edittransaction.h"
#include "profschema.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

inline QSqlQuery sql(const QString& statement, const QVariantList& values = {}) {
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(statement);
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec())
        qWarning() << query.lastError().text() << statement;
    return query;
}

inline QVariant scalar(const QString& statement, const QVariantList& values = {}) {
    QSqlQuery query = sql(statement, values);
    return query.next() ? query.value(0) : QVariant();
}

// The first column of every row of `statement`, as ids.
inline QList<qint64> idsFrom(const QString& statement, const QVariantList& values = {}) {
    QList<qint64> ids;
    QSqlQuery query = sql(statement, values);
    while (query.next())
        ids << query.value(0).toLongLong();
    return ids;
}

// What the file holds for a column; NULL comes back as an invalid value.
inline QVariant stored(const QSqlRecord& record, const QString& column) {
    return record.isNull(column) ? QVariant() : record.value(column);
}

// Every row of `tables` (the registry's own when empty), NULL told apart from "": what "the file
// as it was" means to a test of a failed write.
inline QStringList registrySnapshot(QStringList tables = {}) {
    if (tables.isEmpty())
        tables = ProfSchema::tables().keys();
    QStringList rows;
    for (const QString& table : qAsConst(tables)) {
        QSqlQuery query = sql(QStringLiteral("SELECT * FROM %1 ORDER BY rowid").arg(table));
        while (query.next()) {
            QStringList cells;
            for (int i = 0; i < query.record().count(); ++i)
                cells << (query.isNull(i) ? QStringLiteral("NULL") : query.value(i).toString());
            rows << table + QLatin1Char(':') + cells.join(QLatin1Char('|'));
        }
    }
    return rows;
}

class CoreRegistry {
public:
    // The settings layer and the data folder stay inside the test's own folder.
    void setUp() {
        qputenv("XDG_CONFIG_HOME", _home.filePath(QStringLiteral("config")).toUtf8());
        qputenv("XDG_DATA_HOME", _home.filePath(QStringLiteral("data")).toUtf8());
        QStandardPaths::setTestModeEnabled(true);
        Database::setSchema(ProfSchema::tables(), ProfSchema::mainPrimaryKeyName());
    }

    // A fresh registry file; false when it cannot be made.
    bool open() {
        _dir.reset(new QTemporaryDir);
        Database::useFile(_dir->filePath(QStringLiteral("registry.sqlite")));
        _db.reset(new Database(true));
        return _db->isValid();
    }

    // Whatever a test left open is undone before the file goes.
    void close() {
        EditTransaction::rollback();
        sql(QStringLiteral("PRAGMA query_only = 0;"));
        if (_db)
            _db->commitAndClose();
        _db.reset();
        _dir.reset();
    }

    Database* database() const { return _db.get(); }

private:
    QTemporaryDir _home;
    std::unique_ptr<QTemporaryDir> _dir;
    std::unique_ptr<Database> _db;
};
