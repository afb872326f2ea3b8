#include "appkeys.h"
#include "calibrationstore.h"
#include "printercalibrationdialog.h"
#include "printercalibration.h"
#include "guifixture.h"
#include "rendertool.h"
#include "settingsregistry.h"
#include "testregistry.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPageSize>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(PrinterCalibration)

namespace {
const QString first = QStringLiteral("Kyocera-FS1040");
const QString second = QStringLiteral("Канцелярия/HP LaserJet");
const double exact = 1e-6;

// The dialog over a private settings folder, for the given printers.
class Calibration {
public:
    // After the fixture, so that what a test stores first lands in its private settings.
    void open(const QStringList& printers = {first, second}) {
        dialog = f.build<PrinterCalibrationDialog>(nullptr, printers);
    }
    template <typename T> T* w(const char* name) { return f.widget<T>(QLatin1String(name)); }
    void click(const char* name) { QTest::mouseClick(w<QPushButton>(name), Qt::LeftButton); }
    void typeValue(const char* name, double value) {
        auto* spin = w<QDoubleSpinBox>(name);
        spin->selectAll();
        QTest::keyClicks(spin, spin->textFromValue(value));
    }
    void measure(QPointF a, QPointF b) {
        w<QDoubleSpinBox>("doubleSpinBoxAX")->setValue(a.x());
        w<QDoubleSpinBox>("doubleSpinBoxAY")->setValue(a.y());
        w<QDoubleSpinBox>("doubleSpinBoxBX")->setValue(b.x());
        w<QDoubleSpinBox>("doubleSpinBoxBY")->setValue(b.y());
    }
    QList<double> shown() {
        return {w<QDoubleSpinBox>("doubleSpinBoxOffsetX")->value(), w<QDoubleSpinBox>("doubleSpinBoxOffsetY")->value(),
                w<QDoubleSpinBox>("doubleSpinBoxScaleX")->value(), w<QDoubleSpinBox>("doubleSpinBoxScaleY")->value()};
    }
    // Prints the sheet into `pdf`, on `paper` when given.
    void printSheet(const QString& pdf, const QPageSize& paper = QPageSize()) {
        dialog->setSheetPrinterHook([pdf, paper](QPrinter* printer) {
            printer->setOutputFormat(QPrinter::PdfFormat);
            printer->setOutputFileName(pdf);
            if (paper.isValid())
                printer->setPageSize(paper);
        });
        click("pushButtonPrintSheet");
    }

    GuiFixture f;
    PrinterCalibrationDialog* dialog = nullptr;
};

void compareCalibration(const PrinterCalibration& actual, const PrinterCalibration& expected, double tolerance) {
    QVERIFY2(std::abs(actual.offsetX - expected.offsetX) <= tolerance &&
                 std::abs(actual.offsetY - expected.offsetY) <= tolerance &&
                 std::abs(actual.scaleX - expected.scaleX) <= tolerance &&
                 std::abs(actual.scaleY - expected.scaleY) <= tolerance,
             qPrintable(QStringLiteral("%1 instead of %2").arg(actual.toString(), expected.toString())));
}

// The boxes show offsets to 2 decimals and scales to 4.
void compareShown(const QList<double>& shown, const PrinterCalibration& expected) {
    compareCalibration({shown[0], shown[1], expected.scaleX, expected.scaleY}, expected, 0.005);
    compareCalibration({expected.offsetX, expected.offsetY, shown[2], shown[3]}, expected, 0.00005);
}

// The page size of a PDF in mm, from its media box.
QSizeF pdfPageMm(const QString& pdf) {
    static const QRegularExpression box(QStringLiteral(R"(/MediaBox\s*\[\s*0\s+0\s+([\d.]+)\s+([\d.]+)\s*\])"));
    const QByteArray bytes = readFileBytes(pdf);
    // Sized, as the streams hold zero bytes.
    const QRegularExpressionMatch m = box.match(QString::fromLatin1(bytes.constData(), bytes.size()));
    const double mmPerPoint = 25.4 / 72;
    return m.hasMatch() ? QSizeF(m.captured(1).toDouble() * mmPerPoint, m.captured(2).toDouble() * mmPerPoint)
                        : QSizeF();
}

// The box of the printed mark label that starts with `letter`.
QRectF labelBox(const QList<PdfWord>& words, const QString& letter) {
    QRectF box;
    for (const PdfWord& start : words) {
        if (start.text != letter)
            continue;
        for (const PdfWord& w : words)
            if (std::abs(w.centerY() - start.centerY()) < 1 && w.left >= start.left - 0.01 && w.left < start.left + 50)
                box |= QRectF(QPointF(w.left, w.top), QPointF(w.right, w.bottom));
    }
    return box;
}

double distance(const QRectF& box, const QPointF& p) {
    const double dx = std::max({box.left() - p.x(), 0.0, p.x() - box.right()});
    const double dy = std::max({box.top() - p.y(), 0.0, p.y() - box.bottom()});
    return std::hypot(dx, dy);
}
} // namespace

