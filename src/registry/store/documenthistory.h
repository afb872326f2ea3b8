#pragma once

#include <QList>
#include <QString>
#include <QVariantMap>
#include <QVector>

class QSqlDatabase;
class QSqlRecord;

// The history of every document, in DocumentHistory: one entry per change of one document, written
// in the transaction of the change, so that a failed write leaves none and no entry stands without
// its change. On a file the store writes the entries (every path that writes goes through here);
// on a server the server's triggers write them, and the store only tells them the kind and source
// of the transaction's change (and, once per connection, the computer's user and name).
//
// An entry's "changes" is a JSON array of objects, one per changed value:
//   {"table":"ProfDocuments","field":"fio1","old":"Иванов","new":"Петров"}
//   {"table":"ProfFrdo","field":"snils","old":null,"new":"112-233-445 95"}
//   {"table":"ProfDetails","row":17,"name":"Охрана труда","field":"count","old":72,"new":80}
//   {"table":"ProfDetails","row":18,"name":"Физика","field":"","old":null,"new":{"name":"Физика","count":72,"rate":"5"}}
// A subject added or removed is one object with an empty "field" and the whole row (without its
// keys) as "new" or "old". The keys (profId, detId), editDate and the server's version are never
// listed. Values are JSON strings, numbers or null as the store holds them.
// An import's entry on a file lists every value the new document was made with and leaves out
// "old" (all null), and its subjects' "row" (an import does not read back the keys they got):
//   {"table":"ProfDetails","name":"Физика","field":"","new":{"name":"Физика","count":72,"rate":"5"}}
// A deletion's "snapshot" is a JSON object holding everything the document held, each table's
// rows without their keys, so that it can be brought back:
//   {"ProfDocuments":{...},"ProfDetails":[{...},...],"ProfFrdo":{...} or null}
class DocumentHistory {
public:
    enum class Kind { Created, Edited, Copied, Imported, Deleted, Restored };
    // The code stored in the kind column ("create", "edit", "copy", "import", "delete", "restore").
    static QString code(Kind kind);
    // The kind of a stored code; false for a code this program does not know.
    static bool fromCode(const QString& code, Kind* kind);
    // What the windows call it ("Создание", "Изменение", "Копирование", "Импорт", "Удаление",
    // "Восстановление").
    static QString text(Kind kind);

    // What a document holds: each of its tables' rows by column name, the keys included.
    struct State {
        bool exists = false;
        QVariantMap document;          // ProfDocuments
        QVector<QVariantMap> subjects; // ProfDetails, in detId order
        QVariantMap frdo;              // ProfFrdo; empty when the document has no row there
    };
    // One row of a state, as read: its values by column name.
    static QVariantMap valuesOf(const QSqlRecord& record);
    static bool readState(const QSqlDatabase& db, qint64 profId, State* state, QString* error = nullptr);

    // Inside the write's savepoint or transaction, before its first statement: on a server tells
    // the triggers this transaction's kind and source (set_config 'orvane.kind', 'orvane.source',
    // local to the transaction); nothing on a file.
    static bool announce(const QSqlDatabase& db, Kind kind, const QString& source, QString* error = nullptr);
    // Inside the write's savepoint, after its statements: on a file writes the entry of the change
    // of `profId` from `before` to `after` (none for an edit that changed nothing); nothing on a
    // server, whose triggers wrote it.
    static bool record(const QSqlDatabase& db, qint64 profId, Kind kind, const State& before, const State& after,
                       const QString& source, QString* error = nullptr);

    // Who the entries of this program name: the computer's user and its name.
    static QString osUser();
    static QString hostName();
};
