#pragma once

#include <QString>

// A full name in one text, split the way a pasted name is split in the document dialog: the last
// word is the patronymic when there are three or more, the word before it the first name, the
// rest the surname. "Иванов Иван" gives a surname and a first name only.
struct NameParts {
    QString surname;
    QString name;
    QString patronymic;

    static NameParts split(const QString& fullName);
};
