// Sets the everyday steps of the program on a registry file beside the same steps on the same
// registry moved onto a throwaway PostgreSQL server of its own: the main window's list, a filter
// keystroke, opening a document's dialog and saving it, and the command-line clients reading the
// list's view as the yardstick.
//   bench_serverlist REGISTRY.db [RUNS]      (make one with: dbgen REGISTRY.db; the file is only read)
#include "../common/benchtime.h"
#include "../common/registrycopy.h"
#include "../common/sqliteshell.h"
#include "appresources.h"
#include "database.h"
#include "documenteditdialog.h"
#include "documentsmodel.h"
#include "documentstable.h"
#include "documentstore.h"
#include "filterdockwidget.h"
#include "inputhelpers.h"
#include "mainwindow.h"
#include "messagebox.h"
#include "pgtestserver.h"
#include "registrymove.h"
#include "serverconnection.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStatusBar>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <memory>

namespace {
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

const QString listView = QStringLiteral("SELECT * FROM ViewProfDocuments");
// Typed into the name filter one letter at a time.
const QString typed = QStringLiteral("иванов");
const qint64 documentId = 50000;

// What one store gave, run by run.
struct Figures {
    QVector<double> open, list, allRows, refresh, refreshAfterSave, keystroke, dialog, dialogAgain, construction, setId,
        usedValues, save, driverRead, bufferedRead, reference, engine, othersChange, listsArrived, listPeakMb, peakMb;
    QString counts;
    int shownAfterTyping = -1;
    int viewRows = -1;
    QString documentName;
};

double maxOf(const QVector<double>& times) {
    return times.isEmpty() ? 0 : *std::max_element(times.begin(), times.end());
}

QString rowCountsText(const MainWindow& window) {
    for (const QLabel* label : window.statusBar()->findChildren<QLabel*>())
        if (label->text().startsWith(QStringLiteral("Показано:")))
            return label->text();
    return QString();
}

// A letter as the keyboard gives it, so that the line edit reports a user's edit.
void typeLetter(QLineEdit* edit, QChar letter) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(letter));
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(letter));
    QApplication::sendEvent(edit, &press);
    QApplication::sendEvent(edit, &release);
}

// A box shown during a step means the step did not go as a user's would.
bool boxShown(const char* step, QString* error) {
    if (MessageBox::shown().isEmpty())
        return false;
    *error = QStringLiteral("%1: box \"%2\"").arg(QLatin1String(step), MessageBox::lastShown().text);
    return true;
}

bool measureTyping(MainWindow& window, Figures* f, QString* error) {
    auto* fio = window.filterDock()->findChild<QLineEdit*>(QStringLiteral("lineEditFio1"));
    auto* clear = window.filterDock()->findChild<QPushButton*>(QStringLiteral("pushButtonClear"));
    if (!fio || !clear)
        return *error = QStringLiteral("no name filter"), false;
    fio->setFocus();
    for (const QChar letter : typed)
        f->keystroke << elapsedMs([&] { typeLetter(fio, letter); });
    if (fio->text() != typed)
        return *error = QStringLiteral("the name filter reads \"%1\"").arg(fio->text()), false;
    f->shownAfterTyping = window.documentsTable()->model()->rowCount();
    clear->click();
    QCoreApplication::processEvents();
    if (rowCountsText(window) != f->counts)
        return *error = QStringLiteral("after clearing the filter: %1").arg(rowCountsText(window)), false;
    return true;
}

QVariant storedRegNumber() {
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(QStringLiteral("SELECT regNumber FROM ProfDocuments WHERE profId = ?"));
    query.addBindValue(documentId);
    return query.exec() && query.next() ? query.value(0) : QVariant();
}

