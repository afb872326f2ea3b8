#pragma once

// Entries of DocumentHistory as the writers leave them, put in by SQL: the journal's and the
// history windows' tests read what these make.

#include "testdatabase.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

namespace historyentries {
struct Entry {
    qint64 profId = 1;
    QString changedAt = QStringLiteral("2024-05-10T09:00:00");
    QString kind = QStringLiteral("edit");
    QVariant login, osUser, host, source;
    QString docName, attNumber;
    QJsonArray changes;
    QVariant snapshot; // JSON text, or NULL
};

// The new entry's historyId.
inline qint64 add(const Entry& e) {
    QSqlQuery query =
        runSql("INSERT INTO DocumentHistory (profId, changedAt, kind, login, osUser, host, source, docName, attNumber, "
               "changes, snapshot) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
               {e.profId, e.changedAt, e.kind, e.login, e.osUser, e.host, e.source, e.docName, e.attNumber,
                QString::fromUtf8(QJsonDocument(e.changes).toJson(QJsonDocument::Compact)), e.snapshot});
    return query.lastInsertId().toLongLong();
}

inline QJsonObject change(const QString& table, const QString& field, const QJsonValue& before,
                          const QJsonValue& after) {
    return {{"table", table}, {"field", field}, {"old", before}, {"new", after}};
}

// What a deleted document held: its fields, two subjects and an FRDO row, keys left out.
inline QJsonObject fullSnapshot(const QString& surname = QStringLiteral("Сидоров")) {
    const QJsonObject document{
        {"fio1", surname},     {"fio2", "Пётр"},       {"fio3", "Ильич"},           {"qual", "Сварщик"},
        {"attNumber", "А-17"}, {"certificateType", 1}, {"issueDate", "2024-03-01"}, {"comment", QJsonValue::Null}};
    const QJsonArray subjects{QJsonObject{{"name", "Охрана труда"}, {"count", 72}, {"rate", "5"}},
                              QJsonObject{{"name", "Черчение"}, {"count", QJsonValue::Null}, {"rate", "4"}}};
    const QJsonObject frdo{{"snils", "112-233-445 95"}, {"docName", "Свидетельство"}, {"studyCount", 144}};
    return {{"ProfDocuments", document}, {"ProfDetails", subjects}, {"ProfFrdo", frdo}};
}

inline QString text(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// A deletion of document `profId` holding `snapshot`; its historyId.
inline qint64 addDeletion(qint64 profId, const QVariant& snapshot,
                          const QString& changedAt = QStringLiteral("2025-01-01T10:00:00")) {
    Entry e;
    e.profId = profId;
    e.kind = QStringLiteral("delete");
    e.changedAt = changedAt;
    e.osUser = QStringLiteral("petrova");
    e.docName = QStringLiteral("Сидоров Пётр Ильич");
    e.attNumber = QStringLiteral("А-17");
    e.snapshot = snapshot;
    return add(e);
}
} // namespace historyentries
