#include "spellchecker.h"

#include "appsettings.h"
#include "mzlog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QTextCodec>
#include <QTextEdit>
#include <hunspell.hxx>

std::unique_ptr<SpellChecker> SpellChecker::_instance;

namespace {
const QString defaultEncoding = QStringLiteral("ISO8859-15");
// Marks the newest rich-text check of a field, so that an older one resumed after a nested
// event loop gives up instead of overwriting newer results.
const char* const checkRunProperty = "_orvaneSpellCheckRun";

QTextCodec* codecFor(const QString& encoding) {
    if (QTextCodec* codec = QTextCodec::codecForName(encoding.toLatin1()))
        return codec;
    // Hunspell's name for Windows-1251; the toolkit knows it without the vendor prefix.
    const QString vendor = QStringLiteral("microsoft-");
    if (encoding.startsWith(vendor, Qt::CaseInsensitive))
        return QTextCodec::codecForName(encoding.mid(vendor.size()).toLatin1());
    return nullptr;
}

// One line of a text file without its line ending.
QByteArray chompLine(QByteArray line) {
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line;
}

bool isWordCharacter(QChar c) {
    return c.isLetter() || c.isDigit();
}

bool endsWithoutNewline(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0 || !file.seek(file.size() - 1))
        return false;
    return file.read(1) != "\n";
}
} // namespace

SpellChecker::SpellChecker(const QString& dictionaryBase, const QString& userDictionary)
    : _hunspell(std::make_unique<Hunspell>(QFile::encodeName(dictionaryBase + QStringLiteral(".aff")).constData(),
                                           QFile::encodeName(dictionaryBase + QStringLiteral(".dic")).constData())),
      _userDictionary(userDictionary), _encoding(defaultEncoding) {
    readEncoding(dictionaryBase + QStringLiteral(".aff"));
    _codec = codecFor(_encoding);
    if (!_codec) {
        MZ_LOG() << "Unknown dictionary encoding" << _encoding;
        return;
    }
    readUserDictionary();
}

SpellChecker::~SpellChecker() = default;

