#include "calibrationstore.h"
#include "printercalibration.h"
#include "printsession.h"
#include "reportpage.h"
#include "appsettings.h"
#include "rendertool.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QJsonArray>
#include <QPrintEngine>
#include <QPrinter>
#include <QSettings>
#include <QtTest>
#include <optional>

Q_DECLARE_METATYPE(PrinterCalibration)

namespace {
// Fields spread over the sheet, so that a scale shows as well as an offset.
QJsonObject spreadPage() {
    return pageObject({textFieldObject(15, 20, 60, 10, QStringLiteral("ALPHA")),
                       textFieldObject(120, 150, 60, 10, QStringLiteral("BRAVO")),
                       textFieldObject(60, 260, 60, 10, QStringLiteral("CHARLIE"))});
}

// Side 0 of the page printed through a print session onto a PDF printer carrying `printerName`
// (as a real printer of the office would), read back as words.
QList<PdfWord> printedWords(ReportPage& page, const QString& printerName, const QString& pdf) {
    QPrinter* printer = page.printer();
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(pdf);
    printer->setResolution(300);
    // A PDF printer has no name of its own; the print engine keeps whatever it is given.
    printer->printEngine()->setProperty(QPrintEngine::PPK_PrinterName, printerName);
    PrintSession session;
    if (!session.printPage(&page, true, -1, false, 0))
        return {};
    return pdfWords(pdf);
}

// Every word of `actual` where `reference` has it once corrected by `c`, within 0.1 mm.
QString misplaced(const QList<PdfWord>& reference, const QList<PdfWord>& actual, const PrinterCalibration& c) {
    if (reference.size() != actual.size() || reference.isEmpty())
        return QStringLiteral("words differ:\n%1---\n%2").arg(describeWords(reference), describeWords(actual));
    for (int i = 0; i < reference.size(); ++i) {
        const PdfWord& r = reference.at(i);
        const PdfWord& a = actual.at(i);
        const double expectedLeft = r.left * c.scaleX + c.offsetX;
        const double expectedTop = r.top * c.scaleY + c.offsetY;
        const double expectedRight = r.right * c.scaleX + c.offsetX;
        if (a.text != r.text || qAbs(a.left - expectedLeft) > 0.1 || qAbs(a.top - expectedTop) > 0.1 ||
            qAbs(a.right - expectedRight) > 0.1)
            return QStringLiteral("%1 at %2, %3 (right %4); expected %5, %6 (right %7)")
                .arg(a.text)
                .arg(a.left)
                .arg(a.top)
                .arg(a.right)
                .arg(expectedLeft)
                .arg(expectedTop)
                .arg(expectedRight);
    }
    return QString();
}
} // namespace

class TestCalibration : public QObject {
    Q_OBJECT

private slots:
    // The correction follows the printer it was stored for, and only that one; the template and
    // a printer without a name (a PDF file) stay as they are.
    void calibratedPrinterShiftsEveryField_data() {
        QTest::addColumn<QString>("storedFor");
        QTest::addColumn<PrinterCalibration>("stored");
        QTest::addColumn<PrinterCalibration>("expected");
        const PrinterCalibration shifted{3, -1.5, 1, 1};
        const PrinterCalibration scaled{1, 2, 1.02, 0.98};
        QTest::newRow("blank 1.5 mm too low, 3 mm too far left") << "Кабинет 12/HP" << shifted << shifted;
        QTest::newRow("offset and scale") << "Кабинет 12/HP" << scaled << scaled;
        QTest::newRow("another printer calibrated") << "Бухгалтерия" << shifted << PrinterCalibration();
    }

    void calibratedPrinterShiftsEveryField() {
        QFETCH(QString, storedFor);
        QFETCH(PrinterCalibration, stored);
        QFETCH(PrinterCalibration, expected);
        TestEnvironment env;
        QTemporaryDir dir;
        QVERIFY(CalibrationStore::store(storedFor, stored));

        ReportPage page;
        page.fromJson(spreadPage());
        QJsonObject before;
        page.toJson(before);
        const QList<PdfWord> reference = printedWords(page, QString(), dir.filePath(QStringLiteral("plain.pdf")));
        const QList<PdfWord> actual = printedWords(page, QStringLiteral("Кабинет 12/HP"), dir.filePath("office.pdf"));
        const QString problem = misplaced(reference, actual, expected);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QJsonObject after;
        page.toJson(after);
        QCOMPARE(after, before);
    }

