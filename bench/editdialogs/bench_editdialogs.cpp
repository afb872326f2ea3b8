// Measures the document edit dialog on a large registry: opening a document, saving one change,
// the used-values lists it fills, and when they arrive after the first open and after a save.
//   bench_editdialogs REGISTRY.db [ID] [--indexes]      (make one with: dbgen REGISTRY.db)
// --indexes adds an index on each looked-up column to the copy first, to show what one would give.
#include "../common/benchtime.h"
#include "../common/registrycopy.h"
#include "appresources.h"
#include "database.h"
#include "documenteditdialog.h"
#include "inputhelpers.h"
#include "profschema.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>

namespace {
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

void report(const char* what, const QVector<double>& times) {
    std::printf("%-44s median %8.1f ms   max %8.1f ms   (%d runs)\n", what, median(times),
                times.isEmpty() ? 0 : *std::max_element(times.begin(), times.end()), int(times.size()));
}

const char* const listCombos[] = {"comboBoxProfession", "comboBoxEditProfProgramName", "comboBoxPrevEducation",
                                  "comboBoxAttNumber"};

struct ListTimes {
    QVector<double> shown;
    QVector<double> arrived[4];
    QVector<double> stall;
    void report(const char* what) const {
        ::report(qPrintable(QStringLiteral("%1: shown and responsive").arg(QLatin1String(what))), shown);
        for (int i = 0; i < 4; ++i)
            ::report(qPrintable(QStringLiteral("  %1 list arrived").arg(QLatin1String(listCombos[i]))), arrived[i]);
        ::report("  longest hold of the event loop meanwhile", stall);
    }
};

// Runs the event loop until every list has arrived (or a minute went by); the arrival times from
// `clock`'s start and the longest gap between ticks of a 2 ms timer go into `times`, when given.
void waitForLists(QWidget* dialog, const QElapsedTimer* clock = nullptr, ListTimes* times = nullptr) {
    QVector<double> arrived(4, -1);
    double last = 0, stall = 0;
    QElapsedTimer own;
    own.start();
    const QElapsedTimer& t = clock ? *clock : own;
    last = t.nsecsElapsed() / 1e6;
    QTimer tick;
    tick.setInterval(2);
    QEventLoop loop;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double now = t.nsecsElapsed() / 1e6;
        stall = qMax(stall, now - last);
        last = now;
        bool all = true;
        for (int i = 0; i < 4; ++i) {
            if (arrived[i] < 0 && dialog->findChild<QComboBox*>(QLatin1String(listCombos[i]))->count() > 0)
                arrived[i] = now;
            all = all && arrived[i] >= 0;
        }
        if (all || own.elapsed() > 60000)
            loop.quit();
    });
    tick.start();
    loop.exec();
    if (!times)
        return;
    for (int i = 0; i < 4; ++i)
        times->arrived[i] << arrived[i];
    times->stall << stall;
}

// Opens the document, waits for its lists and, with `save`, saves one change so that the next
// open finds the registry changed.
void openWithLists(int id, ListTimes* times, bool save) {
    QElapsedTimer t;
    t.start();
    auto* dialog = new DocumentEditDialog;
    dialog->setId(id);
    dialog->show();
    QCoreApplication::processEvents();
    times->shown << t.nsecsElapsed() / 1e6;
    waitForLists(dialog, &t, times);
    if (save) {
        auto* regNumber = dialog->findChild<QLineEdit*>(QStringLiteral("lineEditRegNumber"));
        regNumber->setText(regNumber->text() + QLatin1Char('1'));
        dialog->setEdited();
        dialog->save();
    }
    delete dialog;
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    initAppResources();
    if (argc < 2 || !QFile::exists(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "usage: bench_editdialogs REGISTRY.db [ID]\n");
        return 2;
    }
    const int id = argc > 2 ? QByteArray(argv[2]).toInt() : 50000;
    const bool indexes = argc > 3 && QByteArray(argv[3]) == "--indexes";
    QTemporaryDir home;
    if (!useRegistryCopy(home, QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot copy %s\n", argv[1]);
        return 1;
    }
    qInstallMessageHandler(quiet);
    const QString dbPath = Database::filePath();
    Database(true).commitAndClose();
    auto db = std::make_unique<Database>(true);
    if (indexes) {
        for (const char* column : {"attNumber", "prevEducation", "profession", "profProgName"})
            db->execSql(
                QStringLiteral("CREATE INDEX IF NOT EXISTS bench_%1 ON ProfDocuments(%1);").arg(QLatin1String(column)));
    }
    const int runs = 7;

    QVector<double> opens, constructions, loads, shows, saves;
    for (int i = 0; i < runs; ++i) {
        DocumentEditDialog* dialog = nullptr;
        QElapsedTimer t;
        t.start();
        dialog = new DocumentEditDialog;
        constructions << t.nsecsElapsed() / 1e6;
        loads << elapsedMs([&] { dialog->setId(id); });
        shows << elapsedMs([&] { dialog->show(); });
        opens << t.nsecsElapsed() / 1e6;
        waitForLists(dialog);
        auto* regNumber = dialog->findChild<QLineEdit*>(QStringLiteral("lineEditRegNumber"));
        regNumber->setText(regNumber->text() + QLatin1Char('1'));
        dialog->setEdited();
        saves << elapsedMs([&] { dialog->save(); });
        delete dialog;
    }
    std::printf("registry %s, document %d%s\n", argv[1], id, indexes ? ", with indexes" : "");
    report("construction + setId + show", opens);
    report("  of which construction", constructions);
    report("  of which setId", loads);
    report("  of which show (and the arming after 100 ms)", shows);
    report("save after one change", saves);

    // The dialog opened on a registry whose counts are not kept (the first open, and every open
    // after a save), timed until shown and until each list has arrived, with the longest the event
    // loop was held meanwhile; then again after a save of one change.
    const int listRuns = 3;
    ListTimes first, afterSave;
    for (int i = 0; i < listRuns; ++i) {
        db.reset();
        db = std::make_unique<Database>(true);
        openWithLists(id, &first, true);
        openWithLists(id, &afterSave, false);
    }
    first.report("first open");
    afterSave.report("open after a save");

    const QStringList columns = {QStringLiteral("AttNumber"), QStringLiteral("PrevEducation"),
                                 QStringLiteral("Profession"), QStringLiteral("profProgName")};
    QVector<double> all;
    for (const QString& column : columns) {
        QVector<double> times;
        for (int i = 0; i < runs; ++i) {
            QComboBox combo;
            combo.setEditable(true);
            times << elapsedMs(
                [&] { InputHelpers::fillComboBoxUsedValues(column, QStringLiteral("ProfDocuments"), &combo, 0); });
        }
        all << median(times);
        report(qPrintable(QStringLiteral("used values of %1").arg(column)), times);
    }
    double sum = 0;
    for (double t : all)
        sum += t;
    std::printf("%-44s        %8.1f ms\n", "four used-values lists (sum of medians)", sum);
    return 0;
}
