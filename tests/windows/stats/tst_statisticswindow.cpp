// The statistics window opened from the main window over a made-up registry: its charts show what
// its tables say, and its table leaves through the clipboard and the files.

#include "barchart.h"
#include "filedialog.h"
#include "guifixture.h"
#include "importtable.h"
#include "mainwindow.h"
#include "reportlist.h"
#include "scratchfilesystem.h"
#include "statisticsdialog.h"
#include "testdatabase.h"
#include "testregistry.h"
#include "xlsxreader.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

namespace {
const QStringList tabs{"Years", "Months", "Professions", "Qualifications"};

void insertDocument(qint64 id, const QString& date, int type, int duplicate, const QString& profession,
                    const QString& surname = QStringLiteral("Ф")) {
    runSql(QStringLiteral("INSERT INTO ProfDocuments (profId, isTemplate, isDuplicate, fio1, fio2, fio3, "
                          "certificateType, profession, qual, regNumber, issueDate, attNumber) "
                          "VALUES (?, 0, ?, ?, 'И', 'О', ?, ?, 'Квалификация', '', ?, '')"),
           {id, duplicate, surname, type, profession, date});
}

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
        insertDocument(id++, d.date, d.type, d.duplicate, d.profession);
}

const QString longName = QStringLiteral("Электрогазосварщик, занятый на резке и ручной сварке, с правом работы на "
                                        "сосудах под давлением и трубопроводах пара и горячей воды");

// More names than the chart has rows for at the window's size, one of them very long, and more
// years than its columns have room for.
void addMany() {
    qint64 id = 100;
    for (int year = 1990; year < 2026; year += 1 + year % 2)
        insertDocument(id++, QStringLiteral("%1-02-03").arg(year), 2, 0, "Повар");
    for (int p = 0; p < 24; ++p)
        for (int n = 0; n <= p % 4; ++n)
            insertDocument(id++, "2020-06-01", 1, 0, QStringLiteral("Профессия номер %1").arg(p));
    for (int n = 0; n < 9; ++n)
        insertDocument(id++, "2020-06-01", 1, 0, longName);
}

struct Session {
    GuiFixture f;
    MainWindow* window = nullptr;
    StatisticsDialog* dialog = nullptr;

    StatisticsDialog* open(const std::function<void()>& more = {}) {
        addDocuments();
        if (more)
            more();
        window = f.build<MainWindow>();
        if (!f.trigger(QStringLiteral("actionStatistics")))
            return nullptr;
        dialog = window->findChild<StatisticsDialog*>();
        return dialog;
    }
    void showTab(int tab) { dialog->findChild<QTabWidget*>(QStringLiteral("tabWidget"))->setCurrentIndex(tab); }
    BarChart* chart(int tab) const { return dialog->findChild<BarChart*>("chart" + tabs.at(tab)); }
    // "Сохранить…" on the current tab into `name` in the test's folder; its path.
    QString save(const QString& name) {
        const QString path = f.env().root() + '/' + name;
        FileDialog::setNextFileName(path);
        dialog->findChild<QPushButton*>(QStringLiteral("pushButtonSave"))->click();
        return path;
    }
};

QString cell(const QTableWidget* table, int row, int column) {
    return table->item(row, column)->text();
}

QString unblanked(QString text) {
    return text.remove(QLatin1Char(' '));
}

// Every label's lines hold its whole text and fit the box they are painted in; one that does not is
// allowed only when `chart` is given and its tool tip has the whole text.
void verifyLabels(const QVector<BarChart::Label>& labels, const QFont& font, const BarChart* chart = nullptr) {
    const QFontMetricsF fm(font);
    for (const BarChart::Label& label : labels) {
        const qreal width = label.rotated ? label.rect.height() : label.rect.width();
        const qreal height = label.rotated ? label.rect.width() : label.rect.height();
        QVERIFY2(fm.lineSpacing() * label.lines.size() <= height + 0.5, qPrintable(label.text));
        for (const QString& line : label.lines)
            QVERIFY2(fm.horizontalAdvance(line) <= width + 0.5, qPrintable(line));
        if (label.whole) {
            QCOMPARE(unblanked(label.lines.join(QString())), unblanked(label.text));
        } else {
            QVERIFY2(chart, qPrintable(label.lines.join(QLatin1Char('|'))));
            QVERIFY(chart->toolTipAt(label.rect.center()).startsWith(label.text + '\n'));
        }
    }
}

