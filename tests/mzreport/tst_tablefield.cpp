#include "reportpage.h"
#include "tablefield.h"
#include "rendertool.h"
#include "testregistry.h"

#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QPrinter>
#include <QStandardItemModel>
#include <QtTest>
#include <memory>

namespace {
constexpr double scale300 = 300 / 25.399931;

QStandardItemModel* makeModel(const QStringList& header, const QList<QStringList>& rows) {
    auto* model = new QStandardItemModel(rows.size(), header.size());
    model->setHorizontalHeaderLabels(header);
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows.at(r).size(); ++c)
            model->setItem(r, c, new QStandardItem(rows.at(r).at(c)));
    return model;
}

// Paints the page's side 0 into a small image at 300 dpi: enough to lay the tables out.
void paint(ReportPage& page) {
    QImage image(50, 50, QImage::Format_RGB32);
    QPainter painter(&image);
    page.paintSide(painter, 0, image.rect(), 0.0, scale300);
}
} // namespace

// The table's own arithmetic, read back from the field: placeholders, model binding and the parts.
class TestTableField : public QObject {
    Q_OBJECT

    static TableField* addTable(ReportPage& page, int columns = 2) {
        auto* table = new TableField;
        table->setGeometry(10, 10, 0, 0);
        table->setColumnCount(quint8(columns));
        table->setColumnsWidth(QVector<double>(columns, 30.0).toList());
        table->setColumnIds(QVector<QString>(columns, QStringLiteral("$D{m.a}")).toList());
        table->setColumnsAlign(QVector<quint8>(columns, 0).toList());
        table->setHeaderIsVisible(false);
        table->setRowHeight(7.0);
        page.addField(table);
        table->setModelName(QStringLiteral("m"));
        return table;
    }

private slots:
    void substituteRow_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("expected");
        QTest::newRow("column") << "$D{m.a}" << 0 << "Альфа";
        QTest::newRow("two columns in text") << "[$D{m.a}] $D{m.b} ч." << 0 << "[Альфа] 72 ч.";
        QTest::newRow("second row") << "$D{m.a}" << 1 << "Бета";
        QTest::newRow("model name in capitals") << "$D{M.a}" << 0 << "$D{M.a}";
        QTest::newRow("another model") << "$D{m.a}/$D{other.a}" << 0 << "Альфа/$D{other.a}";
        QTest::newRow("unknown column") << "<$D{m.nosuch}>" << 0 << "<>";
        QTest::newRow("column case differs") << "<$D{m.A}>" << 0 << "<>";
        QTest::newRow("row beyond the model") << "<$D{m.a}>" << 7 << "<>";
        QTest::newRow("variables after columns") << "$D{m.a} ($V{ Kind })" << 0 << "Альфа (дисциплина)";
        // As with variables: a "}" before the placeholder stops the filling, that of a variable too.
        QTest::newRow("brace before") << "} $D{m.a}" << 0 << "} $D{m.a}";
        QTest::newRow("variable before") << "$V{kind}: $D{m.a}" << 0 << "$V{kind}: $D{m.a}";
        QTest::newRow("value with a placeholder") << "$D{m.b}" << 1 << "Бета";
        QTest::newRow("value naming itself") << "$D{m.b}" << 2 << "$D{m.b}";
    }

    void substituteRow() {
        QFETCH(QString, text);
        QFETCH(int, row);
        QFETCH(QString, expected);
        ReportPage page;
        TableField* table = addTable(page);
        std::unique_ptr<QStandardItemModel> model(
            makeModel({"a", "b"}, {{"Альфа", "72"}, {"Бета", "$D{m.a}"}, {"Гамма", "$D{m.b}"}}));
        page.setModel(QStringLiteral("M"), model.get(), false);
        page.setVariable(QStringLiteral("kind"), QStringLiteral("дисциплина"));
        QCOMPARE(table->substituteRow(text, row), text); // not data-bound yet: the raw template
        page.setFillWithData(true);
        paint(page);
        QVERIFY(table->isDataBound());
        QCOMPARE(table->substituteRow(text, row), expected);
    }

    // Models edited, replaced or deleted elsewhere change the rows at the next paint; a deleted one
    // leaves no rows and no dangling pointer.
    void modelLifetime() {
        ReportPage page;
        page.setFillWithData(true);
        TableField* table = addTable(page);
        paint(page);
        QCOMPARE(table->rowCountInEffect(), 0); // no model yet

        auto* model = makeModel({"a"}, {{"один"}, {"два"}});
        page.setModel(QStringLiteral("m"), model, false);
        paint(page);
        QCOMPARE(table->rowCountInEffect(), 2);
        model->appendRow(new QStandardItem(QStringLiteral("три")));
        paint(page);
        QCOMPARE(table->cellTexts().value(2), (QStringList{"три", "три"}));
        model->setItem(0, 0, new QStandardItem(QStringLiteral("первый")));
        paint(page);
        QCOMPARE(table->cellTexts().value(0).value(0), QStringLiteral("первый"));
        model->setHorizontalHeaderLabels({QStringLiteral("z")});
        paint(page);
        QCOMPARE(table->cellTexts().value(0).value(0), QString()); // column "a" is gone

        delete model;
        QVERIFY(!table->model() && table->columnMap().isEmpty());
        paint(page);
        QCOMPARE(table->rowCountInEffect(), 0);
        QVERIFY(table->cellTexts().isEmpty());

        // The designer's view does not depend on any model.
        page.setFillWithData(false);
        table->setPreviewRowCount(3);
        paint(page);
        QCOMPARE(table->rowCountInEffect(), 3);
        QCOMPARE(table->cellTexts().value(2).value(0), QStringLiteral("$D{m.a}"));
    }

    // A laid-out table painted again at another resolution keeps its texts' size in millimetres.
    void newResolutionKeepsSizes() {
        QTemporaryDir dir;
        ReportPage page;
        page.setFillWithData(true);
        TableField* table = addTable(page, 1);
        std::unique_ptr<QStandardItemModel> model(makeModel({"a"}, {{"Слово"}}));
        page.setModel(QStringLiteral("m"), model.get(), false);
        QPrinter* printer = page.printer();
        printer->setOutputFormat(QPrinter::PdfFormat);
        QList<PdfWord> words;
        for (int dpi : {300, 600}) {
            printer->setResolution(dpi);
            printer->setOutputFileName(dir.filePath(QStringLiteral("%1.pdf").arg(dpi)));
            QVERIFY(page.paintSides(printer, {0}));
            words << pdfWords(printer->outputFileName()).value(0);
        }
        QVERIFY(table->isLayoutValid());
        QCOMPARE(words.at(0).text, QStringLiteral("Слово"));
        QCOMPARE(words.at(1).text, QStringLiteral("Слово"));
        QVERIFY(qAbs(words.at(1).left - words.at(0).left) <= 0.1 && qAbs(words.at(1).top - words.at(0).top) <= 0.1);
        QVERIFY(qAbs(words.at(1).right - words.at(0).right) <= 0.2);
    }

    void parts_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("splitsCount");
        QTest::addColumn<QList<double>>("maxHeights");
        QTest::addColumn<QList<double>>("splitY");
        QTest::addColumn<bool>("overflow");
        QTest::addColumn<double>("height");
        // Rows of 7 mm, no header: 5 rows end exactly at 35 mm.
        QTest::newRow("no splits") << 6 << 0 << QList<double>() << QList<double>() << false << 42.0;
        QTest::newRow("rows fit") << 4 << 1 << QList<double>{35.0} << QList<double>{0.0} << false << 35.0;
        // A row that would end exactly at the limit already goes to the next part.
        QTest::newRow("exactly at the limit") << 5 << 1 << QList<double>{35.0} << QList<double>{0.0} << true << 35.0;
        QTest::newRow("continued") << 9 << 1 << QList<double>{35.0} << QList<double>{100.0} << false << 35.0;
        QTest::newRow("second part full")
            << 9 << 2 << QList<double>{35.0, 21.0} << QList<double>{100.0, 0.0} << true << 35.0;
        QTest::newRow("unlimited first part") << 9 << 1 << QList<double>{0.0} << QList<double>{0.0} << false << 63.0;
        QTest::newRow("break lists missing") << 9 << 2 << QList<double>() << QList<double>() << false << 63.0;
    }

    // The overflow flag and the field's size after prepare(), in millimetres.
    void parts() {
        QFETCH(int, rows);
        QFETCH(int, splitsCount);
        QFETCH(QList<double>, maxHeights);
        QFETCH(QList<double>, splitY);
        QFETCH(bool, overflow);
        QFETCH(double, height);
        ReportPage page;
        page.setFillWithData(true);
        TableField* table = addTable(page);
        table->setSplitsCount(splitsCount);
        table->setMaxSplitHeight(maxHeights);
        table->setSplitX(QVector<double>(splitY.size(), 0.0).toList());
        table->setSplitY(splitY);
        QList<QStringList> data;
        for (int r = 0; r < rows; ++r)
            data << QStringList{QStringLiteral("r%1").arg(r)};
        std::unique_ptr<QStandardItemModel> model(makeModel({"a"}, data));
        page.setModel(QStringLiteral("m"), model.get(), false);
        QSignalSpy changed(table, &AbstractField::fieldChanged);
        paint(page);
        QCOMPARE(table->overflow(), overflow);
        QCOMPARE(page.tablesOverflow(), overflow);
        QCOMPARE(changed.count(), 0); // laying out changes no setting of the template
        QCOMPARE(table->width(), 60.0);
        QCOMPARE(table->height(), height);
        QCOMPARE(table->totalHeight(), 7.0 * rows);
    }
};

ORVANE_TEST(TestTableField)
#include "tst_tablefield.moc"
