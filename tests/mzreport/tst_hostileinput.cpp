#include "textfield.h"
#include "rendertool.h"
#include "testregistry.h"

#include <QJsonArray>
#include <QtTest>

namespace {
constexpr double tolerance = 0.3;
const QString cutMessage = QStringLiteral("table data does not fit on the form and is cut");
const QString filler = QStringLiteral("абв ");
const QString smallFont = QStringLiteral("Liberation Serif,4,-1,5,50,0,0,0,0,0");

// `length` characters of filler words with the word "М<offset>" at each of `markers`.
QString markedText(int length, const QList<int>& markers) {
    QString text;
    for (int marker : markers) {
        while (text.size() < marker)
            text += filler;
        text = text.left(marker) + QStringLiteral(" М%1 ").arg(marker);
    }
    while (text.size() < length)
        text += filler;
    return text.left(length);
}

bool hasWord(const QList<PdfWord>& words, const QString& text) {
    return std::any_of(words.begin(), words.end(), [&](const PdfWord& word) { return word.text == text; });
}

// The words in reading order, joined, without the break opportunities long words get.
QString joined(QList<PdfWord> words) {
    std::sort(words.begin(), words.end(), [](const PdfWord& a, const PdfWord& b) {
        return qAbs(a.top - b.top) > 0.2 ? a.top < b.top : a.left < b.left;
    });
    QString text;
    for (const PdfWord& word : words)
        text += word.text;
    return text.remove(QChar(0x200B));
}

QJsonArray numbers(const QList<double>& values) {
    QJsonArray array;
    for (double value : values)
        array << value;
    return array;
}
} // namespace

// Templates and data far beyond any form: texts are cut, tables lay out only the rows that can be
// printed, markup that Qt cannot lay out in bounded time is shown as plain text; what a form
// prints stays as it was.
class TestHostileInput : public QObject {
    Q_OBJECT

    struct Output {
        QList<PdfWord> words;
        QList<QImage> sides;
        QString log;
    };

    RenderTool _tool;

    // Renders `page` at 300 dpi, with `rows` (the header first) as model "m" when given.
    Output render(const QJsonObject& page, const QList<QStringList>& rows = {}, QStringList extra = {}) {
        if (!rows.isEmpty())
            extra << QStringLiteral("--model") << QStringLiteral("m=") + _tool.writeCsv(rows);
        const QString pdf = _tool.render(page, 300, extra, true);
        Output output;
        output.log = _tool.errorText();
        if (pdf.isEmpty())
            return output;
        output.words = pdfWords(pdf);
        for (int side = 0; side < page.value(QStringLiteral("pagesCount")).toInt(); ++side)
            output.sides << _tool.png(side);
        return output;
    }

    static QList<QStringList> numberedRows(int count) {
        QList<QStringList> rows{{QStringLiteral("a"), QStringLiteral("b")}};
        for (int r = 0; r < count; ++r)
            rows << QStringList{QStringLiteral("R%1").arg(r), QStringLiteral("v")};
        return rows;
    }

private slots:
    void textCap_data() {
        QTest::addColumn<int>("fields");
        QTest::addColumn<bool>("throughVariable");
        QTest::addColumn<QList<int>>("printed");
        QTest::addColumn<QList<int>>("notPrinted");
        const int cap = TextField::maxTextLength;
        QTest::newRow("template text") << 1 << false << QList<int>{100, cap - 500} << QList<int>{cap + 1000};
        QTest::newRow("filled text") << 1 << true << QList<int>{100, cap - 500} << QList<int>{cap + 1000};
        // The fields of a page share what they lay out: each of many gets less than the cap.
        QTest::newRow("many fields") << 100 << false << QList<int>{100} << QList<int>{cap - 500, cap + 1000};
    }

    // A text longer than a field may show prints its beginning, in a box that would show it all.
    void textCap() {
        QFETCH(int, fields);
        QFETCH(bool, throughVariable);
        QFETCH(QList<int>, printed);
        QFETCH(QList<int>, notPrinted);
        const QString text = markedText(TextField::maxTextLength + 10000, printed + notPrinted);
        QJsonObject field = textFieldObject(10, 10, 270, 190, throughVariable ? QStringLiteral("$V{long}") : text);
        field.insert(QStringLiteral("wordWrap"), true);
        field.insert(QStringLiteral("font"), smallFont);
        QJsonArray array;
        for (int i = 0; i < fields; ++i)
            array << field;
        const QStringList extra =
            throughVariable ? QStringList{QStringLiteral("--var"), QStringLiteral("long=") + text} : QStringList();
        const Output output = render(pageObject(array), {}, extra);
        QVERIFY2(!output.words.isEmpty(), qPrintable(output.log));
        for (int marker : printed)
            QVERIFY2(hasWord(output.words, QStringLiteral("М%1").arg(marker)), qPrintable(QString::number(marker)));
        for (int marker : notPrinted)
            QVERIFY2(!hasWord(output.words, QStringLiteral("М%1").arg(marker)), qPrintable(QString::number(marker)));
        QVERIFY2(output.log.contains(QStringLiteral("Text of the field at 10 10 mm cut to")), qPrintable(output.log));
    }

