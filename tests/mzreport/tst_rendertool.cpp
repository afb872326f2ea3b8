#include "messagebox.h"
#include "printsession.h"
#include "rendertool.h"
#include "reportpage.h"
#include "scratchfilesystem.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QBuffer>
#include <QPrinter>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

namespace {
// "Page size: 842 x 595 pts (A4)" and the page count, as pdfinfo reports them.
QPair<QString, int> pdfInfo(const QString& pdf) {
    QProcess process;
    process.start(QStringLiteral("pdfinfo"), {pdf});
    process.waitForFinished(60000);
    const QString text = QString::fromUtf8(process.readAllStandardOutput());
    const QRegularExpression size(QStringLiteral("Page size:\\s+(\\S+ x \\S+) pts"));
    const QRegularExpression pages(QStringLiteral("Pages:\\s+(\\d+)"));
    return {size.match(text).captured(1), pages.match(text).captured(1).toInt()};
}

QString jpegBase64(const QColor& color) {
    QImage image(60, 40, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return QString::fromLatin1(bytes.toBase64());
}
} // namespace

class TestRenderTool : public QObject {
    Q_OBJECT

    RenderTool _tool;

private slots:
    void badArguments_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const QString page = _tool.writeTemplate(pageObject({textFieldObject(10, 10, 50, 10, "x")}));
        const QString pdf = _tool.path(QStringLiteral("out.pdf"));
        QTest::newRow("nothing") << QStringList() << 2 << QString("usage: mzrpt-render");
        QTest::newRow("unknown option") << QStringList{"--models", "m", page, pdf} << 2
                                        << QString("unknown option --models");
        QTest::newRow("dpi too low") << QStringList{"--dpi", "5", page, pdf} << 2 << QString("--dpi");
        QTest::newRow("dpi missing") << QStringList{page, pdf, "--dpi"} << 2 << QString("--dpi needs a value");
        QTest::newRow("var without value") << QStringList{"--var", "fio", page, pdf} << 2 << QString("NAME=VALUE");
        QTest::newRow("side beyond the template")
            << QStringList{"--side", "1", page, pdf} << 2 << QString("the template has sides 0 to 0");
        QTest::newRow("missing template")
            << QStringList{_tool.path("none.mzrpt"), pdf} << 3 << QString("cannot read template");
        QFile array(_tool.path(QStringLiteral("array.mzrpt")));
        QVERIFY(array.open(QIODevice::WriteOnly) && array.write("[{\"textFields\": []}]") > 0);
        array.close();
        QTest::newRow("root not an object")
            << QStringList{array.fileName(), pdf} << 3 << ReportPage::notATemplateText();
        QTest::newRow("output folder missing")
            << QStringList{page, _tool.path("no/such/out.pdf")} << 4 << QString("cannot write");
        QJsonObject b0 = pageObject({textFieldObject(10, 10, 50, 10, "x")});
        b0.insert(QStringLiteral("pageSize"), 14);
        const QString bigPage = _tool.writeTemplate(b0, QStringLiteral("b0.mzrpt"));
        QTest::newRow("picture too large")
            << QStringList{"--dpi", "1200", "--png", _tool.path("big"), bigPage, pdf} << 2 << QString("megapixels");
        QTest::newRow("model without a file")
            << QStringList{"--model", "m=", page, pdf} << 2 << QString("--model wants NAME=FILE.csv");
        QTest::newRow("model file missing") << QStringList{"--model", "m=" + _tool.path("none.csv"), page, pdf} << 5
                                            << QString("cannot read model m from");
        const QList<QPair<const char*, QByteArray>> badCsv{
            {"line 3: a quoted field is not closed", "a,b\n1,2\n\"3,4\n5,6\n"},
            {"line 3: 3 fields, the header has 2", "a,b\n1\n1,2,3\n"},
            {"line 2: unexpected text after a closing quote", "a,b\n\"1\"x,2\n"},
            {"not UTF-8 text", "a,b\n\xC0\xC1,2\n"},
            {"no header row", "\n\n"}};
        for (int i = 0; i < badCsv.size(); ++i) {
            QFile file(_tool.path(QStringLiteral("bad%1.csv").arg(i)));
            file.open(QIODevice::WriteOnly);
            file.write(badCsv.at(i).second);
            QTest::newRow(badCsv.at(i).first)
                << QStringList{"--model", "m=" + file.fileName(), page, pdf} << 5 << QString(badCsv.at(i).first);
        }
    }

