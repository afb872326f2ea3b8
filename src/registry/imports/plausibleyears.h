#pragma once

#include <QDate>

// The years a date of a certificate, its training or its holder can fall in. The import refuses a
// date outside them and the FRDO check reports one, so that what one lets through the other does too.
namespace PlausibleYears {
constexpr int first = 1900;
constexpr int last = 2100;

inline bool contains(const QDate& date) {
    return date.isValid() && date.year() >= first && date.year() <= last;
}
} // namespace PlausibleYears
