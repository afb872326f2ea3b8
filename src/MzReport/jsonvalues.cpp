#include "jsonvalues.h"

#include <QtGlobal>
#include <cmath>

namespace mzjson {

namespace {
double clampLength(double value) {
    if (!std::isfinite(value))
        return 0.0;
    return qBound(-maxLength, value, maxLength);
}

int clampInt(double value, int min, int max) {
    if (std::isnan(value))
        return min;
    // Compare as doubles first: converting an out-of-range double to int is undefined.
    if (value <= double(min))
        return min;
    if (value >= double(max))
        return max;
    return int(value);
}
} // namespace

double truncatedLength(double mm) {
    const double hundredths = std::trunc(clampLength(mm) * 100.0);
    return double(qint32(hundredths)) / 100.0;
}

bool hasNumber(const QJsonObject& object, const QString& key) {
    return object.value(key).isDouble();
}

double readLength(const QJsonObject& object, const QString& key, double fallback) {
    const QJsonValue value = object.value(key);
    return value.isDouble() ? clampLength(value.toDouble()) : fallback;
}

int readInt(const QJsonObject& object, const QString& key, int fallback, int min, int max) {
    const QJsonValue value = object.value(key);
    return value.isDouble() ? clampInt(value.toDouble(), min, max) : fallback;
}

bool readBool(const QJsonObject& object, const QString& key, bool fallback) {
    const QJsonValue value = object.value(key);
    return value.isBool() ? value.toBool() : fallback;
}

QString readString(const QJsonObject& object, const QString& key, const QString& fallback) {
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : fallback;
}

QList<double> readLengths(const QJsonObject& object, const QString& key) {
    QList<double> result;
    const QJsonArray array = object.value(key).toArray();
    for (const QJsonValue& element : array)
        result.append(element.isDouble() ? clampLength(element.toDouble()) : 0.0);
    return result;
}

QList<int> readInts(const QJsonObject& object, const QString& key, int min, int max) {
    QList<int> result;
    const QJsonArray array = object.value(key).toArray();
    for (const QJsonValue& element : array)
        result.append(element.isDouble() ? clampInt(element.toDouble(), min, max) : qBound(min, 0, max));
    return result;
}

QStringList readStrings(const QJsonObject& object, const QString& key) {
    QStringList result;
    const QJsonArray array = object.value(key).toArray();
    for (const QJsonValue& element : array)
        result.append(element.toString());
    return result;
}

bool parseFont(const QString& description, QFont* font) {
    QFont parsed;
    if (description.isEmpty() || !parsed.fromString(description))
        return false;
    const double points = parsed.pointSizeF();
    const int pixels = parsed.pixelSize();
    const bool pointsOk = points > 0.0 && points <= 400.0;
    const bool pixelsOk = pixels > 0 && pixels <= 2000;
    if (!pointsOk && !pixelsOk)
        return false;
    *font = parsed;
    return true;
}

QJsonArray lengthsToJson(const QList<double>& values) {
    QJsonArray array;
    for (double value : values)
        array.append(truncatedLength(value));
    return array;
}

} // namespace mzjson
