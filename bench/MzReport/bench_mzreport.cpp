// Loads a certificate-sized template (40 text fields, 2 QR fields, a 1 MB JPEG background), fills
// 60 variables and paints one side to a 300 dpi PDF, then has reportlab draw the same page.
// Prints the figures; asserts nothing.
//
//   build/bin/bench_mzreport [iterations [folder]]
// With a folder, the template and both PDFs are kept there for a look.

#include "qrfield.h"
#include "reportpage.h"
#include "textfield.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <sys/resource.h>

namespace {

constexpr int textFieldCount = 40;
constexpr int variableCount = 60;
constexpr int dpi = 300;

QTextStream out(stdout);

QString variableName(int i) {
    return QStringLiteral("var%1").arg(i, 2, 10, QLatin1Char('0'));
}

QString variableValue(int i) {
    static const QStringList words{QStringLiteral("Иванова"),   QStringLiteral("Анна"),
                                   QStringLiteral("Сергеевна"), QStringLiteral("слесарь-ремонтник"),
                                   QStringLiteral("4 разряда"), QStringLiteral("30 июня 2024 г.")};
    return words.at(i % words.size()) + QStringLiteral(" ") + QString::number(1000 + i);
}

// A scanned-looking blank: soft gradients with grain, saved at the JPEG quality that lands near 1 MB.
QByteArray backgroundJpeg() {
    QImage image(2480, 1754, QImage::Format_RGB32);
    QRandomGenerator random(42);
    for (int y = 0; y < image.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grain = int(random.bounded(40));
            line[x] = qRgb(200 + grain, 198 + grain / 2 + (x * 30 / image.width()), 180 + (y * 40 / image.height()));
        }
    }
    QByteArray best;
    for (int quality = 98; quality >= 20; quality -= 2) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPG", quality);
        best = bytes;
        if (bytes.size() <= 1100 * 1024)
            break;
    }
    return best;
}

QJsonObject buildTemplate(const QByteArray& jpeg) {
    ReportPage page;
    for (int i = 0; i < textFieldCount; ++i) {
        auto* field = new TextField;
        const int column = i % 4, row = i / 4;
        field->setGeometry(12.0 + column * 68.0, 14.0 + row * 18.5, 64.0, 12.0);
        field->setAlignFlags(quint16(i % 3 == 0   ? (Qt::AlignLeft | Qt::AlignTop)
                                     : i % 3 == 1 ? (Qt::AlignHCenter | Qt::AlignVCenter)
                                                  : (Qt::AlignRight | Qt::AlignBottom)));
        // The first 20 fields carry two placeholders, the rest one: 60 in all.
        QString text = QStringLiteral("$V{%1}").arg(variableName(i));
        if (i < variableCount - textFieldCount)
            text += QStringLiteral(" $V{%1}").arg(variableName(textFieldCount + i));
        field->setText(text);
        page.addField(field);
    }
    for (int i = 0; i < 2; ++i) {
        auto* qr = new QrField;
        qr->setGeometry(230.0 + i * 32.0, 160.0, 28.0, 28.0);
        qr->setText(QStringLiteral("https://example.org/doc?id=$V{var0%1}&fio=$V{var0%2}").arg(i).arg(i + 2));
        page.addField(qr);
    }
    QJsonObject object;
    page.toJson(object);
    object.insert(QStringLiteral("backgroundImageJPG"), QString::fromLatin1(jpeg.toBase64()));
    return object;
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0.0 : values.at(values.size() / 2);
}

void fill(ReportPage& page) {
    for (int i = 0; i < variableCount; ++i)
        page.setVariable(variableName(i), variableValue(i));
}

QList<double> paintTimes(ReportPage& page, const QString& pdf, bool background, int iterations) {
    QPrinter* printer = page.printer();
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(pdf);
    printer->setResolution(dpi);
    page.setPrintBackgroundImage(background);
    page.setFillWithData(true);
    QList<double> times;
    for (int i = 0; i < iterations; ++i) {
        QElapsedTimer timer;
        timer.start();
        fill(page);
        page.paintSides(printer, {0});
        times << timer.nsecsElapsed() / 1e6;
    }
    return times;
}

// What reportlab is asked to draw: the filled texts and codes at the engine's positions.
QJsonObject drawingPlan(ReportPage& page, const QString& jpegPath) {
    QJsonArray texts, codes;
    for (AbstractField* field : page.fields()) {
        auto* text = qobject_cast<TextField*>(field);
        QJsonObject item{{"x", field->x()},           {"y", field->y()},           {"width", field->width()},
                         {"height", field->height()}, {"text", text->shownText()}, {"align", int(field->alignFlags())}};
        (field->type() == AbstractField::QrType ? codes : texts).append(item);
    }
    return QJsonObject{{"widthMm", 297.0},       {"heightMm", 210.0}, {"fontSize", page.defaultFont().pointSizeF()},
                       {"background", jpegPath}, {"texts", texts},    {"codes", codes}};
}

long peakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void printRow(const QString& name, const QList<double>& times) {
    out << QStringLiteral("  %1 median %2 ms, min %3 ms (%4 runs)\n")
               .arg(name, -34)
               .arg(median(times), 0, 'f', 2)
               .arg(*std::min_element(times.begin(), times.end()), 0, 'f', 2)
               .arg(times.size());
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int iterations = argc > 1 ? qMax(1, QString::fromLocal8Bit(argv[1]).toInt()) : 20;
    QTemporaryDir dir(argc > 2 ? QString::fromLocal8Bit(argv[2]) + QStringLiteral("/bench-XXXXXX") : QString());
    if (argc > 2) {
        dir.setAutoRemove(false);
        out << "files kept in " << dir.path() << '\n';
    }

    const QByteArray jpeg = backgroundJpeg();
    const QString jpegPath = dir.filePath(QStringLiteral("background.jpg"));
    const QString templatePath = dir.filePath(QStringLiteral("bench.mzrpt"));
    {
        QFile file(jpegPath);
        file.open(QIODevice::WriteOnly);
        file.write(jpeg);
        QFile page(templatePath);
        page.open(QIODevice::WriteOnly);
        page.write(QJsonDocument(buildTemplate(jpeg)).toJson());
    }
    out << "template: " << textFieldCount << " text fields, 2 QR fields, " << variableCount
        << " variables, background JPEG " << QString::number(jpeg.size() / 1024.0 / 1024.0, 'f', 2) << " MB, file "
        << QString::number(QFileInfo(templatePath).size() / 1024.0 / 1024.0, 'f', 2) << " MB\n";

    QList<double> loads;
    for (int i = 0; i < iterations; ++i) {
        QElapsedTimer timer;
        timer.start();
        ReportPage page;
        page.load(templatePath);
        loads << timer.nsecsElapsed() / 1e6;
    }

    ReportPage page;
    page.load(templatePath);
    const QString pdf = dir.filePath(QStringLiteral("side.pdf"));
    paintTimes(page, pdf, false, 2); // warm the font and glyph caches
    const QList<double> plain = paintTimes(page, pdf, false, iterations);
    const qint64 plainSize = QFileInfo(pdf).size();
    const QList<double> withBackground = paintTimes(page, pdf, true, iterations);
    const qint64 backgroundSize = QFileInfo(pdf).size();

    out << "Orvane report engine (" << dpi << " dpi PDF):\n";
    printRow(QStringLiteral("load template"), loads);
    printRow(QStringLiteral("fill + paint side"), plain);
    printRow(QStringLiteral("fill + paint side with background"), withBackground);
    out << "  PDF " << plainSize / 1024 << " KB, with background " << backgroundSize / 1024 << " KB; peak RSS "
        << peakRssKb() / 1024 << " MB\n";

    const QString planPath = dir.filePath(QStringLiteral("plan.json"));
    {
        QFile plan(planPath);
        plan.open(QIODevice::WriteOnly);
        plan.write(QJsonDocument(drawingPlan(page, jpegPath)).toJson());
    }
    QProcess reportlab;
    reportlab.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(ORVANE_REPORTLAB_SCRIPT), planPath, dir.filePath(QStringLiteral("reportlab.pdf")),
                     QString::number(iterations)});
    if (!reportlab.waitForFinished(600000) || reportlab.exitCode() != 0) {
        out << "reportlab run failed: " << reportlab.readAllStandardError() << '\n';
        return 1;
    }
    const QJsonObject figures = QJsonDocument::fromJson(reportlab.readAllStandardOutput()).object();
    const double rlPlain = figures.value(QStringLiteral("plainMs")).toDouble();
    const double rlBackground = figures.value(QStringLiteral("backgroundMs")).toDouble();
    out << "reportlab " << figures.value(QStringLiteral("version")).toString() << " (same texts and codes):\n"
        << QStringLiteral("  %1 median %2 ms\n").arg(QStringLiteral("draw + save side"), -34).arg(rlPlain, 0, 'f', 2)
        << QStringLiteral("  %1 median %2 ms\n")
               .arg(QStringLiteral("draw + save side with background"), -34)
               .arg(rlBackground, 0, 'f', 2)
        << "  peak RSS " << figures.value(QStringLiteral("peakRssMb")).toDouble() << " MB\n";
    out << "ratio Orvane / reportlab: " << QString::number(median(plain) / rlPlain, 'f', 2) << " without background, "
        << QString::number(median(withBackground) / rlBackground, 'f', 2) << " with background\n";
    return 0;
}
