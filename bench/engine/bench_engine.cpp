// Prints documents of a large registry through the program's own print path (the engine, its
// print session and the shipped certificate template, two sides a sheet) to PDF, as the registry
// window's batch printing does (every front, the stack turned, every back), then writes the same
// documents as one PDF copy without and with the backgrounds, and reports the times, the copies'
// sizes and the peak memory.
//   bench_engine REGISTRY.db [COUNT]      (make one with: dbgen REGISTRY.db; COUNT defaults to 100)
#include "appresources.h"
#include "appsettings.h"
#include "database.h"
#include "engine.h"
#include "messagebox.h"
#include "profschema.h"
#include "reportlist.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

namespace {
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

double peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    initAppResources();
    if (argc < 2 || !QFile::exists(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "usage: bench_engine REGISTRY.db [COUNT]\n");
        return 2;
    }
    const int count = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 100;
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path() + QStringLiteral("/config"));
    Database::setSchema(ProfSchema::tables(), ProfSchema::mainPrimaryKeyName());
    qInstallMessageHandler(quiet);
    ReportList::build();
    const QString data = AppSettings::dataPath();
    QFile::remove(Database::filePath());
    if (!QFile::copy(QString::fromLocal8Bit(argv[1]), Database::filePath())) {
        std::fprintf(stderr, "cannot copy the registry\n");
        return 1;
    }
    QDir().mkpath(data + QStringLiteral("/reports"));
    QFile::copy(QStringLiteral(":/default_reports/id130.mzrpt"), data + QStringLiteral("/reports/id130.mzrpt"));
    Database db(true);

    QList<qint64> ids;
    for (int i = 1; i <= count; ++i)
        ids << i * (100000 / count);
    const QString pdf = home.path() + QStringLiteral("/job.pdf");
    Engine engine;
    engine.setPageHook([&pdf](ReportPage* page) {
        page->printer()->setOutputFormat(QPrinter::PdfFormat);
        page->printer()->setOutputFileName(pdf);
    });
    MessageBox::setAutoAnswer(QMessageBox::Ok);
    QElapsedTimer timer;
    timer.start();
    engine.onDocumentsPrint(ReportList::CertificateAny, ids, false, false);
    const double seconds = timer.nsecsElapsed() / 1e9;
    const int sides = engine.currentPage() ? engine.currentPage()->pagesCount() : 0;
    std::printf("engine, %d certificates (701, %d sides each) to PDF: %.2f s, %.1f ms/document, peak %.1f MB\n", count,
                sides, seconds, seconds * 1000 / count, peakMegabytes());
    bool copied = true;
    for (const bool background : {false, true}) {
        const QString copy = home.path() + QStringLiteral("/copy.pdf");
        timer.restart();
        copied = engine.saveDocumentsPdf(ReportList::CertificateAny, ids, background, copy) && copied;
        const double copySeconds = timer.nsecsElapsed() / 1e9;
        std::printf("PDF copy of %d certificates, %s backgrounds: %.2f s, %.1f ms/document, %.1f MB file, "
                    "peak %.1f MB\n",
                    count, background ? "with" : "without", copySeconds, copySeconds * 1000 / count,
                    QFileInfo(copy).size() / 1048576.0, peakMegabytes());
    }
    return QFile::exists(pdf) && copied ? 0 : 1;
}
