#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The program's description of one column of its own tables.
struct DBColumn {
    QString name;
    QString type;       // "INTEGER" or "TEXT"
    QString constraint; // "NOT NULL" or empty
    bool copyable = false;
};

// The program's description of one of its tables: new files are created from it and existing
// files are checked and migrated against it.
struct DBTable {
    QString name;
    QString sequence_col;
    bool isMainTable = false;
    bool isAdditionalTable = false;
    QList<DBColumn> columns;
    QStringList extraDefinitions;

    const DBColumn* column(const QString& columnName) const {
        for (const DBColumn& c : columns)
            if (c.name == columnName)
                return &c;
        return nullptr;
    }
    // The column as SQLite finds it: by any letter case of its name.
    const DBColumn* columnAnyCase(const QString& columnName) const {
        for (const DBColumn& c : columns)
            if (c.name.compare(columnName, Qt::CaseInsensitive) == 0)
                return &c;
        return nullptr;
    }
};
