#include "nameparts.h"

bool NameParts::isPatronymicEnding(const QString& word) {
    static const QStringList endings = {QStringLiteral("оглы"), QStringLiteral("кызы"), QStringLiteral("улы"),
                                        QStringLiteral("уулу"), QStringLiteral("угли")};
    return word.size() <= 4 && endings.contains(word.toLower());
}

QStringList NameParts::words(const QString& fullName) {
    QStringList words;
    const QStringList parts = fullName.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (!words.isEmpty() && isPatronymicEnding(part))
            words.last() += QLatin1Char(' ') + part;
        else
            words << part;
    }
    return words;
}

NameParts NameParts::split(const QString& fullName) {
    QStringList parts = words(fullName);
    NameParts result;
    // "Мамедов Рашид оглы" names no first name; the clerk is told so rather than given a wrong one.
    const bool turkic = parts.size() >= 2 && parts.last().contains(QLatin1Char(' '));
    if (parts.size() > 2 || turkic)
        result.patronymic = parts.takeLast();
    if (parts.size() >= 2)
        result.name = parts.takeLast();
    result.surname = parts.join(QLatin1Char(' '));
    return result;
}
