#pragma once

#include <QString>
#include <QStringList>

// A full name in one text, split the way a pasted name is split in the document dialog: the last
// word is the patronymic when there are three or more, the word before it the first name, the
// rest the surname. "Иванов Иван" gives a surname and a first name only. A Turkic patronymic
// ends in a word of its own ("Рашид оглы", "Гасан кызы"): that word goes with the one before it,
// and the two are the patronymic whenever there is a word before them.
struct NameParts {
    QString surname;
    QString name;
    QString patronymic;

    static NameParts split(const QString& fullName);
    // The words of a full name as split() counts them, a patronymic's closing word joined to the
    // word before it: "Мамедов Эльдар Рашид оглы" is three.
    static QStringList words(const QString& fullName);
    // "оглы", "кызы", "улы", "уулу", "угли" in any letter case.
    static bool isPatronymicEnding(const QString& word);
};
