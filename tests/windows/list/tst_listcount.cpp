#include "database.h"
#include "documentcount.h"
#include "documentsmodel.h"
#include "guifixture.h"
#include "testdatabase.h"
#include "testregistry.h"

#include <QScopeGuard>
#include <QSqlQuery>
#include <QtTest>

namespace {
constexpr int documents = 100;
constexpr int pageRows = 40;

bool addDocuments(int count) {
    return runSql(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                 "INSERT INTO ProfDocuments (fio1, qual) SELECT 'Фамилия' || i, 'Повар' FROM n")
                      .arg(count))
        .isActive();
}

qint64 keptNumber() {
    QSqlQuery query = runSql(QStringLiteral("SELECT documents FROM ProfDocumentCount"));
    return query.next() ? query.value(0).toLongLong() : -1;
}

QList<qint64> idsOf(const DocumentsModel& model) {
    QList<qint64> ids;
    for (int row = 0; row < model.rowCount(); ++row)
        ids << model.id(row);
    return ids;
}

QList<qint64> newestFirst() {
    QList<qint64> ids;
    QSqlQuery query = runSql(QStringLiteral("SELECT profId FROM ViewProfDocuments ORDER BY profId DESC"));
    while (query.next())
        ids << query.value(0).toLongLong();
    return ids;
}
} // namespace

class TestListCount : public QObject {
    Q_OBJECT

private slots:
    // A kept number gone wrong (a program that wrote around the file's triggers) shows no row
    // too many or too few once the pages are in, and is corrected where the file may be written.
    void wrongKeptNumber_data() {
        QTest::addColumn<int>("kept");
        QTest::addColumn<bool>("writable");
        QTest::newRow("too high") << 130 << true;
        QTest::newRow("too low, still pages") << 60 << true;
        QTest::newRow("below a page") << 10 << true;
        QTest::newRow("nought") << 0 << true;
        QTest::newRow("too high, read-only") << 130 << false;
        QTest::newRow("too low, read-only") << 60 << false;
        QTest::newRow("below a page, read-only") << 10 << false;
    }

    void wrongKeptNumber() {
        QFETCH(int, kept);
        QFETCH(bool, writable);
        TestDatabase data;
        QVERIFY(data.open()->isValid());
        QVERIFY(addDocuments(documents));
        QVERIFY(runSql(QStringLiteral("UPDATE ProfDocumentCount SET documents = ?"), {kept}).isActive());
        DocumentsModel::setPageRows(pageRows);
        auto restore = qScopeGuard([] {
            DocumentsModel::setPageRows(10000);
            runSql(QStringLiteral("PRAGMA query_only = 0"));
        });
        if (!writable)
            runSql(QStringLiteral("PRAGMA query_only = 1"));
        DocumentsModel model;
        model.sortRows(DocumentsModel::Id, Qt::DescendingOrder);
        QVERIFY(model.reload());
        // Never more than one read of every row after the pages: a wrong number must not page forever.
        QTRY_VERIFY(!model.isLoading());
        QCOMPARE(idsOf(model), newestFirst());
        QCOMPARE(model.text(0, DocumentsModel::Fio), QStringLiteral("Фамилия100  "));
        QCOMPARE(keptNumber(), writable ? qint64(documents) : qint64(kept));
        // Read again, the list is the same.
        QVERIFY(model.reload());
        QTRY_VERIFY(!model.isLoading());
        QCOMPARE(idsOf(model), newestFirst());
    }
};

ORVANE_TEST(TestListCount)
#include "tst_listcount.moc"
