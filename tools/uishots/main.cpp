// Draws the registry window, the document, appendix and FRDO dialogs of one document, the
// organisation data, signatories, preferences, about, tips, print, import, FRDO check, statistics
// and printer calibration dialogs, the document's history and the journal of changes, and the
// template designer on the shipped certificate, to PNG files, as the program shows them over the
// given registry (a copy of it is used). It also writes, as PDF files, the calibration sheet, the
// certificate's inner side printed on an uncalibrated and on a calibrated printer, and the PDF copy
// of the document and the next one with backgrounds.
//   QT_QPA_PLATFORM=offscreen uishots REGISTRY.db DOCUMENT_ID OUTPUT_FOLDER
#include "aboutdialog.h"
#include "abstractfield.h"
#include "additionaleditdialog.h"
#include "appresources.h"
#include "appsettings.h"
#include "bossguidedialog.h"
#include "calibrationstore.h"
#include "database.h"
#include "documenteditdialog.h"
#include "engine.h"
#include "fieldgraphicsitem.h"
#include "frdocheck.h"
#include "frdocheckdialog.h"
#include "frdodialog.h"
#include "historydialog.h"
#include "importdialog.h"
#include "journaldialog.h"
#include "mainwindow.h"
#include "mygraphicsscene.h"
#include "mygraphicsview.h"
#include "optionsdialog.h"
#include "preferencesdialog.h"
#include "printdialog.h"
#include "printercalibration.h"
#include "printercalibrationdialog.h"
#include "printsession.h"
#include "profschema.h"
#include "projectviewwidget.h"
#include "reportlist.h"
#include "reportpage.h"
#include "reportwindow.h"
#include "statisticsdialog.h"
#include "tipsdialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPrintEngine>
#include <QPrinter>
#include <QPushButton>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <cstdio>
#include <limits>

