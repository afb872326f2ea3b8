#include "qrfield.h"
#include "reportpage.h"
#include "rendertool.h"
#include "testregistry.h"

#include <QBuffer>
#include <QJsonArray>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

namespace {
QStringList capturedLog;

void captureMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
    capturedLog << message;
}

QJsonObject qrFieldObject(double x, double y, double width, double height, const QString& text) {
    return QJsonObject{{QStringLiteral("x"), x},
                       {QStringLiteral("y"), y},
                       {QStringLiteral("width"), width},
                       {QStringLiteral("height"), height},
                       {QStringLiteral("id"), text}};
}

QString greyBackground() {
    QImage image(297, 210, QImage::Format_RGB32);
    image.fill(QColor(100, 100, 100));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return QString::fromLatin1(bytes.toBase64());
}

// Bounding box of the pixels that pass `test`.
template <typename Test> QRect boundingBox(const QImage& image, Test test) {
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (test(line[x]))
                box |= QRect(x, y, 1, 1);
    }
    return box;
}

QByteArray zbarDecode(const QString& png) {
    QProcess process;
    process.start(QStringLiteral("zbarimg"),
                  {QStringLiteral("--raw"), QStringLiteral("-q"), QStringLiteral("-Sbinary"), png});
    process.waitForFinished(60000);
    QByteArray out = process.readAllStandardOutput();
    if (out.endsWith('\n'))
        out.chop(1);
    return out;
}
} // namespace

class TestQrField : public QObject {
    Q_OBJECT

