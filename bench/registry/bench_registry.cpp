// Measures the document list on a large registry and sets each figure beside the time the sqlite3
// command-line shell needs to read every row of ViewProfDocuments from the same file.
//   bench_registry REGISTRY.db      (make one with: dbgen REGISTRY.db)
#include "../common/benchtime.h"
#include "../common/registrycopy.h"
#include "../common/sqliteshell.h"
#include "appresources.h"
#include "database.h"
#include "documentstable.h"
#include "mainwindow.h"
#include "profschema.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QMouseEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/resource.h>

namespace {
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

// Seconds, as the figures beside sqlite3's are reported.
template <typename Work> double timed(Work work) {
    return elapsedMs(work) / 1e3;
}

void report(const char* what, double ours, double sqlite) {
    std::printf("%-40s %9.1f ms   sqlite3 all rows %7.1f ms   ratio %5.2f\n", what, ours * 1e3, sqlite * 1e3,
                sqlite > 0 ? ours / sqlite : 0.0);
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
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    initAppResources();
    if (argc < 2 || !QFile::exists(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "usage: bench_registry REGISTRY.db\n");
        return 2;
    }
    const QString registry = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir home;
    if (!useRegistryCopy(home, registry)) {
        std::fprintf(stderr, "cannot copy %s\n", argv[1]);
        return 1;
    }
    qInstallMessageHandler(quiet);
    const QString dbPath = Database::filePath();
    // The program makes the views at its first start; the shell needs them too.
    Database(true).commitAndClose();
    const double sqlite = sqliteSeconds(dbPath, QStringLiteral("SELECT * FROM ViewProfDocuments;"));
    auto db = std::make_unique<Database>(true);
    const int runs = 5;

    QVector<double> construction;
    for (int i = 0; i < runs; ++i) {
        std::unique_ptr<DocumentsTable> probe;
        construction << timed([&] { probe = std::make_unique<DocumentsTable>(); });
    }
    report("construction, every row loaded", median(construction), sqlite);
    // The whole window as the program builds it: form, list with every row, filter panel. It
    // shuts the database down when it goes, so it stays until the end.
    std::unique_ptr<MainWindow> window;
    report("main window, every row loaded", timed([&] { window = std::make_unique<MainWindow>(); }), sqlite);

    DocumentsTable list;
    list.resize(1200, 800);
    list.show();
    QCoreApplication::processEvents();
    const int total = list.model()->rowCount();

    const QStringList typing = {QStringLiteral("и"),       QStringLiteral("ив"),      QStringLiteral("ива"),
                                QStringLiteral("иван"),    QStringLiteral("ивано"),   QStringLiteral("иванов"),
                                QStringLiteral("иванов "), QStringLiteral("иванов а")};
    QVector<double> keystrokes, clears;
    int shownAfterTyping = 0;
    for (int i = 0; i < runs; ++i) {
        for (const QString& text : typing)
            keystrokes << timed([&] { list.onFiltersChanged(fioFilter(text)); });
        shownAfterTyping = list.model()->rowCount();
        clears << timed([&] { list.onFiltersChanged(fioFilter(QString())); });
    }
    report("one filter keystroke (fio)", median(keystrokes), sqlite);
    report("clearing the filters", median(clears), sqlite);

    // The first click on a column ranks its texts; later ones reuse the ranks.
    QVector<double> firstSorts, sorts;
    QHeaderView* header = list.horizontalHeader();
    for (int i = 0; i < runs; ++i)
        for (int section = 1; section < list.model()->columnCount(); ++section)
            (i == 0 ? firstSorts : sorts) << timed([&] { clickHeader(header, section); });
    report("header click sort, first on a column", median(firstSorts), sqlite);
    report("header click sort", median(sorts), sqlite);

    QVector<double> refresh;
    for (int i = 0; i < runs; ++i)
        refresh << timed([&] { list.updateData(); });
    report("refresh (updateData)", median(refresh), sqlite);

    // The generated names repeat; a registry whose every name differs is the worst case of the filter.
    db->execSql(QStringLiteral("UPDATE ProfDocuments SET fio2 = fio2 || ' ' || profId;"));
    list.onFiltersChanged(fioFilter(QString()));
    list.updateData();
    QVector<double> distinct;
    for (int i = 0; i < runs; ++i) {
        for (const QString& text : typing)
            distinct << timed([&] { list.onFiltersChanged(fioFilter(text)); });
        list.onFiltersChanged(fioFilter(QString()));
    }
    report("one filter keystroke, every name distinct", median(distinct), sqlite);

    (void)db.release(); // the window's shutdown deletes it
    window.reset();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("rows: %d, shown after typing \"%s\": %d; peak memory (max RSS): %.1f MB\n", total,
                qPrintable(typing.last()), shownAfterTyping, usage.ru_maxrss / 1024.0);
    return 0;
}
