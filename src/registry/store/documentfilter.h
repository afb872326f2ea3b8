#pragma once

#include "filterlisttype.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QVariant>

// How the document list orders its rows: by one of its columns, comparing the stored values as
// its proxy does (ids as numbers, texts by QString::compare or locale-aware), equal values keeping
// the order in which SQLite gives the rows. The default is the list's own: newest first.
struct DocumentOrder {
    // The columns of the list, those of ViewProfDocuments; Unsorted keeps SQLite's order.
    enum Column { Unsorted = -1, Id, Fio, Qual, AttNumber, RegNumber, IssueDate, EditDate, ColumnCount };
    int column = Id;
    Qt::SortOrder order = Qt::DescendingOrder;
    Qt::CaseSensitivity caseSensitivity = Qt::CaseSensitive;
    bool localeAware = false;
};

// The one rule by which the filter panel's conditions accept a document, shared by the document
// list and the exports that must hold exactly what the list shows. A document is seen as the list
// shows it: the joined name, the qualification with its line breaks as blanks, and the issue and
// edit dates.
class DocumentFilter {
public:
    // No condition.
    DocumentFilter() = default;
    // The one reading of the panel's list: "fio", "qual" (trimmed), "dateFrom", "dateTo",
    // "editDateFrom", "editDateTo"; entries without a valid value and other keys are ignored.
    static DocumentFilter fromList(const FilterListType& filters);

    QString fio() const { return _fio; }
    QString qual() const { return _qual; }
    QDate dateFrom() const { return _dateFrom; }
    QDate dateTo() const { return _dateTo; }
    QDate editDateFrom() const { return _editDateFrom; }
    QDate editDateTo() const { return _editDateTo; }
    // No condition at all: every document is accepted.
    bool isEmpty() const;

    // The single conditions; an empty text or a range without both ends accepts everything. A day
    // is a Julian day, or ValueText::noDay for a value without a date.
    bool acceptsFio(const QString& fio) const;
    bool acceptsQual(const QString& qual) const;
    bool acceptsIssueDay(qint64 day) const { return inRange(day, _issueRange, _issueFrom, _issueTo); }
    bool acceptsEditDay(qint64 day) const { return inRange(day, _editRange, _editFrom, _editTo); }

    bool accepts(const QString& fio, const QString& qual, const QVariant& issueDate, const QVariant& editDate) const;

    // The Julian day of a date value or of a text that starts with "yyyy-MM-dd", as the list reads
    // its date columns; ValueText::noDay otherwise.
    static qint64 dayOf(const QVariant& value);

    // The same rule for a query on ProfDocuments: empty, or " AND " and the conditions, to be
    // appended to a WHERE clause. Needs the connection's TextMatch functions.
    QString sqlCondition() const;

    // The ids of the documents the list shows under this filter, in `order`, read from
    // ViewProfDocuments on the default connection; empty, with the reason in `error`, when the
    // documents cannot be read (logged).
    QList<qint64> shownIds(const DocumentOrder& order = {}, QString* error = nullptr) const;

private:
    static bool inRange(qint64 day, bool range, qint64 from, qint64 to);

    QString _fio;
    QString _qual;
    QDate _dateFrom, _dateTo, _editDateFrom, _editDateTo;
    bool _issueRange = false, _editRange = false;
    qint64 _issueFrom = 0, _issueTo = 0, _editFrom = 0, _editTo = 0;
};
