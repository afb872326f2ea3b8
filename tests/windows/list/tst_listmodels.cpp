#include "database.h"
#include "documentsmodel.h"
#include "documentstable.h"
#include "guifixture.h"
#include "myfiltermodel.h"
#include "pgtestserver.h"
#include "testdatabase.h"
#include "testregistry.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QtTest>
#include <algorithm>
#include <memory>

namespace {
constexpr qint64 farId = Q_INT64_C(4611686018427387904); // 2^62

// A few hundred documents as a registry collects them over the years: missing names and
// qualifications, dates that are no dates, one row with 1 MB of text, ids beyond 32 bits,
// bytes that are no UTF-8, and templates that the list leaves out.
bool fillRegistry() {
    return runSql(
               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
               "INSERT INTO ProfDocuments (fio1, fio2, qual, attNumber, regNumber, issueDate, editDate, isTemplate) "
               "SELECT CASE i % 7 WHEN 0 THEN NULL WHEN 1 THEN 'фамилия' || (i % 23) ELSE 'Фамилия' || (i % 23) END, "
               "CASE i % 5 WHEN 0 THEN NULL ELSE 'Имя' END, "
               "CASE i % 4 WHEN 0 THEN NULL WHEN 1 THEN 'Повар' WHEN 2 THEN 'повар-кондитер' "
               "ELSE 'Сварщик' || char(10) || '3 разряд' END, printf('%06d', i), "
               "CASE i % 3 WHEN 0 THEN NULL ELSE 'СВ ' || i END, "
               "CASE i % 9 WHEN 0 THEN NULL WHEN 1 THEN '2016-13-45' WHEN 2 THEN 'не дата' WHEN 3 THEN '' "
               "WHEN 4 THEN 20160408 ELSE date('2016-01-01', '+' || i || ' days') END, "
               "CASE i % 6 WHEN 0 THEN NULL WHEN 1 THEN 'x' ELSE datetime('2016-01-01 08:00:00', '+' || (i * 7) || "
               "' hours') END, CASE WHEN i % 50 = 0 THEN 1 ELSE 0 END FROM n")
               .isActive() &&
           runSql("INSERT INTO ProfDocuments (profId, fio1, qual, issueDate, editDate) VALUES (?, ?, ?, ?, ?)",
                  {farId, "Фамилия1 далёкая", QString(QChar(0xD835)) + QChar(0xDC00) + "повар", "2016-04-01",
                   "2016-04-01T15:30:00"})
               .isActive() &&
           runSql("INSERT INTO ProfDocuments (profId, fio1, qual, issueDate) VALUES (?, "
                  "replace(hex(zeroblob(524288)), '00', 'Я'), CAST(x'd0ffd0' AS TEXT), '2016-04-02')",
                  {farId + 1})
               .isActive();
}

QList<qint64> idsOf(const QAbstractItemModel& model) {
    QList<qint64> ids;
    for (int row = 0; row < model.rowCount(); ++row)
        ids << model.index(row, DocumentsModel::Id).data().toLongLong();
    return ids;
}

// Every cell as the edit role gives it, row by row.
QList<QVariantList> cellsOf(const QAbstractItemModel& model) {
    QList<QVariantList> rows;
    for (int row = 0; row < model.rowCount(); ++row) {
        QVariantList cells;
        for (int column = 0; column < model.columnCount(); ++column)
            cells << model.index(row, column).data(Qt::EditRole);
        rows << cells;
    }
    return rows;
}

QList<qint64> sorted(QList<qint64> ids) {
    std::sort(ids.begin(), ids.end());
    return ids;
}

QList<qint64> sortedIds(const QAbstractItemModel& model) {
    return sorted(idsOf(model));
}

// The listed documents that meet an SQL condition on the view, the oracle of the filter.
QList<qint64> idsWhere(const QString& where) {
    QSqlQuery query =
        runSql(QStringLiteral("SELECT profId FROM ViewProfDocuments WHERE %1 ORDER BY profId").arg(where));
    QList<qint64> ids;
    while (query.next())
        ids << query.value(0).toLongLong();
    return ids;
}

// The rows stand in the order of the sort column's stored values.
bool inOrder(const QAbstractItemModel& model, int column, Qt::SortOrder order) {
    for (int row = 1; row < model.rowCount(); ++row) {
        const QVariant a = model.index(row - 1, column).data(Qt::EditRole);
        const QVariant b = model.index(row, column).data(Qt::EditRole);
        const int c = column == DocumentsModel::Id
                          ? (a.toLongLong() > b.toLongLong()) - (a.toLongLong() < b.toLongLong())
                          : QString::compare(a.toString(), b.toString());
        if (order == Qt::AscendingOrder ? c > 0 : c < 0)
            return false;
    }
    return true;
}

const QString dated = QStringLiteral("GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]*'");

// A filter and the condition on the view that keeps the same documents.
struct Step {
    FilterListType filter;
    QString where;
};
using Steps = QVector<Step>;

Step texts(const QString& fio, const QString& qual, const QString& where) {
    return {{{"fio", fio}, {"qual", qual}}, where};
}
} // namespace

