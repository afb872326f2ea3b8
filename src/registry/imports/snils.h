#pragma once

#include <QString>

// The personal insurance number: eleven digits, the last two the check number of the first nine.
namespace Snils {
// The eleven digits of a text written with or without blanks and hyphens ("112-233-445 95");
// empty when the text holds anything else or another count of digits.
QString digits(const QString& text);
// Whether the number is possible: eleven digits with a correct check number; numbers up to
// 001-001-998 carry no check. "000-000-000 00" is a placeholder nobody holds, not a number.
bool isValid(const QString& text);
// Eleven digits as the number is written: "112-233-445 95".
QString written(const QString& digits);
// Eleven zeros, however written.
bool isPlaceholder(const QString& text);
// The check number of the first nine digits (0..99).
int checkNumber(const QString& nineDigits);
} // namespace Snils