class TestCalibrationDialog : public QObject {
    Q_OBJECT

private slots:
    void marksGiveTheCorrection_data() {
        QTest::addColumn<QPointF>("measuredA");
        QTest::addColumn<QPointF>("measuredB");
        QTest::addColumn<PrinterCalibration>("expected");
        // A4: the marks are printed at (20; 20) and (190; 277).
        QTest::newRow("1.5 mm low") << QPointF(20, 21.5) << QPointF(190, 278.5) << PrinterCalibration{0, -1.5, 1, 1};
        QTest::newRow("2 mm right, 1 % larger") << QPointF(22.2, 22.2) << QPointF(193.9, 281.77)
                                                << PrinterCalibration{-2 / 1.01, -2 / 1.01, 1 / 1.01, 1 / 1.01};
        QTest::newRow("exact") << QPointF(20, 20) << QPointF(190, 277) << PrinterCalibration();
    }
    void marksGiveTheCorrection() {
        QFETCH(QPointF, measuredA);
        QFETCH(QPointF, measuredB);
        QFETCH(PrinterCalibration, expected);
        Calibration c;
        QVERIFY(CalibrationStore::store(first, {3, 3, 1.1, 1.1}));
        c.open();
        c.measure(measuredA, measuredB);
        c.click("pushButtonCompute");
        QCOMPARE(MessageBox::shown().size(), 0);
        compareShown(c.shown(), expected);

        c.click("pushButtonSave");
        QCOMPARE(c.dialog->result(), int(QDialog::Accepted));
        compareCalibration(CalibrationStore::forPrinter(first), expected, exact);
        QCOMPARE(CalibrationStore::forPrinter(second), PrinterCalibration());
    }

    // The boxes round what they show; a value the user left alone is stored as it was.
    void untouchedValuesKeepTheirPrecision() {
        const PrinterCalibration stored{0.12345, -1.23456, 1.000123, 0.998765};
        Calibration c;
        QVERIFY(CalibrationStore::store(first, stored));
        c.open();
        c.typeValue("doubleSpinBoxScaleX", 1.002);
        c.click("pushButtonSave");
        PrinterCalibration expected = stored;
        expected.scaleX = 1.002;
        compareCalibration(CalibrationStore::forPrinter(first), expected, 1e-12);
    }

    void badMeasurementsAreRefused_data() {
        QTest::addColumn<QPointF>("measuredA");
        QTest::addColumn<QPointF>("measuredB");
        QTest::newRow("A and B at one place") << QPointF(50, 50) << QPointF(50, 50);
        QTest::newRow("three times larger") << QPointF(20, 20) << QPointF(530, 791);
        QTest::newRow("shifted 60 mm") << QPointF(80, 20) << QPointF(250, 277);
        QTest::newRow("B before A") << QPointF(190, 277) << QPointF(20, 20);
    }
    void badMeasurementsAreRefused() {
        QFETCH(QPointF, measuredA);
        QFETCH(QPointF, measuredB);
        const PrinterCalibration before{1.5, -0.5, 1.01, 0.99};
        Calibration c;
        QVERIFY(CalibrationStore::store(first, before));
        c.open();
        c.measure(measuredA, measuredB);
        c.click("pushButtonCompute");

        QCOMPARE(MessageBox::shown().size(), 1);
        QCOMPARE(MessageBox::lastShown().icon, QMessageBox::Warning);
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Калибровка принтера"));
        QCOMPARE(MessageBox::lastShown().text,
                 QStringLiteral("Измерения не подходят: метки должны лежать не ближе 1 мм друг к другу, поправка — "
                                "не больше 50 мм и масштаб — от 0,5 до 2. Проверьте измерения."));
        compareShown(c.shown(), before);
        c.click("pushButtonSave");
        QCOMPARE(CalibrationStore::forPrinter(first), before);
    }

