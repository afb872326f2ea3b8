// The registry's structure on a throwaway PostgreSQL server and the move of a registry file onto
// it, each checked against the file itself: its columns, its views' rows, its rows.
#include "appresources.h"
#include "database.h"
#include "documentcount.h"
#include "fileschema.h"
#include "pgtestserver.h"
#include "profschema.h"
#include "registrymove.h"
#include "serverschema.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

Q_DECLARE_METATYPE(std::function<void(QSqlDatabase)>)
Q_DECLARE_METATYPE(std::function<void(PgTestServer*, const QString&)>)

namespace {
const qint64 bigId = Q_INT64_C(1) << 62;

QSqlQuery exec(QSqlDatabase db, const QString& statement, const QVariantList& values = {}) {
    return PgTestServer::run(db, statement, values);
}

QVariant scalar(QSqlDatabase db, const QString& statement, const QVariantList& values = {}) {
    QSqlQuery query = exec(db, statement, values);
    return query.next() ? query.value(0) : QVariant();
}

// Every row of a statement, NULL told apart from "", sorted so that the two stores' orders of
// equal keys do not matter unless `ordered`.
QStringList rows(QSqlDatabase db, const QString& statement, bool ordered = false) {
    QSqlQuery query = exec(db, statement);
    QStringList result;
    while (query.next()) {
        QStringList cells;
        for (int i = 0; i < query.record().count(); ++i)
            cells << (query.isNull(i) ? QStringLiteral("NULL") : query.value(i).toString());
        result << cells.join(QLatin1Char('|'));
    }
    if (!ordered)
        result.sort();
    return result;
}

QByteArray fileHash(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// The registry tables and views a server database holds.
QStringList serverRelations(QSqlDatabase db) {
    return rows(db, "SELECT relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                    "WHERE nspname = current_schema() AND relkind IN ('r', 'v')");
}
} // namespace

class TestServerSchema : public QObject {
    Q_OBJECT
    PgTestServer* _server = nullptr;
    QTemporaryDir _dir;
    int _connections = 0;
    QStringList _opened;
    QSqlDatabase _functions;

    // A fresh empty server database on a connection of its own.
    QSqlDatabase freshDatabase(QString* name = nullptr) {
        QString error;
        const QString database = _server->createDatabase(&error);
        if (name)
            *name = database;
        const QString connection = QStringLiteral("server%1").arg(++_connections);
        _opened << connection;
        QSqlDatabase db = _server->connect(connection, database, &error);
        if (!db.isOpen())
            qWarning() << error;
        return db;
    }

    // A registry file made as the program makes one, with `fill` run on it.
    QString makeFile(const std::function<void(QSqlDatabase)>& fill = {}) {
        const QString path = _dir.filePath(QStringLiteral("registry%1.sqlite").arg(++_connections));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "maker");
            db.setDatabaseName(path);
            db.open();
            QString error;
            for (const DBTable& table : ProfSchema::tables())
                if (!FileSchema::createTable(db, table, &error))
                    qWarning() << error;
            if (!FileSchema::runViewsScript(db, false, &error))
                qWarning() << error;
            if (fill)
                fill(db);
            db.close();
        }
        QSqlDatabase::removeDatabase("maker");
        return path;
    }

