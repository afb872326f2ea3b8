// The statistics window opened from the main window over a made-up registry: its charts show what
// its tables say, and its table leaves through the clipboard and the files.

#include "filedialog.h"
#include "guifixture.h"
#include "mainwindow.h"
#include "reportlist.h"
#include "scratchfilesystem.h"
#include "statisticsdialog.h"
#include "testdatabase.h"
#include "testregistry.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QtCharts/QAbstractBarSeries>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSet>
#include <QtCharts/QChartView>
#include <QtTest>

using namespace QtCharts;

namespace {
const QStringList tabs{"Years", "Months", "Professions", "Qualifications"};

void addDocuments() {
    runSql(QStringLiteral("DELETE FROM ProfDocuments"));
    const struct {
        const char* date;
        int type, duplicate;
        const char* profession;
    } docs[] = {{"2021-03-01", 1, 0, "Сварщик"}, {"2021-03-09", 2, 0, "Повар"}, {"2021-11-01", 1, 1, "Сварщик"},
                {"2022-01-05", 1, 0, "Сварщик"}, {"2022-01-06", 2, 0, ""},      {"не дата", 1, 0, "Повар"}};
    qint64 id = Q_INT64_C(1) << 33;
    for (const auto& d : docs)
        runSql(QStringLiteral("INSERT INTO ProfDocuments (profId, isTemplate, isDuplicate, fio1, fio2, fio3, "
                              "certificateType, profession, qual, regNumber, issueDate, attNumber) "
                              "VALUES (?, 0, ?, 'Ф', 'И', 'О', ?, ?, 'Квалификация', '', ?, '')"),
               {id++, d.duplicate, d.type, d.profession, d.date});
}

struct Session {
    GuiFixture f;
    StatisticsDialog* dialog = nullptr;

    StatisticsDialog* open() {
        addDocuments();
        auto* window = f.build<MainWindow>();
        if (!f.trigger(QStringLiteral("actionStatistics")))
            return nullptr;
        dialog = window->findChild<StatisticsDialog*>();
        return dialog;
    }
    void showTab(int tab) { dialog->findChild<QTabWidget*>(QStringLiteral("tabWidget"))->setCurrentIndex(tab); }
};

QString cell(const QTableWidget* table, int row, int column) {
    return table->item(row, column)->text();
}
} // namespace

class TestStatisticsWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { ReportList::build(); }
    void init() {
        FileDialog::clear();
        MessageBox::clearShown();
    }

    // Each chart holds the table's figures: one bar set per counted column, one category per row.
    void chartsShowTheTables() {
        Session s;
        QVERIFY(s.open());
        for (const QString& tab : tabs) {
            const auto* table = s.dialog->findChild<QTableWidget*>("table" + tab);
            const auto* view = s.dialog->findChild<QChartView*>("chartView" + tab);
            QVERIFY(table && view);
            QCOMPARE(view->chart()->series().size(), 1);
            auto* series = qobject_cast<QAbstractBarSeries*>(view->chart()->series().first());
            const auto* axis = qobject_cast<QBarCategoryAxis*>(series->attachedAxes().first());
            const bool names = table->columnCount() == 2;
            // The names' bars are drawn bottom up, the first row at the top.
            auto categoryOf = [&](int row) { return names ? table->rowCount() - 1 - row : row; };
            QCOMPARE(series->count(), names ? 1 : 3);
            QCOMPARE(axis->count(), table->rowCount());
            for (int row = 0; row < table->rowCount(); ++row) {
                QCOMPARE(axis->at(categoryOf(row)), cell(table, row, 0));
                for (int set = 0; set < series->count(); ++set)
                    QCOMPARE(QString::number(series->barSets().at(set)->at(categoryOf(row))),
                             cell(table, row, set + 1));
            }
        }
    }

    // The hours follow the counts once the window has painted; a sum that cannot be read says so
    // and keeps the counts.
    void hoursFollowTheCounts_data() {
        QTest::addColumn<bool>("readable");
        QTest::newRow("summed") << true;
        QTest::newRow("appendix unreadable") << false;
    }
    void hoursFollowTheCounts() {
        QFETCH(bool, readable);
        Session s;
        addDocuments();
        runSql(QStringLiteral("INSERT INTO ProfDetails (profId, name, count) SELECT profId, 'Предмет', 12 "
                              "FROM ProfDocuments"));
        runSql(QStringLiteral("INSERT INTO ProfDetails (profId, name, count) VALUES (?, 'Вне списка', 1000)"),
               {QVariant(Q_INT64_C(5))});
        auto* window = s.f.build<MainWindow>();
        window->show();
        auto* dialog = new StatisticsDialog(window);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        QString error;
        QList<qint64> ids;
        for (QSqlQuery q = runSql(QStringLiteral("SELECT profId FROM ProfDocuments")); q.next();)
            ids << q.value(0).toLongLong();
        QVERIFY2(dialog->load(ids, &error), qPrintable(error));
        auto* totals = dialog->findChild<QLabel*>(QStringLiteral("labelTotals"));
        QCOMPARE(totals->text(), QStringLiteral("Документов: 6, часов обучения: считаются…"));
        if (!readable)
            runSql(QStringLiteral("ALTER TABLE ProfDetails RENAME TO Hidden"));
        dialog->show();
        QTRY_VERIFY(!totals->text().endsWith(QStringLiteral("считаются…")));
        QCOMPARE(totals->text(), readable ? QStringLiteral("Документов: 6, часов обучения: 72")
                                          : QStringLiteral("Документов: 6, часов обучения: не удалось подсчитать"));
        QCOMPARE(dialog->findChild<QTableWidget*>(QStringLiteral("tableYears"))->rowCount(), 3);
        if (!readable)
            runSql(QStringLiteral("ALTER TABLE Hidden RENAME TO ProfDetails"));
        dialog->close();
    }

    // "Копировать" gives the current table with its header, tab-separated; the months follow the year.
    void copiesTheCurrentTable() {
        Session s;
        QVERIFY(s.open());
        s.dialog->findChild<QPushButton*>(QStringLiteral("pushButtonCopy"))->click();
        QCOMPARE(QApplication::clipboard()->text(),
                 QStringLiteral("Год\tо профессии рабочего\tо должности служащего\tдубликаты\tвсего\n"
                                "2021\t1\t1\t1\t3\n"
                                "2022\t1\t1\t0\t2\n"
                                "(без даты)\t1\t0\t0\t1\n"));
        s.showTab(1);
        auto* year = s.dialog->findChild<QComboBox*>(QStringLiteral("comboBoxYear"));
        QCOMPARE(year->currentText(), QStringLiteral("2022"));
        year->setCurrentIndex(0);
        s.dialog->findChild<QPushButton*>(QStringLiteral("pushButtonCopy"))->click();
        const QStringList lines = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 13);
        QCOMPARE(lines.at(3), QStringLiteral("Март\t1\t1\t0\t2"));
        QCOMPARE(lines.at(11), QStringLiteral("Ноябрь\t0\t0\t1\t1"));
        s.showTab(2);
        QCOMPARE(s.dialog->tableText(),
                 QStringLiteral("Профессия\tДокументов\nСварщик\t3\nПовар\t2\n(не указано)\t1\n"));
    }

    // "Сохранить…" writes the table as a workbook that opens, or the chart as a picture.
    void savesWorkbookAndPicture() {
        Session s;
        QVERIFY(s.open());
        s.showTab(2);
        const QString book = s.f.env().root() + "/статистика.xlsx", picture = s.f.env().root() + "/chart.png";
        for (const QString& path : {book, picture}) {
            FileDialog::setNextFileName(path);
            s.dialog->findChild<QPushButton*>(QStringLiteral("pushButtonSave"))->click();
        }
        QVERIFY(MessageBox::shown().isEmpty());
        QProcess python;
        python.start("/usr/bin/python3",
                     {"-c",
                      "import sys, openpyxl\n"
                      "for r in openpyxl.load_workbook(sys.argv[1]).active.iter_rows(values_only=True):"
                      " print('\\t'.join(v if isinstance(v, str) else '#%d' % v for v in r))",
                      book});
        QVERIFY(python.waitForFinished(60000));
        // The counts are numbers, the names and the header text.
        QString expected = s.dialog->tableText();
        expected.replace(QRegularExpression("\t(\\d+)"), "\t#\\1");
        QCOMPARE(QString::fromUtf8(python.readAllStandardOutput()), expected);
        const QImage image(picture);
        QVERIFY(!image.isNull() && image.width() > 100);
    }

    // A file that cannot be written gives the error box and leaves nothing behind.
    void failedSaveShowsError_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("workbook") << "stats.xlsx";
        QTest::newRow("picture") << "stats.png";
    }
    void failedSaveShowsError() {
        QFETCH(QString, name);
        Session s;
        QVERIFY(s.open());
        ScratchFileSystem disk(s.f.env().root() + "/disk", 1 << 20);
        if (!disk.canBeReadOnly())
            QSKIP("writes cannot be refused here");
        QVERIFY(disk.setReadOnly(true));
        FileDialog::setNextFileName(disk.path() + '/' + name);
        s.dialog->findChild<QPushButton*>(QStringLiteral("pushButtonSave"))->click();
        QCOMPARE(MessageBox::shown().size(), 1);
        QCOMPARE(MessageBox::lastShown().title, MessageBox::errorTitle());
        QVERIFY(!MessageBox::lastShown().text.isEmpty());
        QVERIFY(!QFile::exists(disk.path() + '/' + name));
        disk.setReadOnly(false);
    }
};

ORVANE_TEST(TestStatisticsWindow)
#include "tst_statisticswindow.moc"
