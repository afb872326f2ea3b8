// Measures the document list of the main window on a large registry and sets each figure beside
// the time the sqlite3 command-line shell needs to read every row of ViewProfDocuments from the
// same file.
//   bench_registry REGISTRY.db [RUNS]       (make one with: dbgen REGISTRY.db)
//   bench_registry --docs N [RUNS]          (generates N documents with dbgen first, in a
//                                            temporary folder that goes at the end)
//   bench_registry --process [--program PATH]... REGISTRY.db [RUNS]
//                                           (the real program's start, see programstart.h)
#include "../common/benchtime.h"
#include "../common/registrycopy.h"
#include "../common/sqliteshell.h"
#include "appresources.h"
#include "database.h"
#include "documentsmodel.h"
#include "documentstable.h"
#include "documentstore.h"
#include "mainwindow.h"
#include "profschema.h"
#include "programstart.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/resource.h>

namespace {
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

void report(const char* what, double ms, double sqliteMs) {
    std::printf("%-44s %9.1f ms   sqlite3 all rows %7.1f ms   ratio %5.2f\n", what, ms, sqliteMs,
                sqliteMs > 0 ? ms / sqliteMs : 0.0);
}

double peakMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

FilterListType fioFilter(const QString& fio) {
    return {{QStringLiteral("fio"), fio}, {QStringLiteral("qual"), QString()}};
}

void clickHeader(QHeaderView* header, int section) {
    const QPoint pos(header->sectionViewportPosition(section) + header->sectionSize(section) / 2, header->height() / 2);
    QMouseEvent press(QEvent::MouseButtonPress, pos, header->viewport()->mapToGlobal(pos), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, pos, header->viewport()->mapToGlobal(pos), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(header->viewport(), &press);
    QApplication::sendEvent(header->viewport(), &release);
}

const QStringList typing = {QStringLiteral("и"),       QStringLiteral("ив"),      QStringLiteral("ива"),
                            QStringLiteral("иван"),    QStringLiteral("ивано"),   QStringLiteral("иванов"),
                            QStringLiteral("иванов "), QStringLiteral("иванов а")};

// Every keystroke of `typing`, then the field cleared; the times of the keystrokes.
QVector<double> typeName(DocumentsTable* list, int runs, QVector<double>* clears = nullptr) {
    QVector<double> times;
    for (int i = 0; i < runs; ++i) {
        for (const QString& text : typing)
            times << elapsedMs([&] { list->onFiltersChanged(fioFilter(text)); });
        const double clear = elapsedMs([&] { list->onFiltersChanged(fioFilter(QString())); });
        if (clears)
            *clears << clear;
    }
    return times;
}

// The scroll bar dragged from top to bottom in a hundred steps, each step painted; the frames.
QVector<double> scrollThrough(DocumentsTable* list) {
    QVector<double> frames;
    QScrollBar* bar = list->verticalScrollBar();
    const int steps = 100;
    for (int step = 0; step <= steps; ++step)
        frames << elapsedMs([&] {
            bar->setValue(int(qint64(bar->maximum()) * step / steps));
            list->viewport()->repaint();
        });
    return frames;
}

QString generated(const QTemporaryDir& dir, const QString& docs) {
    const QString path = dir.path() + QStringLiteral("/generated.db");
    QProcess dbgen;
    dbgen.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    dbgen.start(QCoreApplication::applicationDirPath() + QStringLiteral("/dbgen"),
                {QStringLiteral("--docs"), docs, path});
    if (!dbgen.waitForFinished(-1) || dbgen.exitStatus() != QProcess::NormalExit || dbgen.exitCode() != 0)
        return QString();
    return path;
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    initAppResources();
    QStringList args = app.arguments().mid(1);
    if (!args.isEmpty() && args.first() == QLatin1String("--process"))
        return benchProgramStart(args.mid(1));
    QTemporaryDir generatedDir;
    QString registry;
    if (args.size() >= 2 && args.first() == QLatin1String("--docs")) {
        std::printf("generating %s documents with dbgen...\n", qPrintable(args.at(1)));
        std::fflush(stdout);
        registry = generated(generatedDir, args.at(1));
        args = args.mid(2);
    } else if (!args.isEmpty()) {
        registry = args.takeFirst();
    }
    if (registry.isEmpty() || !QFile::exists(registry)) {
        std::fprintf(stderr, "usage: bench_registry (REGISTRY.db | --docs N) [RUNS]\n");
        return 2;
    }
    const int runs = args.isEmpty() ? 5 : std::max(1, args.first().toInt());
    QTemporaryDir home;
    if (!useRegistryCopy(home, registry)) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(registry));
        return 1;
    }
    if (generatedDir.isValid())
        QFile::remove(generatedDir.path() + QStringLiteral("/generated.db")); // the copy is used
    qInstallMessageHandler(quiet);
    const QString dbPath = Database::filePath();
    // The program makes the views at its first start; the shell needs them too.
    Database(true).commitAndClose();
    const double sqlite = sqliteSeconds(dbPath, QStringLiteral("SELECT * FROM ViewProfDocuments;")) * 1e3;
    const double before = peakMb();