    // A small registry with what a real one holds at its edges.
    static void fillRegistry(QSqlDatabase db) {
        const QString longText(1 << 20, QChar(0x0416));
        const QString insertDoc =
            "INSERT INTO ProfDocuments (profId, isTemplate, fio1, fio2, fio3, qual, regNumber, "
            "issueDate, comment, hideTotalCountInAdd, certificateType) VALUES (?,?,?,?,?,?,?,?,?,?,?)";
        exec(db, insertDoc,
             {bigId, 0, "Ёлкина", "Анна", QVariant(), "Сварщик\nручной сварки", "001", "2016-02-30", longText, 0, 1});
        exec(db, insertDoc,
             {3, 1, "Шаблон", QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(),
              QVariant()});
        exec(db, insertDoc,
             {Q_INT64_C(3000000000), 0, "Smith", "", "John", "Welder", "A-7", "2023-01-05 10:00", "", 1, 2});
        exec(db, insertDoc,
             {7, QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(),
              QVariant(), QVariant()});
        const QString insertDet = "INSERT INTO ProfDetails (detId, profId, name, count, rate) VALUES (?,?,?,?,?)";
        // The subjects' order is their ids' order, not their names'.
        exec(db, insertDet, {Q_INT64_C(5000000001), bigId, "Я последний по алфавиту", 72, "отлично"});
        exec(db, insertDet, {Q_INT64_C(5000000002), bigId, "Азбука", QVariant(), QVariant()});
        exec(db, insertDet, {Q_INT64_C(5000000003), bigId, "Охрана труда", 16, "зачтено"});
        exec(db, insertDet, {9, Q_INT64_C(3000000000), "Safety", 8, ""});
        exec(db,
             "INSERT INTO ProfFrdo (profId, sexIsMale, snils, docSerial, docNumberOrig, frdo13) "
             "VALUES (?, 0, '112-233-445 95', '', '000123', NULL)",
             {bigId});
        exec(db, "INSERT INTO Bosses (bossId, bossType, name) VALUES (1, 1, 'Директор Петров П. П.')");
        exec(db, "INSERT INTO Variables (Name, Value) VALUES ('orgName', 'ГБПОУ «Колледж»'), ('empty', NULL), "
                 "('NULL', 'NULL'), ('', '')");
        // What the rows' way to the server must not read as its own marks.
        exec(db, "INSERT INTO Variables (Name, Value) VALUES (?, ?)", {" {a,b} ", QString("\\\"quoted\" \\N,\n\t{}")});
        // A deleted last document: its id is never given again.
        exec(db, "INSERT INTO ProfDocuments (profId) VALUES (?)", {bigId + 100});
        exec(db, "DELETE FROM ProfDocuments WHERE profId = ?", {bigId + 100});
    }

    // The registry's columns (the server keeps a row version besides them).
    static QString orderedSelect(const DBTable& table) {
        QStringList columns;
        for (const DBColumn& column : table.columns)
            columns << column.name;
        return QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
            .arg(columns.join(QStringLiteral(", ")), table.name, table.sequence_col);
    }

private slots:
    void initTestCase() {
        initAppResources();
        QString error;
        _server = PgTestServer::shared(&error);
        QVERIFY2(_server, qPrintable(error));
    }

    void cleanupTestCase() {
        _functions = QSqlDatabase();
        for (const QString& name : qAsConst(_opened))
            QSqlDatabase::removeDatabase(name);
    }

    // Every table and column of the program with its server type, the views, the file's indexes.
    void createMakesTheWholeStructure() {
        QSqlDatabase db = freshDatabase();
        bool found = true;
        QString error;
        QVERIFY2(ServerSchema::hasRegistry(db, &found, &error), qPrintable(error));
        QVERIFY(!found);
        QVERIFY2(ServerSchema::create(db, &error), qPrintable(error));
        QVERIFY(ServerSchema::hasRegistry(db, &found, &error) && found);
        for (const DBTable& table : ProfSchema::tables()) {
            for (const DBColumn& column : table.columns) {
                const QString type = scalar(db,
                                            "SELECT data_type FROM information_schema.columns WHERE table_name = ? "
                                            "AND column_name = ?",
                                            {table.name.toLower(), column.name.toLower()})
                                         .toString();
                QCOMPARE(type, column.type == "INTEGER" ? QString("bigint") : QString("text"));
            }
        }
        QVERIFY(serverRelations(db).contains("viewprofdocuments"));
        QVERIFY(serverRelations(db).contains("viewprofdetails"));
        // The same named indexes as a file the program made, besides the one of the server's change log
        // (the history's are checked with the history).
        const QString file = makeFile();
        QSqlDatabase sqlite = QSqlDatabase::addDatabase("QSQLITE", "indexes");
        sqlite.setDatabaseName(file);
        QVERIFY(sqlite.open());
        const QStringList fileIndexes =
            rows(sqlite, "SELECT lower(name) FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL "
                         "AND name NOT LIKE 'DocumentHistory%'");
        sqlite.close();
        sqlite = QSqlDatabase();
        QSqlDatabase::removeDatabase("indexes");
        QVERIFY(!fileIndexes.isEmpty());
        QCOMPARE(rows(db, "SELECT indexname FROM pg_indexes WHERE schemaname = current_schema() AND indexname NOT "
                          "LIKE '%_pkey' AND indexname <> 'orvane_list_log_xact' AND indexname NOT LIKE "
                          "'documenthistory%'"),
                 fileIndexes);
        // A second run finds everything there and changes nothing.
        QVERIFY2(ServerSchema::check(db, &error), qPrintable(error));
    }

