// Times the statistics window on a registry as the main window opens it from the list: reading the
// counts of the listed documents, the window's first paint (counts, tables, charts) and the moment
// it shows the training hours too; for the whole list and for the list filtered by a name.
//   bench_statistics REGISTRY [RUNS] [NAME]   (the registry is opened for reading only; NAME
//                                              "Смирнов" unless given)
#include "../common/benchtime.h"
#include "appresources.h"
#include "database.h"
#include "documentfilter.h"
#include "profschema.h"
#include "registrystatistics.h"
#include "statisticsdialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {
// The time of the first paint of the watched window, and the processor time until then: on a
// machine others share, the wall clock says as much about them as about the window.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(const QElapsedTimer& clock) : _clock(clock), _started(std::clock()) {}
    double ms = -1, cpuMs = -1;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && ms < 0) {
            ms = _clock.nsecsElapsed() / 1e6;
            cpuMs = double(std::clock() - _started) * 1000 / CLOCKS_PER_SEC;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    const QElapsedTimer& _clock;
    const std::clock_t _started;
};

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

void report(const char* what, const QVector<double>& times) {
    std::printf("  %-44s median %7.1f ms   max %7.1f ms   (%d runs)\n", what, median(times),
                times.isEmpty() ? 0 : *std::max_element(times.begin(), times.end()), int(times.size()));
}

void measure(const char* title, const QList<qint64>& ids, int runs) {
    QString error;
    QVector<double> reads, painted, paintedCpu, complete;
    qint64 documents = 0, hours = 0;
    for (int i = 0; i < runs; ++i) {
        RegistryStatistics counts;
        reads.append(elapsedMs([&] {
            if (!counts.readCounts(ids, &error))
                std::fprintf(stderr, "cannot read: %s\n", qPrintable(error));
        }));
        // As the main window opens it: the counts read, then shown; the hours follow the first paint.
        QElapsedTimer clock;
        clock.start();
        FirstPaint paint(clock);
        auto* dialog = new StatisticsDialog;
        dialog->installEventFilter(&paint);
        if (!dialog->load(ids, &error))
            std::fprintf(stderr, "cannot open: %s\n", qPrintable(error));
        dialog->show();
        while (!dialog->figures().hoursRead() && clock.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        complete.append(clock.nsecsElapsed() / 1e6);
        painted.append(paint.ms);
        paintedCpu.append(paint.cpuMs);
        documents = dialog->figures().documentCount();
        hours = dialog->figures().totalHours();
        delete dialog;
    }
    std::printf("%s: %d listed documents (%lld counted, %lld hours)\n", title, int(ids.size()), documents, hours);
    report("counts read", reads);
    report("window painted with counts and charts", painted);
    report("  processor time until then", paintedCpu);
    report("window showing the training hours too", complete);
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    initAppResources();
    if (argc < 2) {
        std::fputs("usage: bench_statistics REGISTRY [RUNS] [NAME]\n", stderr);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, QByteArray(argv[2]).toInt()) : 7;
    const QString name = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("Смирнов");
    QString error;
    Database::setSchema(ProfSchema::tables(), ProfSchema::mainPrimaryKeyName());
    if (!Database::openForReading(QString::fromLocal8Bit(argv[1]), &error)) {
        std::fprintf(stderr, "registry not usable: %s\n", qPrintable(error));
        return 6;
    }
    qInstallMessageHandler(quiet);
    // The ids the list shows, in its order (newest first), as the main window passes them.
    const QList<qint64> all = DocumentFilter().shownIds({}, &error);
    const QList<qint64> named = DocumentFilter::fromList({{QStringLiteral("fio"), name}}).shownIds({}, &error);
    measure("whole list", all, runs);
    measure(qPrintable(QStringLiteral("name filter «%1»").arg(name)), named, runs);
    Database::shutdown();
    return 0;
}
