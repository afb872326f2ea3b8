#pragma once

#include "documenthistory.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QVector>

// The filter's set of kinds needs it.
inline uint qHash(DocumentHistory::Kind kind, uint seed = 0) noexcept {
    return ::qHash(int(kind), seed);
}

// Reading the registry's history (DocumentHistory) on a file or a server, bringing a deleted
// document back from its entry, and dropping old entries. Every function is false with the
// reason in `error` when a statement failed.
class HistoryJournal {
public:
    struct Entry {
        qint64 id = 0;
        qint64 profId = 0;
        QDateTime changedAt;
        DocumentHistory::Kind kind = DocumentHistory::Kind::Edited;
        QString kindCode; // as stored, for a kind this program does not know
        QString login, osUser, host, source, docName, attNumber;
        QJsonArray changes;
        bool hasSnapshot = false;
    };
    // The entries of one document, newest first.
    static bool entriesOf(qint64 profId, QVector<Entry>* entries, QString* error = nullptr);

    struct Filter {
        QDate from, to;                    // null: open
        QString user;                      // login or computer user, exactly; empty: anyone
        QSet<DocumentHistory::Kind> kinds; // empty: every kind
        QString text;                      // part of the name or the certificate number
        qint64 fromId = 0;                 // the lowest id searched, for a search a slice at a time; 0: all
    };
    // Up to `limit` entries matching `filter` whose id is below `belowId` (0: from the newest),
    // newest first: the journal's pages.
    static bool find(const Filter& filter, qint64 belowId, int limit, QVector<Entry>* entries,
                     QString* error = nullptr);
    // The users the entries name, for the journal's filter.
    static bool users(QStringList* users, QString* error = nullptr);
    // The users the entries with ids from `fromId` to `toId` name: a large journal read a slice at
    // a time, each slice a statement of its own that holds no lock for long.
    static bool usersBetween(qint64 fromId, qint64 toId, QStringList* users, QString* error = nullptr);

    // The snapshot of a deletion entry.
    static bool snapshotOf(qint64 historyId, QJsonObject* snapshot, QString* error = nullptr);
    // Brings the document a deletion entry holds back whole (fields, appendix, FRDO data) under its
    // old id when that is free, else under a new one; one "restore" entry. The document's id in
    // `profId`.
    static bool restoreDocument(qint64 historyId, qint64* profId, QString* error = nullptr);

    // How many entries are older than `years` years, and dropping them (never silently: the
    // window asks first with the count).
    static bool countOlderThan(int years, qint64* count, QString* error = nullptr);
    static bool dropOlderThan(int years, qint64* dropped, QString* error = nullptr);
};