    // A table of the same name with another shape: nothing of the registry is made.
    void createFailingMidwayLeavesNothing() {
        QSqlDatabase db = freshDatabase();
        exec(db, "CREATE TABLE ProfFrdo (other INTEGER)");
        QString error;
        QVERIFY(!ServerSchema::create(db, &error));
        QVERIFY(error.contains("proffrdo", Qt::CaseInsensitive));
        QCOMPARE(serverRelations(db), QStringList{"proffrdo"});
        bool found = true;
        QVERIFY(ServerSchema::hasRegistry(db, &found, &error) && !found);
    }

    // The check brings back what an older or damaged structure lacks, keeps the rows, and refuses
    // on a read-only server without changing anything.
    void checkAddsWhatIsMissing() {
        QSqlDatabase db = freshDatabase();
        QString error;
        QVERIFY(ServerSchema::create(db, &error));
        exec(db, "INSERT INTO ProfDocuments (profId, fio1) VALUES (5, 'Иванов')");
        exec(db, "DROP VIEW ViewProfDocuments");
        exec(db, "ALTER TABLE ProfDocuments DROP COLUMN finishDate");
        exec(db, "DROP TABLE Bosses");
        exec(db, "DROP FUNCTION orvane_contains(text, text)");
        exec(db, "SET default_transaction_read_only = on");
        QVERIFY(!ServerSchema::check(db, &error));
        QVERIFY(!serverRelations(db).contains("bosses"));
        exec(db, "SET default_transaction_read_only = off");
        QVERIFY2(ServerSchema::check(db, &error), qPrintable(error));
        QVERIFY2(ServerSchema::check(db, &error), qPrintable(error));
        QVERIFY(serverRelations(db).contains("bosses"));
        QCOMPARE(scalar(db, "SELECT fio FROM ViewProfDocuments WHERE profId = 5").toString(), QString("Иванов  "));
        QVERIFY(exec(db, "UPDATE ProfDocuments SET finishDate = '2024-06-30'").numRowsAffected() == 1);
        QCOMPARE(scalar(db, "SELECT orvane_contains('ИВАНОВ', 'ванов')").toInt(), 1);
    }

    void containsSelectsWhatQtSelects_data() {
        QTest::addColumn<QVariant>("text");
        QTest::addColumn<QVariant>("part");
        QTest::newRow("cyrillic case") << QVariant("Сварщик РУЧНОЙ сварки") << QVariant("ручной");
        QTest::newRow("yo small in capital") << QVariant("ЁЛКИНА") << QVariant("ёл");
        QTest::newRow("yo is no ye") << QVariant("Ёлкина") << QVariant("Ел");
        QTest::newRow("mixed case both") << QVariant("иВаНоВ") << QVariant("ВаН");
        QTest::newRow("latin") << QVariant("Welder 3rd Grade") << QVariant("3RD g");
        QTest::newRow("mixed scripts") << QVariant("Оператор ЭВМ / PC") << QVariant("эвм / pc");
        QTest::newRow("absent") << QVariant("Токарь") << QVariant("слесарь");
        QTest::newRow("longer part") << QVariant("Ток") << QVariant("Токарь");
        QTest::newRow("empty part") << QVariant("Токарь") << QVariant("");
        QTest::newRow("empty both") << QVariant("") << QVariant("");
        QTest::newRow("null text") << QVariant() << QVariant("а");
        QTest::newRow("null text, empty part") << QVariant() << QVariant("");
        QTest::newRow("null part") << QVariant("Токарь") << QVariant();
        QTest::newRow("percent is no wildcard") << QVariant("100 процентов") << QVariant("%");
        QTest::newRow("underscore is no wildcard") << QVariant("a-b") << QVariant("a_b");
    }

