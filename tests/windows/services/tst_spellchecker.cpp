#include "appsettings.h"
#include "inputhelpers.h"
#include "spellchecker.h"
#include "spellfixture.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QLineEdit>
#include <QProcess>
#include <QTextCodec>
#include <QTextEdit>
#include <QtTest>
#include <memory>

namespace {
void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), qint64(content.size()));
}

QByteArray inLocale(const QString& text) {
    return QTextCodec::codecForLocale()->fromUnicode(text);
}

bool isErrorFormat(const QTextCharFormat& format) {
    return format.underlineStyle() == QTextCharFormat::SpellCheckUnderline && format.underlineColor() == Qt::red;
}

// Marked words of a rich-text field as "text@position".
QStringList marks(const QTextEdit& field) {
    QStringList result;
    for (const QTextEdit::ExtraSelection& s : field.extraSelections())
        result << (isErrorFormat(s.format) ? QString() : QStringLiteral("(not an error format) ")) +
                      s.cursor.selectedText() + QLatin1Char('@') + QString::number(s.cursor.selectionStart());
    return result;
}

QStringList expectedMarks(const QString& text, const QStringList& words) {
    QStringList result;
    for (const QString& word : words)
        result << word + QLatin1Char('@') + QString::number(text.indexOf(word));
    return result;
}

// Leftmost column holding a clearly red pixel, -1 when none.
int firstRedColumn(const QImage& image) {
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 180 && c.green() < 90 && c.blue() < 90)
                return x;
        }
    return -1;
}

} // namespace