    void badArguments() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QCOMPARE(_tool.run(arguments), exitCode);
        QVERIFY2(_tool.errorText().contains(message), qPrintable(_tool.errorText()));
    }

    // A save that cannot be completed fails loudly and keeps the file that was there: a full disk,
    // a device or a folder in the way.
    void failedOutputKeepsOldFiles_data() {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("target");
        QTest::newRow("template on a full disk") << QStringLiteral("template") << QStringLiteral("full");
        QTest::newRow("PDF on a full disk") << QStringLiteral("pdf") << QStringLiteral("full");
        QTest::newRow("template onto a device") << QStringLiteral("template") << QStringLiteral("/dev/full");
        QTest::newRow("PDF onto a device") << QStringLiteral("pdf") << QStringLiteral("/dev/full");
        QTest::newRow("template onto a folder") << QStringLiteral("template") << QStringLiteral("folder");
        QTest::newRow("PDF onto a folder") << QStringLiteral("pdf") << QStringLiteral("folder");
    }

    void failedOutputKeepsOldFiles() {
        QFETCH(QString, what);
        QFETCH(QString, target);
        QTemporaryDir dir;
        ScratchFileSystem disk(dir.filePath(QStringLiteral("disk")), 256 * 1024);
        if (target == QLatin1String("full") && !disk.isMounted())
            QSKIP("a full disk needs a file system of its own (mounting needs root)");
        // A page that is larger than the room left: a background makes the template big.
        QJsonObject page = pageObject({textFieldObject(10, 10, 50, 10, QStringLiteral("слово"))});
        QImage noise(400, 300, QImage::Format_RGB32);
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, QRandomGenerator::global()->generate());
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        noise.save(&buffer, "JPG", 100);
        page.insert(QStringLiteral("backgroundImageJPG"), QString::fromLatin1(jpeg.toBase64()));
        const QString source = _tool.writeTemplate(page, QStringLiteral("source.mzrpt"));

        QString path = target;
        const QByteArray old = "the old file";
        if (target == QLatin1String("full")) {
            path =
                disk.path() + (what == QLatin1String("pdf") ? QStringLiteral("/out.pdf") : QStringLiteral("/t.mzrpt"));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(old);
            file.close();
            QVERIFY(disk.fill(8 * 1024));
        } else if (target == QLatin1String("folder")) {
            path = dir.filePath(QStringLiteral("folder"));
            QVERIFY(QDir().mkpath(path));
        }

        if (what == QLatin1String("template")) {
            ReportPage loaded;
            QVERIFY(loaded.load(source));
            QVERIFY(!loaded.save(path));
        } else {
            QCOMPARE(_tool.run({"--dpi", "300", "--background", source, path}), 4);
            QVERIFY2(_tool.errorText().contains(QStringLiteral("cannot write")), qPrintable(_tool.errorText()));
        }
        if (target == QLatin1String("full")) {
            QCOMPARE(readFileBytes(path), old);
            QCOMPARE(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden),
                     (QStringList{"filler", QFileInfo(path).fileName()}));
        } else if (target == QLatin1String("folder")) {
            QVERIFY(QFileInfo(path).isDir());
            QVERIFY(QDir(path).isEmpty());
        }
    }

    // The program's own printing to a PDF file reports a file that was not written completely.
    void printedPdfIsVerified_data() {
        QTest::addColumn<QString>("target");
        QTest::newRow("written") << QStringLiteral("file");
        QTest::newRow("onto a device") << QStringLiteral("/dev/full");
        QTest::newRow("on a full disk") << QStringLiteral("full");
    }

    void printedPdfIsVerified() {
        QFETCH(QString, target);
        QTemporaryDir dir;
        ScratchFileSystem disk(dir.filePath(QStringLiteral("disk")), 256 * 1024);
        if (target == QLatin1String("full") && !disk.isMounted())
            QSKIP("a full disk needs a file system of its own (mounting needs root)");
        QString path = target;
        if (target == QLatin1String("file")) {
            path = dir.filePath(QStringLiteral("out.pdf"));
        } else if (target == QLatin1String("full")) {
            path = disk.path() + QStringLiteral("/out.pdf");
            QVERIFY(disk.fill(4 * 1024));
        }
        ReportPage page;
        QVERIFY(page.load(testDataPath(QStringLiteral("MzReport/full.mzrpt"))));
        page.printer()->setOutputFormat(QPrinter::PdfFormat);
        page.printer()->setResolution(300);
        page.printer()->setOutputFileName(path);
        const bool written = target == QLatin1String("file");
        MessageBox::clearShown();
        if (!written)
            MessageBox::setNextAnswer(QMessageBox::Ok);
        QCOMPARE(PrintSession().printPage(&page, true, 1, false, 0), written);
        // A job that was not written completely is told, naming the side.
        QCOMPARE(MessageBox::shown().size(), written ? 0 : 1);
        if (!written)
            QVERIFY2(MessageBox::lastShown().text.contains(QStringLiteral("сторона 1 не напечатана")),
                     qPrintable(MessageBox::lastShown().text));
        QCOMPARE(page.paintSides(page.printer(), {0}), target == QLatin1String("file"));
    }

    // Values from records and data files print as typed, "<" and "&" included, in text fields and
    // table cells; markup in the template itself still works.
    void valuesPrintAsTyped() {
        const QJsonObject page = tablePageObject({tableFieldObject(10, 40, {80.0}, {"name"}, 0, 8)}, 1);
        QJsonObject withText = page;
        withText.insert(QStringLiteral("textFields"),
                        QJsonArray{textFieldObject(10, 10, 250, 10, QStringLiteral("<b>ФИО:</b> $V{fio}"))});
        const QString csv = _tool.writeCsv({{"name"}, {"x<y & <i>z</i>"}});
        const QString pdf = _tool.render(
            withText, 150, {"--var", "fio=Иванов <Пётр> & Ko a<b<img src=/etc/hostname>", "--model", "m=" + csv});
        QVERIFY2(!pdf.isEmpty(), qPrintable(_tool.errorText()));
        QStringList texts;
        for (const PdfWord& word : pdfWords(pdf))
            texts << word.text;
        QCOMPARE(texts, (QStringList{"ФИО:", "Иванов", "<Пётр>", "&", "Ko", "a<b<img", "src=/etc/hostname>", "x<y", "&",
                                     "<i>z</i>"}));
    }

    void paperOfTheTemplate_data() {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<int>("pageSize");
        QTest::addColumn<int>("pagesCount");
        QTest::addColumn<QString>("size");
        QTest::newRow("A4 landscape") << 1 << 0 << 2 << QString("842 x 595");
        QTest::newRow("A4 portrait") << 0 << 0 << 1 << QString("595 x 842");
        QTest::newRow("A3 landscape") << 1 << 8 << 1 << QString("1191 x 842");
        QTest::newRow("A5 portrait") << 0 << 9 << 3 << QString("420 x 595");
    }

    void paperOfTheTemplate() {
        QFETCH(int, orientation);
        QFETCH(int, pageSize);
        QFETCH(int, pagesCount);
        QFETCH(QString, size);
        QJsonObject page = pageObject({textFieldObject(10, 10, 50, 10, "x")}, {}, pagesCount);
        page.insert(QStringLiteral("orientation"), orientation);
        page.insert(QStringLiteral("pageSize"), pageSize);
        const QString pdf = _tool.render(page, 150);
        QVERIFY2(!pdf.isEmpty(), qPrintable(_tool.errorText()));
        const auto info = pdfInfo(pdf);
        QCOMPARE(info.first, size);
        QCOMPARE(info.second, pagesCount);
    }

    // --save writes the template as loaded, before the rendering options touch it.
    void saveRoundTrip() {
        const QString saved = _tool.path(QStringLiteral("saved.mzrpt"));
        const QString full = testDataPath(QStringLiteral("MzReport/full.mzrpt"));
        QCOMPARE(_tool.run({"--save", saved, "--background", full, _tool.path("full.pdf")}), 0);
        QCOMPARE(pdfInfo(_tool.path(QStringLiteral("full.pdf"))).second, 3);
        ReportPage original, copy;
        QVERIFY(original.load(full) && copy.load(saved));
        QJsonObject a, b;
        original.toJson(a);
        copy.toJson(b);
        for (const char* key : {"backgroundImageJPG", "backgroundImage2JPG"}) {
            QVERIFY(b.contains(key));
            a.remove(key);
            b.remove(key);
        }
        QCOMPARE(b, a);
    }

    // Backgrounds print only on request, even sides the first, odd sides the second (none here).
    void backgrounds_data() {
        QTest::addColumn<bool>("requested");
        QTest::addColumn<bool>("templateSetting");
        QTest::newRow("requested") << true << false;
        QTest::newRow("not requested, template asks") << false << true;
    }

    void backgrounds() {
        QFETCH(bool, requested);
        QFETCH(bool, templateSetting);
        QJsonObject page = pageObject({}, {}, 3);
        page.insert(QStringLiteral("backgroundImageJPG"), jpegBase64(QColor(40, 90, 160)));
        page.insert(QStringLiteral("printBackgroundImage"), templateSetting);
        QStringList extra;
        if (requested)
            extra << QStringLiteral("--background");
        QVERIFY2(!_tool.render(page, 50, extra, true).isEmpty(), qPrintable(_tool.errorText()));
        for (int side = 0; side < 3; ++side) {
            const QImage image = _tool.png(side);
            QVERIFY(!image.isNull());
            const QColor centre = image.pixelColor(image.width() / 2, image.height() / 2);
            const bool painted = qAbs(centre.blue() - 160) < 20 && qAbs(centre.red() - 40) < 20;
            QVERIFY2(painted == (requested && side % 2 == 0),
                     qPrintable(QStringLiteral("side %1: %2").arg(side).arg(centre.name())));
            // Stretched over the whole side.
            if (painted)
                QVERIFY(qAbs(image.pixelColor(1, image.height() - 2).blue() - 160) < 20);
        }
    }

    // The printing slot paints the current side as one job.
    void paintPagePaintsTheCurrentSide_data() {
        QTest::addColumn<int>("side");
        QTest::addColumn<QStringList>("words");
        QTest::newRow("side 0") << 0 << QStringList{"лицевая"};
        QTest::newRow("side 1") << 1 << QStringList{"оборот"};
        QTest::newRow("no such side") << 2 << QStringList();
    }

    void paintPagePaintsTheCurrentSide() {
        QFETCH(int, side);
        QFETCH(QStringList, words);
        ReportPage page;
        page.fromJson(pageObject({textFieldObject(40, 30, 80, 10, QStringLiteral("лицевая")),
                                  textFieldObject(40, 240, 80, 10, QStringLiteral("оборот"))},
                                 {}, 2));
        const QString pdf = _tool.path(QStringLiteral("slot.pdf"));
        QPrinter* printer = page.printer();
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdf);
        printer->setResolution(300);
        page.setCurrentPage(side);
        page.paintPage(printer);
        const QList<PdfWord> found = pdfWords(pdf);
        QStringList texts;
        for (const PdfWord& word : found)
            texts << word.text;
        QCOMPARE(texts, words);
        QCOMPARE(pdfInfo(pdf).second, 1);
        if (!found.isEmpty()) {
            QVERIFY(qAbs(found.first().left - 40.0) <= 0.3);
            QVERIFY(qAbs(found.first().top - (side == 0 ? 30.0 : 240.0 - 2480 * 25.399931 / 300)) <= 0.3);
        }
    }
};

ORVANE_TEST(TestRenderTool)
#include "tst_rendertool.moc"
