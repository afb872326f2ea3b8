#include "database.h"
#include "documentsmodel.h"
#include "documentstable.h"
#include "guifixture.h"
#include "mainwindow.h"
#include "reportlist.h"
#include "splash.h"
#include "testregistry.h"

#include <QLabel>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSqlQuery>
#include <QStatusBar>
#include <QtTest>
#include <memory>

namespace {
bool addDocuments(int count) {
    return runSql(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                 "INSERT INTO ProfDocuments (fio1, fio2, qual) SELECT 'Фамилия' || i, 'Имя', "
                                 "'Повар' FROM n")
                      .arg(count))
        .isActive();
}

QString countsText(MainWindow* window) {
    for (QLabel* label : window->statusBar()->findChildren<QLabel*>())
        if (label->text().startsWith(QStringLiteral("Показано")))
            return label->text();
    return QString();
}

int viewCount() {
    QSqlQuery query = runSql(QStringLiteral("SELECT COUNT(*) FROM ViewProfDocuments"));
    return query.next() ? query.value(0).toInt() : -1;
}
} // namespace

class TestStartWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { ReportList::build(); }

    // The splash's time runs from its appearance: what the start took behind it is not added.
    void splashTimeLeft_data() {
        QTest::addColumn<qint64>("elapsed");
        QTest::addColumn<int>("left");
        QTest::newRow("just shown") << qint64(0) << Splash::durationMs;
        QTest::newRow("the registry opened") << qint64(1200) << Splash::durationMs - 1200;
        QTest::newRow("a moment before the end") << qint64(Splash::durationMs - 1) << 1;
        QTest::newRow("at the end") << qint64(Splash::durationMs) << 0;
        QTest::newRow("the start took longer") << qint64(9000) << 0;
        QTest::newRow("a clock that went back") << qint64(-50) << Splash::durationMs;
    }

    void splashTimeLeft() {
        QFETCH(qint64, elapsed);
        QFETCH(int, left);
        QCOMPARE(Splash::remainingMs(elapsed), left);
    }

    // When the splash goes, the window comes with its list's first screen and the count of the
    // whole registry, though the list still reads its later pages; the log says so once.
    void windowAfterSplash() {
        GuiFixture f;
        QVERIFY(addDocuments(250));
        DocumentsModel::setPageRows(100);
        auto restore = qScopeGuard([] { DocumentsModel::setPageRows(10000); });
        // Built as the program builds it, not shown.
        const auto owned = std::make_unique<MainWindow>();
        MainWindow* window = owned.get();
        QVERIFY(!window->isVisible());
        QCOMPARE(countsText(window), QStringLiteral("Показано: 250 из 250"));
        QTest::ignoreMessage(QtDebugMsg,
                             QRegularExpression(QRegularExpression::escape(MainWindow::firstScreenLogLine()) +
                                                QStringLiteral(" \"Показано: 250 из 250\" rows on screen: [1-9]")));
        Splash splash;
        splash.show();
        QVERIFY(splash.isShown());
        splash.closeAndShow(window);
        QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 10000);
        QVERIFY(!splash.isShown());
        const QAbstractItemModel* list = window->documentsTable()->model();
        QCOMPARE(list->rowCount(), 250);
        QCOMPARE(list->index(0, 1).data().toString(), QStringLiteral("Фамилия250 Имя "));
        QTRY_VERIFY(!window->documentsTable()->documentsModel()->isLoading());
        QCOMPARE(list->index(249, 1).data().toString(), QStringLiteral("Фамилия1 Имя "));
        // Painted again, it logs no second time (ignoreMessage fails on an unexpected repeat).
        window->documentsTable()->viewport()->repaint();
        QCoreApplication::processEvents();
    }

    // The window's count stays the registry's after deletions from the list and after writes the
    // list is told of.
    void countAfterWrites_data() {
        QTest::addColumn<QString>("write");
        QTest::addColumn<int>("shown");
        QTest::newRow("deleted from the list") << "delete" << 27;
        QTest::newRow("a document saved") << "INSERT INTO ProfDocuments (fio1) VALUES ('Новый')" << 31;
        QTest::newRow("a document made a template") << "UPDATE ProfDocuments SET isTemplate = 1 WHERE profId = 4" << 29;
    }

    void countAfterWrites() {
        QFETCH(QString, write);
        QFETCH(int, shown);
        GuiFixture f;
        QVERIFY(addDocuments(30));
        DocumentsModel::setPageRows(10);
        auto restore = qScopeGuard([] { DocumentsModel::setPageRows(10000); });
        auto* window = f.build<MainWindow>();
        if (write == "delete")
            QVERIFY(window->documentsTable()->deleteRecords({3, 9, 30}));
        else
            QVERIFY(runSql(write).isActive());
        window->documentsTable()->updateData();
        QTRY_VERIFY(!window->documentsTable()->documentsModel()->isLoading());
        QCOMPARE(viewCount(), shown);
        QCOMPARE(countsText(window), QStringLiteral("Показано: %1 из %1").arg(shown));
        // A new start counts as the list does.
        window->documentsTable()->documentsModel()->reload();
        QCOMPARE(window->documentsTable()->model()->rowCount(), shown);
    }
};

ORVANE_TEST(TestStartWindow)
#include "tst_startwindow.moc"