    void containsSelectsWhatQtSelects() {
        QFETCH(QVariant, text);
        QFETCH(QVariant, part);
        if (!_functions.isOpen()) {
            _functions = freshDatabase();
            QString error;
            QVERIFY2(ServerSchema::create(_functions, &error), qPrintable(error));
        }
        QSqlDatabase db = _functions;
        const int expected = text.toString().contains(part.toString(), Qt::CaseInsensitive) ? 1 : 0;
        QCOMPARE(scalar(db, "SELECT orvane_contains(?, ?)", {text, part}).toInt(), expected);
    }

    // A registry of a hundred thousand documents, made as the benchmarks make theirs, arrives whole:
    // every table's count on the server is the file's.
    void moveAHundredThousandDocuments() {
        const QString file = _dir.filePath(QStringLiteral("hundred-thousand.db"));
        QProcess generator;
        generator.start(binaryPath(QStringLiteral("dbgen")), {"--docs", "100000", "--force", file});
        QVERIFY(generator.waitForFinished(300000));
        QVERIFY2(generator.exitCode() == 0, generator.readAllStandardError().constData());
        QSqlDatabase db = freshDatabase();
        QList<RegistryMove::Counts> counts;
        QString error;
        QVERIFY2(RegistryMove::toServer(file, db, &counts, &error), qPrintable(error));
        QCOMPARE(counts.size(), ProfSchema::tables().size());
        for (const RegistryMove::Counts& c : counts) {
            QCOMPARE(c.server, c.file);
            QCOMPARE(scalar(db, QStringLiteral("SELECT count(*) FROM %1").arg(c.table)).toLongLong(), c.file);
            if (c.table == QLatin1String("ProfDocuments"))
                QCOMPARE(c.file, qint64(100000 + 20)); // and the templates
        }
        QCOMPARE(scalar(db, "SELECT count(*) FROM ViewProfDocuments").toLongLong(), qint64(100000));
        QFile::remove(file);
    }

    // A file the program has opened keeps its number of documents in a table of its own: the move
    // takes the registry's tables and leaves that one, which a server has no use for, behind.
    void moveLeavesTheKeptNumber() {
        const QString file = makeFile([](QSqlDatabase db) {
            fillRegistry(db);
            QString error;
            QVERIFY2(DocumentCount::keep(db, &error), qPrintable(error));
        });
        QSqlDatabase db = freshDatabase();
        QList<RegistryMove::Counts> counts;
        QString error;
        QVERIFY2(RegistryMove::toServer(file, db, &counts, &error), qPrintable(error));
        QCOMPARE(counts.size(), ProfSchema::tables().size());
        QCOMPARE(scalar(db, "SELECT count(*) FROM information_schema.tables WHERE lower(table_name) = "
                            "'profdocumentcount'")
                     .toInt(),
                 0);
        QVERIFY(!DocumentCount::isKept(db));
    }

