#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

struct AutoFillSpec;

// The statements on the registry's documents and their dependent rows, over the process-wide
// Database: copy, delete, the templates, the used values, the FRDO auto-fill and the list's rows.
// Every function is false (or an id of 0) with the database's reason in `error` when a statement
// failed; the failure is logged. Writes are all or nothing.
class DocumentStore {
public:
    // The documents and their dependent rows; a "delete" entry with everything each held.
    static bool deleteDocuments(const QList<qint64>& ids, QString* error = nullptr);
    // A copy of the document's own row, "КОПИЯ " before the surname; the new id, 0 when none was made.
    // The copy is complete, and its "copy" entry written, once copyDependentRows() has followed.
    static qint64 copyDocument(qint64 id, QString* error = nullptr);
    // The dependent rows of `fromId` (appendix subjects, FRDO data) copied to `toId`, the new copy
    // of `fromId`, whose "copy" entry this writes (unless an edit dialog's save records it).
    static bool copyDependentRows(qint64 fromId, qint64 toId, QString* error = nullptr);
    // copyDocument() and copyDependentRows() together; the new id or 0.
    static qint64 duplicateDocument(qint64 id, QString* error = nullptr);
    // The source a copy's entry names.
    static QString copySource(qint64 fromId);

    // Fills the document's target row by `rules`, creating it when missing, with an "edit" entry
    // (unless an edit dialog's save records the document). A document that does not exist gets no
    // row and is no failure.
    static bool autoFill(const AutoFillSpec& rules, qint64 id, QString* error = nullptr);
    // autoFill() without an entry, for a write that records the document's change as a whole.
    static bool autoFillRow(const AutoFillSpec& rules, qint64 id, QString* error = nullptr);
    // The FRDO rules for each of the documents, all or nothing.
    static bool autoFillFrdo(const QList<qint64>& ids, QString* error = nullptr);

    struct TemplateEntry {
        qint64 id = 0;
        QString name;
    };
    // The stored templates, id and name, in the registry's order.
    static bool templates(QVector<TemplateEntry>* entries, QString* error = nullptr);

    // The distinct non-blank values of a column of one of the registry's tables, trimmed, the most
    // frequent first or in alphabetical order; at most `limit` of them when it is above 0. A table
    // or column the registry does not know gives none, with the reason in `error`.
    static QStringList usedValues(const QString& table, const QString& column, int limit, bool alphabetical,
                                  QString* error = nullptr);
    // The dialogs will want these columns' used values: on a server they are read in the background.
    static void readUsedValuesAhead(const QString& table, const QStringList& columns);
    // Whether any of these columns' used values are still being read in the background.
    static bool usedValuesComing(const QString& table, const QStringList& columns);

    // The list's columns of ViewProfDocuments, the id first.
    static constexpr int listColumnCount = 7;
    static const char* const listColumns[listColumnCount];
    // A text of a list row as SQLite holds it, UTF-8; `utf8` is null for NULL. Valid during the call.
    struct ListText {
        const char* utf8;
        int size;
    };
    // Called once per row with the id and the texts of the other listColumnCount - 1 columns.
    using ListRowSink = std::function<void(qint64 id, const ListText* texts)>;
    // Reads every row of the list in the view's order, or those of the documents `only` names (in
    // ascending id; an id that is no listed document gives no row). The rows read before a failure
    // have been handed over.
    static bool readListRows(const ListRowSink& sink, QString* error = nullptr, const QVector<qint64>* only = nullptr);
    // Reads up to `rows` rows of the list whose ids are below `below`, the highest id first.
    static bool readListPage(qint64 below, int rows, const ListRowSink& sink, QString* error = nullptr);
};