    void tableRows_data() {
        QTest::addColumn<int>("pagesCount");
        QTest::addColumn<QList<double>>("maxHeights");
        QTest::addColumn<QList<double>>("splitX");
        QTest::addColumn<QList<double>>("splitY");
        QTest::addColumn<bool>("cut");
        QTest::newRow("one part, cut") << 1 << QList<double>{100} << QList<double>{0} << QList<double>{0} << true;
        QTest::newRow("two parts, cut") << 1 << QList<double>{100, 60} << QList<double>{110, 0} << QList<double>{20, 0}
                                        << true;
        // Without a maximum height the rows run off the last side: not printed, not a cut.
        QTest::newRow("unlimited") << 1 << QList<double>() << QList<double>() << QList<double>() << false;
        QTest::newRow("continued without limit")
            << 1 << QList<double>{100} << QList<double>{110} << QList<double>{20} << false;
        QTest::newRow("unlimited over two sides")
            << 2 << QList<double>() << QList<double>() << QList<double>() << false;
    }

    // A table with far more rows than its parts hold prints exactly what the same table with the
    // rows it prints and one more does, and reports the cut the same way.
    void tableRows() {
        QFETCH(int, pagesCount);
        QFETCH(QList<double>, maxHeights);
        QFETCH(QList<double>, splitX);
        QFETCH(QList<double>, splitY);
        QFETCH(bool, cut);
        QJsonObject table = tableFieldObject(20, 30, {40.0, 20.0}, {QStringLiteral("a"), QStringLiteral("b")}, 10, 7);
        table.insert(QStringLiteral("splitsCount"), maxHeights.size());
        table.insert(QStringLiteral("maxSplitHeight"), numbers(maxHeights));
        table.insert(QStringLiteral("splitX"), numbers(splitX));
        table.insert(QStringLiteral("splitY"), numbers(splitY));
        const QJsonObject page = tablePageObject({table}, pagesCount);

        const int many = 20000;
        const Output all = render(page, numberedRows(many));
        QVERIFY2(!all.words.isEmpty(), qPrintable(all.log));
        int printed = 0;
        while (hasWord(all.words, QStringLiteral("R%1").arg(printed)))
            ++printed;
        QVERIFY(printed > 5 && printed < 100);
        QVERIFY(!hasWord(all.words, QStringLiteral("R%1").arg(printed + 1)));
        if (!cut) {
            // Rows run to the bottom of the last side.
            const PdfWord last = *std::find_if(all.words.begin(), all.words.end(), [&](const PdfWord& word) {
                return word.text == QStringLiteral("R%1").arg(printed - 1);
            });
            QVERIFY2(last.page == pagesCount - 1 && last.top > 210.0 - 2 * 7.0, qPrintable(describeWords({last})));
        }

        const Output fitting = render(page, numberedRows(printed + 1));
        QCOMPARE(all.log.contains(cutMessage), cut);
        QCOMPARE(fitting.log.contains(cutMessage), cut);
        QCOMPARE(describeWords(all.words), describeWords(fitting.words));
        QCOMPARE(all.sides.size(), pagesCount);
        for (int side = 0; side < pagesCount; ++side)
            QVERIFY2(all.sides.at(side) == fitting.sides.at(side), qPrintable(QString::number(side)));
    }

    void longWord_data() {
        QTest::addColumn<bool>("inTable");
        QTest::addColumn<QString>("before");
        QTest::newRow("text field") << false << QString();
        QTest::newRow("table cell") << true << QString();
        QTest::newRow("after a word") << false << QStringLiteral("Слово ");
        QTest::newRow("after a word in a cell") << true << QStringLiteral("Слово ");
    }