    // Every row and id of a made-up registry arrives; the views give the file's rows; new ids
    // continue past the highest the file ever gave.
    void moveKeepsEveryRowAndTheViews() {
        const QString file = makeFile(fillRegistry);
        const QByteArray before = fileHash(file);
        QSqlDatabase db = freshDatabase();
        QList<RegistryMove::Counts> counts;
        QStringList tablesReported;
        QString error;
        QVERIFY2(RegistryMove::toServer(file, db, &counts, &error,
                                        [&](const QString& table, qint64, qint64) {
                                            if (!tablesReported.contains(table))
                                                tablesReported << table;
                                            return true;
                                        }),
                 qPrintable(error));
        QCOMPARE(fileHash(file), before);
        QCOMPARE(counts.size(), ProfSchema::tables().size());
        QCOMPARE(tablesReported.size(), counts.size());
        QSqlDatabase sqlite = QSqlDatabase::addDatabase("QSQLITE", "moved");
        sqlite.setDatabaseName(file);
        QVERIFY(sqlite.open());
        for (const RegistryMove::Counts& c : counts) {
            QCOMPARE(c.server, c.file);
            const QString select = orderedSelect(ProfSchema::tables().value(c.table));
            const QStringList fileRows = rows(sqlite, select, true);
            QCOMPARE(fileRows.size(), int(c.file));
            QCOMPARE(rows(db, select), rows(sqlite, select));
        }
        QVERIFY(
            rows(db, "SELECT name FROM ProfDetails WHERE profId = " + QString::number(bigId) + " ORDER BY detId", true)
                .startsWith("Я последний по алфавиту"));
        for (const char* view : {"SELECT * FROM ViewProfDocuments", "SELECT * FROM ViewProfDetails"})
            QCOMPARE(rows(db, view, true), rows(sqlite, view, true));
        sqlite.close();
        sqlite = QSqlDatabase();
        QSqlDatabase::removeDatabase("moved");

        QCOMPARE(scalar(db, "INSERT INTO ProfDocuments (fio1) VALUES ('Новый') RETURNING profId").toLongLong(),
                 bigId + 101);
        QCOMPARE(scalar(db, "INSERT INTO ProfDetails (profId) VALUES (7) RETURNING detId").toLongLong(),
                 Q_INT64_C(5000000004));
        QVERIFY(scalar(db, "INSERT INTO Bosses (bossType) VALUES (2) RETURNING bossId").toLongLong() > 1);
        bool found = false;
        QVERIFY(ServerSchema::hasRegistry(db, &found, &error) && found);
    }

    void moveRefusesWithoutLeavingAnything_data() {
        using Fill = std::function<void(QSqlDatabase)>;
        using Server = std::function<void(PgTestServer*, const QString&)>;
        QTest::addColumn<Fill>("fill");
        QTest::addColumn<Server>("server");
        QTest::addColumn<QStringList>("said");
        const Server none = [](PgTestServer*, const QString&) {};
        QTest::newRow("text in a number column") << Fill([](QSqlDatabase db) {
            exec(db, "INSERT INTO ProfDocuments (profId, isExcellent) VALUES (?, 'да')", {bigId});
        }) << none << QStringList{"ProfDocuments", QString::number(bigId), "isExcellent", "да"};
        QTest::newRow("fraction in a number column") << Fill([](QSqlDatabase db) {
            exec(db, "INSERT INTO ProfDocuments (profId) VALUES (1)");
            exec(db, "INSERT INTO ProfDetails (detId, profId, count) VALUES (4, 1, 1.5)");
        }) << none << QStringList{"ProfDetails", "detId = 4", "count", "1.5"};
        QTest::newRow("binary in a text column") << Fill([](QSqlDatabase db) {
            exec(db, "INSERT INTO ProfDocuments (profId, fio1) VALUES (2, ?)", {QByteArray("\x00\xff", 2)});
        }) << none << QStringList{"ProfDocuments", "profId = 2", "fio1"};
        QTest::newRow("variable without a name")
            << Fill([](QSqlDatabase db) { exec(db, "INSERT INTO Variables (Name, Value) VALUES (NULL, 'x')"); }) << none
            << QStringList{"Variables", "Name", "NULL"};
        QTest::newRow("a table the program does not know")
            << Fill([](QSqlDatabase db) { exec(db, "CREATE TABLE Notes (x TEXT)"); }) << none << QStringList{"Notes"};
        QTest::newRow("a column the program does not know")
            << Fill([](QSqlDatabase db) { exec(db, "ALTER TABLE Bosses ADD COLUMN phone TEXT"); }) << none
            << QStringList{"Bosses", "phone"};
        QTest::newRow("a registry already there")
            << Fill(fillRegistry) << Server([](PgTestServer* server, const QString& name) {
                   server->exec(name, {"CREATE TABLE ProfDocuments (profId BIGINT)"});
               })
            << QStringList{RegistryMove::alreadyThereText()};
        QTest::newRow("a read-only server")
            << Fill(fillRegistry) << Server([](PgTestServer* server, const QString& name) {
                   server->exec(name, {QString("ALTER DATABASE %1 SET default_transaction_read_only = on").arg(name)});
               })
            << QStringList{"read-only"};
    }