Q_DECLARE_METATYPE(Steps)

// The list's models checked by the toolkit's model tester while they load, reload, filter, sort and
// lose rows, over a registry of awkward values.
class TestListModels : public QObject {
    Q_OBJECT

private slots:
    void filtersSortsAndReloads_data() {
        QTest::addColumn<Steps>("steps");
        const QString all = QStringLiteral("1");
        QTest::newRow("no filter") << Steps{texts("", "", all)};
        QTest::newRow("name, any case, typed on and back")
            << Steps{texts("фамилия1", "", "instr(fio, 'амилия1')"), texts("фамилия12", "", "instr(fio, 'амилия12')"),
                     texts("  ФАМИЛИЯ2 ", "", "instr(fio, 'амилия2')"), texts("", "", all)};
        QTest::newRow("qualification over a line break")
            << Steps{texts("", "Повар", "instr(qual, 'овар')"), texts("", "сварщик 3", "instr(qual, 'варщик 3')")};
        QTest::newRow("name and qualification")
            << Steps{texts("имя", "кондитер", "instr(fio, 'Имя') AND instr(qual, 'кондитер')")};
        QTest::newRow("nothing matches") << Steps{texts("нет такого", "", "0")};
        QTest::newRow("issue dates, both ends inclusive")
            << Steps{{{{"dateFrom", QDate(2016, 3, 1)}, {"dateTo", QDate(2016, 6, 30)}, {"fio", ""}, {"qual", ""}},
                      "issueDate " + dated + " AND substr(issueDate, 1, 10) BETWEEN '2016-03-01' AND '2016-06-30'"}};
        QTest::newRow("edit dates, one end only filters nothing")
            << Steps{{{{"editDateFrom", QDate(2016, 2, 1)}, {"editDateTo", QDate(2016, 2, 29)}},
                      "editDate " + dated + " AND substr(editDate, 1, 10) BETWEEN '2016-02-01' AND '2016-02-29'"},
                     {{{"editDateFrom", QDate(2016, 2, 1)}, {"fio", ""}}, all}};
        QTest::newRow("every kind at once")
            << Steps{{{{"dateFrom", QDate(2016, 1, 1)},
                       {"dateTo", QDate(2016, 12, 31)},
                       {"editDateFrom", QDate(2016, 1, 1)},
                       {"editDateTo", QDate(2016, 12, 31)},
                       {"fio", "Фамилия"},
                       {"qual", "повар"}},
                      "issueDate " + dated +
                          " AND substr(issueDate, 1, 10) BETWEEN '2016-01-01' AND '2016-12-31' "
                          "AND editDate " +
                          dated +
                          " AND substr(editDate, 1, 10) BETWEEN '2016-01-01' AND "
                          "'2016-12-31' AND instr(fio, 'амилия') AND instr(qual, 'овар')"}};
    }