    // An unbroken word far longer than the cap is cut to it and fills line after line, starting
    // on a line of its own.
    void longWord() {
        QFETCH(bool, inTable);
        QFETCH(QString, before);
        const QString text = before + QString(TextField::maxTextLength + 10000, QChar(0x0416));
        QJsonObject field;
        QList<QStringList> rows;
        if (inTable) {
            field = tableFieldObject(10, 10, {250.0}, {QStringLiteral("a")}, 0, 5);
            rows = {{QStringLiteral("a")}, {text}};
        } else {
            field = textFieldObject(10, 10, 250, 190, text);
        }
        field.insert(QStringLiteral("wordWrap"), true);
        field.insert(QStringLiteral("font"), QStringLiteral("Liberation Serif,3,-1,5,50,0,0,0,0,0"));
        const Output output = render(inTable ? tablePageObject({field}) : pageObject({field}), rows);
        QVERIFY2(!output.words.isEmpty(), qPrintable(output.log));
        QCOMPARE(joined(output.words), text.left(TextField::maxTextLength).remove(QLatin1Char(' ')));
        QVERIFY2(output.log.contains(QStringLiteral("cut to 20000 characters")), qPrintable(output.log));

        QMap<int, QList<PdfWord>> lines;
        for (const PdfWord& word : output.words)
            lines[qRound(word.top * 4)] << word;
        QStringList texts;
        for (const QList<PdfWord>& line : qAsConst(lines)) {
            QVERIFY2(qAbs(line.first().left - 10.0) <= tolerance, qPrintable(describeWords(line)));
            texts << joined(line);
        }
        if (!before.isEmpty())
            QCOMPARE(texts.takeFirst(), before.trimmed());
        QVERIFY2(texts.size() > 20, qPrintable(texts.join(QLatin1Char('\n'))));
        for (int i = 1; i + 1 < texts.size(); ++i)
            QCOMPARE(texts.at(i).size(), texts.at(0).size());
    }

    void markup_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("printed");
        QTest::newRow("rich text") << "<b>Жирный</b> и <i>курсив</i>"
                                   << "Жирныйикурсив";
        // Nested tables take time exponential in their depth; these would take hours.
        const QString nested = QStringLiteral("<table><tr><td>").repeated(30) + "x";
        QTest::newRow("nested tables") << nested << nested;
        QTest::newRow("image") << "<img src=\"/dev/zero\">x"
                               << "<imgsrc=\"/dev/zero\">x";
        // Read while the markup is parsed: nothing is read, the rest is laid out.
        QTest::newRow("style sheet and background")
            << "<link rel=\"stylesheet\" href=\"/dev/zero\"><p style=\"background-image:url(/dev/zero)\">x</p>"
            << "x";
        const QString tags = QStringLiteral("<i></i>").repeated(100);
        QTest::newRow("many tags") << "<b>x</b> " + tags << "<b>x</b>" + tags;
    }

    // Markup is laid out as rich text only when its time and height are bounded, else as plain text.
    void markup() {
        QFETCH(QString, text);
        QFETCH(QString, printed);
        QJsonObject field = textFieldObject(10, 10, 270, 190, text);
        field.insert(QStringLiteral("wordWrap"), true);
        field.insert(QStringLiteral("font"), smallFont);
        const Output output = render(pageObject({field}));
        QCOMPARE(joined(output.words), printed);
    }

    void tallLines_data() {
        QTest::addColumn<QString>("font");
        QTest::addColumn<double>("lineHeight");
        QTest::newRow("400 pt") << "Liberation Serif,400,-1,5,50,0,0,0,0,0" << 0.0;
        QTest::newRow("line height of 5 cm") << smallFont << 50.0;
    }

    // Lines taller in all than Qt lays out are left out; the first ones print where they would.
    void tallLines() {
        QFETCH(QString, font);
        QFETCH(double, lineHeight);
        QList<double> tops;
        for (const QString& text :
             {QStringLiteral("Первая"), QStringLiteral("Первая\n") + QString("Ж\n").repeated(15000)}) {
            QJsonObject field = textFieldObject(10, 10, 270, 190, text);
            field.insert(QStringLiteral("wordWrap"), true);
            field.insert(QStringLiteral("font"), font);
            field.insert(QStringLiteral("lineHeight"), lineHeight);
            const QString pdf = _tool.render(pageObject({field}), 1200);
            QVERIFY2(!pdf.isEmpty(), qPrintable(_tool.errorText()));
            const QList<PdfWord> words = pdfWords(pdf);
            tops << (words.isEmpty() ? -1.0 : words.first().top);
        }
        QCOMPARE(tops.at(0), tops.at(1));
    }
};

ORVANE_TEST(TestHostileInput)
#include "tst_hostileinput.moc"