    void sheetIsPrintedUncorrected_data() {
        QTest::addColumn<QPageSize>("paper");
        QTest::addColumn<QString>("markBText");
        QTest::newRow("A4") << QPageSize(QPageSize::A4) << QStringLiteral("Метка B (190; 277 мм): измерено X, Y");
        QTest::newRow("Letter") << QPageSize(QPageSize::Letter)
                                << QStringLiteral("Метка B (195; 259 мм): измерено X, Y");
    }
    void sheetIsPrintedUncorrected() {
        QFETCH(QPageSize, paper);
        QFETCH(QString, markBText);
        Calibration c;
        c.open();
        QTemporaryDir dir;
        const QString plain = dir.filePath(QStringLiteral("plain.pdf"));
        c.printSheet(plain, paper);
        QCOMPARE(MessageBox::shown().size(), 0);

        const QSizeF paperMm = paper.size(QPageSize::Millimeter);
        const QSizeF page = pdfPageMm(plain);
        QVERIFY2(std::abs(page.width() - paperMm.width()) < 0.5 && std::abs(page.height() - paperMm.height()) < 0.5,
                 qPrintable(QStringLiteral("%1 x %2 mm").arg(page.width()).arg(page.height())));
        QCOMPARE(c.w<QLabel>("labelMarkB")->text(), markBText);
        QCOMPARE(c.w<QDoubleSpinBox>("doubleSpinBoxBX")->value(), PrinterCalibration::markB(paperMm).x());

        const QList<PdfWord> words = pdfWords(plain);
        const QString all = describeWords(words);
        for (const QString& title :
             {QStringLiteral("Калибровочный"), first, QStringLiteral("Напечатан"), QStringLiteral("поправки")})
            QVERIFY2(all.contains(title + QLatin1Char('@')), qPrintable(title));
        const QRectF a = labelBox(words, QStringLiteral("A"));
        const QRectF b = labelBox(words, QStringLiteral("B"));
        QVERIFY2(distance(a, PrinterCalibration::markA(paperMm)) < 12, qPrintable(all));
        QVERIFY2(distance(b, PrinterCalibration::markB(paperMm)) < 12, qPrintable(all));

        // A stored correction moves printed fields, never the sheet that measures it.
        QVERIFY(CalibrationStore::store(first, {5, -4, 1.02, 0.97}));
        const QString again = dir.filePath(QStringLiteral("again.pdf"));
        c.printSheet(again, paper);
        const QList<PdfWord> corrected = pdfWords(again);
        QCOMPARE(labelBox(corrected, QStringLiteral("A")), a);
        QCOMPARE(labelBox(corrected, QStringLiteral("B")), b);
    }

    void refusedSheetIsReported() {
        Calibration c;
        c.open();
        c.printSheet(QStringLiteral("/nonexistent-folder/sheet.pdf"));
        QCOMPARE(MessageBox::shown().size(), 1);
        QCOMPARE(MessageBox::lastShown().text,
                 QStringLiteral("Не удалось напечатать калибровочный лист.\nПринтер: %1").arg(first));
    }

    void printersKeepTheirOwnValues() {
        const PrinterCalibration other{-0.75, 1.25, 0.995, 1.004};
        Calibration c;
        QVERIFY(CalibrationStore::store(second, other));
        c.open();
        QCOMPARE(c.w<QComboBox>("comboBoxPrinter")->currentText(), first);
        QCOMPARE(c.w<QLabel>("labelMarkA")->text(), QStringLiteral("Метка A (20; 20 мм): измерено X, Y"));
        QCOMPARE(c.w<QDoubleSpinBox>("doubleSpinBoxAY")->value(), 20.0);
        QCOMPARE(c.w<QDoubleSpinBox>("doubleSpinBoxBY")->value(), 277.0);
        compareShown(c.shown(), PrinterCalibration());
        c.w<QComboBox>("comboBoxPrinter")->setCurrentIndex(1);
        compareShown(c.shown(), other);

        c.click("pushButtonReset");
        QCOMPARE(c.shown(), (QList<double>{0, 0, 1, 1}));
        c.click("pushButtonSave");
        QCOMPARE(CalibrationStore::forPrinter(second), PrinterCalibration());
        QVERIFY(!SettingsRegistry::instance()->value(Keys::dialogGeometry, {c.dialog->objectName()}).isNull());
    }

    // Enter after a typed measurement neither saves nor closes: the correction is not computed yet.
    void enterAfterMeasurementKeepsDialogOpen() {
        Calibration c;
        c.open();
        c.dialog->show();
        c.typeValue("doubleSpinBoxAY", 21.5);
        QTest::keyClick(c.w<QDoubleSpinBox>("doubleSpinBoxAY"), Qt::Key_Return);
        QVERIFY(c.dialog->isVisible());
        QCOMPARE(c.dialog->result(), 0);
        QCOMPARE(CalibrationStore::forPrinter(first), PrinterCalibration());
    }

    void withoutPrintersOnlyCancelIsLeft() {
        Calibration c;
        c.open({});
        QCOMPARE(c.dialog->objectName(), QStringLiteral("PrinterCalibrationDialog"));
        QCOMPARE(c.dialog->windowTitle(), QStringLiteral("Калибровка принтера"));
        QVERIFY(c.w<QLabel>("labelNoPrinter")->isVisible());
        QCOMPARE(c.w<QLabel>("labelNoPrinter")->text(), QStringLiteral("Принтеры не найдены."));
        for (const char* name : {"comboBoxPrinter", "groupBoxCorrection", "groupBoxSheet", "pushButtonSave",
                                 "pushButtonPrintSheet", "pushButtonCompute", "pushButtonReset"})
            QVERIFY2(!c.w<QWidget>(name)->isEnabled(), name);
        QVERIFY(c.w<QPushButton>("pushButtonCancel")->isEnabled());
        c.click("pushButtonCancel");
        QCOMPARE(c.dialog->result(), int(QDialog::Rejected));
    }
};

ORVANE_TEST(TestCalibrationDialog)
#include "tst_calibrationdialog.moc"
