#include "rendertool.h"
#include "testregistry.h"

#include <QJsonArray>
#include <QStandardPaths>
#include <QtTest>

namespace {
// Placement must hold to this on printed output.
constexpr double tolerance = 0.3;

// Distinct line tops among the words, in millimetres.
QList<double> lineTops(const QList<PdfWord>& words) {
    QList<double> tops;
    for (const PdfWord& word : words) {
        bool known = false;
        for (double top : tops)
            known = known || qAbs(top - word.top) < 0.5;
        if (!known)
            tops << word.top;
    }
    std::sort(tops.begin(), tops.end());
    return tops;
}

bool isDark(QRgb pixel) {
    return qGray(pixel) < 128;
}
} // namespace

class TestTextPlacement : public QObject {
    Q_OBJECT

    QList<PdfWord> renderWords(const QJsonArray& fields, int dpi, int pagesCount = 1, const QStringList& extra = {}) {
        const QString pdf = _tool.render(pageObject(fields, {}, pagesCount), dpi, extra);
        if (pdf.isEmpty())
            qWarning() << "render failed:" << _tool.errorText();
        return pdf.isEmpty() ? QList<PdfWord>() : pdfWords(pdf);
    }

    static QJsonObject spacedField(double indent, double lineHeight) {
        QJsonObject field = textFieldObject(25, 40, 150, 80, QStringLiteral("Альфа\\nБета\\nГамма"));
        field.insert(QStringLiteral("wordWrap"), true);
        field.insert(QStringLiteral("indent"), indent);
        field.insert(QStringLiteral("lineHeight"), lineHeight);
        return field;
    }

