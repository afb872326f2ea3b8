#include "rendertool.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QJsonArray>
#include <QStandardPaths>
#include <QtTest>

namespace {
// Placement must hold to this on printed output.
constexpr double tolerance = 0.3;
const QString cutMessage = QStringLiteral("table data does not fit on the form and is cut");

// In reading order of the printed lines: top to bottom, then left to right.
QStringList textsByLines(QList<PdfWord> words) {
    std::sort(words.begin(), words.end(), [](const PdfWord& a, const PdfWord& b) {
        if (a.page != b.page)
            return a.page < b.page;
        if (qAbs(a.top - b.top) > 0.5)
            return a.top < b.top;
        return a.left < b.left;
    });
    QStringList texts;
    for (const PdfWord& word : words)
        texts << word.text;
    return texts;
}

const PdfWord* findWord(const QList<PdfWord>& words, const QString& text) {
    for (const PdfWord& word : words)
        if (word.text == text)
            return &word;
    return nullptr;
}

QJsonArray numbers(const QList<double>& values) {
    QJsonArray array;
    for (double value : values)
        array << value;
    return array;
}

// Rule positions in millimetres from the pixel rows of an image at `dpi`.
QList<double> toMm(const QList<int>& pixels, int dpi) {
    QList<double> mm;
    for (int px : pixels)
        mm << pxToMm(px, dpi);
    return mm;
}

bool sameLines(const QList<double>& found, const QList<double>& expected, double within) {
    if (found.size() != expected.size())
        return false;
    for (int i = 0; i < found.size(); ++i)
        if (qAbs(found.at(i) - expected.at(i)) > within)
            return false;
    return true;
}

QString describeLines(const QList<double>& lines) {
    QStringList texts;
    for (double line : lines)
        texts << QString::number(line, 'f', 2);
    return texts.join(QLatin1Char(' '));
}
} // namespace

class TestTableLayout : public QObject {
    Q_OBJECT

    RenderTool _tool;

    // Renders `page` with the rows (header first) registered as model "m".
    QList<PdfWord> render(const QJsonObject& page, const QList<QStringList>& rows, int dpi,
                          const QStringList& extra = {}, bool png = false) {
        const QString csv = _tool.writeCsv(rows);
        QStringList arguments{QStringLiteral("--model"), QStringLiteral("m=") + csv};
        arguments << extra;
        const QString pdf = _tool.render(page, dpi, arguments, png);
        if (pdf.isEmpty())
            qWarning() << "render failed:" << _tool.errorText();
        return pdf.isEmpty() ? QList<PdfWord>() : pdfWords(pdf);
    }

    static QList<QStringList> grid(int rows, int columns) {
        QList<QStringList> result{{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}};
        for (int r = 0; r < rows; ++r) {
            QStringList row;
            for (int c = 0; c < 3; ++c)
                row << (c < columns ? QStringLiteral("Р%1К%2").arg(r).arg(c) : QString());
            result << row;
        }
        return result;
    }