// The document's dialog until it shows the document; null with the reason otherwise.
std::unique_ptr<DocumentEditDialog> openDialog(Figures* f, QVector<double>* opens, QString* error) {
    QElapsedTimer clock;
    clock.start();
    auto dialog = std::make_unique<DocumentEditDialog>();
    f->construction << clock.nsecsElapsed() / 1e6;
    f->setId << elapsedMs([&] { dialog->setId(documentId); });
    dialog->show();
    QCoreApplication::processEvents();
    *opens << clock.nsecsElapsed() / 1e6;
    if (boxShown("opening the dialog", error))
        return nullptr;
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("lineEditFio_1"));
    if (!dialog->isVisible() || !name || name->text().isEmpty())
        return *error = QStringLiteral("the dialog did not show the document"), nullptr;
    f->documentName = name->text();
    // A server's lists of used values may come a moment after the dialog shows.
    auto* numbers = dialog->findChild<QComboBox*>(QStringLiteral("comboBoxAttNumber"));
    while (numbers && numbers->count() == 0 && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    f->listsArrived << clock.nsecsElapsed() / 1e6;
    return dialog;
}

// Opened twice, the second time with nothing changed in between, and saved with one field changed.
bool measureDialog(Figures* f, QString* error) {
    if (!openDialog(f, &f->dialog, error))
        return false;
    std::unique_ptr<DocumentEditDialog> dialog = openDialog(f, &f->dialogAgain, error);
    auto* regNumber = dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("lineEditRegNumber")) : nullptr;
    if (!regNumber)
        return error->isEmpty() ? (*error = QStringLiteral("no registration number"), false) : false;
    regNumber->setText(regNumber->text() + QLatin1Char('1'));
    dialog->setEdited();
    bool saved = false;
    f->save << elapsedMs([&] { saved = dialog->save(); });
    if (!saved && !boxShown("saving", error))
        *error = QStringLiteral("the save failed");
    if (saved && storedRegNumber().toString() != regNumber->text())
        return *error = QStringLiteral("the save returned but the row holds %1").arg(storedRegNumber().toString()),
               false;
    return saved;
}

// The lists of used values the dialog fills at construction, as it fills them.
void measureUsedValues(Figures* f) {
    f->usedValues << elapsedMs([] {
        for (const char* column : {"AttNumber", "PrevEducation", "Profession", "profProgName"}) {
            QComboBox combo;
            combo.setEditable(true);
            InputHelpers::fillComboBoxUsedValues(QLatin1String(column), QStringLiteral("ProfDocuments"), &combo, 0);
        }
    });
}

// The list's statement with every row turned into texts by the Qt driver: what a list reading
// through QSqlQuery would pay on this store. Forward-only, the server's driver takes the rows one
// result at a time; otherwise the whole result at once.
bool measureDriverRead(bool forwardOnly, Figures* f, QVector<double>* times, QString* error) {
    int rows = 0;
    bool ok = false;
    *times << elapsedMs([&] {
        QSqlQuery query(QSqlDatabase::database());
        query.setForwardOnly(forwardOnly);
        ok = query.exec(listView);
        int at[DocumentStore::listColumnCount];
        for (int c = 0; c < DocumentStore::listColumnCount; ++c)
            at[c] = query.record().indexOf(QLatin1String(DocumentStore::listColumns[c]));
        QString texts;
        while (ok && query.next()) {
            for (int c : at)
                texts = query.value(c).toString();
            ++rows;
        }
        if (!ok)
            *error = query.lastError().text();
    });
    f->viewRows = rows;
    return ok;
}

