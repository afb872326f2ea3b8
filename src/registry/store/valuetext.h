#pragma once

#include <QDate>
#include <QString>
#include <QVariant>
#include <limits>

// How the registry reads the values people and spreadsheets put into it.
namespace ValueText {
// A spreadsheet day number (1 is 1 January 1900) or a date in one of the accepted layouts;
// invalid when nothing fits.
QDate dateFromText(const QString& text);
// A stored date value, or its text read as dateFromText does.
QDate dateFromValue(const QVariant& value);
QString digitsOnly(const QString& text);

constexpr int noDay = std::numeric_limits<int>::min();
// Julian day of a stored date or date and time ("2016-04-08", "2016-04-08 15:30:00",
// "2016-04-08T15:30:00"); noDay otherwise.
int dayNumber(const QString& text);
// The number that `count` ASCII digits from `c` on spell; -1 when any is not a digit.
int digits(const QChar* c, int count);
} // namespace ValueText