void SpellChecker::readEncoding(const QString& affixPath) {
    QFile file(affixPath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QRegularExpression set(QStringLiteral("^\\s*SET\\s+([A-Z0-9\\-]+)\\s*"),
                                 QRegularExpression::CaseInsensitiveOption);
    // Comments and blank lines may precede the SET line, so the whole header is searched.
    bool first = true;
    while (!file.atEnd()) {
        QByteArray line = chompLine(file.readLine());
        if (first && line.startsWith("\xEF\xBB\xBF"))
            line.remove(0, 3);
        first = false;
        const QRegularExpressionMatch match = set.match(QString::fromLatin1(line));
        if (match.hasMatch()) {
            _encoding = match.captured(1);
            qDebug() << "Encoding set to" << _encoding;
            return;
        }
    }
}

void SpellChecker::readUserDictionary() {
    if (_userDictionary.isEmpty()) {
        qDebug() << "User dictionary not set.";
        return;
    }
    QFile file(_userDictionary);
    if (!file.open(QIODevice::ReadOnly)) {
        MZ_LOG() << "User dictionary in" << _userDictionary << "could not be opened";
        return;
    }
    QTextCodec* fileCodec = QTextCodec::codecForLocale();
    while (!file.atEnd()) {
        const QByteArray line = chompLine(file.readLine());
        if (line.isEmpty())
            break;
        const QString word = fileCodec->toUnicode(line).trimmed().normalized(QString::NormalizationForm_C);
        if (word.isEmpty() || _userWords.contains(word))
            continue;
        _hunspell->add(encode(word).toStdString());
        _userWords.insert(word);
    }
}

QByteArray SpellChecker::encode(const QString& word) const {
    return _codec ? _codec->fromUnicode(word) : QByteArray();
}

bool SpellChecker::init() {
    if (_instance)
        return true;
    const QString base = AppSettings::dataPath() + QStringLiteral("/dict/ru_RU");
    const QString userFolder = AppSettings::userSettingsPath() + QStringLiteral("/dict");
    const QString userDictionary = userFolder + QStringLiteral("/user.dic");
    if (!QFileInfo(base + QStringLiteral(".dic")).isFile())
        return false;
    // Without its affix file Hunspell loads the word list half-read and misjudges words.
    if (!QFileInfo(base + QStringLiteral(".aff")).isFile()) {
        MZ_LOG() << "Affix file not found" << base + QStringLiteral(".aff");
        return false;
    }
    QDir().mkpath(userFolder);
    QFile userFile(userDictionary);
    if (!userFile.exists() && !userFile.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        MZ_LOG() << "User dictionary in" << userDictionary << "could not be created";
    userFile.close();

    auto checker = std::make_unique<SpellChecker>(base, userDictionary);
    if (!checker->isValid())
        return false;
    _instance = std::move(checker);
    return true;
}

SpellChecker* SpellChecker::instance() {
    return _instance.get();
}

void SpellChecker::release() {
    _instance.reset();
}

bool SpellChecker::spell(const QString& word) const {
    if (!_codec || word.isEmpty())
        return true;
    // Pasted text may carry letters decomposed into base and mark; the dictionary has them composed.
    return _hunspell->spell(encode(word.normalized(QString::NormalizationForm_C)).toStdString());
}

bool SpellChecker::addToUserWordlist(const QString& text) {
    const QString word = text.trimmed().normalized(QString::NormalizationForm_C);
    // An empty line ends the reading of the file; a line break would make one.
    if (word.isEmpty() || word.contains(QLatin1Char('\n')) || word.contains(QLatin1Char('\r')) || !_codec)
        return false;
    _hunspell->add(encode(word).toStdString());
    if (_userDictionary.isEmpty()) {
        qDebug() << "User dictionary not set.";
        return false;
    }
    if (_userWords.contains(word))
        return true;
    // A hand-edited file may lack its last line end; the new word must not join the last one.
    const bool separate = endsWithoutNewline(_userDictionary);
    QFile file(_userDictionary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        MZ_LOG() << "User dictionary in" << _userDictionary << "could not be opened for appending a new word";
        return false;
    }
    const QByteArray line = (separate ? QByteArray("\n") : QByteArray()) +
                            QTextCodec::codecForLocale()->fromUnicode(word) + QByteArray("\n");
    if (file.write(line) != line.size()) {
        MZ_LOG() << "User dictionary in" << _userDictionary << "could not be opened for appending a new word";
        return false;
    }
    _userWords.insert(word);
    return true;
}

QTextCharFormat SpellChecker::errorFormat() {
    QTextCharFormat format;
    format.setUnderlineStyle(QTextCharFormat::SpellCheckUnderline);
    format.setUnderlineColor(QColor(QStringLiteral("red")));
    return format;
}

void SpellChecker::checkLineEdit(QLineEdit* field) {
    const SpellChecker* checker = instance();
    // Masked text is not shown, and an input-method event would clear a password-on-edit field.
    if (!checker || !field || field->echoMode() != QLineEdit::Normal)
        return;
    const QString text = field->text();
    const int cursor = field->cursorPosition();
    const QTextCharFormat format = errorFormat();
    QList<QInputMethodEvent::Attribute> attributes;
    for (int start = 0; start < text.size();) {
        if (!isWordCharacter(text.at(start))) {
            ++start;
            continue;
        }
        int end = start + 1;
        while (end < text.size() && (isWordCharacter(text.at(end)) || text.at(end).isMark()))
            ++end;
        if (!checker->spell(text.mid(start, end - start)))
            attributes << QInputMethodEvent::Attribute(QInputMethodEvent::TextFormat, start - cursor, end - start,
                                                       format);
        start = end;
    }
    // The line edit keeps input-method formats relative to its cursor until the next such event.
    QInputMethodEvent event(QString(), attributes);
    QCoreApplication::sendEvent(field, &event);
}

void SpellChecker::checkTextEdit(QTextEdit* field) {
    const SpellChecker* checker = instance();
    if (!checker || !field)
        return;
    static int lastRun = 0;
    const int run = ++lastRun;
    field->setProperty(checkRunProperty, run);
    QPointer<QTextEdit> guard(field);
    // Typing goes on during the check; it must neither land in a deleted field nor be overwritten.
    const auto abandoned = [&] {
        return !guard || guard->property(checkRunProperty).toInt() != run || instance() != checker;
    };

    const QTextCharFormat format = errorFormat();
    QList<QTextEdit::ExtraSelection> marks;
    QTextCursor word(field->document());
    while (!word.atEnd()) {
        QCoreApplication::processEvents();
        if (abandoned())
            return;
        const int start = word.position();
        word.movePosition(QTextCursor::EndOfWord, QTextCursor::KeepAnchor);
        const QString text = word.selectedText();
        int skip = 0;
        while (skip < text.size() && !text.at(skip).isLetter())
            ++skip;
        // Quotes, dashes and ellipses are not word separators for the cursor; they are not part of the word.
        int end = text.size();
        while (end > skip && !isWordCharacter(text.at(end - 1)) && !text.at(end - 1).isMark())
            --end;
        if (skip < end && !checker->spell(text.mid(skip, end - skip))) {
            QTextCursor range(word);
            range.setPosition(start + skip);
            range.setPosition(start + end, QTextCursor::KeepAnchor);
            marks << QTextEdit::ExtraSelection{range, format};
        }
        word.clearSelection();
        if ((!word.movePosition(QTextCursor::NextWord) || word.position() <= start) &&
            !word.movePosition(QTextCursor::NextCharacter))
            break;
    }
    if (abandoned())
        return;
    field->setExtraSelections(marks);
}
