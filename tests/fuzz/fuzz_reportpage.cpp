// Feeds arbitrary bytes to the template reader, then paints and writes back what was read: a
// template file must never crash the program, whatever it holds.

#include "reportpage.h"

#include <QApplication>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <cstddef>
#include <cstdint>

namespace {
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_reportpage";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    // The engine logs every oddity it meets; the fuzzer's own output stays readable without them.
    qInstallMessageHandler(quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);

    ReportPage page;
    page.fromJson(document.object());
    page.setVariable(QStringLiteral("a"), QStringLiteral("$V{b}\\n"));

    QImage image(48, 36, QImage::Format_RGB32);
    for (bool fill : {false, true}) {
        page.setFillWithData(fill);
        for (int side = 0; side < qMin(page.pagesCount(), 2); ++side) {
            QPainter painter(&image);
            page.paintSide(painter, side, image.rect(), 36.0 * side, 0.2);
        }
    }
    QJsonObject written;
    page.toJson(written);
    ReportPage again;
    again.fromJson(written);
    // Lets the font cache's cleanup timers run; without an event loop the cache only grows.
    QCoreApplication::processEvents();
    return 0;
}