    void moveRefusesWithoutLeavingAnything() {
        QFETCH(std::function<void(QSqlDatabase)>, fill);
        QFETCH(std::function<void(PgTestServer*, const QString&)>, server);
        QFETCH(QStringList, said);
        const QString file = makeFile(fill);
        const QByteArray before = fileHash(file);
        QString name;
        QSqlDatabase db = freshDatabase(&name);
        server(_server, name);
        // The database's settings reach new connections only.
        db.close();
        QVERIFY(db.open());
        const QStringList relations = serverRelations(db);
        QString error;
        QVERIFY(!RegistryMove::toServer(file, db, nullptr, &error));
        for (const QString& text : said)
            QVERIFY2(error.contains(text, Qt::CaseInsensitive), qPrintable(error));
        QCOMPARE(serverRelations(db), relations);
        QCOMPARE(fileHash(file), before);
    }

    // Stopping in the middle of the appendix rows undoes the rows already sent.
    void cancelLeavesNothing() {
        const QString file = makeFile([](QSqlDatabase db) {
            db.transaction();
            exec(db, "INSERT INTO ProfDocuments (profId) VALUES (1)");
            for (int i = 0; i < 5000; ++i)
                exec(db, "INSERT INTO ProfDetails (profId, name, count) VALUES (1, 'Предмет', ?)", {i});
            db.commit();
        });
        QSqlDatabase db = freshDatabase();
        QString error;
        qint64 sent = 0;
        QVERIFY(!RegistryMove::toServer(file, db, nullptr, &error, [&](const QString& table, qint64 done, qint64) {
            if (table == "ProfDetails")
                sent = done;
            return sent == 0;
        }));
        QVERIFY(sent > 0 && sent < 5000);
        QVERIFY2(error.contains("отменён"), qPrintable(error));
        QCOMPARE(serverRelations(db), QStringList());
    }

    // A missing file, a file that is no database, and one the running program holds.
    void unreadableFileIsSaid() {
        QSqlDatabase db = freshDatabase();
        QString error;
        QVERIFY(!RegistryMove::toServer(_dir.filePath("absent.sqlite"), db, nullptr, &error));
        QVERIFY2(error.contains("не найден"), qPrintable(error));

        const QString garbage = _dir.filePath("garbage.sqlite");
        QFile file(garbage);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
        file.close();
        QVERIFY(!RegistryMove::toServer(garbage, db, nullptr, &error));
        QVERIFY2(error.contains(garbage), qPrintable(error));

        const QString held = makeFile(fillRegistry);
        Database::setSchema(ProfSchema::tables(), ProfSchema::mainPrimaryKeyName());
        QTemporaryDir home;
        qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
        qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
        QStandardPaths::setTestModeEnabled(true);
        Database::useFile(held);
        {
            Database program(true);
            QVERIFY(program.isValid());
            QVERIFY(!RegistryMove::toServer(held, db, nullptr, &error));
            QVERIFY2(error.contains("занят"), qPrintable(error));
            program.commitAndClose();
        }
        QCOMPARE(serverRelations(db), QStringList());
        QVERIFY2(RegistryMove::toServer(held, db, nullptr, &error), qPrintable(error));
    }
};

ORVANE_TEST(TestServerSchema)
#include "tst_serverschema.moc"
