// The list's reading and the FRDO check on a registry moved onto a throwaway server give what they
// give on the file: the same filter cases, the same orders, the same failing documents.
#include "appresources.h"
#include "database.h"
#include "documentfilter.h"
#include "documentstore.h"
#include "fileschema.h"
#include "frdocheck.h"
#include "frdoexport.h"
#include "pgtestserver.h"
#include "profschema.h"
#include "registrybook.h"
#include "registrymove.h"
#include "registrystatistics.h"
#include "serverschema.h"
#include "testregistry.h"
#include "textmatch.h"
#include "xlsxreader.h"

#include <QSqlError>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString fileConnection = QStringLiteral("file");
const qint64 bigId = Q_INT64_C(1) << 40;

struct Doc {
    const char *fio1, *fio2, *fio3, *qual, *issue, *edit, *att;
};
const Doc docs[] = {
    {"Иванов", "Иван", "Иванович", "Токарь\n3 разряд", "2021-03-01", "2021-03-02 10:00:00", "СВ 000101"},
    {"ИВАНОВА", "Мария", "Петровна", "ПОВАР", "2021-03-31", "2021-04-01", "СВ 000102"},
    {"Ёлкин", "Пётр", nullptr, "сварщик", "2022-01-05T08:00", "2022-01-05", "СВ 000103"},
    {"елкина", "Анна", "Ильинична", "Сварщик ручной сварки", "2016-02-30", "2016-03-01", "СВ 000104"},
    {"Smith", "John", "", "welder 50% ставки", "не дата", nullptr, "СВ 000105"},
    {nullptr, "Без", "Фамилии", nullptr, nullptr, "2023-12-31 23:59:59", "СВ 000106"},
    {"Петров_", "Олег", "Олегович", "Токарь_универсал", "2020-12-31", "2021-01-01", "СВ 000107"},
    {"Иванов", "Иван", "Иванович", "токарь", "2021-03-01", "2021-03-01", "СВ 000108"},
};

// The twenty filter cases both stores must answer alike.
QList<QPair<QString, FilterListType>> filterCases() {
    const auto text = [](const QString& key, const QString& value) { return FilterListType{{key, value}}; };
    const auto range = [](const QString& from, const QString& to, const char* a, const char* b) {
        return FilterListType{{from, QDate::fromString(QLatin1String(a), Qt::ISODate)},
                              {to, QDate::fromString(QLatin1String(b), Qt::ISODate)}};
    };
    using K = QString;
    return {
        {"none", {}},
        {"name lower", text(FilterKeys::fio, "иванов")},
        {"name upper", text(FilterKeys::fio, "ИВАНОВ")},
        {"name ё", text(FilterKeys::fio, "ёлкин")},
        {"name Ё against е", text(FilterKeys::fio, "Елкин")},
        {"name across parts", text(FilterKeys::fio, "иван иванович")},
        {"name latin", text(FilterKeys::fio, "SMITH")},
        {"name underscore", text(FilterKeys::fio, "_")},
        {"name percent", text(FilterKeys::fio, "%")},
        {"name quote", text(FilterKeys::fio, "O'Neil")},
        {"name blank ends", text(FilterKeys::fio, "  пётр  ")},
        {"qualification across line", text(FilterKeys::qual, "токарь 3")},
        {"qualification case", text(FilterKeys::qual, "сВАРЩИК")},
        {"qualification percent", text(FilterKeys::qual, "50%")},
        {"issued in March", range(FilterKeys::dateFrom, FilterKeys::dateTo, "2021-03-01", "2021-03-31")},
        {"issued one day", range(FilterKeys::dateFrom, FilterKeys::dateTo, "2022-01-05", "2022-01-05")},
        {"issued February 2016", range(FilterKeys::dateFrom, FilterKeys::dateTo, "2016-02-01", "2016-03-31")},
        {"edited to year end", range(FilterKeys::editDateFrom, FilterKeys::editDateTo, "2023-12-31", "2023-12-31")},
        {"edited, one end only", FilterListType{{K(FilterKeys::editDateFrom), QDate(2021, 1, 1)}}},
        {"name and range",
         text(FilterKeys::fio, "иванов") + range(FilterKeys::dateFrom, FilterKeys::dateTo, "2021-03-01", "2021-03-01")},
    };
}
} // namespace

