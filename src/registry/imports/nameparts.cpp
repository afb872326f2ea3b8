#include "nameparts.h"

#include <QStringList>

NameParts NameParts::split(const QString& fullName) {
    QStringList parts = fullName.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const int count = parts.size();
    NameParts result;
    if (count > 2)
        result.patronymic = parts.takeLast();
    if (count >= 2)
        result.name = parts.takeLast();
    result.surname = parts.join(QLatin1Char(' '));
    return result;
}
