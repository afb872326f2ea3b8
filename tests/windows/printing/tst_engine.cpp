#include "rendertool.h"
#include "appsettings.h"
#include "database.h"
#include "engine.h"
#include "messagebox.h"
#include "modalhelper.h"
#include "pdfsideswriter.h"
#include "reportpage.h"
#include "scratchfilesystem.h"
#include "testdatabase.h"
#include "testregistry.h"

#include <QApplication>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPointer>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTimer>
#include <QToolBar>
#include <QtTest>
#include <sqlite3.h>

namespace {
// A template with one text field per side naming the side and the document's surname.
void writeTemplate(const QString& path, int sides) {
    QJsonArray fields;
    for (int side = 0; side < sides; ++side) {
        fields.append(QJsonObject{{"x", 20},
                                  {"y", 20 + 210 * side},
                                  {"width", 200},
                                  {"height", 10},
                                  {"alignFlags", 0x21},
                                  {"id", QStringLiteral("SIDE%1 $V{Last_Name}.").arg(side)}});
    }
    const QJsonObject page{{"orientation", 1},     {"pagesCount", sides},         {"pageSize", 0},
                           {"textFields", fields}, {"tableFields", QJsonArray()}, {"qrFields", QJsonArray()}};
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(page).toJson());
}

qint64 addDocument(const QString& surname) {
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(QStringLiteral("INSERT INTO ProfDocuments (fio1) VALUES (?)"));
    query.addBindValue(surname);
    Database::instance()->execPrepared(query);
    return query.lastInsertId().toLongLong();
}

// What each print job put on paper, in order: "SIDE<n> <surname>.".
class JobRecorder {
public:
    explicit JobRecorder(Engine& engine, const QString& folder) : _folder(folder) {
        engine.setPageHook([this](ReportPage* page) {
            page->printer()->setOutputFormat(QPrinter::PdfFormat);
            page->printer()->setOutputFileName(_folder + QStringLiteral("/job.pdf"));
            QObject::connect(page, &ReportPage::sideJobFinished, [this](int) { record(); });
        });
    }
    QStringList jobs;

private:
    void record() {
        QProcess p;
        p.start(QStringLiteral("pdftotext"), {_folder + QStringLiteral("/job.pdf"), QStringLiteral("-")});
        p.waitForFinished(10000);
        const QString text = QString::fromUtf8(p.readAllStandardOutput()).simplified();
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("SIDE\\d [^.]*\\.")).match(text);
        jobs << (m.hasMatch() ? m.captured(0) : text);
        QFile::remove(_folder + QStringLiteral("/job.pdf"));
    }
    QString _folder;
};

// Overwrites one page of a database file with zeros, as a failing disk leaves it; the structure
// (sqlite_master) stays readable.
void zeroRootPage(const QString& path, const QString& table) {
    const int page = queryFile(path, QStringLiteral("SELECT rootpage FROM sqlite_master WHERE name = '%1'").arg(table))
                         .value(0)
                         .value(0)
                         .toInt();
    const int size = queryFile(path, QStringLiteral("PRAGMA page_size")).value(0).value(0).toInt();
    QVERIFY(page > 1 && size > 0);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.seek(qint64(page - 1) * size));
    QCOMPARE(file.write(QByteArray(size, '\0')), qint64(size));
}

struct ToolRun {
    int exitCode = -1;
    QString errors;
};

ToolRun renderFromRegistry(const QString& registry, qint64 id, const QString& pdf) {
    QProcess tool;
    tool.start(binaryPath(QStringLiteral("mzrpt-render")),
               {QStringLiteral("--db"), registry, QStringLiteral("--type"), QStringLiteral("701"),
                QStringLiteral("--doc"), QString::number(id), pdf});
    tool.waitForFinished(60000);
    return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
            QString::fromUtf8(tool.readAllStandardError())};
}

QStringList folderEntries(const QString& folder) {
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        entries << it.filePath() + QLatin1Char(' ') + QString::number(it.fileInfo().size());
    }
    entries.sort();
    return entries;
}

// A fresh registry with a template of `sides` sides (none for 0) and an engine whose print jobs
// are recorded.
struct PrintFixture {
    explicit PrintFixture(int sides) {
        t.open();
        if (sides > 0)
            writeTemplate(Engine::templatePath(ReportList::CertificateAny), sides);
    }
    TestDatabase t;
    Engine engine;
    JobRecorder recorder{engine, t.env().root()};
    QSignalSpy errors{&engine, &Engine::error};
};

// Records what the progress dialog of a long run shows ("title: label") and, with `stop`, presses
// its "Отмена" while the fourth document is under way.
struct ProgressWatch {
    explicit ProgressWatch(bool stop) {
        QObject::connect(&timer, &QTimer::timeout, [this, stop] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* progress = qobject_cast<QProgressDialog*>(widget);
                if (!progress || !progress->isVisible())
                    continue;
                const QString shown = progress->windowTitle() + QStringLiteral(": ") + progress->labelText();
                if (labels.isEmpty() || labels.last() != shown)
                    labels << shown;
                if (stop && progress->value() == 3)
                    progress->cancel();
            }
        });
        timer.start(0);
    }
    QTimer timer;
    QStringList labels;
};

// About 270 characters; three ruled lines of 12 pt end after "гидроочистки и".
const QString longQualification =
    QStringLiteral("Оператор технологических установок по переработке нефти и газа, машинист насосных и компрессорных "
                   "установок технологических процессов каталитического риформинга бензиновых фракций, изомеризации, "
                   "депарафинизации, гидрокрекинга и гидроочистки и 5-го квалификационного разряда");

QStringList words(const QList<PdfWord>& found) {
    QStringList texts;
    for (const PdfWord& word : found)
        texts << word.text;
    return texts;
}

