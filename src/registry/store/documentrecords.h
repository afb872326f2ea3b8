#pragma once

#include <QSqlDatabase>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QVector>

// The statements of the document edit dialog on ProfDocuments: one row read as the file holds
// it, written back from values keyed by column name. Writes report failure with false and
// SQLite's reason.
namespace DocumentRecords {
// The columns a document's save writes besides editDate and isTemplate, which it writes too.
QStringList formColumns();
// Every column of the row, as stored (names found in any case, as SQLite does); false when there is no such row or it
// cannot be read.
bool read(qint64 id, QSqlRecord* row, QString* error = nullptr);
bool exists(qint64 id);
// Writes the form columns, editDate and isTemplate from `values`; a column missing from it is
// written as NULL. False when the row is not there.
bool update(qint64 id, const QVariantMap& values, QString* error);

// On a registry server several programs save documents: the document's version (its row, its
// subjects and its FRDO row), 0 on a file or when there is no such row.
qint64 version(qint64 id);
// The version of a row read(), 0 when it has none (a file).
qint64 versionOf(const QSqlRecord& row);
enum class SaveOutcome { Saved, Changed, Deleted, Failed };
// As update(), written only while the document is at `expectedVersion`: Changed when another
// program saved it since, Deleted when it is gone, Failed with the reason. Version 0 writes
// whatever the document's version is.
SaveOutcome update(qint64 id, const QVariantMap& values, qint64 expectedVersion, QString* error);
// Inside a save's transaction, before its write: whether another document holds the number,
// after waiting for any other program's save of the same number to end (on a server, for at
// most a few seconds; then false with the reason).
bool claimAttNumber(const QString& attNumber, qint64 exceptId, bool* taken, QString* error);
// The waiting alone (a file has no other programs to wait for): false with the reason after a few
// seconds.
bool lockAttNumber(QSqlDatabase db, const QString& attNumber, QString* error);
bool claimAttNumber(QSqlDatabase db, const QString& attNumber, qint64 exceptId, bool* taken, QString* error);
// A new empty row; its id, or 0 with the reason.
qint64 insert(QString* error);
// The appendix text and its total flag of a new document come from its template.
bool copyAppendixInfo(qint64 fromId, qint64 toId, QString* error);
// Whether another document already holds this certificate number.
bool attNumberTaken(const QString& attNumber, qint64 exceptId);
// "fio1 fio2 fio3" of a document; false when there is none.
bool readName(qint64 id, QString* name);
// The appendix text and whether the total is hidden.
bool readAppendixInfo(qint64 id, QString* addInfo, bool* hideTotal);
bool updateAppendixInfo(qint64 id, const QString& addInfo, bool hideTotal, QString* error);

// What a document holds besides the dialog's form: the other columns of its row (the appendix
// text and flag, the comment) and its dependent rows (appendix subjects, FRDO data) without their
// keys, so that they outlive the document's deletion by another program.
struct Dependents {
    struct Row {
        QString table;
        QVariantMap values;
    };
    QVariantMap otherColumns;
    QVector<Row> rows;
};
// Those of the document whose row read() gave; false with the reason when they cannot be read.
bool readDependents(const QSqlRecord& row, Dependents* held, QString* error = nullptr);
// Writes them to the document `id` (a new one, without dependent rows of its own); the caller
// makes it all or nothing.
bool writeDependents(qint64 id, const Dependents& held, QString* error);
} // namespace DocumentRecords
