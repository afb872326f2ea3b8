#pragma once

#include <QString>

// Counting certificate and registration numbers up: the last run of digits of the text is
// increased, keeping its leading zeros and everything around it ("СВ 100051" + 1 is "СВ 100052",
// "0099" + 1 is "0100", "999" + 1 is "1000").
namespace NumberSequence {
// `first` counted up `steps` times; empty when `first` holds no digit.
QString nth(const QString& first, int steps);
bool hasDigits(const QString& text);
} // namespace NumberSequence