class TestServerReads : public QObject {
    Q_OBJECT

    QTemporaryDir _folder;
    QString _filePath;
    QString _database;
    PgTestServer* _server = nullptr;

    // Makes the file's or the server's registry the default connection, as the program would.
    bool useStore(bool server) {
        QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
        QString error;
        if (server) {
            QSqlDatabase db = _server->connect(QLatin1String(QSqlDatabase::defaultConnection), _database, &error);
            return db.isOpen() || (qWarning() << error, false);
        }
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
        db.setDatabaseName(_filePath);
        return db.open() && TextMatch::registerFunctions(db);
    }

    QList<qint64> sqlIds(const DocumentFilter& filter) {
        QSqlQuery query(QSqlDatabase::database());
        QList<qint64> ids;
        if (!query.exec(QStringLiteral("SELECT profId FROM ProfDocuments WHERE COALESCE(isTemplate, 0) != 1") +
                        filter.sqlCondition() + QStringLiteral(" ORDER BY profId"))) {
            qWarning() << query.lastError().text();
            return {-1};
        }
        while (query.next())
            ids << query.value(0).toLongLong();
        return ids;
    }

private slots:
    void initTestCase() {
        initAppResources();
        QString error;
        _server = PgTestServer::shared(&error);
        QVERIFY2(_server, qPrintable(error));
        _filePath = _folder.filePath(QStringLiteral("registry.db"));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), fileConnection);
            db.setDatabaseName(_filePath);
            QVERIFY(db.open());
            for (const DBTable& table : ProfSchema::tables())
                QVERIFY2(FileSchema::createTable(db, table, &error), qPrintable(error));
            QVERIFY2(FileSchema::runViewsScript(db, false, &error), qPrintable(error));
            qint64 id = bigId;
            for (const Doc& d : docs) {
                PgTestServer::run(db,
                                  "INSERT INTO ProfDocuments (profId, fio1, fio2, fio3, qual, issueDate, editDate, "
                                  "attNumber, isTemplate) VALUES (?, ?, ?, ?, ?, ?, ?, ?, 0)",
                                  {id, d.fio1 ? QVariant(d.fio1) : QVariant(), d.fio2,
                                   d.fio3 ? QVariant(d.fio3) : QVariant(), d.qual ? QVariant(d.qual) : QVariant(),
                                   d.issue ? QVariant(d.issue) : QVariant(), d.edit ? QVariant(d.edit) : QVariant(),
                                   d.att});
                // Every other document has FRDO data, some of it wrong.
                if (id % 2 == 0)
                    PgTestServer::run(db, "INSERT INTO ProfFrdo (profId, snils, studyCount) VALUES (?, ?, ?)",
                                      {id, id % 4 == 0 ? "112-233-445 95" : "112-233-445 96", 72});
                ++id;
            }
            PgTestServer::run(db, "INSERT INTO ProfDocuments (profId, fio1, isTemplate) VALUES (3, 'Шаблон', 1)");
            db.close();
        }
        QSqlDatabase::removeDatabase(fileConnection);
        _database = _server->createDatabase(&error);
        QVERIFY2(!_database.isEmpty(), qPrintable(error));
        {
            QSqlDatabase server = _server->connect(QStringLiteral("move"), _database, &error);
            QVERIFY2(server.isOpen(), qPrintable(error));
            QList<RegistryMove::Counts> counts;
            QVERIFY2(RegistryMove::toServer(_filePath, server, &counts, &error), qPrintable(error));
            server.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("move"));
    }
    void cleanupTestCase() { QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection)); }

    // The list's rule over the rows each store gives, and the SQL the exports append, select the
    // same documents on both stores.
    void sameFilterCases() {
        for (const auto& c : filterCases()) {
            const DocumentFilter filter = DocumentFilter::fromList(c.second);
            QList<qint64> listed[2], selected[2];
            for (int server = 0; server < 2; ++server) {
                QVERIFY(useStore(server));
                QString error;
                listed[server] = filter.shownIds(DocumentOrder(), &error);
                QVERIFY2(error.isEmpty(), qPrintable(error));
                selected[server] = sqlIds(filter);
            }
            QVERIFY2(listed[0] == listed[1], qPrintable(c.first));
            QVERIFY2(selected[0] == selected[1], qPrintable(c.first));
            QVERIFY2(c.first != QLatin1String("name lower") || listed[0].size() == 3, qPrintable(c.first));
        }
    }

    // The list's own rows, as the main window reads them: the same texts, NULLs and order.
    void sameListRows() {
        QStringList rows[2];
        for (int server = 0; server < 2; ++server) {
            QVERIFY(useStore(server));
            QString error;
            QVERIFY2(DocumentStore::readListRows(
                         [&](qint64 id, const DocumentStore::ListText* texts) {
                             QStringList cells{QString::number(id)};
                             for (int c = 0; c < DocumentStore::listColumnCount - 1; ++c)
                                 cells << (texts[c].utf8 ? QString::fromUtf8(texts[c].utf8, texts[c].size)
                                                         : QStringLiteral("NULL"));
                             rows[server] << cells.join(QLatin1Char('|'));
                         },
                         &error),
                     qPrintable(error));
        }
        QCOMPARE(rows[1], rows[0]);
        QVERIFY(rows[0].size() >= 8);
    }

    // Every sort column, both directions, in the list's order: the same ids on both stores.
    void sameOrders() {
        for (int column = DocumentOrder::Id; column < DocumentOrder::ColumnCount; ++column) {
            for (Qt::SortOrder direction : {Qt::AscendingOrder, Qt::DescendingOrder}) {
                DocumentOrder order;
                order.column = column;
                order.order = direction;
                QList<qint64> ids[2];
                for (int server = 0; server < 2; ++server) {
                    QVERIFY(useStore(server));
                    ids[server] = DocumentFilter().shownIds(order);
                }
                QCOMPARE(ids[1], ids[0]);
                QCOMPARE(ids[0].size(), int(std::size(docs)));
            }
        }
    }

    // The statistics window's figures, hours included, are the same on both stores.
    void sameStatistics() {
        QStringList figures[2];
        for (int server = 0; server < 2; ++server) {
            QVERIFY(useStore(server));
            RegistryStatistics statistics;
            QString error;
            QVERIFY2(statistics.read(DocumentFilter().shownIds(), &error), qPrintable(error));
            QStringList& f = figures[server];
            f << QString::number(statistics.documentCount()) << QString::number(statistics.totalHours());
            for (const PeriodCounts& p : statistics.years())
                f << QStringLiteral("%1:%2/%3/%4")
                         .arg(p.period)
                         .arg(p.counts.workers)
                         .arg(p.counts.employees)
                         .arg(p.counts.duplicates);
            for (const NamedCount& n : statistics.qualifications())
                f << n.name + QLatin1Char('=') + QString::number(n.count);
        }
        QCOMPARE(figures[1], figures[0]);
        QCOMPARE(figures[0].value(0), QString::number(std::size(docs)));
    }

    // The registry book and the FRDO table hold the same cells in the same order on both stores.
    void sameWorkbooks() {
        for (const bool book : {true, false}) {
            QStringList cells[2];
            for (int server = 0; server < 2; ++server) {
                QVERIFY(useStore(server));
                const QString path = _folder.filePath(QStringLiteral("%1-%2.xlsx").arg(book).arg(server));
                const QList<qint64> ids = DocumentFilter().shownIds();
                QString error;
                QVERIFY2(book ? RegistryBook::write(ids, path, &error)
                              : XlsxExport::write(FrdoExport::layout(), ids, path, &error),
                         qPrintable(error));
                XlsxReader reader;
                ImportTable table;
                QVERIFY2(reader.open(path, &error) && reader.readSheet(0, &table, &error), qPrintable(error));
                for (int row = 0; row < table.rows.size(); ++row)
                    for (int column = 0; column < table.columnCount(); ++column)
                        cells[server] << table.text(row, column);
            }
            QCOMPARE(cells[1], cells[0]);
            QVERIFY(!cells[0].filter(QRegularExpression(QStringLiteral("^Иванов"))).isEmpty());
        }
    }

    // Both workbooks order names as the Russian alphabet does on both stores: Ё with Е, letter case
    // ignored (the server's lower() and collation would not), the same surnames by the name, then
    // by id.
    void sameNameOrder() {
        const QList<QPair<const char*, const char*>> named = {
            {"Ёжиков", "Иван"}, {"Алексеев", "Пётр"}, {"ежов", "Андрей"}, {"ежиков", "Анна"}, {"Яковлев", ""},
            {"ЮРЬЕВ", ""},      {"Ёлкин", ""},        {"Ежиков", "Анна"}, {"Щукин", ""},      {"Жуков", ""}};
        const QStringList expected = {"Алексеев", "ежиков", "Ежиков", "Ёжиков", "ежов",
                                      "Ёлкин",    "Жуков",  "Щукин",  "ЮРЬЕВ",  "Яковлев"};
        for (const bool book : {true, false}) {
            for (int server = 0; server < 2; ++server) {
                QVERIFY(useStore(server));
                QSqlDatabase db = QSqlDatabase::database();
                QVERIFY(db.transaction());
                QList<qint64> ids;
                for (int i = 0; i < named.size(); ++i) {
                    ids.prepend(9001 + i);
                    PgTestServer::run(
                        db, "INSERT INTO ProfDocuments (profId, fio1, fio2, isTemplate) VALUES (?, ?, ?, 0)",
                        {9001 + i, QString::fromUtf8(named[i].first), QString::fromUtf8(named[i].second)});
                    PgTestServer::run(db, "INSERT INTO ProfFrdo (profId, docType) VALUES (?, 'Свидетельство')",
                                      {9001 + i});
                }
                const QString path = _folder.filePath(QStringLiteral("order-%1-%2.xlsx").arg(book).arg(server));
                QString error;
                const bool written = book ? RegistryBook::write(ids, path, &error)
                                          : XlsxExport::write(FrdoExport::layout(), ids, path, &error);
                QVERIFY(db.rollback());
                QVERIFY2(written, qPrintable(error));
                XlsxReader reader;
                ImportTable table;
                QVERIFY2(reader.open(path, &error) && reader.readSheet(0, &table, &error), qPrintable(error));
                QStringList surnames;
                for (int row = 1; row < table.rows.size(); ++row)
                    surnames << table.text(row, book ? 1 : 16).section(QLatin1Char(' '), 0, 0);
                QVERIFY2(surnames == expected, qPrintable(QStringLiteral("%1 on the %2: %3")
                                                              .arg(book ? "book" : "FRDO", server ? "server" : "file",
                                                                   surnames.join(QLatin1Char(',')))));
            }
        }
    }

    // The FRDO check finds the same documents with the same problems.
    void sameFrdoProblems() {
        QList<qint64> ids;
        for (qint64 i = 0; i < qint64(std::size(docs)); ++i)
            ids << bigId + i;
        QStringList lines[2], shown[2];
        for (int server = 0; server < 2; ++server) {
            QVERIFY(useStore(server));
            QVector<FrdoCheck::FailingDocument> failing;
            QString error;
            QVERIFY2(FrdoCheck::checkDocuments(ids, &failing, &error), qPrintable(error));
            lines[server] = FrdoCheck::reportLines(failing);
            // orvane-export's check of every shown document, in the list's order.
            failing.clear();
            QVERIFY2(FrdoCheck::checkShown(
                         DocumentFilter(), [&](const FrdoCheck::FailingDocument& d) { failing.append(d); }, &error),
                     qPrintable(error));
            shown[server] = FrdoCheck::reportLines(failing);
        }
        QCOMPARE(lines[1], lines[0]);
        QCOMPARE(shown[1], shown[0]);
        QVERIFY(!shown[0].isEmpty());
        QVERIFY(lines[0].join('\n').contains(QStringLiteral("Неверное контрольное число СНИЛС")));
    }
};

ORVANE_TEST(TestServerReads)
#include "tst_serverreads.moc"