    RenderTool _tool;

private slots:
    void initTestCase() {
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty(),
                 "pdftotext (poppler-utils) is needed to read printed positions");
    }

    void startsAtItsPosition_data() {
        QTest::addColumn<int>("dpi");
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("y");
        for (int dpi : {300, 600})
            for (const QPointF& at : {QPointF(10.0, 15.0), QPointF(37.5, 101.3), QPointF(123.45, 170.05)})
                QTest::addRow("%d dpi at %g,%g", dpi, at.x(), at.y()) << dpi << at.x() << at.y();
    }

    void startsAtItsPosition() {
        QFETCH(int, dpi);
        QFETCH(double, x);
        QFETCH(double, y);
        const QList<PdfWord> words =
            renderWords({textFieldObject(x, y, 120, 12, QStringLiteral("Начало строки $V{n}"))}, dpi, 1,
                        {QStringLiteral("--var"), QStringLiteral("N=42")});
        QCOMPARE(words.size(), 3);
        QCOMPARE(words.at(2).text, QStringLiteral("42"));
        QVERIFY2(qAbs(words.at(0).left - x) <= tolerance, qPrintable(describeWords(words)));
        QVERIFY2(qAbs(words.at(0).top - y) <= tolerance, qPrintable(describeWords(words)));
    }

    void alignment_data() {
        QTest::addColumn<int>("dpi");
        QTest::addColumn<int>("flags");
        const QList<QPair<const char*, int>> cases{
            {"left top", Qt::AlignLeft | Qt::AlignTop},         {"centre top", Qt::AlignHCenter | Qt::AlignTop},
            {"right top", Qt::AlignRight | Qt::AlignTop},       {"left centre", Qt::AlignLeft | Qt::AlignVCenter},
            {"left bottom", Qt::AlignLeft | Qt::AlignBottom},   {"centre centre", Qt::AlignCenter},
            {"right bottom", Qt::AlignRight | Qt::AlignBottom}, {"no flags", 0}};
        for (int dpi : {300, 600})
            for (const auto& c : cases)
                QTest::addRow("%d dpi %s", dpi, c.first) << dpi << c.second;
    }

    // A single word in a 100 x 30 mm field at (40, 50).
    void alignment() {
        QFETCH(int, dpi);
        QFETCH(int, flags);
        const QList<PdfWord> words =
            renderWords({textFieldObject(40, 50, 100, 30, QStringLiteral("Ориентир"), flags)}, dpi);
        QCOMPARE(words.size(), 1);
        const PdfWord& word = words.first();
        const QString where = describeWords(words);
        if (flags & Qt::AlignHCenter)
            QVERIFY2(qAbs(word.centerX() - 90.0) <= tolerance, qPrintable(where));
        else if (flags & Qt::AlignRight)
            QVERIFY2(qAbs(word.right - 140.0) <= tolerance, qPrintable(where));
        else
            QVERIFY2(qAbs(word.left - 40.0) <= tolerance, qPrintable(where));
        if (flags & Qt::AlignVCenter)
            QVERIFY2(qAbs(word.centerY() - 65.0) <= tolerance, qPrintable(where));
        else if (flags & Qt::AlignBottom)
            QVERIFY2(qAbs(word.bottom - 80.0) <= tolerance, qPrintable(where));
        else
            QVERIFY2(qAbs(word.top - 50.0) <= tolerance, qPrintable(where));
    }

    void fieldsLandOnTheirSide_data() {
        QTest::addColumn<int>("dpi");
        QTest::newRow("300 dpi") << 300;
        QTest::newRow("600 dpi") << 600;
    }

    // Landscape A4 sides are 210 mm high; a field 250 mm down belongs to side 1, 440 mm down to side 2.
    void fieldsLandOnTheirSide() {
        QFETCH(int, dpi);
        const QList<PdfWord> words = renderWords({textFieldObject(30, 20, 80, 10, QStringLiteral("первая")),
                                                  textFieldObject(30, 250, 80, 10, QStringLiteral("вторая")),
                                                  textFieldObject(60, 440, 80, 10, QStringLiteral("третья"))},
                                                 dpi, 3);
        QCOMPARE(words.size(), 3);
        const double side = pxToMm(qRound(210.0 / 25.4 * dpi), dpi); // whole printer pixels
        const QString where = describeWords(words);
        QCOMPARE(words.at(0).page, 0);
        QCOMPARE(words.at(1).page, 1);
        QCOMPARE(words.at(2).page, 2);
        QVERIFY2(qAbs(words.at(1).top - (250.0 - side)) <= tolerance, qPrintable(where));
        QVERIFY2(qAbs(words.at(2).top - (440.0 - 2 * side)) <= tolerance, qPrintable(where));
        QVERIFY2(qAbs(words.at(2).left - 60.0) <= tolerance, qPrintable(where));

        // Rendering one side shows only that side's fields.
        const QList<PdfWord> second = renderWords({textFieldObject(30, 20, 80, 10, QStringLiteral("первая")),
                                                   textFieldObject(30, 250, 80, 10, QStringLiteral("вторая"))},
                                                  dpi, 2, {QStringLiteral("--side"), QStringLiteral("1")});
        QCOMPARE(second.size(), 1);
        QCOMPARE(second.first().text, QStringLiteral("вторая"));
        QCOMPARE(second.first().page, 0);
    }

    void wordWrap_data() {
        QTest::addColumn<bool>("wordWrap");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("lines");
        const QString longText = QStringLiteral("один два три четыре пять шесть семь восемь");
        QTest::newRow("long text, wrap") << true << longText << 4;
        QTest::newRow("long text, no wrap") << false << longText << 1;
        QTest::newRow("backslash-n, wrap") << true << QStringLiteral("верх\\nниз") << 2;
        QTest::newRow("backslash-n, no wrap") << false << QStringLiteral("верх\\nниз") << 1;
    }

    void wordWrap() {
        QFETCH(bool, wordWrap);
        QFETCH(QString, text);
        QFETCH(int, lines);
        QJsonObject field = textFieldObject(20, 30, 30, 60, text);
        field.insert(QStringLiteral("wordWrap"), wordWrap);
        const QList<PdfWord> words = renderWords({field}, 300);
        QCOMPARE(lineTops(words).size(), lines);
        for (const PdfWord& word : words) {
            QVERIFY2(word.left >= 20.0 - tolerance, qPrintable(describeWords(words)));
            if (wordWrap)
                QVERIFY2(word.right <= 50.0 + tolerance, qPrintable(describeWords(words)));
        }
    }

    void indentAndSpacing_data() {
        QTest::addColumn<int>("dpi");
        QTest::addColumn<double>("indent");
        QTest::addColumn<double>("lineHeight");
        for (int dpi : {300, 600}) {
            QTest::addRow("%d dpi plain", dpi) << dpi << 0.0 << 0.0;
            QTest::addRow("%d dpi indent 12.5", dpi) << dpi << 12.5 << 0.0;
            QTest::addRow("%d dpi spacing 9", dpi) << dpi << 0.0 << 9.0;
            QTest::addRow("%d dpi indent 7, spacing 14.3", dpi) << dpi << 7.0 << 14.3;
        }
    }

    // Three lines forced by backslash-n; the indent moves only the first, the spacing sets the pitch.
    void indentAndSpacing() {
        QFETCH(int, dpi);
        QFETCH(double, indent);
        QFETCH(double, lineHeight);
        const QList<PdfWord> words = renderWords({spacedField(indent, lineHeight)}, dpi);
        QCOMPARE(words.size(), 3);
        const QString where = describeWords(words);
        const double scale = mmToPx(1.0, dpi);
        QVERIFY2(qAbs(words.at(0).left - (25.0 + int(indent * scale) / scale)) <= tolerance, qPrintable(where));
        QVERIFY2(qAbs(words.at(1).left - 25.0) <= tolerance, qPrintable(where));
        QVERIFY2(qAbs(words.at(2).left - 25.0) <= tolerance, qPrintable(where));

        if (lineHeight > 0) {
            const double pitch = int(lineHeight * scale) / scale;
            QVERIFY2(qAbs(words.at(1).top - words.at(0).top - pitch) <= 0.1, qPrintable(where));
            QVERIFY2(qAbs(words.at(2).top - words.at(1).top - pitch) <= 0.1, qPrintable(where));
        } else {
            QVERIFY2(qAbs(words.at(0).top - 40.0) <= tolerance, qPrintable(where));
            QVERIFY2(words.at(1).top - words.at(0).top > words.at(0).bottom - words.at(0).top - tolerance,
                     qPrintable(where));
        }
    }

    // A fixed spacing keeps each baseline a constant distance above the bottom of its line; the field
    // lifts its first line by 0.8 of the spacing, so the first line moves down by 0.2 of any extra spacing.
    void firstLineFollowsSpacing() {
        const int dpi = 300;
        const double scale = mmToPx(1.0, dpi);
        QList<double> tops;
        const QList<double> spacings{6.0, 9.0, 14.3, 20.0};
        for (double spacing : spacings) {
            const QList<PdfWord> words = renderWords({spacedField(0, spacing)}, dpi);
            QCOMPARE(words.size(), 3);
            tops << words.at(0).top;
        }
        for (int i = 1; i < spacings.size(); ++i) {
            const double extra = (int(spacings.at(i) * scale) - int(spacings.at(i - 1) * scale)) / scale;
            const double moved = tops.at(i) - tops.at(i - 1);
            QVERIFY2(
                qAbs(moved - 0.2 * extra) <= 0.1,
                qPrintable(QStringLiteral("%1 mm more spacing moved the first line by %2 mm").arg(extra).arg(moved)));
        }
    }

    void shrinkToFit_data() {
        QTest::addColumn<int>("dpi");
        QTest::addColumn<bool>("shrink");
        for (int dpi : {300, 600}) {
            QTest::addRow("%d dpi as drawn", dpi) << dpi << false;
            QTest::addRow("%d dpi shrinking", dpi) << dpi << true;
        }
    }

    // A qualification of about 270 characters on the three ruled lines of a certificate: as drawn
    // it loses its end; shrinking to fit prints every word inside the field, its first line where
    // the field's own font puts it.
    void shrinkToFit() {
        QFETCH(int, dpi);
        QFETCH(bool, shrink);
        const QString qualification = QStringLiteral(
            "Оператор технологических установок по переработке нефти и газа, машинист насосных и компрессорных "
            "установок технологических процессов каталитического риформинга бензиновых фракций, изомеризации, "
            "депарафинизации, гидрокрекинга и гидроочистки и 5-го квалификационного разряда");
        const QRectF rect(25.0, 40.0, 120.5, 17.0);
        QJsonObject field = textFieldObject(rect.x(), rect.y(), rect.width(), rect.height(), "$V{qual}", 0x24);
        field.insert(QStringLiteral("wordWrap"), true);
        field.insert(QStringLiteral("lineHeight"), 5.51);
        field.insert(QStringLiteral("font"), QStringLiteral("Times New Roman,12,-1,5,50,0,0,0,0,0"));
        QJsonObject reference = field;
        reference.insert(QStringLiteral("y"), 120.0);
        reference.insert(QStringLiteral("id"), QStringLiteral("Оператор"));
        if (shrink)
            field.insert(QStringLiteral("shrinkToFit"), true);
        const QList<PdfWord> words =
            renderWords({field, reference}, dpi, 1, {QStringLiteral("--var"), QStringLiteral("qual=") + qualification});
        QList<PdfWord> inField;
        for (const PdfWord& word : words) {
            if (word.top < 100.0)
                inField << word;
        }
        const QString where = describeWords(inField);
        QStringList printed;
        for (const PdfWord& word : inField)
            printed << word.text;
        QCOMPARE(printed.join(QLatin1Char(' ')) == qualification, shrink);
        QCOMPARE(printed.contains(QStringLiteral("разряда")), shrink);
        if (!shrink)
            return;
        for (const PdfWord& word : inField)
            QVERIFY2(rect.adjusted(-tolerance, -tolerance, tolerance, tolerance)
                         .contains(QRectF(QPointF(word.left, word.top), QPointF(word.right, word.bottom))),
                     qPrintable(where));
        // The lines keep to the rules: the first one ends where it does in the field's own size.
        const PdfWord& own = words.last();
        QVERIFY2(qAbs(inField.first().bottom - (own.bottom - 80.0)) <= 0.5, qPrintable(describeWords(words)));
        QVERIFY(inField.first().bottom - inField.first().top < own.bottom - own.top);
    }

    void rawShowsTemplates() {
        const QList<PdfWord> words =
            renderWords({textFieldObject(20, 20, 150, 10, QStringLiteral("ФИО: $V{fio}\\nконец"))}, 300, 1,
                        {QStringLiteral("--raw"), QStringLiteral("--var"), QStringLiteral("fio=Иванов")});
        QStringList texts;
        for (const PdfWord& word : words)
            texts << word.text;
        QCOMPARE(texts, QStringList({QStringLiteral("ФИО:"), QStringLiteral("$V{fio}\\nконец")}));
    }

    // The Z strike closes the empty rest of a field only when there is room for it: 2 mm above, below
    // and beside it.
    void zStrike() {
        const int dpi = 300;
        auto fieldImage = [&](double height, bool zOnEmpty, QRect* area) {
            QJsonObject field = textFieldObject(20, 20, 100, height, QStringLiteral("Текст"));
            field.insert(QStringLiteral("zOnEmpty"), zOnEmpty);
            if (_tool.render(pageObject({field}), dpi, {}, true).isEmpty())
                return QImage();
            *area = QRect(QPoint(qRound(mmToPx(20, dpi)), qRound(mmToPx(20, dpi))),
                          QPoint(qRound(mmToPx(120, dpi)), qRound(mmToPx(20 + height, dpi))));
            return _tool.png(0);
        };

        QRect area;
        const QImage tall = fieldImage(60, true, &area);
        QVERIFY2(!tall.isNull(), qPrintable(_tool.errorText()));
        const int margin = qRound(mmToPx(2.0, dpi));
        const QList<int> rows =
            solidRows(tall, area.left() + margin + 2, area.right() - margin - 2, area.top(), area.bottom() + 1);
        QVERIFY2(rows.size() == 2, qPrintable(QStringLiteral("%1 solid rows").arg(rows.size())));
        QVERIFY(qAbs(rows.at(1) - (area.bottom() - margin)) <= 2);
        // The diagonal runs from the top line's right end to the bottom line's left end.
        const QPoint middle((area.left() + area.right()) / 2, (rows.at(0) + rows.at(1)) / 2);
        bool diagonal = false;
        for (int dx = -3; dx <= 3; ++dx)
            diagonal = diagonal || isDark(tall.pixel(middle.x() + dx, middle.y()));
        QVERIFY(diagonal);

        // From the tall field: where the text ends. Then fields that leave less or more room under it.
        const double contentBottom = pxToMm(rows.at(0) - area.top(), dpi) - 2.0;
        for (double free : {1.5, 3.5, 4.5, 20.0}) {
            QRect withArea, withoutArea;
            const QImage with = fieldImage(contentBottom + free, true, &withArea);
            const QImage without = fieldImage(contentBottom + free, false, &withoutArea);
            QVERIFY(!with.isNull() && !without.isNull());
            const bool strike = with != without;
            QVERIFY2(strike == (free > 4.0), qPrintable(QStringLiteral("%1 mm free").arg(free)));
        }
    }
};

ORVANE_TEST(TestTextPlacement)
#include "tst_textplacement.moc"