// Answers every print preview that comes up, counting them and the pages each shows, until
// destroyed: the first `printed` ones as their print button leaves them, the others closed with the
// window's ×.
struct PreviewCloser {
    explicit PreviewCloser(int printed = 0, const QStringList* jobs = nullptr) {
        QObject::connect(&timer, &QTimer::timeout, [this, printed, jobs] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (widget->isVisible() && qobject_cast<QPrintPreviewDialog*>(widget) && !closed.contains(widget)) {
                    closed << widget;
                    auto* view = widget->findChild<QPrintPreviewWidget*>();
                    pagesShown << (view ? view->pageCount() : -1);
                    jobsBefore << (jobs ? jobs->size() : -1);
                    if (closed.size() <= printed)
                        static_cast<QDialog*>(widget)->accept();
                    else
                        widget->close();
                }
            }
        });
        timer.start(20);
    }
    QTimer timer;
    QList<QWidget*> closed;
    QList<int> pagesShown;
    QList<int> jobsBefore;
};

// Counts, on the program's connection, the statements that read a document's row and those that
// read its appendix, while it lives.
struct DocumentReads {
    DocumentReads() : handle(Database::sqliteHandle(QSqlDatabase::database())) {
        sqlite3_trace_v2(handle, SQLITE_TRACE_STMT, &DocumentReads::traced, this);
    }
    ~DocumentReads() { sqlite3_trace_v2(handle, 0, nullptr, nullptr); }
    static int traced(unsigned, void* self, void* statement, void*) {
        const QByteArray sql = sqlite3_sql(static_cast<sqlite3_stmt*>(statement));
        auto* reads = static_cast<DocumentReads*>(self);
        reads->rows += sql.contains("FROM ProfDocuments");
        reads->appendices += sql.contains("UNION");
        return 0;
    }
    sqlite3* handle;
    int rows = 0;
    int appendices = 0;
};

QStringList shownTexts() {
    QStringList texts;
    for (const MessageBox::Shown& box : MessageBox::shown())
        texts << box.text;
    return texts;
}
} // namespace

class TestEngine : public QObject {
    Q_OBJECT

private:
    QString reportPath() const { return AppSettings::dataPath() + QStringLiteral("/reports/id130.mzrpt"); }

private slots:
    void initTestCase() { ReportList::build(); }
    void init() { MessageBox::clearShown(); }

    void templatePathAndPicture() {
        TestDatabase t;
        t.open();
        Engine engine;
        QCOMPARE(Engine::templatePath(ReportList::AppendixPosition),
                 AppSettings::dataPath() + QStringLiteral("/reports/id151.mzrpt"));
        QVERIFY(Engine::templatePicture(ReportList::CertificateAny).isNull());
        // The shipped template carries its blank as the first background.
        QDir().mkpath(QFileInfo(reportPath()).absolutePath());
        QVERIFY(QFile::copy(QStringLiteral(":/default_reports/id130.mzrpt"), reportPath()));
        QVERIFY(!Engine::templatePicture(ReportList::CertificateAny).isNull());
    }

    void missingTemplate() {
        PrintFixture f(0);
        auto& [t, engine, recorder, errors] = f;
        engine.onDocumentPrint(ReportList::CertificateAny, addDocument(QStringLiteral("Иванов")), false, false);
        engine.onDocumentsPrint(ReportList::CertificateAny, {1, 2}, false, false);
        QCOMPARE(errors.size(), 2);
        QCOMPARE(errors[0][0].toString(), QStringLiteral("Шаблон отчёта %1 не найден.").arg(reportPath()));
        QCOMPARE(errors[0][1].toString(), QStringLiteral("Ошибка"));
        QVERIFY(recorder.jobs.isEmpty());
        QVERIFY(MessageBox::shown().isEmpty());
    }

    void oneDocument() {
        PrintFixture f(2);
        auto& [t, engine, recorder, errors] = f;
        const qint64 id = addDocument(QStringLiteral("Иванов"));
        MessageBox::setNextAnswer(QMessageBox::Ok);
        engine.onDocumentPrint(ReportList::CertificateAny, id, false, false);
        QCOMPARE(recorder.jobs, (QStringList{"SIDE0 Иванов.", "SIDE1 Иванов."}));
        QCOMPARE(shownTexts(), QStringList{"Переверните страницу!"});
        QVERIFY(engine.currentPage());
    }

