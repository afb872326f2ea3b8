#pragma once

#include "filterlisttype.h"

#include <QDate>
#include <QString>
#include <QVariant>

// The one rule by which the filter panel's conditions accept a document, shared by the document
// list and the exports that must hold exactly what the list shows. A document is seen as the list
// shows it: the joined name, the qualification with its line breaks as blanks, and the issue and
// edit dates.
class DocumentFilter {
public:
    DocumentFilter() = default;
    // Takes "fio", "qual" (trimmed), "dateFrom", "dateTo", "editDateFrom", "editDateTo"; entries
    // without a valid value and other keys are ignored.
    explicit DocumentFilter(const FilterListType& filters);

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

private:
    static bool inRange(qint64 day, bool range, qint64 from, qint64 to);

    QString _fio;
    QString _qual;
    QDate _dateFrom, _dateTo, _editDateFrom, _editDateTo;
    bool _issueRange = false, _editRange = false;
    qint64 _issueFrom = 0, _issueTo = 0, _editFrom = 0, _editTo = 0;
};