    void filtersSortsAndReloads() {
        QFETCH(Steps, steps);
        TestDatabase data;
        QVERIFY(data.open());
        QVERIFY(fillRegistry());
        DocumentsModel documents;
        MyFilterModel filter;
        filter.setSourceModel(&documents);
        const auto mode = QAbstractItemModelTester::FailureReportingMode::QtTest;
        QAbstractItemModelTester sourceTester(&documents, mode);
        QAbstractItemModelTester proxyTester(&filter, mode);
        QVERIFY(documents.reload());
        QCOMPARE(sortedIds(documents), idsWhere("1"));
        QVERIFY(documents.rowCount() > 250);

        for (const Step& step : steps) {
            filter.setFilterList(step.filter);
            QCOMPARE(sortedIds(filter), idsWhere(step.where));
        }
        const QString where = steps.constLast().where;
        for (int column = 0; column < DocumentsModel::ColumnCount; ++column) {
            for (const Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
                filter.sort(column, order);
                QVERIFY2(inOrder(filter, column, order), qPrintable(QString::number(column)));
                QCOMPARE(sortedIds(filter), idsWhere(where));
            }
        }

        // Rows added and removed in the file reach the list with the filter and sort kept.
        filter.sort(DocumentsModel::Fio, Qt::DescendingOrder);
        QVERIFY(runSql("DELETE FROM ProfDocuments WHERE profId % 4 = 1 OR profId = ?", {farId + 1}).isActive());
        QVERIFY(runSql("INSERT INTO ProfDocuments (fio1, qual, issueDate, editDate) SELECT 'Фамилия12 новая', "
                       "'Повар', '2016-04-15', '2016-02-10 09:00:00' FROM ProfDocuments LIMIT 20")
                    .isActive());
        QVERIFY(documents.reload());
        QCOMPARE(sortedIds(filter), idsWhere(where));
        QVERIFY(inOrder(filter, DocumentsModel::Fio, Qt::DescendingOrder));

        // A registry that cannot be read empties the list, and the next good read fills it again.
        QSqlQuery view = runSql("SELECT sql FROM sqlite_master WHERE name = 'ViewProfDocuments'");
        QVERIFY(view.next());
        const QString createView = view.value(0).toString();
        QVERIFY(runSql("DROP VIEW ViewProfDocuments").isActive());
        QVERIFY(!documents.reload());
        QCOMPARE(documents.rowCount(), 0);
        QCOMPARE(filter.rowCount(), 0);
        QVERIFY(runSql(createView).isActive());
        QVERIFY(documents.reload());
        QCOMPARE(sortedIds(filter), idsWhere(where));

        QVERIFY(runSql("DELETE FROM ProfDocuments").isActive());
        QVERIFY(documents.reload());
        QCOMPARE(filter.rowCount(), 0);
    }