    RenderTool _tool;

private slots:
    void initTestCase() {
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty(),
                 "zbarimg (zbar-tools) is needed to decode printed codes");
    }

    void decodesBack_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("raw");
        QTest::addColumn<QString>("expected");
        QTest::newRow("latin") << QStringLiteral("https://example.org/?n=$V{reg}") << false
                               << QStringLiteral("https://example.org/?n=ПК-0042");
        QTest::newRow("cyrillic") << QStringLiteral("Свидетельство $V{reg}; выдано $V{ FIO }") << false
                                  << QStringLiteral("Свидетельство ПК-0042; выдано Иванова Анна Сергеевна");
        QTest::newRow("raw template") << QStringLiteral("рег. № $V{reg}") << true << QStringLiteral("рег. № $V{reg}");
        QTest::newRow("long text") << QString(400, QChar(0x0416)) << false << QString(400, QChar(0x0416));
    }

    void decodesBack() {
        QFETCH(QString, text);
        QFETCH(bool, raw);
        QFETCH(QString, expected);
        QStringList arguments{QStringLiteral("--var"), QStringLiteral("reg=ПК-0042"), QStringLiteral("--var"),
                              QStringLiteral("fio=Иванова Анна Сергеевна")};
        if (raw)
            arguments << QStringLiteral("--raw");
        const QJsonObject page = pageObject({}, {qrFieldObject(30, 30, 60, 60, text)});
        QVERIFY2(!_tool.render(page, 300, arguments, true).isEmpty(), qPrintable(_tool.errorText()));
        QCOMPARE(QString::fromUtf8(zbarDecode(_tool.path(QStringLiteral("page-0.png")))), expected);
    }

    void geometry_data() {
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("height");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("modules");
        QTest::newRow("wide field") << 30.0 << 20.0 << QStringLiteral("ширина") << 0;
        QTest::newRow("tall field") << 20.0 << 30.0 << QStringLiteral("высота") << 0;
        QTest::newRow("square field") << 42.5 << 42.5 << QStringLiteral("квадрат 0123456789") << 0;
        QTest::newRow("empty text is version 1") << 25.0 << 25.0 << QString() << 21;
    }

    // On a grey background the code's white square shows: it starts at the field's corner, its side is
    // the shorter edge, and the dark modules keep a 4-module margin on every side.
    void geometry() {
        QFETCH(double, width);
        QFETCH(double, height);
        QFETCH(QString, text);
        QFETCH(int, modules);
        const int dpi = 300;
        const double x = 50.3, y = 40.7;
        QJsonObject page = pageObject({}, {qrFieldObject(x, y, width, height, text)});
        page.insert(QStringLiteral("backgroundImageJPG"), greyBackground());
        QVERIFY2(!_tool.render(page, dpi, {QStringLiteral("--background")}, true).isEmpty(),
                 qPrintable(_tool.errorText()));
        const QImage image = _tool.png(0).convertToFormat(QImage::Format_RGB32);
        QVERIFY(!image.isNull());

        const QRect square = boundingBox(image, [](QRgb p) { return qGray(p) > 230; });
        const QRect dark = boundingBox(image, [](QRgb p) { return qGray(p) < 40; });
        const double side = qMin(width, height);
        const QString where = QStringLiteral("white %1,%2 %3x%4; dark %5,%6 %7x%8")
                                  .arg(square.x())
                                  .arg(square.y())
                                  .arg(square.width())
                                  .arg(square.height())
                                  .arg(dark.x())
                                  .arg(dark.y())
                                  .arg(dark.width())
                                  .arg(dark.height());
        QVERIFY2(qAbs(pxToMm(square.left(), dpi) - x) <= 0.3, qPrintable(where));
        QVERIFY2(qAbs(pxToMm(square.top(), dpi) - y) <= 0.3, qPrintable(where));
        QVERIFY2(qAbs(pxToMm(square.width(), dpi) - side) <= 0.3, qPrintable(where));
        QVERIFY2(qAbs(square.width() - square.height()) <= 1, qPrintable(where));

        QVERIFY2(square.contains(dark), qPrintable(where));
        // The symbol size (17 + 4 x version modules) whose modules, 8 of them added for the quiet zone,
        // divide the square into the measured dark part.
        int symbol = 0;
        double module = 0, best = 1e9;
        for (int version = 1; version <= 40; ++version) {
            const int size = 17 + 4 * version;
            const double m = square.width() / double(size + 8);
            if (qAbs(dark.width() - size * m) < best) {
                best = qAbs(dark.width() - size * m);
                symbol = size;
                module = m;
            }
        }
        QVERIFY2(best <= 1.5, qPrintable(where));
        if (modules)
            QCOMPARE(symbol, modules);
        for (int margin : {dark.left() - square.left(), square.right() - dark.right(), dark.top() - square.top(),
                           square.bottom() - dark.bottom()})
            QVERIFY2(qAbs(margin - 4 * module) <= 1.5, qPrintable(where));
        if (!text.isEmpty())
            QCOMPARE(QString::fromUtf8(zbarDecode(_tool.path(QStringLiteral("page-0.png")))), text);
    }

    void overlongTextIsCrossedOut() {
        ReportPage page;
        auto* field = new QrField;
        field->setGeometry(10, 10, 30, 30);
        field->setText(QString(3000, QChar(0x042F)));
        page.addField(field);
        QImage image(500, 500, QImage::Format_RGB32);
        image.fill(QColor(100, 100, 100));

        capturedLog.clear();
        const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
        for (int i = 0; i < 2; ++i) {
            QPainter painter(&image);
            page.paintSide(painter, 0, image.rect(), 0, 10.0);
        }
        qInstallMessageHandler(previous);
        // Once, not at every paint: the refusal is kept with the text.
        QCOMPARE(capturedLog.filter(QStringLiteral("QR code not encoded")).size(), 1);

        // A white 300 px square at (100, 100), crossed out in grey, without modules.
        QCOMPARE(boundingBox(image, [](QRgb p) { return qGray(p) > 230; }), QRect(100, 100, 300, 300));
        QVERIFY(boundingBox(image, [](QRgb p) { return qGray(p) < 40; }).isNull());
        const QRgb centre = image.pixel(250, 250);
        QVERIFY2(qGray(centre) > 80 && qGray(centre) < 200, qPrintable(QColor(centre).name()));
        QVERIFY(qGray(image.pixel(180, 180)) < 200);
        QVERIFY(qGray(image.pixel(320, 180)) < 200);
        QCOMPARE(qGray(image.pixel(250, 120)), 255);
    }
};

ORVANE_TEST(TestQrField)
#include "tst_qrfield.moc"