// Another program renames the document and names it back: the time from each commit until the
// window's list shows it. Only a server has other programs.
bool measureOthersChange(MainWindow& window, Figures* f, QString* error) {
    if (!Database::usesServer())
        return true;
    DocumentsTable* list = window.documentsTable();
    const ScopedServerConnection other(Database::serverAddress(), QStringLiteral("bench_other_program"));
    if (!other.isOpen())
        return *error = other.error(), false;
    QSqlDatabase db = other.database();
    QSqlQuery read(db);
    read.prepare(QStringLiteral("SELECT fio1 FROM ProfDocuments WHERE profId = ?"));
    read.addBindValue(documentId);
    if (!read.exec() || !read.next())
        return *error = QStringLiteral("the other program cannot read the document"), false;
    const QString original = read.value(0).toString();
    for (const QString& name : {original + QStringLiteral(" (изменено)"), original}) {
        bool refreshed = false;
        const QMetaObject::Connection heard =
            QObject::connect(list, &DocumentsTable::reselected, [&] { refreshed = true; });
        QSqlQuery write(db);
        write.prepare(QStringLiteral("UPDATE ProfDocuments SET fio1 = ? WHERE profId = ?"));
        write.addBindValue(name);
        write.addBindValue(documentId);
        QElapsedTimer clock;
        clock.start();
        if (!write.exec())
            return *error = write.lastError().text(), false;
        while (!refreshed && clock.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        QObject::disconnect(heard);
        QCoreApplication::processEvents(); // painted
        f->othersChange << clock.nsecsElapsed() / 1e6;
        if (!refreshed)
            return *error = QStringLiteral("another program's change was not seen in 10 s"), false;
        const int row = list->shownIds().indexOf(documentId);
        const QString shown = row >= 0 ? list->model()->index(row, 1).data().toString() : QString();
        if (!shown.startsWith(name))
            return *error = QStringLiteral("the list shows \"%1\" for \"%2\"").arg(shown, name), false;
    }
    return true;
}

// The process's peak resident memory since the last reset (Linux: VmHWM), in MB; 0 when unknown.
double peakMemoryMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

// Starts the peak over from what the process holds now. What the move and an earlier run freed is
// handed back to the system first; what they left fragmented still counts, so the figure is an
// upper bound.
void resetPeakMemory() {
    malloc_trim(0);
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

// One run on the store Database is set to: opened, its window, the typing, the dialog; closed again.
bool measureRun(Figures* f, QString* error) {
    MessageBox::clearShown();
    resetPeakMemory();
    Database* db = nullptr;
    f->open << elapsedMs([&] { db = Database::instance(); });
    if (!db->isValid()) {
        *error = QStringLiteral("store not opened: %1").arg(db->startupProblem().text);
        Database::shutdown();
        return false;
    }
    // The window shuts the store down when it goes.
    std::unique_ptr<MainWindow> window;
    f->list << elapsedMs([&] {
        window = std::make_unique<MainWindow>();
        window->resize(1200, 800);
        window->show();
    });
    f->counts = rowCountsText(*window);
    if (f->counts.isEmpty())
        return *error = QStringLiteral("no row counts in the status bar"), false;
    // The other pages of a large registry come as the event loop turns.
    DocumentsModel* documents = window->documentsTable()->documentsModel();
    QElapsedTimer pages;
    pages.start();
    while (documents->isLoading())
        QCoreApplication::processEvents();
    f->allRows << f->list.last() + pages.nsecsElapsed() / 1e6;
    f->refresh << elapsedMs([&] { window->documentsTable()->updateData(); });
    // A write of the program's own to one field, and the list's refresh after it; then the name
    // as it was.
    QSqlQuery read(QSqlDatabase::database());
    read.prepare(QStringLiteral("SELECT fio2 FROM ProfDocuments WHERE profId = ?"));
    read.addBindValue(documentId);
    if (!read.exec() || !read.next())
        return *error = QStringLiteral("document %1 not read").arg(documentId), false;
    const QVariant name = read.value(0);
    for (const QVariant& value : {QVariant(name.toString() + QStringLiteral("-а")), name}) {
        QSqlQuery write(QSqlDatabase::database());
        write.prepare(QStringLiteral("UPDATE ProfDocuments SET fio2 = ? WHERE profId = ?"));
        write.addBindValue(value);
        write.addBindValue(documentId);
        if (!write.exec())
            return *error = write.lastError().text(), false;
        f->refreshAfterSave << elapsedMs([&] { window->documentsTable()->updateData(); });
    }
    return measureTyping(*window, f, error) && (f->listPeakMb << peakMemoryMb(), true) && measureDialog(f, error) &&
           (measureUsedValues(f), true) && measureOthersChange(*window, f, error) &&
           (f->peakMb << peakMemoryMb(), true) && measureDriverRead(true, f, &f->driverRead, error) &&
           measureDriverRead(false, f, &f->bufferedRead, error) && !boxShown("the run", error);
}

bool measureStore(const char* name, int runs, Figures* f) {
    for (int run = 0; run < runs; ++run) {
        QString error;
        if (!measureRun(f, &error)) {
            std::fprintf(stderr, "%s, run %d: %s\n", name, run + 1, qPrintable(error));
            Database::shutdown();
            return false;
        }
    }
    return true;
}

// Milliseconds a client program takes for the whole query, start-up and connection included.
double clientMs(const QString& program, const QStringList& arguments, QString* error) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    const bool finished = process.waitForFinished(600000);
    const double ms = clock.nsecsElapsed() / 1e6;
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        *error = QStringLiteral("%1: %2").arg(program, QString::fromLocal8Bit(process.readAllStandardError()));
    return ms;
}

// The server's own time for the statement, without the transfer and the client's formatting.
double serverExecutionMs(const QStringList& psql, QString* error) {
    QProcess process;
    process.start(QStringLiteral("psql"), psql + QStringList{"-c", QStringLiteral("EXPLAIN ANALYZE ") + listView});
    process.waitForFinished(600000);
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("Execution Time: ([0-9.]+) ms"))
                                              .match(QString::fromUtf8(process.readAllStandardOutput()));
    if (!match.hasMatch())
        *error = QStringLiteral("EXPLAIN ANALYZE: %1").arg(QString::fromLocal8Bit(process.readAllStandardError()));
    return match.captured(1).toDouble();
}