    // The render tool corrects only when asked, the same way; a correction no printer needs is
    // refused as a mistyped argument.
    void renderToolCalibration_data() {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<PrinterCalibration>("expected");
        QTest::newRow("not asked") << QString() << 0 << PrinterCalibration();
        QTest::newRow("identity") << "0,0,1,1" << 0 << PrinterCalibration();
        QTest::newRow("offset") << "3,-1.5,1,1" << 0 << PrinterCalibration{3, -1.5, 1, 1};
        QTest::newRow("offset and scale") << "-2,1.25,0.97,1.03" << 0 << PrinterCalibration{-2, 1.25, 0.97, 1.03};
        QTest::newRow("three numbers") << "1,2,3" << 2 << PrinterCalibration();
        QTest::newRow("decimal comma") << "1,5;0;1;1" << 2 << PrinterCalibration();
        QTest::newRow("zero scale") << "0,0,0,1" << 2 << PrinterCalibration();
        QTest::newRow("offset of 6 cm") << "0,60,1,1" << 2 << PrinterCalibration();
        QTest::newRow("not a number") << "nan,0,1,1" << 2 << PrinterCalibration();
    }

    void renderToolCalibration() {
        QFETCH(QString, argument);
        QFETCH(int, exitCode);
        QFETCH(PrinterCalibration, expected);
        RenderTool tool;
        const QString plain = tool.render(spreadPage(), 300);
        QVERIFY2(!plain.isEmpty(), qPrintable(tool.errorText()));
        const QList<PdfWord> reference = pdfWords(plain);
        const QStringList extra =
            argument.isEmpty() ? QStringList() : QStringList{QStringLiteral("--calibration"), argument};
        const QString corrected = tool.render(spreadPage(), 300, extra);
        if (exitCode != 0) {
            QVERIFY(corrected.isEmpty());
            QVERIFY2(tool.errorText().contains(QStringLiteral("--calibration wants X,Y,SX,SY")),
                     qPrintable(tool.errorText()));
            return;
        }
        QVERIFY2(!corrected.isEmpty(), qPrintable(tool.errorText()));
        const QString problem = misplaced(reference, pdfWords(corrected), expected);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

    // Per printer name in the user store; a name with slashes stays one entry; the identity leaves
    // no entry behind; a damaged entry counts as no correction.
    void storedPerPrinter() {
        TestEnvironment env;
        const QString name = QStringLiteral("\\\\server\\Принтер 2/этаж");
        const PrinterCalibration c{0.25, -1.5, 1.0123, 0.995};
        QVERIFY(CalibrationStore::store(name, c));
        QCOMPARE(CalibrationStore::forPrinter(name), c);
        QCOMPARE(CalibrationStore::forPrinter(QStringLiteral("Принтер 2")), PrinterCalibration());
        QCOMPARE(CalibrationStore::forPrinter(QString()), PrinterCalibration());
        QVERIFY(!CalibrationStore::store(name, PrinterCalibration{0, 0, 0, 1}));
        QCOMPARE(CalibrationStore::forPrinter(name), c);

        QSettings* store = AppSettings::userSettings();
        const auto entries = [store] {
            store->beginGroup(QStringLiteral("PrinterCalibration"));
            const QStringList keys = store->childKeys();
            store->endGroup();
            return keys;
        };
        QCOMPARE(entries().size(), 1);
        store->setValue(QStringLiteral("PrinterCalibration/") + entries().first(), QStringLiteral("1,2,ab,1"));
        QCOMPARE(CalibrationStore::forPrinter(name), PrinterCalibration());
        QVERIFY(CalibrationStore::store(name, PrinterCalibration()));
        QVERIFY(entries().isEmpty());
    }

    // The correction computed from two measured marks puts them back where the sheet drew them.
    void marksGiveCorrection_data() {
        QTest::addColumn<double>("s");
        QTest::addColumn<double>("dx");
        QTest::addColumn<double>("dy");
        QTest::newRow("exact") << 1.0 << 0.0 << 0.0;
        QTest::newRow("1.5 mm too low") << 1.0 << 0.0 << 1.5;
        QTest::newRow("1 % larger, 2 mm right") << 1.01 << 2.0 << -0.5;
    }

    void marksGiveCorrection() {
        QFETCH(double, s);
        QFETCH(double, dx);
        QFETCH(double, dy);
        const QSizeF a4(210, 297);
        const QPointF a = PrinterCalibration::markA(a4);
        const QPointF b = PrinterCalibration::markB(a4);
        QCOMPARE(b, QPointF(190, 277));
        const auto printed = [&](QPointF p) { return QPointF(p.x() * s + dx, p.y() * s + dy); };
        const std::optional<PrinterCalibration> c = PrinterCalibration::fromMarks(a, printed(a), b, printed(b));
        QVERIFY(c);
        // Painting at the corrected place, the printer puts every point where it belongs.
        for (const QPointF& p : {a, b, QPointF(105, 148)}) {
            const QPointF corrected(p.x() * c->scaleX + c->offsetX, p.y() * c->scaleY + c->offsetY);
            QVERIFY(qAbs(printed(corrected).x() - p.x()) < 1e-9 && qAbs(printed(corrected).y() - p.y()) < 1e-9);
        }
        QVERIFY(!PrinterCalibration::fromMarks(a, printed(a), a, printed(a)));
        QVERIFY(!PrinterCalibration::fromMarks(a, printed(b), b, printed(a)));
    }
};

ORVANE_TEST(TestCalibration)
#include "tst_calibration.moc"
