// Times the statistics window on a registry: reading the figures of every listed document, the
// window's first paint (counts, tables, charts) and the moment it shows the training hours too.
//   bench_statistics REGISTRY [RUNS]        (the registry is opened for reading only)
#include "../common/benchtime.h"
#include "appresources.h"
#include "database.h"
#include "profschema.h"
#include "registrystatistics.h"
#include "statisticsdialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <algorithm>
#include <cstdio>

namespace {
// The time of the first paint of the watched window.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(const QElapsedTimer& clock) : _clock(clock) {}
    double ms = -1;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && ms < 0)
            ms = _clock.nsecsElapsed() / 1e6;
        return QObject::eventFilter(watched, event);
    }

private:
    const QElapsedTimer& _clock;
};

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

void report(const char* what, const QVector<double>& times) {
    std::printf("%-46s median %7.1f ms   max %7.1f ms   (%d runs)\n", what, median(times),
                times.isEmpty() ? 0 : *std::max_element(times.begin(), times.end()), int(times.size()));
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    initAppResources();
    if (argc < 2) {
        std::fputs("usage: bench_statistics REGISTRY [RUNS]\n", stderr);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, QByteArray(argv[2]).toInt()) : 7;
    QString error;
    Database::setSchema(ProfSchema::tables(), ProfSchema::mainPrimaryKeyName());
    if (!Database::openForReading(QString::fromLocal8Bit(argv[1]), &error)) {
        std::fprintf(stderr, "registry not usable: %s\n", qPrintable(error));
        return 6;
    }
    qInstallMessageHandler(quiet);
    // The ids the list shows with no filter, in its order.
    QList<qint64> ids;
    QSqlQuery query(QStringLiteral("SELECT profId FROM ViewProfDocuments"));
    while (query.next())
        ids.append(query.value(0).toLongLong());

    QVector<double> reads, painted, complete;
    qint64 documents = 0, hours = 0;
    for (int i = 0; i < runs; ++i) {
        RegistryStatistics figures;
        reads.append(elapsedMs([&] {
            if (!figures.read(ids, &error))
                std::fprintf(stderr, "cannot read: %s\n", qPrintable(error));
        }));
        documents = figures.documentCount();
        hours = figures.totalHours();
        // As the main window opens it: the figures read, then shown; the hours follow the first paint.
        QElapsedTimer clock;
        FirstPaint paint(clock);
        clock.start();
        auto* dialog = new StatisticsDialog;
        dialog->installEventFilter(&paint);
        if (!dialog->load(ids, &error))
            std::fprintf(stderr, "cannot open: %s\n", qPrintable(error));
        dialog->show();
        while (!dialog->figures().hoursRead() && clock.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        complete.append(clock.nsecsElapsed() / 1e6);
        painted.append(paint.ms);
        delete dialog;
    }
    std::printf("%d listed documents (%lld counted, %lld hours)\n", int(ids.size()), documents, hours);
    report("figures read", reads);
    report("window painted with counts and charts", painted);
    report("window showing the training hours too", complete);
    Database::shutdown();
    return 0;
}
