#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

// One document as the forms print it, read once: the template variables in the order they are
// set (names compared without regard to case; a later setting wins) and the appendix rows.
struct PrintValues {
    struct Variable {
        QString name;
        QVariant value;
        // Rich text on purpose (a line break built here); every other value is plain text.
        bool markup = false;
    };
    // False when printing and no document has the id: nothing is set, the form prints empty.
    bool found = false;
    QVector<Variable> variables;
    // The appendix as its query gives it; no columns means no appendix table at all.
    QStringList appendixColumns;
    QVector<QVariantList> appendixRows;

    // The value a page would show for `name` (the last setting); invalid when never set.
    QVariant value(const QString& name) const;
};

// Turns a document record into the values of a template page, and the texts printed on the
// forms: dates in words, month names, the hours word, short names.
namespace PrintData {
// The name under which templates find the appendix rows.
QString appendixModelName();
// Reads document `sqlDocId` into `out`. When not printing (the designer), the first document of
// the table gives sample values. False with the database's text in `error` when a statement
// failed; `out` then holds what was read before it (found tells whether the document's row was)
// and must not be printed. A document that does not exist is no failure: found is false.
bool read(qint64 sqlDocId, bool forPrinting, PrintValues* out, QString* error);

// Day number, with a leading zero below 10 unless the data store says "HideZeroInDate".
QString dayText(const QDate& date);
QString dayText(const QDate& date, bool hideZero);
// Month in the genitive: "января" ... "декабря".
QString monthName(const QDate& date);
// "05 января 1991"
QString dateInWords(const QDate& date);
QString dateInWords(const QDate& date, bool hideZero);
// "академический час", "академических часа" or "академических часов" for n.
QString hoursWord(qint64 n);
// "Иванов Иван Иванович" -> "Иванов И.И."
QString shortName(const QString& fullName);
// The appendix rows of one document as the appendix view gives them, with the document's
// condition applied inside the view's union so that the index serves it.
QString appendixQuery(qint64 sqlDocId);
} // namespace PrintData
