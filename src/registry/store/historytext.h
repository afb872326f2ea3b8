#pragma once

#include "historyjournal.h"

#include <QJsonValue>
#include <QString>
#include <QVector>

// How the history's windows and its export word an entry: who, when, what kind, and each changed
// value as "before → after", with the fields under the captions the clerk knows.
class HistoryText {
public:
    struct Row {
        QString what;   // the field, "Приложение, «Физика»: Часы", or the whole document
        QString change; // "before → after"
    };
    // One row per changed value; a deletion, a restore and an entry without changes are one row.
    static QVector<Row> rowsOf(const HistoryJournal::Entry& entry);
    // Every row of the entry on one line, for the journal and its export.
    static QString summary(const HistoryJournal::Entry& entry);

    // The login and, when known, "user@host".
    static QString who(const HistoryJournal::Entry& entry);
    static QString when(const HistoryJournal::Entry& entry);
    // The kind's name, and the source of an import or a copy in brackets.
    static QString action(const HistoryJournal::Entry& entry);

    static QString fieldCaption(const QString& table, const QString& field);
    // A stored value as the clerk reads it: "—" for nothing, whole numbers without a fraction.
    static QString valueText(const QString& table, const QString& field, const QJsonValue& value);
};