    // The whole window as the program builds it: form, list, filter panel, until the list has
    // painted its first screen and the status bar shows the count. It shuts the database down
    // when it goes.
    auto* db = new Database(true);
    std::unique_ptr<MainWindow> window;
    const double built = elapsedMs([&] {
        window = std::make_unique<MainWindow>();
        window->resize(1400, 900);
        window->show();
    });
    auto* list = window->findChild<DocumentsTable*>();
    QLabel* counts = nullptr;
    for (QLabel* label : window->statusBar()->findChildren<QLabel*>())
        if (label->text().startsWith(QStringLiteral("Показано")))
            counts = label;
    if (!list) {
        std::fprintf(stderr, "no list in the main window\n");
        return 1;
    }
    report("main window until first screen and count", built, sqlite);
    // The other pages come as the event loop turns.
    QElapsedTimer pages;
    pages.start();
    QVector<double> turns{0};
    while (list->documentsModel()->isLoading())
        turns << elapsedMs([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
    report("... every row read, in pages after that", built + pages.nsecsElapsed() / 1e6, sqlite);
    report("... the longest turn of the event loop then", *std::max_element(turns.cbegin(), turns.cend()), sqlite);
    const int total = list->model()->rowCount();

    QVector<double> clears;
    const QVector<double> keystrokes = typeName(list, runs, &clears);
    const int shownAfterTyping = [&] {
        list->onFiltersChanged(fioFilter(typing.last()));
        const int shown = list->model()->rowCount();
        list->onFiltersChanged(fioFilter(QString()));
        return shown;
    }();
    report("one filter keystroke (fio), median", median(keystrokes), sqlite);
    report("one filter keystroke (fio), worst", *std::max_element(keystrokes.cbegin(), keystrokes.cend()), sqlite);
    report("clearing the filters", median(clears), sqlite);

    // The first click on a column ranks its texts; later ones reuse the ranks.
    QVector<double> firstSorts, sorts;
    QHeaderView* header = list->horizontalHeader();
    for (int i = 0; i < std::max(runs, 2); ++i)
        for (int section = 1; section < list->model()->columnCount(); ++section)
            (i == 0 ? firstSorts : sorts) << elapsedMs([&] { clickHeader(header, section); });
    report("header click sort, first on a column", median(firstSorts), sqlite);
    report("header click sort, first, worst column", *std::max_element(firstSorts.cbegin(), firstSorts.cend()), sqlite);
    report("header click sort", median(sorts), sqlite);
    // Back to the registry's own order, newest first.
    while (header->isSortIndicatorShown())
        clickHeader(header, header->sortIndicatorSection());

    const QVector<double> frames = scrollThrough(list);
    report("scrolling top to bottom, median frame", median(frames), sqlite);
    report("scrolling top to bottom, worst frame", *std::max_element(frames.cbegin(), frames.cend()), sqlite);

    // A save, then the list refreshed as after the document dialog.
    QVector<double> refresh;
    const qint64 saved = list->model()->index(0, 0).data().toLongLong();
    for (int i = 0; i < runs; ++i) {
        db->execSql(QStringLiteral("UPDATE ProfDocuments SET regNumber = 'Б-%1' WHERE profId = %2").arg(i).arg(saved));
        refresh << elapsedMs([&] { list->updateData(); });
    }
    report("refresh after a save (updateData)", median(refresh), sqlite);
    QVector<double> fullReads;
    for (int i = 0; i < std::min(runs, 2); ++i)
        fullReads << elapsedMs([&] {
            list->documentsModel()->reload();
            list->documentsModel()->finishLoading();
        });
    report("reading every row again (Обновить after a restore)", median(fullReads), sqlite);
    const double peak = peakMb();

    // The generated names repeat; a registry whose every name differs is the worst case of the filter.
    db->execSql(QStringLiteral("UPDATE ProfDocuments SET fio2 = fio2 || ' ' || profId;"));
    list->onFiltersChanged(fioFilter(QString()));
    list->updateData();
    const QVector<double> distinct = typeName(list, runs);
    report("one filter keystroke, every name distinct, median", median(distinct), sqlite);
    report("one filter keystroke, every name distinct, worst", *std::max_element(distinct.cbegin(), distinct.cend()),
           sqlite);

    // Where the first screen's time goes: SQLite handing over the rows, then the model keeping them.
    QVector<double> reads, reloads;
    for (int i = 0; i < runs; ++i) {
        reads << elapsedMs([] { DocumentStore::readListRows([](qint64, const DocumentStore::ListText*) {}); });
        DocumentsModel model;
        reloads << elapsedMs([&model] { model.reload(); });
    }
    report("reading the list's rows, nothing kept", median(reads), sqlite);
    report("reading and keeping them (DocumentsModel)", median(reloads), sqlite);

    const size_t modelBytes = list->documentsModel()->bytes();
    const QString countText = counts ? counts->text() : QString();
    window.reset(); // its shutdown deletes the database
    std::printf("rows: %d, shown after typing \"%s\": %d; status bar: %s\n", total, qPrintable(typing.last()),
                shownAfterTyping, qPrintable(countText));
    std::printf("peak memory (max RSS): %.1f MB before the window, %.1f MB with the list shown and used, "
                "%.1f MB at the end; the list's rows hold %.1f MB\n",
                before, peak, peakMb(), modelBytes / 1048576.0);
    return 0;
}
