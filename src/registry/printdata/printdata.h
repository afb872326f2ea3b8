#pragma once

#include <QDate>
#include <QString>

class ReportPage;

// Turns a document record into the variables and the appendix model of a template page, and the
// texts printed on the forms: dates in words, month names, the hours word, short names.
namespace PrintData {
// Fills `page` from document `sqlDocId`. When not printing (the designer), the first document of
// the table gives sample values. Returns the database's error text when a query failed (the page
// is then incomplete and must not be printed), empty otherwise.
QString fillDocument(ReportPage* page, qint64 sqlDocId, bool forPrinting);

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