    static const QStringList abc;

private slots:
    void initTestCase() {
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty(),
                 "pdftotext (poppler-utils) is needed to read printed positions");
    }

    void gridPositions_data() {
        QTest::addColumn<int>("dpi");
        QTest::addColumn<double>("headerHeight");
        for (int dpi : {300, 600}) {
            QTest::addRow("%d dpi, header", dpi) << dpi << 10.0;
            QTest::addRow("%d dpi, no header", dpi) << dpi << 0.0;
        }
    }

    // Header and rows where the arithmetic puts them: words at the cell corners, rules on the cell edges.
    void gridPositions() {
        QFETCH(int, dpi);
        QFETCH(double, headerHeight);
        const QList<double> widths{60.0, 25.0, 40.0};
        const QList<double> columnX{20.0, 80.0, 105.0, 145.0};
        const double y = 25.0, rowHeight = 7.0;
        const QList<PdfWord> words =
            render(tablePageObject({tableFieldObject(20, y, widths, abc, headerHeight, rowHeight)}), grid(4, 3), dpi,
                   {}, true);
        const QString where = describeWords(words);
        QCOMPARE(words.size(), 12 + (headerHeight > 0 ? 3 : 0));
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 3; ++c) {
                const PdfWord* word = findWord(words, QStringLiteral("Р%1К%2").arg(r).arg(c));
                QVERIFY2(word, qPrintable(where));
                QVERIFY2(qAbs(word->left - columnX.at(c)) <= tolerance, qPrintable(where));
                QVERIFY2(qAbs(word->top - (y + headerHeight + r * rowHeight)) <= tolerance, qPrintable(where));
            }
        }
        if (headerHeight > 0) {
            // Inset by half a text line from the left and the top of the header cell.
            for (int c = 0; c < 3; ++c) {
                const PdfWord* word = findWord(words, QStringLiteral("Графа%1").arg(c + 1));
                QVERIFY2(word, qPrintable(where));
                const double insetX = word->left - columnX.at(c), insetY = word->top - y;
                QVERIFY2(insetX > 1.5 && insetX < 4.0 && qAbs(insetX - insetY) <= tolerance, qPrintable(where));
            }
        }

        const QImage image = _tool.png(0);
        QVERIFY(!image.isNull());
        const int left = qRound(mmToPx(21, dpi)), right = qRound(mmToPx(144, dpi));
        const QList<double> rules = toMm(mergeAdjacent(solidRows(image, left, right, 0, image.height())), dpi);
        QList<double> expectedRules;
        if (headerHeight > 0)
            expectedRules << y;
        for (int r = 0; r <= 4; ++r)
            expectedRules << y + headerHeight + r * rowHeight;
        QVERIFY2(sameLines(rules, expectedRules, 0.2), qPrintable(describeLines(rules)));
        const int top = qRound(mmToPx(y + headerHeight + 1, dpi)), bottom = qRound(mmToPx(y + headerHeight + 27, dpi));
        const QList<double> edges = toMm(mergeAdjacent(solidColumns(image, top, bottom, 0, image.width())), dpi);
        QVERIFY2(sameLines(edges, columnX, 0.2), qPrintable(describeLines(edges)));
    }

    void columnWidths_data() {
        QTest::addColumn<bool>("autoWidth");
        QTest::addColumn<QList<double>>("widths");
        QTest::addColumn<QString>("longText");
        QTest::addColumn<QList<double>>("edges");
        QTest::newRow("fixed") << false << QList<double>{33.3, 12.0, 50.0} << QString()
                               << QList<double>{20.0, 53.3, 65.3, 115.3};
        QTest::newRow("fixed, narrower than the text")
            << false << QList<double>{4.0, 4.0, 4.0} << QString() << QList<double>{20.0, 24.0, 28.0, 32.0};
        QTest::newRow("automatic, short texts")
            << true << QList<double>{33.3, 12.0, 50.0} << QString() << QList<double>{20.0, 30.0, 40.0, 50.0};
        // The first column takes the long text's width plus 2 mm; the others stay at 10 mm.
        QTest::newRow("automatic, a long text")
            << true << QList<double>{5.0, 5.0, 5.0} << QStringLiteral("Электрогазосварщик") << QList<double>();
    }

    void columnWidths() {
        QFETCH(bool, autoWidth);
        QFETCH(QList<double>, widths);
        QFETCH(QString, longText);
        QFETCH(QList<double>, edges);
        const int dpi = 300;
        QJsonObject table = tableFieldObject(20, 30, widths, abc, 0, 8);
        table.insert(QStringLiteral("autoWidth"), autoWidth);
        table.insert(QStringLiteral("headerNames"), QJsonArray{"1", "2", "3"});
        const QList<QStringList> rows{abc, {"x", "y", "z"}, {longText, "", ""}};
        const QList<PdfWord> words = render(tablePageObject({table}), rows, dpi, {}, true);
        const QImage image = _tool.png(0);
        QVERIFY(!image.isNull());
        const QList<double> found =
            toMm(mergeAdjacent(solidColumns(image, qRound(mmToPx(31, dpi)), qRound(mmToPx(37, dpi)), 0, image.width())),
                 dpi);
        if (!edges.isEmpty()) {
            QVERIFY2(sameLines(found, edges, 0.2), qPrintable(describeLines(found)));
            return;
        }
        const PdfWord* word = findWord(words, longText);
        QVERIFY2(word && found.size() == 4, qPrintable(describeWords(words) + "\n" + describeLines(found)));
        QVERIFY2(qAbs(found.at(1) - word->right - 2.0) <= tolerance, qPrintable(describeLines(found)));
        QVERIFY2(qAbs(found.at(2) - found.at(1) - 10.0) <= 0.2 && qAbs(found.at(3) - found.at(2) - 10.0) <= 0.2,
                 qPrintable(describeLines(found)));
    }

    void rowHeights_data() {
        QTest::addColumn<bool>("wordWrap");
        QTest::newRow("word wrap") << true;
        QTest::newRow("no word wrap") << false;
    }

    // Wrapped rows grow to their text and rows without text shrink to 0.7 of the row height; without
    // word wrap every row keeps the row height.
    void rowHeights() {
        QFETCH(bool, wordWrap);
        const int dpi = 300;
        const double y = 30.0, header = 10.0, rowHeight = 8.0;
        QJsonObject table = tableFieldObject(20, y, {30.0, 20.0}, abc, header, rowHeight);
        table.insert(QStringLiteral("wordWrap"), wordWrap);
        const QList<QStringList> rows{abc,           {"один два три четыре", "x"}, {"", ""}, {"низ", "y"}, {"", ""},
                                      {"конец", "z"}};
        const QList<PdfWord> words = render(tablePageObject({table}), rows, dpi, {}, true);
        const QString where = describeWords(words);
        const PdfWord* first = findWord(words, QStringLiteral("один"));
        const PdfWord* last = findWord(words, QStringLiteral("четыре"));
        const PdfWord* low = findWord(words, QStringLiteral("низ"));
        const PdfWord* end = findWord(words, QStringLiteral("конец"));
        QVERIFY2(first && last && low && end, qPrintable(where));

        double firstRow = rowHeight;
        if (wordWrap) {
            QVERIFY2(last->top - first->top > 1.0, qPrintable(where)); // wrapped
            // The first row ends where the next rule is; the text fills it.
            const QImage image = _tool.png(0);
            const QList<double> rules = toMm(
                mergeAdjacent(solidRows(image, qRound(mmToPx(21, dpi)), qRound(mmToPx(69, dpi)), 0, image.height())),
                dpi);
            QVERIFY2(rules.size() == 7, qPrintable(describeLines(rules)));
            firstRow = rules.at(2) - rules.at(1);
            QVERIFY2(firstRow > rowHeight && last->bottom <= rules.at(2) + tolerance, qPrintable(where));
            QVERIFY2(qAbs(rules.at(3) - rules.at(2) - 0.7 * rowHeight) <= 0.2, qPrintable(describeLines(rules)));
        } else {
            QVERIFY2(qAbs(last->top - first->top) <= tolerance, qPrintable(where)); // one line, cut at the cell
        }
        const double empty = wordWrap ? 0.7 * rowHeight : rowHeight;
        QVERIFY2(qAbs(low->top - (y + header + firstRow + empty)) <= tolerance, qPrintable(where));
        QVERIFY2(qAbs(end->top - (y + header + firstRow + 2 * empty + rowHeight)) <= tolerance, qPrintable(where));
    }

    void cellText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("wordWrap");
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<double>("indent");
        QTest::newRow("no blanks") << "слово" << false << QStringList{"слово"} << 0.0;
        // Three blanks of a 14 pt serif font: about 3.7 mm.
        QTest::newRow("leading blanks") << "   слово" << false << QStringList{"слово"} << 3.7;
        QTest::newRow("leading blanks, word wrap") << "   слово" << true << QStringList{"слово"} << 3.7;
        // The grade word breaks in a column narrower than the word; in a wide one it stays whole.
        QTest::newRow("grade in a narrow column")
            << "удовлетворительно" << true << QStringList{"удовлетво-", "рительно"} << 0.0;
        QTest::newRow("grade without word wrap")
            << "удовлетворительно" << false << QStringList{"удовлетворительно"} << 0.0;
    }

    void cellText() {
        QFETCH(QString, text);
        QFETCH(bool, wordWrap);
        QFETCH(QStringList, words);
        QFETCH(double, indent);
        QJsonObject table = tableFieldObject(20, 30, {30.0}, abc, 0, 8);
        table.insert(QStringLiteral("wordWrap"), wordWrap);
        const QList<PdfWord> found = render(tablePageObject({table}), {abc, {text}}, 300);
        QCOMPARE(textsByLines(found), words);
        QVERIFY2(qAbs(found.first().left - 20.0 - indent) <= 0.5, qPrintable(describeWords(found)));
    }

    void alignment_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("fieldFlags");
        QTest::newRow("code 0: the field's right") << 0 << int(Qt::AlignRight | Qt::AlignTop);
        QTest::newRow("code 1: left") << 1 << int(Qt::AlignRight | Qt::AlignTop);
        QTest::newRow("code 4: centre") << 4 << int(Qt::AlignRight | Qt::AlignTop);
        QTest::newRow("code 2: right") << 2 << int(Qt::AlignLeft | Qt::AlignTop);
        QTest::newRow("vertical centre") << 1 << int(Qt::AlignLeft | Qt::AlignVCenter);
        QTest::newRow("bottom") << 1 << int(Qt::AlignLeft | Qt::AlignBottom);
    }

    // A word in a 60 x 20 mm cell at (20, 40): the column code aligns it across, the field's flags
    // down the cell.
    void alignment() {
        QFETCH(int, code);
        QFETCH(int, fieldFlags);
        QJsonObject table = tableFieldObject(20, 40, {60.0}, abc, 0, 20, fieldFlags);
        table.insert(QStringLiteral("columnsAlign"), QJsonArray{code});
        const QList<PdfWord> words = render(tablePageObject({table}), {abc, {"Ориентир"}}, 300);
        QCOMPARE(words.size(), 1);
        const PdfWord& word = words.first();
        const QString where = describeWords(words);
        const int horizontal = (code != 0 ? code : fieldFlags) & Qt::AlignHorizontal_Mask;
        if (horizontal == Qt::AlignHCenter)
            QVERIFY2(qAbs(word.centerX() - 50.0) <= tolerance, qPrintable(where));
        else if (horizontal == Qt::AlignRight)
            QVERIFY2(qAbs(word.right - 80.0) <= tolerance, qPrintable(where));
        else
            QVERIFY2(qAbs(word.left - 20.0) <= tolerance, qPrintable(where));
        // The line box is a little taller than the glyphs pdftotext reports.
        if (fieldFlags & Qt::AlignVCenter)
            QVERIFY2(qAbs(word.centerY() - 50.0) <= 0.5, qPrintable(where));
        else if (fieldFlags & Qt::AlignBottom)
            QVERIFY2(qAbs(word.bottom - 60.0) <= 0.8 && word.bottom <= 60.0, qPrintable(where));
        else
            QVERIFY2(qAbs(word.top - 40.0) <= tolerance, qPrintable(where));
    }

    void splits_data() {
        QTest::addColumn<int>("splitsCount");
        QTest::addColumn<QList<double>>("maxHeights");
        QTest::addColumn<QList<double>>("splitX");
        QTest::addColumn<QList<double>>("splitY");
        QTest::addColumn<int>("pagesCount");
        QTest::addColumn<int>("printedRows");
        // Where rows 3, 4 and the last printed row land: page, x, y.
        QTest::addColumn<QList<QVector<double>>>("places");
        const double side = pxToMm(qRound(210.0 / 25.4 * 300), 300);
        // Header 10 mm and rows of 7 mm: 4 rows reach 38 mm, the fifth would end at 45 mm.
        QTest::newRow("cut at 40 mm") << 1 << QList<double>{40} << QList<double>{0} << QList<double>{0} << 1 << 4
                                      << QList<QVector<double>>{{0, 20, 61}, {}, {0, 20, 61}};
        QTest::newRow("continued at 110, 30") << 1 << QList<double>{40} << QList<double>{110} << QList<double>{30} << 1
                                              << 10 << QList<QVector<double>>{{0, 20, 61}, {0, 110, 30}, {0, 110, 65}};
        QTest::newRow("continued on the second side")
            << 1 << QList<double>{40} << QList<double>{25} << QList<double>{240} << 2 << 10
            << QList<QVector<double>>{{0, 20, 61}, {1, 25, 240 - side}, {1, 25, 275 - side}};
        QTest::newRow("second part of 30 mm, then cut")
            << 2 << QList<double>{40, 30} << QList<double>{110, 0} << QList<double>{30, 0} << 1 << 8
            << QList<QVector<double>>{{0, 20, 61}, {0, 110, 30}, {0, 110, 51}};
        QTest::newRow("unlimited first part") << 1 << QList<double>{0} << QList<double>{0} << QList<double>{0} << 1
                                              << 10 << QList<QVector<double>>{{0, 20, 61}, {0, 20, 68}, {0, 20, 103}};
        // A damaged file: more breaks than break lists; the missing entries mean "not set".
        QTest::newRow("break lists too short") << 3 << QList<double>{40} << QList<double>{} << QList<double>{} << 1 << 4
                                               << QList<QVector<double>>{{0, 20, 61}, {}, {0, 20, 61}};
    }

    void splits() {
        QFETCH(int, splitsCount);
        QFETCH(QList<double>, maxHeights);
        QFETCH(QList<double>, splitX);
        QFETCH(QList<double>, splitY);
        QFETCH(int, pagesCount);
        QFETCH(int, printedRows);
        QFETCH(QList<QVector<double>>, places);
        QJsonObject table = tableFieldObject(20, 30, {40.0, 20.0}, abc, 10, 7);
        table.insert(QStringLiteral("splitsCount"), splitsCount);
        table.insert(QStringLiteral("maxSplitHeight"), numbers(maxHeights));
        table.insert(QStringLiteral("splitX"), numbers(splitX));
        table.insert(QStringLiteral("splitY"), numbers(splitY));
        QList<QStringList> rows{abc};
        for (int r = 0; r < 10; ++r)
            rows << QStringList{QStringLiteral("R%1").arg(r), QStringLiteral("v")};
        const QList<PdfWord> words = render(tablePageObject({table}, pagesCount), rows, 300);
        const QString where = describeWords(words);
        for (int r = 0; r < 10; ++r)
            QVERIFY2(bool(findWord(words, QStringLiteral("R%1").arg(r))) == (r < printedRows), qPrintable(where));
        const QList<int> probed{3, 4, printedRows - 1};
        for (int i = 0; i < probed.size(); ++i) {
            const QVector<double>& place = places.at(i);
            if (place.isEmpty())
                continue;
            const PdfWord* word = findWord(words, QStringLiteral("R%1").arg(probed.at(i)));
            QVERIFY2(word && word->page == int(place.at(0)), qPrintable(where));
            QVERIFY2(qAbs(word->left - place.at(1)) <= tolerance && qAbs(word->top - place.at(2)) <= tolerance,
                     qPrintable(where));
        }
        // The cut is reported, and the tool still renders.
        QCOMPARE(_tool.errorText().contains(cutMessage), printedRows < 10);
    }

    void zStrike_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("rowsInFirstPart");
        QTest::addColumn<double>("maxHeight");
        QTest::addColumn<bool>("zOnEmpty");
        QTest::addColumn<QList<double>>("lines");
        // Header 10 and rows of 7 mm in a first part of 60 mm at y 30: two rows end at 54 mm.
        QTest::newRow("free rest struck") << 2 << 2 << 60.0 << true << QList<double>{56.0, 88.0};
        QTest::newRow("no strike asked") << 2 << 2 << 60.0 << false << QList<double>();
        QTest::newRow("no rows, below the header") << 0 << 0 << 60.0 << true << QList<double>{42.0, 88.0};
        // Five rows end at 75 mm and the rest continues: 3 mm are left, too little for the 2 mm margins.
        QTest::newRow("part filled") << 8 << 5 << 48.0 << true << QList<double>();
    }

    void zStrike() {
        QFETCH(int, rows);
        QFETCH(int, rowsInFirstPart);
        QFETCH(double, maxHeight);
        QFETCH(bool, zOnEmpty);
        QFETCH(QList<double>, lines);
        const int dpi = 300;
        QJsonObject table = tableFieldObject(20, 30, {40.0, 20.0}, abc, 10, 7);
        table.insert(QStringLiteral("zOnEmpty"), zOnEmpty);
        table.insert(QStringLiteral("splitsCount"), 1);
        table.insert(QStringLiteral("maxSplitHeight"), QJsonArray{maxHeight});
        table.insert(QStringLiteral("splitX"), QJsonArray{150});
        table.insert(QStringLiteral("splitY"), QJsonArray{30});
        QList<QStringList> model{abc};
        for (int r = 0; r < rows; ++r)
            model << QStringList{QStringLiteral("R%1").arg(r), QStringLiteral("v")};
        render(tablePageObject({table}), model, dpi, {}, true);
        const QImage image = _tool.png(0);
        QVERIFY(!image.isNull());
        // Between the 2 mm margins of the first part, below its last rule.
        const int left = qRound(mmToPx(22.5, dpi)), right = qRound(mmToPx(77.5, dpi));
        const int lastRule = qRound(mmToPx(30 + 10 + 7 * rowsInFirstPart, dpi)) + 3;
        const QList<double> found =
            toMm(mergeAdjacent(solidRows(image, left, right, lastRule, qRound(mmToPx(100, dpi)))), dpi);
        QVERIFY2(sameLines(found, lines, 0.2), qPrintable(describeLines(found)));
        if (!lines.isEmpty()) {
            // The diagonal runs from the top line's right end to the bottom line's left end.
            const double midY = (lines.at(0) + lines.at(1)) / 2;
            const int y = qRound(mmToPx(midY, dpi));
            bool diagonal = false;
            for (int dx = -4; dx <= 4; ++dx)
                diagonal = diagonal || qGray(image.pixel(qRound(mmToPx(50, dpi)) + dx, y)) < 128;
            QVERIFY(diagonal);
        }
    }

    // The designer's view (not filled) repeats the raw templates in previewRowCount rows.
    void rawTemplates() {
        QJsonObject table = tableFieldObject(20, 30, {50.0, 20.0}, abc, 10, 7);
        table.insert(QStringLiteral("previewRowCount"), 3);
        const QList<PdfWord> words =
            render(tablePageObject({table}), {abc, {"Альфа", "1"}}, 300, {QStringLiteral("--raw")});
        QCOMPARE(textsByLines(words),
                 (QStringList{"Графа1", "Графа2", "$D{m.a}", "$D{m.b}", "$D{m.a}", "$D{m.b}", "$D{m.a}", "$D{m.b}"}));
        QList<double> tops;
        for (const PdfWord& word : words)
            if (word.text == QLatin1String("$D{m.a}"))
                tops << word.top;
        std::sort(tops.begin(), tops.end());
        for (int r = 0; r < 3; ++r)
            QVERIFY2(qAbs(tops.at(r) - (40.0 + 7 * r)) <= tolerance, qPrintable(describeWords(words)));
    }

    // The appendix form of the test data: the subjects fill the first part, continue in the second
    // part at (160, 20) and the rest is cut, which the tool reports.
    void appendixTemplate() {
        const QString pdf = _tool.path(QStringLiteral("appendix.pdf"));
        QCOMPARE(_tool.run({"--model", "viewprofdetails=" + testDataPath("MzReport/subjects.csv"),
                            testDataPath("MzReport/appendix.mzrpt"), pdf}),
                 0);
        QVERIFY2(_tool.errorText().contains(cutMessage), qPrintable(_tool.errorText()));
        const QList<PdfWord> words = pdfWords(pdf);
        const PdfWord* first = findWord(words, QStringLiteral("Основы"));
        QVERIFY2(first && qAbs(first->left - 15.0) <= tolerance, qPrintable(describeWords(words)));
        double continuedTop = 1000.0;
        for (const PdfWord& word : words)
            if (qAbs(word.left - 160.0) <= tolerance)
                continuedTop = qMin(continuedTop, word.top);
        // Cells are centred vertically in this template: the first text sits a little below the part's top.
        QVERIFY2(continuedTop >= 20.0 - tolerance && continuedTop < 22.0, qPrintable(describeWords(words)));
        QVERIFY(!findWord(words, QStringLiteral("ВСЕГО:")));
    }

    // Quoted CSV fields keep their commas, quotes and line breaks.
    void csvFields() {
        QFile csv(_tool.path(QStringLiteral("quoted.csv")));
        QVERIFY(csv.open(QIODevice::WriteOnly));
        csv.write("\xEF\xBB\xBF"
                  "a,b\r\n\"один,два\",\"скажи \"\"да\"\"\"\r\n\r\n\"верх\nниз\",\n");
        csv.close();
        QJsonObject table = tableFieldObject(20, 30, {60.0, 60.0}, abc, 0, 8);
        table.insert(QStringLiteral("wordWrap"), true);
        const QString pdf = _tool.render(tablePageObject({table}), 300, {"--model", "m=" + csv.fileName()});
        QVERIFY2(!pdf.isEmpty(), qPrintable(_tool.errorText()));
        const QList<PdfWord> words = pdfWords(pdf);
        QCOMPARE(textsByLines(words), (QStringList{"один,два", "скажи", "\"да\"", "верх", "низ"}));
        const PdfWord* top = findWord(words, QStringLiteral("верх"));
        const PdfWord* bottom = findWord(words, QStringLiteral("низ"));
        QVERIFY2(top && bottom && bottom->top - top->top > 3.0, qPrintable(describeWords(words)));
    }
};

const QStringList TestTableLayout::abc{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};

ORVANE_TEST(TestTableLayout)
#include "tst_tablelayout.moc"
