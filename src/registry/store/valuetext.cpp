#include "valuetext.h"

#include <QRegularExpression>

namespace {
// Day 1 is 1 January 1900; day 60 is the spreadsheet's 29 February 1900, which never was.
QDate spreadsheetDay(int day) {
    const QDate origin(1900, 1, 1);
    if (day < 1 || day == 60)
        return QDate();
    return origin.addDays(day < 60 ? day - 1 : day - 2);
}
} // namespace

QDate ValueText::dateFromText(const QString& text) {
    const QString trimmed = text.trimmed();
    // Every format parse reads the time zone; an empty cell of a large export must not pay for it.
    if (trimmed.isEmpty())
        return QDate();
    bool isNumber = false;
    const int day = trimmed.toInt(&isNumber);
    if (isNumber)
        return spreadsheetDay(day);
    static const char* const formats[] = {"yyyy.MM.dd", "dd.MM.yyyy", "dd/MM/yyyy",
                                          "yyyy-MM-dd", "dd-MM-yyyy", "yyyy/MM/dd"};
    for (const char* format : formats) {
        const QDate date = QDate::fromString(trimmed, QLatin1String(format));
        if (date.isValid())
            return date;
    }
    return QDate();
}

QDate ValueText::dateFromValue(const QVariant& value) {
    const QDate date = value.toDate();
    return date.isValid() ? date : dateFromText(value.toString());
}

QString ValueText::digitsOnly(const QString& text) {
    static const QRegularExpression nonDigits(QStringLiteral("[^\\d]+"));
    return text.split(nonDigits).join(QString()).trimmed();
}

int ValueText::dayNumber(const QString& text) {
    // The forms SQLite's date() reads too, so that SQL over the same rows agrees.
    if (text.size() < 10 || (text.size() > 10 && text.at(10) != QLatin1Char(' ') && text.at(10) != QLatin1Char('T')))
        return noDay;
    const QChar* c = text.constData();
    if (c[4] != QLatin1Char('-') || c[7] != QLatin1Char('-'))
        return noDay;
    const int year = digits(c, 4), month = digits(c + 5, 2), day = digits(c + 8, 2);
    const QDate date(year, month, day);
    return year > 0 && date.isValid() ? int(date.toJulianDay()) : noDay;
}

int ValueText::digits(const QChar* c, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const ushort u = c[i].unicode();
        if (u < '0' || u > '9')
            return -1;
        value = value * 10 + (u - '0');
    }
    return value;
}