    void unsavedAndInvalidIds() {
        PrintFixture f(1);
        auto& [t, engine, recorder, errors] = f;
        engine.onDocumentPrint(ReportList::CertificateAny, -2, false, false);
        QVERIFY(recorder.jobs.isEmpty());
        // Never saved: the empty form prints, as a look at the template.
        engine.onDocumentPrint(ReportList::CertificateAny, -1, false, false);
        QCOMPARE(recorder.jobs, QStringList{"SIDE0 ."});
        // A document that is gone prints nothing: a blank costs money.
        engine.onDocumentPrint(ReportList::CertificateAny, 4242, false, false);
        QCOMPARE(recorder.jobs.size(), 1);
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors[0][0].toString().contains(QStringLiteral("4242")));
    }

    void severalDocuments_data() {
        QTest::addColumn<int>("sides");
        QTest::addColumn<QStringList>("jobs");
        QTest::addColumn<QStringList>("prompts");
        const QString back = QStringLiteral("Переложите напечатанные страницы обратно в лоток.");
        QTest::newRow("two sides") << 2 << QStringList{"SIDE0 А.", "SIDE0 Б.", "SIDE0 В.",
                                                       "SIDE1 В.", "SIDE1 Б.", "SIDE1 А."}
                                   << QStringList{back};
        QTest::newRow("three sides") << 3 << QStringList{"SIDE0 А.", "SIDE0 Б.", "SIDE0 В.", "SIDE1 В.", "SIDE1 Б.",
                                                         "SIDE1 А.", "SIDE2 А.", "SIDE2 Б.", "SIDE2 В."}
                                     << QStringList{back, QStringLiteral("Вставьте следующий лист")};
    }

    void severalDocuments() {
        QFETCH(int, sides);
        QFETCH(QStringList, jobs);
        QFETCH(QStringList, prompts);
        PrintFixture f(sides);
        auto& [t, engine, recorder, errors] = f;
        const QList<qint64> ids = {addDocument(QStringLiteral("А")), addDocument(QStringLiteral("Б")),
                                   addDocument(QStringLiteral("В"))};
        for (int i = 0; i < prompts.size(); ++i)
            MessageBox::setNextAnswer(QMessageBox::Ok);
        engine.onDocumentsPrint(ReportList::CertificateAny, ids, false, false);
        QCOMPARE(recorder.jobs, jobs);
        QCOMPARE(shownTexts(), prompts);
        // The sheet prompts look as the single page's do: no title, no icon.
        for (const MessageBox::Shown& box : MessageBox::shown())
            QVERIFY(box.title.isEmpty() && box.icon == QMessageBox::NoIcon);
    }

    // A two-sided run reads each document once, however many sides and questions its pages serve,
    // and so does a PDF copy and a single print.
    void eachDocumentIsReadOnce() {
        PrintFixture f(2);
        auto& [t, engine, recorder, errors] = f;
        const QList<qint64> ids = {addDocument(QStringLiteral("А")), addDocument(QStringLiteral("Б")),
                                   addDocument(QStringLiteral("В"))};
        QTemporaryDir out;
        for (const QString& request : {"batch", "copy", "single"}) {
            DocumentReads reads;
            QVERIFY(reads.handle);
            int documents = ids.size();
            if (request == QLatin1String("copy")) {
                QVERIFY(engine.saveDocumentsPdf(ReportList::CertificateAny, ids, false, out.filePath("copy.pdf")));
            } else if (request == QLatin1String("batch")) {
                MessageBox::setNextAnswer(QMessageBox::Ok);
                engine.onDocumentsPrint(ReportList::CertificateAny, ids, false, false);
            } else {
                documents = 1;
                MessageBox::setNextAnswer(QMessageBox::Ok);
                engine.onDocumentPrint(ReportList::CertificateAny, ids[1], false, false);
            }
            QCOMPARE(reads.rows, documents);
            QCOMPARE(reads.appendices, documents);
        }
        QCOMPARE(recorder.jobs, (QStringList{"SIDE0 А.", "SIDE0 Б.", "SIDE0 В.", "SIDE1 В.", "SIDE1 Б.", "SIDE1 А.",
                                             "SIDE0 Б.", "SIDE1 Б."}));
        QVERIFY(errors.isEmpty());
    }

    // More than five documents print with "Печать: i из N" and "Отмена"; stopping ends the run after
    // the document being printed, and the user learns which documents got which side.
    void longRunShowsProgressAndStops() {
        PrintFixture f(2);
        auto& [t, engine, recorder, errors] = f;
        const QStringList names = {"А", "Б", "В", "Г", "Д", "Е", "Ж"};
        QList<qint64> ids;
        for (const QString& name : names)
            ids << addDocument(name);
        ProgressWatch watch(true);
        MessageBox::setNextAnswer(QMessageBox::Ok);
        engine.onDocumentsPrint(ReportList::CertificateAny, ids, false, false);
        QCOMPARE(recorder.jobs, (QStringList{"SIDE0 А.", "SIDE0 Б.", "SIDE0 В."}));
        QCOMPARE(watch.labels.last(), QStringLiteral("Сторона 1: Печать: 4 из 7"));
        QCOMPARE(MessageBox::lastShown().text,
                 QStringLiteral("Печать остановлена.\nСторона 1 напечатана для документов с кодами: %1, %2, %3.")
                     .arg(ids[0])
                     .arg(ids[1])
                     .arg(ids[2]));
    }

    void severalDocumentsSkipMissingAndAskForBackground() {
        PrintFixture f(1);
        auto& [t, engine, recorder, errors] = f;
        const qint64 a = addDocument(QStringLiteral("А"));
        const qint64 b = addDocument(QStringLiteral("Б"));

        MessageBox::setNextAnswer(QMessageBox::No);
        engine.onDocumentsPrint(ReportList::CertificateAny, {a, b}, true, false);
        QCOMPARE(shownTexts(), QStringList{"Включена печать фона.\nПродолжить?!"});
        QVERIFY(recorder.jobs.isEmpty());

        MessageBox::clearShown();
        engine.onDocumentsPrint(ReportList::CertificateAny, {a, 777, b, 778}, false, false);
        QCOMPARE(recorder.jobs, (QStringList{"SIDE0 А.", "SIDE0 Б."}));
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors[0][0].toString().contains(QStringLiteral("777, 778")));
    }

    // The engine releases the pages of its own requests but never a page another window owns.
    void pageOwnership() {
        PrintFixture f(1);
        auto& [t, engine, recorder, errors] = f;
        const qint64 id = addDocument(QStringLiteral("А"));
        auto borrowed = std::make_unique<ReportPage>();
        engine.setCurrentPage(borrowed.get());
        engine.onDocumentPrint(ReportList::CertificateAny, id, false, false);
        QPointer<ReportPage> first = engine.currentPage();
        QVERIFY(first && first != borrowed.get());
        engine.onDocumentsPrint(ReportList::CertificateAny, {id, id}, false, false);
        QCOMPARE(recorder.jobs, (QStringList{"SIDE0 А.", "SIDE0 А.", "SIDE0 А."}));
        QVERIFY(!first);
        engine.setCurrentPage(borrowed.get());
        QCOMPARE(engine.currentPage(), borrowed.get());
        QCOMPARE(borrowed->parent(), nullptr);
    }

    // An unreadable template is reported once per request, by the window (a signal, no box), and
    // the blank forms print with what could be read.
    void unreadableTemplateIsReportedOnce() {
        PrintFixture f(0);
        auto& [t, engine, recorder, errors] = f;
        QDir().mkpath(QFileInfo(reportPath()).absolutePath());
        QFile file(reportPath());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("{\"pagesCount\": ") > 0);
        file.close();
        const QList<qint64> ids = {addDocument(QStringLiteral("А")), addDocument(QStringLiteral("Б")),
                                   addDocument(QStringLiteral("В"))};
        engine.onDocumentsPrint(ReportList::CertificateAny, ids, false, false);
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors[0][1].toString(), QStringLiteral("Не удалось открыть файл"));
        QVERIFY(!errors[0][0].toString().isEmpty());
        QCOMPARE(recorder.jobs.size(), 3);
        QVERIFY(MessageBox::shown().isEmpty());
    }

    // A damaged page passes the start-up check; printing from it must not waste a blank on an
    // empty or half-filled form.
    void unreadableDocumentIsNotPrinted() {
        TestDatabase t;
        t.open();
        writeTemplate(reportPath(), 1);
        const qint64 id = addDocument(QStringLiteral("Иванов"));
        QVERIFY(t.db()
                    ->execSql(QStringLiteral("INSERT INTO ProfDetails (profId, name, count) VALUES (%1, 'Черчение', "
                                             "8)")
                                  .arg(id))
                    .isActive());
        t.close();
        zeroRootPage(t.filePath(), QStringLiteral("ProfDetails"));
        QVERIFY(t.open()->isValid());

        Engine engine;
        JobRecorder recorder(engine, t.env().root());
        QSignalSpy errors(&engine, &Engine::error);
        engine.onDocumentPrint(ReportList::CertificateAny, id, false, false);
        engine.onDocumentsPrint(ReportList::CertificateAny, {id}, false, false);
        QVERIFY(recorder.jobs.isEmpty());
        QCOMPARE(errors.size(), 2);
        for (const QList<QVariant>& error : errors) {
            QVERIFY2(error[0].toString().startsWith(
                         QStringLiteral("Не удалось прочитать документ с кодом %1 из базы данных. Печать отменена.\n"
                                        "Ошибка: ")
                             .arg(id)),
                     qPrintable(error[0].toString()));
            QVERIFY(error[0].toString().contains(QStringLiteral("malformed")));
            QCOMPARE(error[1].toString(), QStringLiteral("Ошибка"));
        }
        t.close();

        const QString pdf = t.env().root() + QStringLiteral("/out.pdf");
        const ToolRun run = renderFromRegistry(t.filePath(), id, pdf);
        QCOMPARE(run.exitCode, 6);
        QVERIFY2(run.errors.contains(QStringLiteral("malformed")), qPrintable(run.errors));
        QVERIFY(!QFileInfo::exists(pdf));
    }

    // A PDF copy holds every side of every document in the order chosen, word for word where the
    // render tool puts it, and asks nothing on the way.
    void pdfCopyEqualsRenderTool() {
        PrintFixture f(2);
        auto& [t, engine, recorder, errors] = f;
        const QList<qint64> ids = {addDocument(QStringLiteral("Петров")), addDocument(QStringLiteral("Андреева")),
                                   addDocument(QStringLiteral("Ёлкин \"Ъ\" & <b>"))};
        QTemporaryDir out;
        const QString copy = out.filePath(QStringLiteral("копия.pdf"));
        QString failure;
        QVERIFY(engine.saveDocumentsPdf(ReportList::CertificateAny, ids, false, copy, &failure));
        QVERIFY(failure.isEmpty());
        QVERIFY(MessageBox::shown().isEmpty());
        QVERIFY(recorder.jobs.isEmpty());
        t.close();

        const QString rendered = out.filePath(QStringLiteral("tool.pdf"));
        QStringList arguments{QStringLiteral("--db"), t.filePath(), QStringLiteral("--type"), QStringLiteral("701")};
        for (qint64 id : ids)
            arguments << QStringLiteral("--doc") << QString::number(id);
        RenderTool tool;
        QCOMPARE(tool.run(arguments << rendered), 0);
        const QList<PdfWord> expected = pdfWords(rendered);
        const QList<PdfWord> actual = pdfWords(copy);
        QCOMPARE(rasterize(copy, 20).size(), 6);
        QCOMPARE(actual.size(), expected.size());
        for (int i = 0; i < actual.size(); ++i) {
            const PdfWord& a = actual.at(i);
            const PdfWord& e = expected.at(i);
            QVERIFY2(a.page == e.page && a.text == e.text && qAbs(a.left - e.left) < 0.01 && qAbs(a.top - e.top) < 0.01,
                     qPrintable(describeWords({a, e})));
        }
        QStringList sides;
        for (const PdfWord& word : actual)
            if (word.text.startsWith(QLatin1String("SIDE")))
                sides << QStringLiteral("%1:%2").arg(word.page).arg(word.text);
        QCOMPARE(sides, (QStringList{"0:SIDE0", "1:SIDE1", "2:SIDE0", "3:SIDE1", "4:SIDE0", "5:SIDE1"}));
    }

    // The template's pictures go into a copy once, however many documents it holds; without
    // backgrounds none goes in.
    void pdfCopyHoldsBackgroundsOnce() {
        PrintFixture f(0);
        auto& [t, engine, recorder, errors] = f;
        const QString path = Engine::templatePath(ReportList::CertificateAny);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QVERIFY(QFile::copy(QStringLiteral(":/default_reports/id130.mzrpt"), path));
        QList<qint64> ids;
        for (int i = 0; i < 4; ++i)
            ids << addDocument(QStringLiteral("Док%1").arg(i));
        QTemporaryDir out;
        const auto size = [&](const QList<qint64>& chosen, bool background) {
            const QString copy = out.filePath(QStringLiteral("copy.pdf"));
            return engine.saveDocumentsPdf(ReportList::CertificateAny, chosen, background, copy)
                       ? QFileInfo(copy).size()
                       : -1;
        };
        const qint64 one = size({ids.first()}, true);
        const qint64 four = size(ids, true);
        const qint64 plain = size(ids, false);
        QVERIFY2(one > 100 * 1024 && four < one * 3 / 2 && plain < one / 4,
                 qPrintable(QStringLiteral("%1 %2 %3").arg(one).arg(four).arg(plain)));
    }

    // A copy that is stopped or cannot be written leaves the file that was there as it was, and
    // nothing half-written beside it; only a failure has a reason to show.
    void pdfCopyStoppedOrFailed_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("stop");
        QTest::newRow("stopped at the fourth of seven") << QStringLiteral("old.pdf") << true;
        QTest::newRow("folder missing") << QStringLiteral("нет/old.pdf") << false;
        QTest::newRow("a folder in the way") << QStringLiteral("folder") << false;
    }

    void pdfCopyStoppedOrFailed() {
        QFETCH(QString, target);
        QFETCH(bool, stop);
        PrintFixture f(1);
        auto& [t, engine, recorder, errors] = f;
        QList<qint64> ids;
        for (int i = 0; i < 7; ++i)
            ids << addDocument(QStringLiteral("Док%1").arg(i));
        QTemporaryDir out;
        QVERIFY(QDir(out.path()).mkdir(QStringLiteral("folder")));
        const QString path = out.filePath(target);
        QFile old(out.filePath(QStringLiteral("old.pdf")));
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("earlier copy") > 0);
        old.close();
        ProgressWatch watch(stop);
        QString failure;
        QVERIFY(!engine.saveDocumentsPdf(ReportList::CertificateAny, ids, false, path, &failure));
        QCOMPARE(failure.isEmpty(), stop);
        QCOMPARE(readFileBytes(old.fileName()), QByteArray("earlier copy"));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"old.pdf"});
        if (stop)
            QCOMPARE(watch.labels.last(), QStringLiteral("Сохранить в PDF: Сохранение: 4 из 7"));
    }

    // The render tool reads a registry and never writes it: no views, no migration, no backups,
    // no new database in place of an empty file, and no talk of replacing anything.
    void renderToolNeverWritesRegistry_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("healthy") << QStringLiteral("healthy") << QString();
        QTest::newRow("older structure") << QStringLiteral("older") << QStringLiteral("structure check");
        QTest::newRow("zero bytes") << QStringLiteral("empty") << QStringLiteral("structure check");
        QTest::newRow("locked by the program") << QStringLiteral("locked") << QStringLiteral("locked");
    }

    void renderToolNeverWritesRegistry() {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        TestDatabase t;
        t.open();
        writeTemplate(reportPath(), 1);
        const qint64 id = addDocument(QStringLiteral("Иванов"));
        t.close();
        if (kind == QLatin1String("older")) {
            QCOMPARE(execOnFile(t.filePath(), {QStringLiteral("ALTER TABLE ProfDocuments DROP COLUMN finishDate")}),
                     QString());
        } else if (kind == QLatin1String("empty")) {
            QFile file(t.filePath());
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        }
        const QByteArray before = readFileBytes(t.filePath());
        const QStringList entries = folderEntries(t.env().defaultDataFolder());
        // The program holds its registry in exclusive mode once it has written. (Reading the file
        // from this process now would drop that lock: POSIX locks go with any descriptor closed.)
        if (kind == QLatin1String("locked"))
            t.open()->setVariable(QStringLiteral("Data/City"), QStringLiteral("Тверь"));
        QTemporaryDir out;
        const QString pdf = out.filePath(QStringLiteral("out.pdf"));

        const ToolRun run = renderFromRegistry(t.filePath(), id, pdf);
        t.close();
        QVERIFY(readFileBytes(t.filePath()) == before || kind == QLatin1String("locked"));
        if (kind != QLatin1String("locked"))
            QCOMPARE(folderEntries(t.env().defaultDataFolder()), entries);
        QVERIFY(!run.errors.contains(QStringLiteral("Будет создана")));
        if (message.isEmpty()) {
            QCOMPARE(run.exitCode, 0);
            QVERIFY(QFileInfo(pdf).size() > 0);
            return;
        }
        QCOMPARE(run.exitCode, 6);
        QVERIFY2(run.errors.contains(message), qPrintable(run.errors));
        QVERIFY(!QFileInfo::exists(pdf));
    }

    // Ids beyond 32 bits print, one and several, go into a PDF copy and are rendered by the tool.
    void hugeIds() {
        PrintFixture f(1);
        auto& [t, engine, recorder, errors] = f;
        const qint64 small = addDocument(QStringLiteral("Малов"));
        const qint64 huge = Q_INT64_C(1) << 62;
        QSqlQuery query(QSqlDatabase::database());
        query.prepare(QStringLiteral("INSERT INTO ProfDocuments (profId, fio1) VALUES (?, ?)"));
        query.addBindValue(huge);
        query.addBindValue(QStringLiteral("Огромнов"));
        QVERIFY(Database::instance()->execPrepared(query));
        engine.onDocumentPrint(ReportList::CertificateAny, huge, false, false);
        engine.onDocumentsPrint(ReportList::CertificateAny, {small, huge}, false, false);
        QCOMPARE(recorder.jobs, (QStringList{"SIDE0 Огромнов.", "SIDE0 Малов.", "SIDE0 Огромнов."}));
        QVERIFY(errors.isEmpty());
        QTemporaryDir out;
        const QString copy = out.filePath(QStringLiteral("copy.pdf"));
        QVERIFY(engine.saveDocumentsPdf(ReportList::CertificateAny, {huge}, false, copy));
        QCOMPARE(words(pdfWords(copy)), (QStringList{"SIDE0", "Огромнов."}));
        t.close();
        const QString rendered = out.filePath(QStringLiteral("tool.pdf"));
        const ToolRun run = renderFromRegistry(t.filePath(), huge, rendered);
        QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
        QCOMPARE(words(pdfWords(rendered)), (QStringList{"SIDE0", "Огромнов."}));
    }

    void previewComesFirst_data() {
        QTest::addColumn<int>("documents");
        QTest::addColumn<bool>("printed");
        QTest::newRow("one document, closed") << 1 << false;
        QTest::newRow("three documents, closed") << 3 << false;
        QTest::newRow("one document, printed") << 1 << true;
        QTest::newRow("three documents, printed") << 3 << true;
    }

    // One preview shows every side of every document before anything goes to the printer. Closing
    // it prints nothing and asks nothing; printing from it prints as a run without a preview does.
    void previewComesFirst() {
        QFETCH(int, documents);
        QFETCH(bool, printed);
        PrintFixture f(2);
        auto& [t, engine, recorder, errors] = f;
        QList<qint64> ids;
        QStringList jobs;
        const QStringList names = {"А", "Б", "В"};
        for (int i = 0; i < documents; ++i)
            ids << addDocument(names.at(i));
        for (int i = 0; i < documents && printed; ++i)
            jobs << QStringLiteral("SIDE0 %1.").arg(names.at(i));
        for (int i = documents - 1; i >= 0 && printed; --i)
            jobs << QStringLiteral("SIDE1 %1.").arg(names.at(i));
        PreviewCloser closer(printed ? 1 : 0, &recorder.jobs);
        // A prompt that should not come is answered rather than left open.
        MessageBox::setAutoAnswer(QMessageBox::Ok);
        if (documents == 1)
            engine.onDocumentPrint(ReportList::CertificateAny, ids.first(), false, true);
        else
            engine.onDocumentsPrint(ReportList::CertificateAny, ids, false, true);
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
        QCOMPARE(closer.closed.size(), 1);
        QCOMPARE(closer.pagesShown, QList<int>{2 * documents});
        QCOMPARE(closer.jobsBefore, QList<int>{0});
        QCOMPARE(recorder.jobs, jobs);
        const QString prompt = documents == 1 ? QStringLiteral("Переверните страницу!")
                                              : QStringLiteral("Переложите напечатанные страницы обратно в лоток.");
        QCOMPARE(shownTexts(), printed ? QStringList{prompt} : QStringList());
        QVERIFY(errors.isEmpty());
    }

    // The printer chosen in the system's print dialog of a run's preview prints every side of the
    // run, a job per side.
    void previewPrintsToThePrinterChosen() {
        PrintFixture f(2);
        const QList<qint64> ids = {addDocument(QStringLiteral("А")), addDocument(QStringLiteral("Б"))};
        const QString chosen = f.t.env().root() + QStringLiteral("/chosen.pdf");
        QStringList chosenJobs;
        f.engine.setPageHook([&](ReportPage* page) {
            page->printer()->setOutputFormat(QPrinter::PdfFormat);
            page->printer()->setOutputFileName(f.t.env().root() + QStringLiteral("/job.pdf"));
            QObject::connect(page, &ReportPage::sideJobFinished, [&](int) {
                chosenJobs << words(pdfWords(chosen)).join(QLatin1Char(' '));
                QFile::remove(chosen);
            });
        });
        bool printDialogShown = false;
        ModalHelper::whenModal([&](QWidget* preview) {
            ModalHelper::whenModal([&](QWidget* dialog) {
                auto* file = dialog->findChild<QLineEdit*>(QStringLiteral("filename"));
                printDialogShown = qobject_cast<QPrintDialog*>(dialog) && file;
                if (file)
                    file->setText(chosen);
                static_cast<QDialog*>(dialog)->accept();
            });
            auto* toolBar = preview->findChild<QToolBar*>();
            QVERIFY(toolBar && !toolBar->actions().isEmpty());
            toolBar->actions().last()->trigger();
        });
        MessageBox::setNextAnswer(QMessageBox::Ok);
        f.engine.onDocumentsPrint(ReportList::CertificateAny, ids, false, true);
        QVERIFY(printDialogShown);
        QCOMPARE(chosenJobs, (QStringList{"SIDE0 А.", "SIDE0 Б.", "SIDE1 Б.", "SIDE1 А."}));
        QCOMPARE(shownTexts(), QStringList{"Переложите напечатанные страницы обратно в лоток."});
    }

    // The preview of a long run shows its preparation with "Отмена"; stopping closes the preview
    // and prints nothing.
    void longPreviewShowsProgressAndStops() {
        PrintFixture f(2);
        QList<qint64> ids;
        for (int i = 0; i < 7; ++i)
            ids << addDocument(QStringLiteral("Док%1").arg(i));
        ProgressWatch watch(true);
        // Only if the run fails to close its preview: keeps a failure from hanging the test.
        bool closedByTest = false;
        QTimer safety;
        QObject::connect(&safety, &QTimer::timeout, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (widget->isVisible() && qobject_cast<QPrintPreviewDialog*>(widget))
                    closedByTest = widget->close();
        });
        safety.start(10000);
        f.engine.onDocumentsPrint(ReportList::CertificateAny, ids, false, true);
        QVERIFY(!closedByTest);
        QCOMPARE(watch.labels.last(), QStringLiteral("Предварительный просмотр: Подготовка: 4 из 7"));
        QVERIFY(f.recorder.jobs.isEmpty());
        QVERIFY(MessageBox::shown().isEmpty());
    }

    void refusedJob_data() {
        QTest::addColumn<int>("documents");
        QTest::addColumn<int>("refuseFrom");
        QTest::addColumn<QStringList>("jobs");
        QTest::addColumn<int>("prompts");
        QTest::addColumn<QString>("message");
        // #1, #2, #3: the codes of the documents А, Б, В.
        const QString refused = QStringLiteral("Принтер «ROOT/нет/job.pdf» не принял задание: сторона %1 документа с "
                                               "кодом %2 не напечатана.\nПапка «ROOT/нет» не найдена.\n"
                                               "Печать остановлена.\n");
        QTest::newRow("one document, its back") << 1 << 1 << QStringList{"SIDE0 А."} << 1
                                                << refused.arg(2).arg("#1") + QStringLiteral("Сторона 1 напечатана.");
        QTest::newRow("three documents, the first sheet")
            << 3 << 0 << QStringList() << 0
            << refused.arg(1).arg("#1") +
                   QStringLiteral("Сторона 1 не напечатана для документов с кодами: #1, #2, #3.");
        QTest::newRow("three documents, the second back")
            << 3 << 4 << QStringList{"SIDE0 А.", "SIDE0 Б.", "SIDE0 В.", "SIDE1 В."} << 1
            << refused.arg(2).arg("#2") + QStringLiteral("Сторона 1 напечатана для документов с кодами: #1, #2, #3.\n"
                                                         "Сторона 2 напечатана для документов с кодами: #3.\n"
                                                         "Сторона 2 не напечатана для документов с кодами: #2, #1.");
    }

    // A printer that refuses a job ends the run with one box naming the printer, the side and the
    // documents, and what each side reached; no sheet prompt comes after it.
    void refusedJob() {
        QFETCH(int, documents);
        QFETCH(int, refuseFrom);
        QFETCH(QStringList, jobs);
        QFETCH(int, prompts);
        QFETCH(QString, message);
        PrintFixture f(2);
        const QStringList names = {"А", "Б", "В"};
        QList<qint64> ids;
        for (int i = 0; i < documents; ++i) {
            ids << addDocument(names.at(i));
            message.replace(QStringLiteral("#%1").arg(i + 1), QString::number(ids.last()));
        }
        const QString root = f.t.env().root();
        const QString printed = root + QStringLiteral("/job.pdf");
        const QString missing = root + QStringLiteral("/нет/job.pdf");
        // From job `refuseFrom` on, the pages print into a folder that is not there.
        int jobsSent = 0;
        QStringList& recorded = f.recorder.jobs;
        f.engine.setPageHook([&](ReportPage* page) {
            page->printer()->setOutputFormat(QPrinter::PdfFormat);
            page->printer()->setOutputFileName(jobsSent >= refuseFrom ? missing : printed);
            QObject::connect(page, &ReportPage::sideJobFinished, [&, page](int) {
                if (QFile::exists(printed))
                    recorded << words(pdfWords(printed)).join(QLatin1Char(' '));
                QFile::remove(printed);
                if (++jobsSent >= refuseFrom)
                    page->printer()->setOutputFileName(missing);
            });
        });
        MessageBox::setAutoAnswer(QMessageBox::Ok);
        if (documents == 1)
            f.engine.onDocumentPrint(ReportList::CertificateAny, ids.first(), false, false);
        else
            f.engine.onDocumentsPrint(ReportList::CertificateAny, ids, false, false);
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
        QCOMPARE(recorded, jobs);
        const MessageBox::Shown last = MessageBox::lastShown();
        QCOMPARE(QString(last.text).replace(QDir::toNativeSeparators(root), QStringLiteral("ROOT")), message);
        QCOMPARE(last.title, QStringLiteral("Ошибка"));
        // Before the box only the prompts of sheets that were printed.
        QCOMPARE(shownTexts().size(), prompts + 1);
        QVERIFY(f.errors.isEmpty());
    }

    void pdfCopyOfUnreadableTemplate_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("cut JSON") << QByteArray("{\"pagesCount\": ");
        QTest::newRow("root not an object") << QByteArray("[{\"pagesCount\": 1}]");
    }

    // The error is shown once and no file is written: a copy of empty pages would pass for one.
    void pdfCopyOfUnreadableTemplate() {
        QFETCH(QByteArray, content);
        PrintFixture f(0);
        auto& [t, engine, recorder, errors] = f;
        QDir().mkpath(QFileInfo(reportPath()).absolutePath());
        QFile file(reportPath());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) > 0);
        file.close();
        QTemporaryDir out;
        QString failure;
        QVERIFY(!engine.saveDocumentsPdf(ReportList::CertificateAny, {addDocument(QStringLiteral("А"))}, false,
                                         out.filePath(QStringLiteral("copy.pdf")), &failure));
        QCOMPARE(failure, QString());
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors[0][1].toString(), QStringLiteral("Не удалось открыть файл"));
        QVERIFY(!errors[0][0].toString().isEmpty());
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void pdfCopyOnABadDisk_data() {
        QTest::addColumn<bool>("full");
        QTest::addColumn<QString>("reason");
        QTest::newRow("full disk") << true << QStringLiteral("На диске недостаточно свободного места.");
        QTest::newRow("read-only disk") << false << QStringLiteral("доступен только для чтения.");
    }

    // A copy that the disk refuses says why in the user's words; the file that was there stays.
    void pdfCopyOnABadDisk() {
        QFETCH(bool, full);
        QFETCH(QString, reason);
        PrintFixture f(1);
        auto& [t, engine, recorder, errors] = f;
        QList<qint64> ids;
        for (int i = 0; i < 3; ++i)
            ids << addDocument(QStringLiteral("Док%1").arg(i));
        QTemporaryDir dir;
        ScratchFileSystem disk(dir.filePath(QStringLiteral("disk")), 512 * 1024);
        if (!disk.isMounted())
            QSKIP("a full or read-only disk needs a file system of its own (mounting needs root)");
        const QString path = disk.path() + QStringLiteral("/копия.pdf");
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("earlier copy") > 0);
        old.close();
        QVERIFY(full ? disk.fill(4 * 1024) : disk.setReadOnly(true));
        QString failure;
        QVERIFY(!engine.saveDocumentsPdf(ReportList::CertificateAny, ids, false, path, &failure));
        QVERIFY2(failure.section(QLatin1Char('\n'), 0, 0).endsWith(reason), qPrintable(failure));
        QCOMPARE(readFileBytes(path), QByteArray("earlier copy"));
        QStringList expected{QStringLiteral("копия.pdf")};
        if (full)
            expected.prepend(QStringLiteral("filler"));
        QCOMPARE(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden), expected);
        if (!full)
            QVERIFY(disk.setReadOnly(false));
    }

    void longQualificationOnTheCertificate_data() {
        QTest::addColumn<bool>("shrink");
        QTest::newRow("the shipped template, which shrinks it") << true;
        QTest::newRow("a template that does not") << false;
    }

    // A qualification of about 270 characters on the shipped certificate prints whole, every word
    // inside the qualification field; a template that keeps the size asks before anything is printed
    // or copied, naming the field and the words it would lose.
    void longQualificationOnTheCertificate() {
        QFETCH(bool, shrink);
        PrintFixture f(0);
        auto& [t, engine, recorder, errors] = f;
        QJsonObject content =
            QJsonDocument::fromJson(readFileBytes(QStringLiteral(":/default_reports/id130.mzrpt"))).object();
        QJsonArray texts = content.value(QStringLiteral("textFields")).toArray();
        QRectF field;
        for (int i = 0; i < texts.size(); ++i) {
            QJsonObject text = texts.at(i).toObject();
            QVERIFY(
                text.value(QStringLiteral("shrinkToFit")).toBool() ==
                QStringList({"$V{Full_Name}", "$V{qual}", "$V{prof_Prog_Name}"}).contains(text.value("id").toString()));
            if (text.value(QStringLiteral("id")).toString() == QLatin1String("$V{qual}"))
                field = QRectF(text.value("x").toDouble(), text.value("y").toDouble(), text.value("width").toDouble(),
                               text.value("height").toDouble());
            if (!shrink)
                text.remove(QStringLiteral("shrinkToFit"));
            texts[i] = text;
        }
        content.insert(QStringLiteral("textFields"), texts);
        QDir().mkpath(QFileInfo(reportPath()).absolutePath());
        QFile file(reportPath());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(content).toJson()) > 0);
        file.close();
        const qint64 id = addDocument(QStringLiteral("Иванов"));
        QVERIFY(runSql(QStringLiteral("UPDATE ProfDocuments SET qual = ? WHERE profId = ?"), {longQualification, id})
                    .isActive());
        QTemporaryDir out;
        const QString copy = out.filePath(QStringLiteral("copy.pdf"));

        MessageBox::setNextAnswer(shrink ? QMessageBox::Ok : QMessageBox::No);
        engine.onDocumentPrint(ReportList::CertificateAny, id, false, false);
        if (!shrink) {
            QCOMPARE(MessageBox::shown().size(), 1);
            const QString question = MessageBox::shown().first().text;
            QVERIFY2(question.startsWith(QStringLiteral("Не помещается на бланке:\nполе «$V{qual}»: «")) &&
                         question.contains(QStringLiteral("5-го квалификационного разряда»")),
                     qPrintable(question));
            QVERIFY(recorder.jobs.isEmpty());
            MessageBox::setNextAnswer(QMessageBox::No);
            QVERIFY(!engine.saveDocumentsPdf(ReportList::CertificateAny, {id}, false, copy));
            QCOMPARE(shownTexts(), (QStringList{question, question}));
            QVERIFY(!QFileInfo::exists(copy));
            // A run of several names the documents, before the first sheet.
            const qint64 other = addDocument(QStringLiteral("Петров"));
            MessageBox::clearShown();
            MessageBox::setNextAnswer(QMessageBox::No);
            engine.onDocumentsPrint(ReportList::CertificateAny, {other, id}, false, false);
            QCOMPARE(shownTexts().size(), 1);
            QVERIFY2(shownTexts().first().startsWith(
                         QStringLiteral("Не помещается на бланке:\nдокумент с кодом %1, поле «$V{qual}»: «").arg(id)),
                     qPrintable(shownTexts().first()));
            QVERIFY(!shownTexts().first().contains(QStringLiteral("кодом %1").arg(other)));
            QVERIFY(recorder.jobs.isEmpty());
            return;
        }
        QCOMPARE(shownTexts(), QStringList{"Переверните страницу!"});
        QCOMPARE(recorder.jobs.size(), 2);
        QVERIFY(engine.saveDocumentsPdf(ReportList::CertificateAny, {id}, false, copy));
        // The field lies on the second side, one landscape sheet height (210 mm) down the strip.
        field.translate(0.0, -pxToMm(int(mmToPx(210.0, PdfSidesWriter::defaultDpi)), PdfSidesWriter::defaultDpi));
        QList<PdfWord> inField;
        for (const PdfWord& word : pdfWords(copy)) {
            if (word.page == 1 && field.adjusted(-5, -3, 5, 3).contains(QPointF(word.centerX(), word.centerY())))
                inField << word;
        }
        QCOMPARE(words(inField).join(QLatin1Char(' ')), longQualification);
        for (const PdfWord& word : inField)
            QVERIFY2(field.adjusted(-0.3, -0.3, 0.3, 0.3)
                         .contains(QRectF(word.left, word.top, word.right - word.left, word.bottom - word.top)),
                     qPrintable(describeWords(inField)));
    }
};

ORVANE_TEST(TestEngine)
#include "tst_engine.moc"