class TestSpellChecker : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { SpellChecker::release(); }

    void noCheckerWithoutUsableDictionary_data() {
        QTest::addColumn<QByteArray>("affix");
        QTest::addColumn<QByteArray>("words");
        QTest::addColumn<bool>("wordsAsFolder");
        QTest::newRow("no dictionary") << QByteArray() << QByteArray() << false;
        QTest::newRow("word list without affix file") << QByteArray() << QByteArray("1\nслово\n") << false;
        QTest::newRow("word list is a folder") << QByteArray("SET UTF-8\n") << QByteArray() << true;
        QTest::newRow("unknown encoding") << QByteArray("SET FOO-9\n") << QByteArray("1\nслово\n") << false;
    }

    void noCheckerWithoutUsableDictionary() {
        QFETCH(QByteArray, affix);
        QFETCH(QByteArray, words);
        QFETCH(bool, wordsAsFolder);
        TestEnvironment env;
        const QString base = AppSettings::dataPath() + QStringLiteral("/dict/ru_RU");
        if (!affix.isEmpty())
            writeFile(base + QStringLiteral(".aff"), affix);
        if (!words.isEmpty())
            writeFile(base + QStringLiteral(".dic"), words);
        if (wordsAsFolder)
            QVERIFY(QDir().mkpath(base + QStringLiteral(".dic")));

        QVERIFY(!SpellChecker::init());
        QVERIFY(!SpellChecker::instance());

        // Fields stay as they are and nothing is sent to them.
        QLineEdit line(QStringLiteral("мамма"));
        InputMethodSpy spy(&line);
        SpellChecker::checkLineEdit(&line);
        SpellChecker::checkLineEdit(nullptr);
        QCOMPARE(spy.events.size(), 0);
        QTextEdit rich;
        rich.setPlainText(QStringLiteral("мамма"));
        SpellChecker::checkTextEdit(&rich);
        SpellChecker::checkTextEdit(nullptr);
        QVERIFY(rich.extraSelections().isEmpty());
    }

    void russianWords_data() {
        QTest::addColumn<QString>("word");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("plain") << QStringLiteral("мама") << true;
        QTest::newRow("misspelt") << QStringLiteral("рмау") << false;
        QTest::newRow("capitalised name") << QStringLiteral("Москва") << true;
        QTest::newRow("name in lower case") << QStringLiteral("москва") << false;
        QTest::newRow("upper case") << QStringLiteral("МАМА") << true;
        QTest::newRow("yo") << QStringLiteral("ёлка") << true;
        QTest::newRow("inflected") << QStringLiteral("профессиональному") << true;
        QTest::newRow("doubled letter") << QStringLiteral("профессионнальному") << false;
        QTest::newRow("latin") << QStringLiteral("hello") << false;
        QTest::newRow("digits") << QStringLiteral("2020") << true;
        QTest::newRow("decomposed letter") << QStringLiteral("мои\u0306") << true;
    }

    void russianWords() {
        QFETCH(QString, word);
        QFETCH(bool, accepted);
        RussianChecker russian;
        QVERIFY(russian.ready);
        QCOMPARE(SpellChecker::instance()->spell(word), accepted);
    }

    void lineEditMarksRejectedWords_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("cursor");
        // Ranges as sent: the word's start minus the cursor position, then its length.
        QTest::addColumn<QStringList>("ranges");
        QTest::newRow("all correct") << QStringLiteral("мама мыла раму") << 14 << QStringList();
        QTest::newRow("cursor at end") << QStringLiteral("мама мыла рмау") << 14 << QStringList{"-4+4"};
        QTest::newRow("cursor at start") << QStringLiteral("мама мыла рмау") << 0 << QStringList{"10+4"};
        QTest::newRow("cursor between words") << QStringLiteral("рмау и мамма") << 5 << QStringList{"-5+4", "2+5"};
        QTest::newRow("hyphenated parts") << QStringLiteral("северо-западнный") << 0 << QStringList{"7+9"};
        QTest::newRow("hyphenated correct") << QStringLiteral("северо-западный") << 0 << QStringList();
        QTest::newRow("digit runs on their own") << QStringLiteral("дом 12 и 5") << 0 << QStringList();
        QTest::newRow("digits joined to letters") << QStringLiteral("дом 12мама") << 0 << QStringList{"4+6"};
        QTest::newRow("punctuation around") << QStringLiteral("«мама», (рмау)!") << 0 << QStringList{"9+4"};
        QTest::newRow("decomposed letter inside a word") << QStringLiteral("мои\u0306 дом") << 0 << QStringList();
        QTest::newRow("empty") << QString() << 0 << QStringList();
    }

    void lineEditMarksRejectedWords() {
        QFETCH(QString, text);
        QFETCH(int, cursor);
        QFETCH(QStringList, ranges);
        RussianChecker russian;
        QVERIFY(russian.ready);
        QLineEdit field(text);
        field.setCursorPosition(cursor);
        InputMethodSpy spy(&field);
        SpellChecker::checkLineEdit(&field);
        // One event, also when nothing is wrong: it clears the underlines of the previous check.
        QCOMPARE(spy.events.size(), 1);
        QCOMPARE(spy.lastRanges(), ranges);
        for (const InputMethodSpy::Range& r : spy.events.last())
            QVERIFY(isErrorFormat(r.format));
        QCOMPARE(field.text(), text);
        QCOMPARE(field.cursorPosition(), cursor);
    }

    void lineEditShowsRedUnderlineUnderRejectedWord_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("before");
        QTest::newRow("misspelt second word") << QStringLiteral("мама рмау") << QStringLiteral("мама ");
        QTest::newRow("all correct") << QStringLiteral("мама мыла") << QString();
    }

    void lineEditShowsRedUnderlineUnderRejectedWord() {
        QFETCH(QString, text);
        QFETCH(QString, before);
        RussianChecker russian;
        QVERIFY(russian.ready);
        QLineEdit field(text);
        field.resize(300, 40);
        field.show();
        QVERIFY(QTest::qWaitForWindowExposed(&field));
        field.setCursorPosition(text.size());
        SpellChecker::checkLineEdit(&field);
        const int red = firstRedColumn(field.grab().toImage());
        if (before.isEmpty()) {
            QCOMPARE(red, -1);
        } else {
            QVERIFY(red >= 0);
            QVERIFY2(red >= field.fontMetrics().horizontalAdvance(before), qPrintable(QString::number(red)));
        }
    }

    void lineEditWithMaskedTextIsLeftAlone() {
        RussianChecker russian;
        QVERIFY(russian.ready);
        QLineEdit field(QStringLiteral("мамма рмау"));
        field.setEchoMode(QLineEdit::PasswordEchoOnEdit);
        InputMethodSpy spy(&field);
        SpellChecker::checkLineEdit(&field);
        QCOMPARE(field.text(), QStringLiteral("мамма рмау"));
        QCOMPARE(spy.events.size(), 0);
    }

    void textEditMarksRejectedWords_data() {
        QTest::addColumn<QString>("content");
        QTest::addColumn<bool>("html");
        QTest::addColumn<QStringList>("rejected");
        QTest::newRow("plain") << QStringLiteral("Мама мыла рмау.") << false << QStringList{"рмау"};
        QTest::newRow("two paragraphs") << QStringLiteral("Первый абзатс.\nВторой, северо-западнный край.") << false
                                        << QStringList{"абзатс", "западнный"};
        QTest::newRow("quotes and dashes") << QStringLiteral("«Мама» — «рмау»… (мыла)") << false << QStringList{"рмау"};
        QTest::newRow("leading digits skipped") << QStringLiteral("в 2020году 12рмау") << false << QStringList{"рмау"};
        QTest::newRow("formatting inside a word") << QStringLiteral("<p>Мама <b>мы</b>ла рмау</p><p>и <i>мамма</i></p>")
                                                  << true << QStringList{"рмау", "мамма"};
        QTest::newRow("all correct") << QStringLiteral("Мама мыла раму.") << false << QStringList();
        QTest::newRow("empty") << QString() << false << QStringList();
    }

    void textEditMarksRejectedWords() {
        QFETCH(QString, content);
        QFETCH(bool, html);
        QFETCH(QStringList, rejected);
        RussianChecker russian;
        QVERIFY(russian.ready);
        QTextEdit field;
        html ? field.setHtml(content) : field.setPlainText(content);
        const int length = field.toPlainText().size();
        QTextCursor cursor = field.textCursor();
        cursor.setPosition(qMin(1, length));
        cursor.setPosition(qMin(3, length), QTextCursor::KeepAnchor);
        field.setTextCursor(cursor);

        SpellChecker::checkTextEdit(&field);
        QCOMPARE(marks(field), expectedMarks(field.toPlainText(), rejected));
        QCOMPARE(field.textCursor().anchor(), qMin(1, length));
        QCOMPARE(field.textCursor().position(), qMin(3, length));
        QCOMPARE(field.toPlainText().size(), length);
    }

    void textEditLatestCheckWins() {
        RussianChecker russian;
        QVERIFY(russian.ready);
        QTextEdit field;
        InputHelpers::installSpellChecking(&field);
        // The text changes again while the first check yields to the event loop.
        QTimer::singleShot(0, &field, [&field] { field.setPlainText(QStringLiteral("другой текст с ошыбкой")); });
        field.setPlainText(QStringLiteral("мама мыла рмау"));
        QCOMPARE(marks(field), expectedMarks(field.toPlainText(), {QStringLiteral("ошыбкой")}));
    }

    void textEditCheckSurvivesDeletedField() {
        RussianChecker russian;
        QVERIFY(russian.ready);
        QPointer<QTextEdit> field = new QTextEdit;
        field->setPlainText(QStringLiteral("рмау мамма рмау мамма рмау"));
        QTimer::singleShot(0, [&field] { delete field.data(); });
        SpellChecker::checkTextEdit(field);
        QVERIFY(field.isNull());
    }

    void userDictionary_data() {
        QTest::addColumn<QString>("before"); // null: no file yet
        QTest::addColumn<QString>("word");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QStringList>("accepted"); // by a checker created afterwards
        QTest::addColumn<QStringList>("rejected");
        const QString one = QStringLiteral("кваквак\n");
        const QStringList none;
        QTest::newRow("first word") << QString() << QStringLiteral(" Орвейн ") << true << QStringLiteral("Орвейн\n")
                                    << QStringList{"Орвейн"} << none;
        QTest::newRow("already there") << QStringLiteral("Орвейн\n") << QStringLiteral("Орвейн") << true
                                       << QStringLiteral("Орвейн\n") << QStringList{"Орвейн"} << none;
        QTest::newRow("empty word") << one << QString() << false << one << QStringList{"кваквак"} << none;
        QTest::newRow("blank word") << one << QStringLiteral(" \t ") << false << one << QStringList{"кваквак"} << none;
        QTest::newRow("line breaks inside") << one << QStringLiteral("ыкыр\n\nбырк") << false << one
                                            << QStringList{"кваквак"} << QStringList{"ыкыр", "бырк"};
        QTest::newRow("no line end at the end")
            << QStringLiteral("кваквак") << QStringLiteral("мрямряв") << true << QStringLiteral("кваквак\nмрямряв\n")
            << QStringList{"кваквак", "мрямряв"} << none;
        QTest::newRow("windows line ends")
            << QStringLiteral("кваквак\r\n  мрямряв \r\n") << QString() << false
            << QStringLiteral("кваквак\r\n  мрямряв \r\n") << QStringList{"кваквак", "мрямряв"} << none;
        QTest::newRow("empty line ends the list")
            << QStringLiteral("кваквак\n\nмрямряв\n") << QString() << false << QStringLiteral("кваквак\n\nмрямряв\n")
            << QStringList{"кваквак"} << QStringList{"мрямряв"};
    }

    void userDictionary() {
        QFETCH(QString, before);
        QFETCH(QString, word);
        QFETCH(bool, stored);
        QFETCH(QString, after);
        QFETCH(QStringList, accepted);
        QFETCH(QStringList, rejected);
        TestEnvironment env;
        QVERIFY(installRussianDictionary());
        const QString path = env.userFolder() + QStringLiteral("/dict/user.dic");
        if (!before.isNull())
            writeFile(path, inLocale(before));
        QVERIFY(SpellChecker::init());
        SpellChecker* checker = SpellChecker::instance();
        QCOMPARE(checker->encoding(), QStringLiteral("UTF-8"));
        QVERIFY(SpellChecker::init());
        QCOMPARE(SpellChecker::instance(), checker);
        QCOMPARE(readFileBytes(path), inLocale(before)); // created empty when missing

        QLineEdit field(QStringLiteral("вызов ") + word.trimmed());
        InputMethodSpy spy(&field);
        InputHelpers::installSpellChecking(&field);
        QCOMPARE(checker->addToUserWordlist(word), stored);
        QCOMPARE(readFileBytes(path), inLocale(after));
        if (stored) {
            // Accepted at once, also in an open field at its next change.
            QVERIFY(checker->spell(word.trimmed()));
            field.setText(field.text() + QStringLiteral(" мама"));
            QCOMPARE(spy.lastRanges(), QStringList());
        }
        SpellChecker::release();
        QVERIFY(SpellChecker::init());
        for (const QString& w : accepted)
            QVERIFY2(SpellChecker::instance()->spell(w), qPrintable(w));
        for (const QString& w : rejected)
            QVERIFY2(!SpellChecker::instance()->spell(w), qPrintable(w));
    }

    void otherEncodings_data() {
        QTest::addColumn<QByteArray>("affix");
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QString>("misspelt");
        QTest::addColumn<QString>("userWord");
        QTest::newRow("KOI8-R after a comment and a blank line")
            << QByteArray("# test dictionary\n\nSET KOI8-R\nTRY оеа\n") << QStringLiteral("KOI8-R")
            << QStringList{"кошка", "собака"} << QStringLiteral("кошкаа") << QStringLiteral("котэ");
        QTest::newRow("ISO8859-15") << QByteArray("SET ISO8859-15\n") << QStringLiteral("ISO8859-15")
                                    << QStringList{"maison", "été", "œuvre"} << QStringLiteral("ete")
                                    << QStringLiteral("cœur");
        QTest::newRow("no SET line") << QByteArray("TRY abc\n") << QStringLiteral("ISO8859-15") << QStringList{"œuvre"}
                                     << QStringLiteral("oeuvre") << QStringLiteral("bœuf");
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBFSET UTF-8\n") << QStringLiteral("UTF-8")
                                         << QStringList{"кошка"} << QStringLiteral("кошкаа") << QStringLiteral("котэ");
        QTest::newRow("microsoft-cp1251")
            << QByteArray("SET microsoft-cp1251\n") << QStringLiteral("microsoft-cp1251") << QStringList{"кошка", "ёж"}
            << QStringLiteral("кошкаа") << QStringLiteral("котэ");
    }

    void otherEncodings() {
        QFETCH(QByteArray, affix);
        QFETCH(QString, encoding);
        QFETCH(QStringList, words);
        QFETCH(QString, misspelt);
        QFETCH(QString, userWord);
        TestEnvironment env;
        const QString base = env.root() + QStringLiteral("/pair/test");
        const QString userDictionary = env.root() + QStringLiteral("/user.dic");
        QTextCodec* codec = QTextCodec::codecForName(encoding.toLatin1());
        if (!codec)
            codec = QTextCodec::codecForName("windows-1251");
        writeFile(base + QStringLiteral(".aff"), affix);
        writeFile(base + QStringLiteral(".dic"),
                  codec->fromUnicode(QString::number(words.size()) + QLatin1Char('\n') + words.join('\n') + '\n'));
        writeFile(userDictionary, QByteArray());
        {
            SpellChecker checker(base, userDictionary);
            QVERIFY(checker.isValid());
            QCOMPARE(checker.encoding(), encoding);
            for (const QString& word : words)
                QVERIFY2(checker.spell(word), qPrintable(word));
            QVERIFY(!checker.spell(misspelt));
            QVERIFY(!checker.spell(userWord));
            QVERIFY(checker.addToUserWordlist(userWord));
            QVERIFY(checker.spell(userWord));
        }
        // The user dictionary is in the locale's code page whatever the dictionary's encoding is.
        QCOMPARE(readFileBytes(userDictionary), inLocale(userWord + QStringLiteral("\n")));
        SpellChecker checker(base, userDictionary);
        QVERIFY(checker.spell(userWord));
    }

    void startupLogsCheckerState_data() {
        QTest::addColumn<bool>("breakDictionaryFolder");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("dictionary installed") << false << QByteArray("\nSpellChecker::init(): true\n");
        QTest::newRow("no dictionary") << true << QByteArray("\nSpellChecker::init(): false\n");
    }

    void startupLogsCheckerState() {
        QFETCH(bool, breakDictionaryFolder);
        QFETCH(QByteArray, line);
        TestEnvironment env;
        // A file where the folder should be: the shell cannot install the dictionary.
        if (breakDictionaryFolder)
            writeFile(env.defaultDataFolder() + QStringLiteral("/dict"), QByteArray("not a folder"));
        const QString log = env.userFolder() + QStringLiteral("/debug.txt");
        auto program = startProgram(env);
        QVERIFY(program->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(readFileBytes(log).contains("SpellChecker::init():"), 30000);
        QVERIFY2(readFileBytes(log).contains(line), readFileBytes(log).constData());
        QCOMPARE(program->state(), QProcess::Running);
        program->kill();
        program->waitForFinished(5000);
    }
};

ORVANE_TEST(TestSpellChecker)
#include "tst_spellchecker.moc"