// The picture holds, where the label's box is, exactly the label's lines painted on white.
bool paintedIn(const QImage& picture, const BarChart::Label& label, const QFont& font) {
    const QRect box = label.rect.toAlignedRect();
    QImage expected(box.size(), QImage::Format_RGB32);
    expected.fill(Qt::white);
    QPainter painter(&expected);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(-box.topLeft());
    BarChart::paintLabel(&painter, label, font);
    painter.end();
    return picture.copy(box).convertToFormat(QImage::Format_RGB32) == expected;
}

// The workbook's cells as tab-separated lines, numbers marked with "#".
QString workbookText(const QString& path, QString* sheetName) {
    XlsxReader reader;
    ImportTable table;
    QString error;
    if (!reader.open(path, &error) || !reader.readSheet(0, &table, &error))
        return error;
    *sheetName = reader.sheetNames().value(0);
    QStringList lines;
    for (const QVector<QVariant>& row : table.rows) {
        QStringList cells;
        for (const QVariant& value : row)
            cells << (value.type() == QVariant::Double ? '#' + QString::number(value.toLongLong()) : value.toString());
        lines << cells.join('\t');
    }
    return lines.join('\n');
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

    // Each chart holds the table's figures: one series per counted column, one category per row,
    // in the table's order (the months by their short names).
    void chartsShowTheTables() {
        Session s;
        QVERIFY(s.open());
        for (int tab = 0; tab < tabs.size(); ++tab) {
            const auto* table = s.dialog->findChild<QTableWidget*>("table" + tabs.at(tab));
            const BarChart* chart = s.chart(tab);
            QVERIFY(table && chart);
            const bool names = table->columnCount() == 2;
            QCOMPARE(chart->orientation(), names ? Qt::Horizontal : Qt::Vertical);
            QCOMPARE(chart->series().size(), names ? 1 : 3);
            QCOMPARE(chart->categories().size(), table->rowCount());
            for (int row = 0; row < table->rowCount(); ++row) {
                if (tabs.at(tab) == "Months")
                    QVERIFY(cell(table, row, 0).startsWith(chart->categories().at(row), Qt::CaseInsensitive));
                else
                    QCOMPARE(chart->categories().at(row), cell(table, row, 0));
                for (int set = 0; set < chart->series().size(); ++set)
                    QCOMPARE(QString::number(chart->series().at(set).values.at(row)), cell(table, row, set + 1));
            }
        }
    }

    // Every label is whole at the window's default size (or, for a name too long for its row,
    // shortened with the whole name as tool tip) and whole in a saved picture of at least
    // 1600×1000, read back from the file.
    void labelsWhole_data() {
        QTest::addColumn<int>("tab");
        QTest::addColumn<bool>("manyNames");
        for (int tab = 0; tab < tabs.size(); ++tab)
            QTest::newRow(qPrintable(tabs.at(tab))) << tab << false;
        QTest::newRow("Professions, many and long") << 2 << true;
        QTest::newRow("Years, many and long") << 0 << true;
    }
    void labelsWhole() {
        QFETCH(int, tab);
        QFETCH(bool, manyNames);
        Session s;
        QVERIFY(s.open(manyNames ? addMany : std::function<void()>()));
        QVERIFY(s.dialog->height() <= 690);
        s.showTab(tab);
        const BarChart* chart = s.chart(tab);
        QTRY_VERIFY(chart->isVisible());
        QVERIFY(chart->width() > 200 && chart->height() > 200);
        verifyLabels(chart->headingLabels(chart->size(), chart->font()), chart->font());
        verifyLabels(chart->labels(), chart->font(), manyNames ? chart : nullptr);

        const QImage picture(s.save("chart.png"));
        QVERIFY(MessageBox::shown().isEmpty());
        QVERIFY(picture.width() >= 1600 && picture.height() >= 1000);
        const QFont font = BarChart::pictureFont();
        const QVector<BarChart::Label> labels = chart->labels(picture.size(), font);
        const QVector<BarChart::Label> heading = chart->headingLabels(picture.size(), font);
        QCOMPARE(labels.size(), chart->categories().size());
        QCOMPARE(heading.size(), 2);
        verifyLabels(labels, font);
        verifyLabels(heading, font);
        for (const BarChart::Label& label : labels)
            QVERIFY2(paintedIn(picture, label, font), qPrintable(label.text));
        QVERIFY(paintedIn(picture, heading.at(0), BarChart::headingFont(font)));
        QVERIFY(paintedIn(picture, heading.at(1), font));
        QCOMPARE(heading.at(1).text, s.dialog->findChild<QLabel*>(QStringLiteral("labelFilter"))->text());
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

    // The filter typed in the list's panel is stated in the window, on the chart, in the picture and
    // in the workbook, which also holds the year of the months, the totals and the tab's name; years
    // without documents inside the range show as 0.
    void filterStatedEverywhere_data() {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("table");
        QTest::newRow("years") << 0 << "По годам"
                               << "Год\tо профессии рабочего\tо должности служащего\tдубликаты\tвсего\n"
                                  "2019\t#1\t#0\t#0\t#1\n2020\t#0\t#0\t#0\t#0\n2021\t#0\t#0\t#0\t#0\n"
                                  "2022\t#0\t#1\t#0\t#1";
        QTest::newRow("professions") << 2 << "По профессиям"
                                     << "Профессия\tДокументов\nПекарь\t#2";
    }
    void filterStatedEverywhere() {
        QFETCH(int, tab);
        QFETCH(QString, title);
        QFETCH(QString, table);
        Session s;
        addDocuments();
        insertDocument(1, "2019-04-01", 1, 0, "Пекарь", "Козлов");
        insertDocument(2, "2022-04-01", 2, 0, "Пекарь", "КОЗЛОВ");
        auto* window = s.f.build<MainWindow>();
        auto* fio = window->findChild<QLineEdit*>(QStringLiteral("lineEditFio1"));
        QVERIFY(fio);
        // Typed as the keyboard types it (keyClicks knows only Latin letters).
        for (const QChar c : QStringLiteral("козлов")) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(fio, &press);
        }
        QCOMPARE(fio->text(), QStringLiteral("козлов"));
        QVERIFY(s.f.trigger(QStringLiteral("actionStatistics")));
        s.dialog = window->findChild<StatisticsDialog*>();
        QVERIFY(s.dialog);
        const QString filter = QStringLiteral("Фильтр: ФИО содержит «козлов»");
        QCOMPARE(s.dialog->findChild<QLabel*>(QStringLiteral("labelFilter"))->text(), filter);
        s.showTab(tab);
        QCOMPARE(s.chart(tab)->heading(), (QStringList{title, filter}));

        QString sheet;
        const QString text = workbookText(s.save("stats.xlsx"), &sheet);
        QVERIFY(MessageBox::shown().isEmpty());
        QCOMPARE(sheet, title);
        QCOMPARE(text, title + '\n' + filter + "\n\n" + table + "\n\nДокументов: 2, часов обучения: 0");
        const QImage picture(s.save("stats.png"));
        const QVector<BarChart::Label> heading = s.chart(tab)->headingLabels(picture.size(), BarChart::pictureFont());
        QCOMPARE(heading.at(1).text, filter);
        QVERIFY(paintedIn(picture, heading.at(1), BarChart::pictureFont()));
    }

    // The months' heading, workbook and file name carry the chosen year.
    void monthsNameTheirYear() {
        Session s;
        QVERIFY(s.open());
        s.showTab(1);
        auto* year = s.dialog->findChild<QComboBox*>(QStringLiteral("comboBoxYear"));
        year->setCurrentIndex(0);
        QCOMPARE(s.chart(1)->heading().value(0), QStringLiteral("По месяцам, 2021 год"));
        QVERIFY(QFileInfo(s.dialog->proposedFileName()).fileName().startsWith("Статистика-По месяцам-2021-"));
        QString sheet;
        const QStringList lines = workbookText(s.save("months.xlsx"), &sheet).split('\n');
        QCOMPARE(sheet, QStringLiteral("По месяцам"));
        QCOMPARE(lines.value(0), QStringLiteral("По месяцам, 2021 год"));
        QCOMPARE(lines.value(6), QStringLiteral("Март\t#1\t#1\t#0\t#2"));
        QCOMPARE(lines.value(lines.size() - 1), QStringLiteral("Документов: 6, часов обучения: 0"));
    }

    // "Сохранить…" proposes its file in the exports' folder, and the folder saved into becomes it.
    void proposesTheExportFolder() {
        Session s;
        QVERIFY(s.open());
        QCOMPARE(QFileInfo(s.dialog->proposedFileName()).absolutePath(),
                 QFileInfo(s.window->lastDirectory()).absoluteFilePath());
        QVERIFY(QDir(s.f.env().root()).mkdir("отчёты"));
        const QString path = s.save("отчёты/годы.xlsx");
        QVERIFY(QFile::exists(path));
        QCOMPARE(s.window->lastDirectory(), QFileInfo(path).absolutePath());
        QCOMPARE(QFileInfo(s.dialog->proposedFileName()).absolutePath(), QFileInfo(path).absolutePath());
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
