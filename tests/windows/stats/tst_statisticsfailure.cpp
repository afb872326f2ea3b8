// The statistics window opened from the main window on a registry whose reading stops half way:
// the clerk is told why and nothing half read is shown as a figure.

#include "database.h"
#include "guifixture.h"
#include "mainwindow.h"
#include "messagebox.h"
#include "reportlist.h"
#include "statisticsdialog.h"
#include "testdatabase.h"
#include "testregistry.h"

#include <QLabel>
#include <QTableWidget>
#include <QtTest>
#include <cstring>
#include <sqlite3.h>

namespace {
constexpr int documents = 200;

// Interrupts the statement whose text holds `marker`, once it has run a while; others run on.
struct Interrupt {
    sqlite3* db = nullptr;
    const char* marker = nullptr;
    int calls = 0;
};

int interruptMarked(void* data) {
    auto* interrupt = static_cast<Interrupt*>(data);
    for (sqlite3_stmt* s = sqlite3_next_stmt(interrupt->db, nullptr); s; s = sqlite3_next_stmt(interrupt->db, s))
        if (sqlite3_stmt_busy(s) && std::strstr(sqlite3_sql(s), interrupt->marker))
            return --interrupt->calls < 0;
    return 0;
}

void addDocuments() {
    runSql(QStringLiteral("DELETE FROM ProfDocuments"));
    runSql(QStringLiteral("BEGIN"));
    for (int i = 0; i < documents; ++i) {
        const qint64 id = (Q_INT64_C(1) << 32) + i;
        runSql(QStringLiteral("INSERT INTO ProfDocuments (profId, isTemplate, isDuplicate, fio1, fio2, fio3, "
                              "certificateType, profession, qual, regNumber, issueDate, attNumber) "
                              "VALUES (?, 0, 0, 'Ф', 'И', 'О', 1, 'Сварщик', 'К', '', '2021-03-01', '')"),
               {id});
        runSql(QStringLiteral("INSERT INTO ProfDetails (profId, name, count) VALUES (?, 'Предмет', 10)"), {id});
    }
    runSql(QStringLiteral("COMMIT"));
}
} // namespace

class TestStatisticsFailure : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { ReportList::build(); }

    void readingStopsHalfWay_data() {
        QTest::addColumn<QByteArray>("marker");
        QTest::addColumn<QString>("box");    // the box the main window shows, none when empty
        QTest::addColumn<QString>("totals"); // the window's totals line, when it opens
        QTest::newRow("documents") << QByteArray("FROM ProfDocuments WHERE")
                                   << QStringLiteral("Не удалось прочитать документы: interrupted") << QString();
        QTest::newRow("appendix rows") << QByteArray("FROM ProfDetails WHERE") << QString()
                                       << QStringLiteral("Документов: 200, часов обучения: не удалось подсчитать");
    }
    void readingStopsHalfWay() {
        QFETCH(QByteArray, marker);
        QFETCH(QString, box);
        QFETCH(QString, totals);
        GuiFixture f;
        addDocuments();
        auto* window = f.build<MainWindow>();
        window->show();
        MessageBox::clearShown();
        Interrupt interrupt{Database::sqliteHandle(QSqlDatabase::database()), marker.constData(), 20};
        sqlite3_progress_handler(interrupt.db, 10, interruptMarked, &interrupt);
        if (!box.isEmpty())
            MessageBox::setNextAnswer(QMessageBox::Ok);
        QVERIFY(f.trigger(QStringLiteral("actionStatistics")));
        auto* dialog = window->findChild<StatisticsDialog*>();
        if (!box.isEmpty()) {
            sqlite3_progress_handler(interrupt.db, 0, nullptr, nullptr);
            QCOMPARE(MessageBox::lastShown().title, MessageBox::errorTitle());
            QCOMPARE(MessageBox::lastShown().text, box);
            QVERIFY(!dialog);
            return;
        }
        QVERIFY(dialog);
        auto* label = dialog->findChild<QLabel*>(QStringLiteral("labelTotals"));
        QTRY_VERIFY(!label->text().endsWith(QStringLiteral("считаются…")));
        sqlite3_progress_handler(interrupt.db, 0, nullptr, nullptr);
        QVERIFY(interrupt.calls < 0);
        QCOMPARE(label->text(), totals);
        // The counts stay as read.
        QCOMPARE(dialog->findChild<QTableWidget*>(QStringLiteral("tableYears"))->item(0, 4)->text(),
                 QString::number(documents));
        QVERIFY(MessageBox::shown().isEmpty());
        dialog->close();
    }
};

ORVANE_TEST(TestStatisticsFailure)
#include "tst_statisticsfailure.moc"