    // A refresh reads again what the program wrote since the last read, and the rows are then
    // exactly those a fresh read gives, in the same order, whatever the write and the sort: edits,
    // new and deleted documents, templates coming and going, a rolled-back transaction the list
    // had already shown, ids beyond 32 bits and a new id below the last one.
    void refreshReadsTheChanges_data() {
        QTest::addColumn<QStringList>("writes"); // "refresh" refreshes in between
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("order");
        const int up = Qt::AscendingOrder, down = Qt::DescendingOrder;
        QTest::newRow("a name changed, by name")
            << QStringList{"UPDATE ProfDocuments SET fio1 = 'Яковлев' WHERE profId IN (10, 11)"}
            << int(DocumentsModel::Fio) << up;
        QTest::newRow("a number changed twice, by number")
            << QStringList{"UPDATE ProfDocuments SET attNumber = '000007' WHERE profId = 3", "refresh",
                           "UPDATE ProfDocuments SET attNumber = NULL WHERE profId = 3"}
            << int(DocumentsModel::AttNumber) << down;
        QTest::newRow("new documents, newest first")
            << QStringList{"INSERT INTO ProfDocuments (fio1, attNumber, issueDate) VALUES ('Новиков', '999999', "
                           "'2016-02-30'), (NULL, NULL, NULL)"}
            << int(DocumentsModel::Id) << down;
        QTest::newRow("deleted documents, by issue date")
            << QStringList{"DELETE FROM ProfDocuments WHERE profId IN (5, 6, 7, 299)"} << int(DocumentsModel::IssueDate)
            << up;
        QTest::newRow("templates come and go, by qualification")
            << QStringList{"UPDATE ProfDocuments SET isTemplate = 1 WHERE profId = 12",
                           "UPDATE ProfDocuments SET isTemplate = 0 WHERE profId = 50"}
            << int(DocumentsModel::Qual) << down;
        QTest::newRow("a rolled-back transaction the list had shown")
            << QStringList{"BEGIN", "UPDATE ProfDocuments SET regNumber = 'ОТКАТ' WHERE profId = 20",
                           "INSERT INTO ProfDocuments (fio1) VALUES ('Откат')", "refresh", "ROLLBACK"}
            << int(DocumentsModel::RegNumber) << up;
        QTest::newRow("an id beyond 32 bits, unsorted")
            << QStringList{QStringLiteral("INSERT INTO ProfDocuments (profId, fio1) VALUES (%1, 'Дальний')")
                               .arg(farId + 5)}
            << int(DocumentsModel::unsorted) << up;
        QTest::newRow("a new id below the last, by edit date")
            << QStringList{"INSERT INTO ProfDocuments (profId, fio1, editDate) VALUES (1000, 'Вставной', "
                           "'2016-01-01 10:00:00')",
                           "UPDATE ProfDocuments SET editDate = '2017-05-05' WHERE profId = 30"}
            << int(DocumentsModel::EditDate) << up;
        QTest::newRow("new ids below the last, one gone before the refresh, unsorted")
            << QStringList{"INSERT INTO ProfDocuments (profId, fio1) VALUES (1001, 'Первый'), (1002, 'Второй'), "
                           "(-7, 'Самый первый')",
                           "DELETE FROM ProfDocuments WHERE profId IN (1002, 40)", "refresh",
                           "INSERT INTO ProfDocuments (profId, fio1) VALUES (1003, NULL)"}
            << int(DocumentsModel::unsorted) << up;
    }
    void refreshReadsTheChanges() {
        QFETCH(QStringList, writes);
        QFETCH(int, column);
        QFETCH(int, order);
        TestDatabase data;
        QVERIFY(data.open());
        QVERIFY(fillRegistry());
        DocumentsModel documents;
        QAbstractItemModelTester tester(&documents, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(documents.reload());
        documents.sortRows(column, Qt::SortOrder(order));
        for (const QString& sql : writes)
            QVERIFY(sql == "refresh" ? documents.refresh() : runSql(sql).isActive());
        QVERIFY(documents.refresh());
        DocumentsModel fresh;
        QVERIFY(fresh.reload());
        fresh.sortRows(column, Qt::SortOrder(order));
        QCOMPARE(cellsOf(documents), cellsOf(fresh));
        QCOMPARE(sortedIds(documents), idsWhere("1"));
    }

    // A registry larger than a page comes newest first, page after page: the count and the first
    // page at once, the other rows empty till their page comes. Whatever the clerk does meanwhile
    // (nothing, a deletion, a new document, a filter, a sort, select all) ends with exactly the
    // rows a full read gives.
    void pages_data() {
        QTest::addColumn<QString>("meanwhile");
        for (const char* what :
             {"nothing", "delete", "insert", "filter", "filter over a new read", "sort", "select all"})
            QTest::newRow(what) << QString::fromLatin1(what);
    }
    void pages() {
        QFETCH(QString, meanwhile);
        GuiFixture f;
        QVERIFY(fillRegistry());
        DocumentsModel::setPageRows(40);
        auto restore = qScopeGuard([] { DocumentsModel::setPageRows(10000); });
        auto* list = f.build<DocumentsTable>();
        QSignalSpy counts(list, &DocumentsTable::rowCountsChanged);
        DocumentsModel* documents = list->documentsModel();
        // (The toolkit's model tester would fetch every page at once.)
        const QList<qint64> all = idsWhere("1");
        QVERIFY(documents->isLoading());
        QCOMPARE(list->model()->rowCount(), all.size());
        QCOMPARE(list->model()->index(0, 0).data().toLongLong(), all.last());
        QVERIFY(!list->model()->index(all.size() - 1, 0).data().isValid());

        if (meanwhile == "delete") {
            // The oldest two are in the last page: it finds them gone.
            QVERIFY(list->deleteRecords({all.at(0), all.at(1)}));
        } else if (meanwhile == "insert") {
            QVERIFY(runSql("INSERT INTO ProfDocuments (fio1) VALUES ('Новый')").isActive());
            list->updateData();
        } else if (meanwhile == "filter") {
            list->onFiltersChanged({{"fio", "фамилия1"}, {"qual", ""}});
            QCOMPARE(sortedIds(*list->model()), idsWhere("instr(fio, 'амилия1')"));
            list->onFiltersChanged({{"fio", ""}, {"qual", ""}});
        } else if (meanwhile == "filter over a new read") {
            list->onFiltersChanged({{"fio", "фамилия1"}, {"qual", ""}});
            QVERIFY(documents->reload());
            QVERIFY(documents->isLoading());
            QTRY_VERIFY(!documents->isLoading());
            QCOMPARE(sortedIds(*list->model()), idsWhere("instr(fio, 'амилия1')"));
            list->onFiltersChanged({{"fio", ""}, {"qual", ""}});
        } else if (meanwhile == "sort") {
            list->sortByColumn(DocumentsModel::Qual, Qt::AscendingOrder);
            QVERIFY(!documents->isLoading());
            QVERIFY(inOrder(*list->model(), DocumentsModel::Qual, Qt::AscendingOrder));
            list->sortByColumn(DocumentsModel::Id, Qt::DescendingOrder);
        } else if (meanwhile == "select all") {
            list->onSelectAllAction();
            QCOMPARE(sorted(list->selectedIds()), all);
        }
        QTRY_VERIFY(!documents->isLoading());
        DocumentsModel::setPageRows(10000);
        DocumentsModel fresh;
        fresh.sortRows(DocumentsModel::Id, Qt::DescendingOrder);
        QVERIFY(fresh.reload());
        QCOMPARE(cellsOf(*documents), cellsOf(fresh));
        QCOMPARE(sortedIds(*list->model()), idsWhere("1"));
        QVERIFY(!counts.isEmpty());
        QCOMPARE(counts.last().at(1).toInt(), fresh.rowCount());
    }

    // The list as the window has it: header clicks through the three sort states of every column,
    // then deleting documents while a filter and a sort hold.
    void listHeaderSortAndDelete() {
        GuiFixture f;
        QVERIFY(fillRegistry());
        auto* list = f.build<DocumentsTable>();
        const auto mode = QAbstractItemModelTester::FailureReportingMode::QtTest;
        QAbstractItemModelTester sourceTester(qobject_cast<QSortFilterProxyModel*>(list->model())->sourceModel(), mode);
        QAbstractItemModelTester proxyTester(list->model(), mode);
        QHeaderView* header = list->horizontalHeader();
        const auto click = [header](int section) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(section) + 5, header->height() / 2));
        };
        list->resize(1600, 400);
        list->show();
        QVERIFY(QTest::qWaitForWindowExposed(list));
        for (int column = DocumentsModel::Fio; column < DocumentsModel::ColumnCount; ++column) {
            click(column);
            QVERIFY(inOrder(*list->model(), column, Qt::AscendingOrder));
            click(column);
            QVERIFY(inOrder(*list->model(), column, Qt::DescendingOrder));
            click(column);
            QVERIFY(inOrder(*list->model(), DocumentsModel::Id, Qt::DescendingOrder));
            QVERIFY(!header->isSortIndicatorShown());
        }

        // The selected documents and the current one stay marked while the rows move under them.
        const QList<qint64> marked = idsOf(*list->model()).mid(3, 4);
        list->selectIds(marked);
        const qint64 current = list->currentDocId();
        click(DocumentsModel::RegNumber);
        QCOMPARE(sorted(list->selectedIds()), sorted(marked));
        QCOMPARE(list->model()->index(list->currentIndex().row(), 0).data().toLongLong(), current);
        click(DocumentsModel::RegNumber);
        click(DocumentsModel::RegNumber);

        list->onFiltersChanged({{"fio", "фамилия1"}, {"qual", ""}});
        click(DocumentsModel::Qual);
        const QList<qint64> shown = sortedIds(*list->model());
        QVERIFY(shown.size() > 10);
        const QList<qint64> doomed = shown.mid(2, 5) + QList<qint64>{farId};
        QVERIFY(list->deleteRecords(doomed));
        list->updateData();
        QList<qint64> left = shown;
        for (qint64 id : doomed)
            left.removeAll(id);
        QCOMPARE(sortedIds(*list->model()), left);
        QVERIFY(inOrder(*list->model(), DocumentsModel::Qual, Qt::AscendingOrder));
        QVERIFY(idsWhere(QStringLiteral("profId = %1").arg(farId)).isEmpty());
    }
};