bool measureClients(const QString& file, const PgTestServer& server, const QString& dbName, int runs, Figures* onFile,
                    Figures* onServer) {
    QString error;
    for (int run = 0; run < runs && error.isEmpty(); ++run) {
        onFile->reference << clientMs(QStringLiteral("sqlite3"), {QStringLiteral("-readonly"), file, listView + ';'},
                                      &error);
        const QStringList psql = {"-h", server.socketFolder(), "-p", QString::number(server.port()),
                                  "-U", server.superUser(),    "-d", dbName};
        onServer->reference << clientMs(QStringLiteral("psql"), psql + QStringList{"-c", listView, "-o", "/dev/null"},
                                        &error);
        onFile->engine << sqliteSeconds(file, listView + ';') * 1e3;
        onServer->engine << serverExecutionMs(psql, &error);
    }
    if (!error.isEmpty())
        std::fprintf(stderr, "reference client failed: %s\n", qPrintable(error));
    return error.isEmpty();
}

bool moveOntoServer(const PgTestServer& server, const QString& dbName, const QString& file) {
    QString error;
    bool moved = false;
    QElapsedTimer clock;
    clock.start();
    {
        QSqlDatabase db = server.connect(QStringLiteral("bench-move"), dbName, &error);
        moved = db.isOpen() && RegistryMove::toServer(file, db, nullptr, &error);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-move"));
    if (!moved)
        std::fprintf(stderr, "move failed: %s\n", qPrintable(error));
    else
        std::printf("registry moved onto the throwaway server in %.0f ms\n", clock.nsecsElapsed() / 1e6);
    return moved;
}

void printRow(const char* what, const QVector<double>& file, const QVector<double>& server, const char* target) {
    const double ratio = median(file) > 0 ? median(server) / median(file) : 0;
    std::printf("%-40s %9.1f %9.1f   %9.1f %9.1f   %7.2f   %s\n", what, median(file), maxOf(file), median(server),
                maxOf(server), ratio, target);
}

void printTable(const Figures& file, const Figures& server, int runs) {
    std::printf("\n%d run(s) each, milliseconds          %9s %9s   %9s %9s   %7s   %s\n", runs, "file med", "max",
                "server med", "max", "srv/file", "target on the server");
    printRow("opening the store (structure check)", file.open, server.open, "");
    printRow("main window, first screen and count", file.list, server.list, "<= 1000");
    printRow("... every row read (pages after that)", file.allRows, server.allRows, "");
    printRow("refresh (updateData), nothing changed", file.refresh, server.refresh, "<= 500");
    printRow("refresh after a save of one field", file.refreshAfterSave, server.refreshAfterSave, "<= 500");
    printRow("one filter keystroke (name)", file.keystroke, server.keystroke, "<= 30");
    printRow("edit dialog opened, values shown", file.dialog, server.dialog, "<= 150");
    printRow("  its used-value lists filled (both opens)", file.listsArrived, server.listsArrived, "");
    printRow("edit dialog opened again (no change)", file.dialogAgain, server.dialogAgain, "<= 150");
    printRow("  of which construction (both opens)", file.construction, server.construction, "");
    printRow("  of which setId (both opens)", file.setId, server.setId, "");
    printRow("four used-value lists read on the spot", file.usedValues, server.usedValues, "");
    printRow("save of one changed field", file.save, server.save, "<= 50");
    printRow("another program's change in the list", file.othersChange, server.othersChange, "<= 2000");
    printRow("peak memory (MB), list shown and typed in", file.listPeakMb, server.listPeakMb, "<= 250 (upper bound)");
    printRow("  ... and the dialog's used values too", file.peakMb, server.peakMb, "(upper bound)");
    printRow("ViewProfDocuments by the Qt driver", file.driverRead, server.driverRead, "(forward-only)");
    printRow("  the same, not forward-only", file.bufferedRead, server.bufferedRead, "");
    printRow("ViewProfDocuments: sqlite3 | psql", file.reference, server.reference, "(client, start-up included)");
    printRow("  its engine's own time (.timer | EXPLAIN)", file.engine, server.engine, "");
    for (const Figures* f : {&file, &server})
        std::printf("%s %s; \"%s\" typed: %d shown; the view's rows by the driver: %d; document %lld: %s\n",
                    f == &file ? "\nfile:  " : "server:", qPrintable(f->counts), qPrintable(typed), f->shownAfterTyping,
                    f->viewRows, documentId, qPrintable(f->documentName));
    if (server.counts != file.counts)
        std::printf("THE SERVER'S LIST IS NOT THE FILE'S: its \"list ready\" and keystroke figures do not count\n");
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    initAppResources();
    if (argc < 2 || !QFile::exists(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "usage: bench_serverlist REGISTRY.db [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? qMax(1, QByteArray(argv[2]).toInt()) : 5;
    QTemporaryDir home;
    if (!useRegistryCopy(home, QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot copy %s\n", argv[1]);
        return 1;
    }
    qInstallMessageHandler(quiet);
    // No box may wait for a user; one that comes is reported as the step's failure.
    MessageBox::setAutoAnswer(QMessageBox::Cancel);
    const QString copy = Database::filePath();
    // Brings the copy up to this version's structure and views once, so that every run opens it alike.
    Database(true).commitAndClose();

    // Stopped by its destructor on every way out; its watchdog stops it should the process die.
    PgTestServer server;
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "no server: %s\n", qPrintable(error));
        return 6;
    }
    const QString dbName = server.createDatabase(&error);
    if (dbName.isEmpty() || !moveOntoServer(server, dbName, copy)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 6;
    }

    Figures onFile, onServer;
    if (!measureStore("file", runs, &onFile))
        return 1;
    ServerAddress address;
    address.host = server.socketFolder();
    address.port = server.port();
    address.database = dbName;
    address.user = server.superUser();
    Database::useServer(address);
    if (!measureStore("server", runs, &onServer))
        return 1;
    if (!measureClients(copy, server, dbName, runs, &onFile, &onServer))
        return 1;
    printTable(onFile, onServer, runs);
    QString stopError;
    if (!server.pause(&stopError))
        std::fprintf(stderr, "server not stopped: %s\n", qPrintable(stopError));
    return 0;
}