namespace {
bool save(QWidget* widget, const QString& path) {
    // Lets the deferred work of the window (settings, arming, used values) run first.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const bool saved = widget->grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "cannot write", qPrintable(path));
    return saved;
}

// The ids the list shows without a filter.
QList<qint64> listedIds() {
    QList<qint64> ids;
    QSqlQuery query(QStringLiteral("SELECT profId FROM ViewProfDocuments"));
    while (query.next())
        ids.append(query.value(0).toLongLong());
    return ids;
}

// The FRDO check window over the registry, with a few documents given the faults a clerk makes
// (in the copy only), and the statistics window of every document.
bool saveCheckAndStatistics(QWidget* window, const QString& output) {
    for (const char* fault : {"UPDATE ProfFrdo SET snils = '112-233-445 96' WHERE profId = 3",
                              "UPDATE ProfFrdo SET endDate = '2015-01-10' WHERE profId = 7",
                              "UPDATE ProfFrdo SET frdo21 = NULL, frdo22 = NULL WHERE profId = 11",
                              "UPDATE ProfFrdo SET studyCount = '72,5' WHERE profId = 13"}) {
        QSqlQuery query;
        if (!query.exec(QLatin1String(fault)))
            std::fprintf(stderr, "uishots: %s\n", qPrintable(query.lastError().text()));
    }
    const QList<qint64> ids = listedIds();
    QVector<FrdoCheck::FailingDocument> failing;
    QString error;
    if (!FrdoCheck::checkDocuments(ids, &failing, &error)) {
        std::fprintf(stderr, "uishots: %s\n", qPrintable(error));
        return false;
    }
    auto* check = new FrdoCheckDialog(ids, failing, window);
    check->resize(1000, 560);
    check->show();
    bool ok = save(check, output + QStringLiteral("/frdo-check-dialog.png"));
    check->close();
    auto* statistics = new StatisticsDialog(window);
    if (!statistics->load(ids, &error)) {
        std::fprintf(stderr, "uishots: %s\n", qPrintable(error));
        return false;
    }
    statistics->show();
    ok = save(statistics, output + QStringLiteral("/statistics-dialog.png")) && ok;
    statistics->close();
    return ok;
}

// The import window over a group pasted from a spreadsheet, one birth date of which cannot be.
bool saveImportDialog(QWidget* window, const QString& path) {
    auto* dialog = new ImportDialog(window);
    dialog->resize(1100, 720);
    auto* templates = dialog->findChild<QComboBox*>(QStringLiteral("comboBoxTemplate"));
    templates->setCurrentIndex(templates->count() > 1 ? 1 : 0);
    dialog->findChild<QLineEdit*>(QStringLiteral("lineEditFirstAttNumber"))->setText(QStringLiteral("СВ 200001"));
    dialog->findChild<QLineEdit*>(QStringLiteral("lineEditFirstRegNumber"))->setText(QStringLiteral("0451"));
    const QStringList rows{QStringLiteral("Список группы С-21, выпуск 2026"),
                           QString(),
                           QStringLiteral("№\tФИО\tДата рождения\tСНИЛС\tПол"),
                           QStringLiteral("1\tАлексеев Дмитрий Игоревич\t12.03.2007\t398-259-791 66\tм"),
                           QStringLiteral("2\tБелова Ксения Андреевна\t05.11.2006\t907-483-378 35\tж"),
                           QStringLiteral("3\tВасильев Артём Олегович\t31.02.2007\t876-232-860 39\tм"),
                           QStringLiteral("4\tГригорьева Полина Сергеевна\t19.07.2006\t129-040-479 42\tж"),
                           QStringLiteral("5\tДанилов Максим Петрович\t02.01.2007\t666-972-510 56\tм"),
                           QStringLiteral("6\tЕгорова Алина Викторовна\t27.09.2006\t273-464-686 03\tж")};
    dialog->loadClipboardText(rows.join(QLatin1Char('\n')));
    dialog->show();
    const bool saved = save(dialog, path);
    dialog->close();
    return saved;
}

// The history of the document and the journal, over entries made in the copy: the document imported,
// edited by two clerks, and another one deleted.
bool saveHistoryWindows(QWidget* window, qint64 id, const QString& output) {
    const QString insert = QStringLiteral(
        "INSERT INTO DocumentHistory (profId, changedAt, kind, login, osUser, host, source, docName, attNumber, "
        "changes, snapshot) SELECT ?, ?, ?, ?, ?, ?, ?, trim(coalesce(fio1, '') || ' ' || coalesce(fio2, '') || ' ' || "
        "coalesce(fio3, '')), attNumber, ?, ? FROM ProfDocuments WHERE profId = ?");
    const QString qual = QStringLiteral(
        R"([{"table":"ProfDocuments","field":"qual","old":"Сварщик","new":"Сварщик ручной дуговой сварки"},)"
        R"({"table":"ProfDetails","row":3,"name":"Охрана труда","field":"count","old":16,"new":18},)"
        R"({"table":"ProfFrdo","field":"snils","old":null,"new":"112-233-445 95"}])");
    const QString name = QStringLiteral(R"([{"table":"ProfDocuments","field":"fio1","old":"Иваноф","new":"Иванов"}])");
    const QString snapshot = QStringLiteral(R"({"ProfDocuments":{"fio1":"Сидоров"},"ProfDetails":[],"ProfFrdo":null})");
    const QVariant null(QVariant::String);
    const QList<QVariantList> entries = {
        {id, "2026-09-01T10:12:40", "import", null, "petrova", "kadry-2", "группа С-21.xlsx", "[]", null, id},
        {id, "2026-09-03T14:05:11", "edit", null, "petrova", "kadry-2", null, name, null, id},
        {id + 1, "2026-09-03T14:20:00", "delete", null, "ivanova", "kadry-1", null, "[]", snapshot, id + 1},
        {id, "2026-10-15T09:41:27", "edit", "metodist", "ivanova", "kadry-1", null, qual, null, id},
    };
    for (const QVariantList& values : entries) {
        QSqlQuery query;
        query.prepare(insert);
        for (const QVariant& value : values)
            query.addBindValue(value);
        if (!query.exec())
            std::fprintf(stderr, "uishots: %s\n", qPrintable(query.lastError().text()));
    }
    auto* history = new HistoryDialog(window);
    QString error;
    if (!history->load(id, &error)) {
        std::fprintf(stderr, "uishots: %s\n", qPrintable(error));
        return false;
    }
    history->show();
    bool ok = save(history, output + QStringLiteral("/history-dialog.png"));
    history->close();
    auto* journal = new JournalDialog(window);
    // The deletion selected: its document can be brought back.
    auto* list = journal->findChild<QTableView*>(QStringLiteral("tableViewJournal"));
    list->selectionModel()->setCurrentIndex(list->model()->index(1, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    journal->show();
    ok = save(journal, output + QStringLiteral("/journal-dialog.png")) && ok;
    journal->close();
    return ok;
}

bool reportFile(bool written, const QString& path) {
    std::printf("%s %s\n", written ? "wrote" : "cannot write", qPrintable(path));
    return written;
}

// The certificate's inner side as a PDF printer named `printerName` prints it.
bool printInnerSide(qint64 id, const QString& printerName, const QString& path) {
    ReportPage page;
    if (!page.load(Engine::templatePath(ReportList::CertificateAny)) || !Engine::fillPage(&page, id, true, nullptr))
        return false;
    page.printer()->setOutputFormat(QPrinter::PdfFormat);
    page.printer()->setOutputFileName(path);
    page.printer()->printEngine()->setProperty(QPrintEngine::PPK_PrinterName, printerName);
    PrintSession session;
    return session.printPage(&page, true, -1, false, page.pagesCount() - 1);
}

bool writePrintedFiles(QWidget* window, qint64 id, const QString& output) {
    const QString office = QStringLiteral("Кабинет 12");
    auto* calibration = new PrinterCalibrationDialog(window, {office});
    calibration->setSheetPrinterHook([&output](QPrinter* printer) {
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(output + QStringLiteral("/calibration-sheet.pdf"));
    });
    calibration->show();
    calibration->findChild<QPushButton*>(QStringLiteral("pushButtonPrintSheet"))->click();
    bool ok = reportFile(QFileInfo::exists(output + QStringLiteral("/calibration-sheet.pdf")),
                         output + QStringLiteral("/calibration-sheet.pdf"));
    ok = save(calibration, output + QStringLiteral("/calibration-dialog.png")) && ok;
    calibration->close();
    // The office printer puts everything 1.5 mm too low and 1 mm too far left.
    CalibrationStore::store(office, PrinterCalibration{1, -1.5, 1, 1});
    const QString plain = output + QStringLiteral("/print-uncalibrated.pdf");
    const QString corrected = output + QStringLiteral("/print-calibrated.pdf");
    ok = reportFile(printInnerSide(id, QString(), plain), plain) && ok;
    ok = reportFile(printInnerSide(id, office, corrected), corrected) && ok;
    const QString copy = output + QStringLiteral("/pdf-copy.pdf");
    Engine engine;
    // The document and the next one; the largest id has none after it.
    const QList<qint64> ids = id < std::numeric_limits<qint64>::max() ? QList<qint64>{id, id + 1} : QList<qint64>{id};
    return reportFile(engine.saveDocumentsPdf(ReportList::CertificateAny, ids, true, copy), copy) && ok;
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    initAppResources();
    if (argc < 4) {
        std::fprintf(stderr, "usage: uishots REGISTRY.db DOCUMENT_ID OUTPUT_FOLDER\n");
        return 2;
    }
    bool isId = false;
    const qint64 id = QString::fromLocal8Bit(argv[2]).toLongLong(&isId);
    if (!isId || id < 1) {
        std::fprintf(stderr, "uishots: %s is not a document id\n", argv[2]);
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[3]);
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path() + QStringLiteral("/config"));
    Database::setSchema(ProfSchema::tables(), ProfSchema::mainPrimaryKeyName());
    ReportList::build();
    QFile::remove(Database::filePath());
    if (!QFile::copy(QString::fromLocal8Bit(argv[1]), Database::filePath()))
        return 1;
    // Nobody answers the store's start-up questions here: a registry it cannot use ends the run.
    if (!Database::instance()->isValid()) {
        std::fprintf(stderr, "uishots: %s\n", qPrintable(Database::instance()->startupProblem().text));
        return 1;
    }
    AppSettings::installDefaultData();
    QDir().mkpath(output);

    MainWindow window;
    window.resize(1100, 700);
    window.show();
    bool ok = save(&window, output + QStringLiteral("/registry-window.png"));
    auto* document = new DocumentEditDialog(&window);
    document->setId(id);
    document->show();
    ok = save(document, output + QStringLiteral("/document-dialog.png")) && ok;
    auto* appendix = new AdditionalEditDialog(document);
    appendix->setId(id);
    appendix->show();
    ok = save(appendix, output + QStringLiteral("/appendix-dialog.png")) && ok;
    appendix->close();
    auto* frdo = new FrdoDialog(document);
    frdo->setDocId(id);
    frdo->show();
    ok = save(frdo, output + QStringLiteral("/frdo-dialog.png")) && ok;
    frdo->close();
    document->close();
    auto* options = new OptionsDialog(&window);
    options->show();
    ok = save(options, output + QStringLiteral("/options-dialog.png")) && ok;
    auto* bosses = new BossGuideDialog(BossGuideDialog::Chairman, options);
    bosses->show();
    ok = save(bosses, output + QStringLiteral("/boss-guide-dialog.png")) && ok;
    options->close(); // deletes itself, and the directory with it
    auto* preferences = new PreferencesDialog(&window);
    preferences->findChild<QTabWidget*>(QStringLiteral("tabWidget"))->setCurrentIndex(3); // "Расположение файлов"
    preferences->show();
    ok = save(preferences, output + QStringLiteral("/preferences-dialog.png")) && ok;
    preferences->findChild<QTabWidget*>(QStringLiteral("tabWidget"))->setCurrentIndex(4); // "База данных"
    ok = save(preferences, output + QStringLiteral("/preferences-database.png")) && ok;
    preferences->close();
    auto* about = new AboutDialog(&window);
    about->show();
    ok = save(about, output + QStringLiteral("/about-dialog.png")) && ok;
    about->close();
    auto* tips = new TipsDialog(&window);
    tips->show();
    ok = save(tips, output + QStringLiteral("/tips-dialog.png")) && ok;
    tips->close();
    auto* print = new PrintDialog(&window);
    print->show();
    ok = save(print, output + QStringLiteral("/print-dialog.png")) && ok;
    print->close();
    ok = saveImportDialog(&window, output + QStringLiteral("/import-dialog.png")) && ok;
    ok = saveCheckAndStatistics(&window, output) && ok;
    ok = saveHistoryWindows(&window, id, output) && ok;
    ok = writePrintedFiles(&window, id, output) && ok;
    window.engine()->onGuiEdit(ReportList::CertificateAny);
    if (ReportWindow* designer = window.engine()->designer()) {
        designer->resize(1280, 800);
        designer->findChild<QAction*>(QStringLiteral("actionDataManager"))->setChecked(true);
        // The inner side, with the graduate's name selected.
        for (int i = 0; i < 3; ++i)
            designer->projectView()->on_zoomOut();
        MyGraphicsScene* scene = designer->projectView()->scene();
        for (AbstractField* field : designer->page()->fields()) {
            if (field->property("text").toString() == QStringLiteral("$V{Full_Name}")) {
                scene->selectFields({field});
                designer->projectView()->view()->centerOn(scene->itemFor(field));
            }
        }
        ok = save(designer, output + QStringLiteral("/designer.png")) && ok;
    } else {
        ok = false;
    }
    return ok ? 0 : 1;
}