ORVANE_TEST(TestListModels)

// The list on a server registry follows what other programs commit: a refresh reads again the
// documents the server's change log names, and the rows are then those a fresh read gives, also
// when a transaction that took a lower id commits after one that took a higher.
class TestServerListRefresh : public QObject {
    Q_OBJECT

    PgTestServer* _server = nullptr;

    static QSqlQuery on(const char* connection, const QString& statement) {
        return PgTestServer::run(QSqlDatabase::database(QLatin1String(connection)), statement);
    }

private slots:
    void initTestCase() {
        QString error;
        _server = PgTestServer::shared(&error);
        QVERIFY2(_server, qPrintable(error));
        QVERIFY(Database::instance()->isValid());
    }
    void cleanupTestCase() { Database::shutdown(); }

    void refreshReadsWhatOthersCommitted() {
        QString error;
        auto removeAll = qScopeGuard([] {
            for (const char* name : {"clerkB", "clerkC", QSqlDatabase::defaultConnection})
                QSqlDatabase::removeDatabase(QLatin1String(name));
        });
        const QString database = _server->createRegistryAsProgram(&error);
        QVERIFY2(!database.isEmpty(), qPrintable(error));
        QVERIFY2(_server->connect(QStringLiteral("clerkB"), database, &error).isOpen(), qPrintable(error));
        QVERIFY2(_server->connect(QStringLiteral("clerkC"), database, &error).isOpen(), qPrintable(error));
        QVERIFY(on("clerkB", "INSERT INTO ProfDocuments (fio1, qual, issueDate) SELECT 'Фамилия' || (i % 7), "
                             "CASE WHEN i % 3 = 0 THEN NULL ELSE 'Повар' END, '2016-02-' || (10 + i % 25) "
                             "FROM generate_series(1, 60) AS i")
                    .isActive());
        for (const int column : {int(DocumentsModel::Fio), int(DocumentsModel::IssueDate)}) {
            DocumentsModel documents;
            QVERIFY(documents.reload());
            documents.sortRows(column, Qt::DescendingOrder);
            QVERIFY(QSqlDatabase::database(QStringLiteral("clerkB")).transaction());
            QVERIFY(on("clerkB", "INSERT INTO ProfDocuments (fio1) VALUES ('Раньше начал')").isActive());
            QVERIFY(on("clerkC", "INSERT INTO ProfDocuments (fio1, issueDate) VALUES ('Раньше сохранил', "
                                 "'2016-02-30')")
                        .isActive());
            QVERIFY(on("clerkC", "UPDATE ProfDocuments SET fio1 = 'Другая' WHERE profId IN (3, 4)").isActive());
            QVERIFY(on("clerkC", "DELETE FROM ProfDocuments WHERE profId = 5 OR fio1 = 'Фамилия0'").isActive());
            for (int step = 0; step < 2; ++step) {
                QVERIFY(documents.refresh());
                DocumentsModel fresh;
                QVERIFY(fresh.reload());
                fresh.sortRows(column, Qt::DescendingOrder);
                QCOMPARE(cellsOf(documents), cellsOf(fresh));
                if (step == 0)
                    QVERIFY(QSqlDatabase::database(QStringLiteral("clerkB")).commit());
            }
        }
    }
};

ORVANE_TEST(TestServerListRefresh)
#include "tst_listmodels.moc"
