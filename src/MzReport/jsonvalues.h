#pragma once

#include <QFont>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// Tolerant readers for template files: a key of the wrong type reads as absent, numbers are
// brought into ranges that the painting arithmetic can take without overflow.
namespace mzjson {

// Lengths beyond this many millimetres (a kilometre of paper) are clamped: they keep pixel
// coordinates far from the int range even at high printer resolutions.
constexpr double maxLength = 1.0e6;

// A length stored in a file: the value cut (not rounded) to two decimals.
double truncatedLength(double mm);

// A finite number clamped to [-maxLength, maxLength]; `fallback` for a missing key or wrong type.
double readLength(const QJsonObject& object, const QString& key, double fallback = 0.0);
// The integral part of a number, clamped to [min, max]; `fallback` when absent or not a number.
int readInt(const QJsonObject& object, const QString& key, int fallback, int min, int max);
bool readBool(const QJsonObject& object, const QString& key, bool fallback = false);
QString readString(const QJsonObject& object, const QString& key, const QString& fallback = QString());
// Arrays: a missing key or a non-array gives an empty list; elements of the wrong type read as
// 0 or an empty string, so the positions of the other elements stay put.
QList<double> readLengths(const QJsonObject& object, const QString& key);
QList<int> readInts(const QJsonObject& object, const QString& key, int min, int max);
QStringList readStrings(const QJsonObject& object, const QString& key);

bool hasNumber(const QJsonObject& object, const QString& key);

// Parses a platform font description into `font`. Descriptions that do not parse or ask for a
// size no form is printed in (at most 0 or above 400 points or 2000 pixels) are refused, since
// the painting turns sizes into glyph caches.
bool parseFont(const QString& description, QFont* font);

QJsonArray lengthsToJson(const QList<double>& values);

} // namespace mzjson
