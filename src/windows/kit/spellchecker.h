#pragma once

#include <QSet>
#include <QString>
#include <QTextCharFormat>
#include <memory>

class Hunspell;
class QLineEdit;
class QTextCodec;
class QTextEdit;

// The process-wide Russian spell checker over Hunspell: the dictionary pair of the data folder
// plus the user's own word list. Absent when the dictionary is missing; every user checks for that.
class SpellChecker {
public:
    // Dictionary pair from `dictionaryBase` + ".aff"/".dic"; `userDictionary` may be empty.
    SpellChecker(const QString& dictionaryBase, const QString& userDictionary);
    ~SpellChecker();
    SpellChecker(const SpellChecker&) = delete;
    SpellChecker& operator=(const SpellChecker&) = delete;

    // Creates the instance from the data folder's "dict/ru_RU" pair and the user settings
    // folder's "dict/user.dic"; false (no instance) when the pair is missing or unusable.
    static bool init();
    static SpellChecker* instance();
    // Destroys the instance; the next init() creates it anew.
    static void release();

    // False when the affix file names an encoding the toolkit cannot convert to.
    bool isValid() const { return _codec != nullptr; }
    QString encoding() const { return _encoding; }
    QString userDictionaryPath() const { return _userDictionary; }

    bool spell(const QString& word) const;
    // Accepts the word from now on and appends it to the user dictionary. False when the word is
    // blank or could not be stored there (it is still accepted for this run).
    bool addToUserWordlist(const QString& word);

    // Re-check a whole field and underline the rejected words; no-ops without a checker or field.
    static void checkLineEdit(QLineEdit* field);
    static void checkTextEdit(QTextEdit* field);

    // The underline of a rejected word.
    static QTextCharFormat errorFormat();

private:
    void readEncoding(const QString& affixPath);
    void readUserDictionary();
    QByteArray encode(const QString& word) const;

    std::unique_ptr<Hunspell> _hunspell;
    QString _userDictionary;
    QString _encoding;
    QTextCodec* _codec = nullptr;
    // Words of the user dictionary, so that none is appended twice.
    QSet<QString> _userWords;

    static std::unique_ptr<SpellChecker> _instance;
};
