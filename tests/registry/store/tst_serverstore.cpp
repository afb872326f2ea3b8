// The data store on a server registry: opened and made at start, the document statements and the
// variables on it, its failures in words, and its backup and restore through registry files.
#include "appresources.h"
#include "appsettings.h"
#include "database.h"
#include "documentrecords.h"
#include "documentstore.h"
#include "edittransaction.h"
#include "fileschema.h"
#include "listchanges.h"
#include "pgtestserver.h"
#include "profschema.h"
#include "registrybackup.h"
#include "serverchangelog.h"
#include "serverconnection.h"
#include "serverschema.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlTableModel>
#include <QtTest>

namespace {
const qint64 bigId = Q_INT64_C(1) << 40;
const QString fileConnection = QStringLiteral("file");

// Values worth a round trip: a NULL, an id past 32 bits, an unreadable date, a long text.
QList<QVariantList> sampleDocuments() {
    return {{Q_INT64_C(1), QStringLiteral("Иванов"), QStringLiteral("2016-02-30"), QStringLiteral("Токарь")},
            {bigId, QStringLiteral("O'Neil \"Ёж\""), QVariant(), QString(1 << 20, QChar(0x044F))}, // я
            {Q_INT64_C(7), QVariant(), QStringLiteral("2024-05-01"), QVariant()}};
}

QVariantList documentRow(QSqlDatabase db, qint64 id) {
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT profId, fio1, issueDate, qual FROM ProfDocuments WHERE profId = ?"));
    query.addBindValue(id);
    if (!query.exec() || !query.next())
        return {};
    return {query.value(0).toLongLong(), query.value(1), query.value(2), query.value(3)};
}

qint64 count(QSqlDatabase db, const QString& table) {
    QSqlQuery query(db);
    return query.exec(QStringLiteral("SELECT count(*) FROM ") + table) && query.next() ? query.value(0).toLongLong()
                                                                                       : -1;
}

bool sameValues(const QVariantList& a, const QVariantList& b) {
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i)
        if (a[i].isNull() != b[i].isNull() || a[i].toString() != b[i].toString())
            return false;
    return true;
}
} // namespace

class TestServerStore : public QObject {
    Q_OBJECT

    PgTestServer* _server = nullptr;
    std::unique_ptr<TestEnvironment> _env;

    ServerAddress address(const QString& database) const { return _server->addressOf(database); }

    // Resumes a paused server when dropped, so that the next tests have it also when one fails.
    using ServerBack = std::unique_ptr<PgTestServer, void (*)(PgTestServer*)>;
    ServerBack resumedAfterwards() const {
        return ServerBack(_server, [](PgTestServer* s) {
            if (!s->isRunning())
                s->resume();
        });
    }

    // A document's row as another program reads it, on a connection of its own.
    QVariantList rowSeenElsewhere(qint64 id) const {
        QString error;
        QVariantList row;
        {
            QSqlDatabase other = _server->connect(QStringLiteral("other"), Database::serverAddress().database, &error);
            row = documentRow(other, id);
            other.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        return row;
    }

    // The process-wide store on a new server database holding the sample documents.
    QString openSample() {
        QString error;
        const QString database = _server->createDatabase(&error);
        if (database.isEmpty())
            return error;
        Database::useServer(address(database));
        if (!Database::instance()->isValid())
            return Database::instance()->startupProblem().text;
        QSqlDatabase db = QSqlDatabase::database();
        for (const QVariantList& row : sampleDocuments())
            if (!PgTestServer::run(db, "INSERT INTO ProfDocuments (profId, fio1, issueDate, qual) VALUES (?, ?, ?, ?)",
                                   row)
                     .isActive())
                return QStringLiteral("sample not written");
        PgTestServer::run(db, "INSERT INTO ProfDetails (profId, name, count) VALUES (?, 'Черчение', 12)", {bigId});
        // As a move leaves it: new rows are numbered past the ids given.
        PgTestServer::run(db, "SELECT setval(pg_get_serial_sequence('profdocuments', 'profid'), max(profId)) "
                              "FROM ProfDocuments");
        return QString();
    }

    // A registry file with one document and one subject, made the way the program makes one.
    static bool makeFile(const QString& path, qint64 id, const QString& name) {
        bool ok = true;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), fileConnection);
            db.setDatabaseName(path);
            ok = db.open();
            QString error;
            for (const DBTable& table : ProfSchema::tables())
                ok = ok && FileSchema::createTable(db, table, &error);
            ok = ok && FileSchema::runViewsScript(db, false, &error);
            ok = ok &&
                 PgTestServer::run(db, "INSERT INTO ProfDocuments (profId, fio1) VALUES (?, ?)", {id, name}).isActive();
            ok = ok &&
                 PgTestServer::run(db, "INSERT INTO ProfDetails (profId, name, count) VALUES (?, 'Сварка', 40)", {id})
                     .isActive();
            db.close();
        }
        QSqlDatabase::removeDatabase(fileConnection);
        return ok;
    }

private slots:
    void initTestCase() {
        setUpAsTheProgram();
        QString error;
        _server = PgTestServer::shared(&error);
        if (!_server)
            QSKIP(qPrintable(QStringLiteral("no test server: ") + error));
    }

    void init() {
        _env = std::make_unique<TestEnvironment>();
        AppSettings::setup();
    }

    void cleanup() {
        Database::shutdown();
        Database::useFile(_env->defaultDataFolder() + QStringLiteral("/unused.db"));
        _env.reset();
    }

    // An empty database gets a registry; the dialogs' statements, the variables and the table
    // models work on it as on a file.
    void opensAndWorks() {
        const QString failure = openSample();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        Database* store = Database::instance();
        QVERIFY(Database::usesServer());
        QCOMPARE(store->serverProblem(), ServerProblem::None);

        QString error;
        const qint64 id = DocumentRecords::insert(&error);
        QVERIFY2(id > bigId, qPrintable(error)); // numbered past the highest id given
        QVERIFY2(DocumentRecords::update(id, {{QStringLiteral("fio1"), QStringLiteral("Петров")}}, &error),
                 qPrintable(error));
        QSqlRecord row;
        QVERIFY(DocumentRecords::read(id, &row));
        QCOMPARE(row.value(QStringLiteral("fio1")).toString(), QStringLiteral("Петров"));

        QVERIFY2(store->setVariable(QStringLiteral("orgName"), QStringLiteral("Колледж «Север»"), &error),
                 qPrintable(error));
        QVERIFY2(store->setVariable(QStringLiteral("orgName"), QStringLiteral("Колледж 'Юг'"), &error),
                 qPrintable(error));
        QCOMPARE(store->variable(QStringLiteral("ORGNAME")), QStringLiteral("Колледж 'Юг'"));

        // A batch's savepoint outside the dialogs' transaction: the server gets a transaction for it.
        QVERIFY2(DocumentStore::deleteDocuments({Q_INT64_C(7)}, &error), qPrintable(error));
        QSqlDatabase other = _server->connect(QStringLiteral("other"), Database::serverAddress().database, &error);
        QCOMPARE(count(other, QStringLiteral("ProfDocuments")), qint64(3)); // 3 samples + 1 new - 1 deleted
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("other"));

        QSqlTableModel* subjects = store->tableModel(QStringLiteral("ProfDetails"));
        subjects->setFilter(QStringLiteral("profId = %1").arg(bigId));
        QVERIFY2(subjects->select(), qPrintable(subjects->lastError().text()));
        QCOMPARE(subjects->rowCount(), 1);
        QCOMPARE(subjects->record(0).value(QStringLiteral("name")).toString(), QStringLiteral("Черчение"));
    }

    // Another program reading the views in an open transaction does not hold a start up: a current
    // structure is not made again.
    void startBesideAnOpenTransaction() {
        QString error;
        const QString database = _server->createDatabase(&error);
        QVERIFY(_server->exec(database, {}, &error));
        Database::useServer(address(database));
        QVERIFY(Database::instance()->isValid());
        Database::shutdown();
        QSqlDatabase other = _server->connect(QStringLiteral("other"), database, &error);
        QVERIFY(other.transaction());
        QVERIFY(PgTestServer::run(other, "SELECT count(*) FROM ViewProfDocuments").isActive());
        QElapsedTimer clock;
        clock.start();
        QVERIFY(Database::instance()->isValid());
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        other.rollback();
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
    }

    // Another program's committed change reaches the store within the list's two seconds, a burst of
    // them as one; the program's own changes are not news to it.
    void othersChangesAreHeard() {
        const QString failure = openSample();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QSignalSpy heard(Database::instance(), &Database::changedElsewhere);
        QString error;
        QVERIFY2(DocumentRecords::update(bigId, {{QStringLiteral("fio1"), QStringLiteral("Своё")}}, &error),
                 qPrintable(error));
        QTest::qWait(600);
        QCOMPARE(heard.count(), 0);
        QSqlDatabase other = _server->connect(QStringLiteral("other"), Database::serverAddress().database, &error);
        QVERIFY(other.transaction());
        for (int i = 0; i < 20; ++i)
            PgTestServer::run(other, "UPDATE ProfDocuments SET fio2 = ? WHERE profId = 1", {QString::number(i)});
        PgTestServer::run(other, "DELETE FROM ProfDocuments WHERE profId = 7");
        QTest::qWait(300);
        QCOMPARE(heard.count(), 0); // nothing is news before it is committed
        QElapsedTimer clock;
        clock.start();
        QVERIFY(other.commit());
        QTRY_COMPARE_WITH_TIMEOUT(heard.count(), 1, 2000);
        QVERIFY(clock.elapsed() < 2000);
        QTest::qWait(500);
        QCOMPARE(heard.count(), 1);
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
    }

    // The list learns from the server's log which documents were written since it last asked,
    // whoever wrote them: a transaction still open when it asked is found once it commits, one
    // rolled back is no news, and a statement of many rows, TRUNCATE or entries pruned before the
    // list saw them mean reading everything.
    void listChangesFromTheLog() {
        const QString failure = openSample();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        ListChanges list;
        QVERIFY(list.take().all);
        const auto take = [&list] {
            const ListChanges::Changes changes = list.take();
            return changes.all ? QVector<qint64>{-1} : changes.ids;
        };
        QCOMPARE(take(), QVector<qint64>());

        QString error;
        QSqlDatabase other = _server->connect(QStringLiteral("other"), Database::serverAddress().database, &error);
        const auto cleanup = qScopeGuard([&other] {
            other.close();
            other = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("other"));
        });
        QVERIFY2(DocumentRecords::update(bigId, {{QStringLiteral("fio1"), QStringLiteral("Своё")}}, &error),
                 qPrintable(error));
        QVERIFY(other.transaction());
        QVERIFY(PgTestServer::run(other, "UPDATE ProfDocuments SET fio2 = 'Другой' WHERE profId = 1").isActive());
        QVERIFY(PgTestServer::run(other, "INSERT INTO ProfDocuments (profId, fio1) VALUES (5, 'Новый')").isActive());
        QCOMPARE(take(), QVector<qint64>{bigId});
        QVERIFY(other.commit());
        QCOMPARE(take(), (QVector<qint64>{1, 5}));

        QVERIFY(other.transaction());
        QVERIFY(PgTestServer::run(other, "DELETE FROM ProfDocuments WHERE profId = 7").isActive());
        QVERIFY(other.rollback());
        QCOMPARE(take(), QVector<qint64>());
        QVERIFY(PgTestServer::run(other, "DELETE FROM ProfDocuments WHERE profId = 7").isActive());
        // The subjects' and the FRDO rows' triggers touch the document (its row version).
        QVERIFY(PgTestServer::run(other, "INSERT INTO ProfDetails (profId, name) VALUES (1, 'Сварка')").isActive());
        QCOMPARE(take(), (QVector<qint64>{1, 7}));

        QVERIFY(PgTestServer::run(other, "INSERT INTO ProfDocuments (fio1) SELECT 'Группа' FROM "
                                         "generate_series(1, 10001)")
                    .isActive());
        QCOMPARE(take(), QVector<qint64>{-1});
        QCOMPARE(take(), QVector<qint64>());

        // Entries the list has already seen are pruned quietly; one it has not, with everything.
        QVERIFY(PgTestServer::run(other, "UPDATE orvane_list_log SET at = now() - interval '2 days'").isActive());
        QVERIFY2(ServerListLog::prune(other, &error), qPrintable(error));
        QCOMPARE(take(), QVector<qint64>());
        QVERIFY(PgTestServer::run(other, "UPDATE ProfDocuments SET fio3 = 'Старое' WHERE profId = 1").isActive());
        QVERIFY(PgTestServer::run(other, "UPDATE orvane_list_log SET at = now() - interval '2 days'").isActive());
        QVERIFY2(ServerListLog::prune(other, &error), qPrintable(error));
        QCOMPARE(count(other, QStringLiteral("orvane_list_log")), qint64(0));
        QCOMPARE(take(), QVector<qint64>{-1});

        QVERIFY(PgTestServer::run(other, "TRUNCATE ProfDocuments CASCADE").isActive());
        QCOMPARE(take(), QVector<qint64>{-1});
        QCOMPARE(take(), QVector<qint64>());

        // A log the server cannot read: everything.
        QVERIFY(PgTestServer::run(QSqlDatabase::database(), "DROP TABLE orvane_list_pruned").isActive());
        QCOMPARE(take(), QVector<qint64>{-1});
    }

    // The dialogs' used values are read on a connection of their own, again when they are wanted
    // after a change, so that a dialog takes them as they are without reading the table itself.
    void usedValuesReadAhead() {
        const QString failure = openSample();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        const QString table = QStringLiteral("ProfDocuments");
        const QString column = QStringLiteral("qual");
        DocumentStore::readUsedValuesAhead(table, {column, QStringLiteral("noSuchColumn")});
        QCOMPARE(DocumentStore::usedValues(table, column, 0, true),
                 (QStringList{QStringLiteral("Токарь"), QString(1 << 20, QChar(0x044F))}));

        QSignalSpy heard(Database::instance(), &Database::changedElsewhere);
        QString error;
        QSqlDatabase other = _server->connect(QStringLiteral("other"), Database::serverAddress().database, &error);
        PgTestServer::run(other, "UPDATE ProfDocuments SET qual = '  Сварщик ' WHERE profId = 7");
        QTRY_COMPARE_WITH_TIMEOUT(heard.count(), 1, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(!DocumentStore::usedValuesComing(table, {column}), 5000);
        // Now the table cannot be read at all; the store's own connection would wait and fail.
        QVERIFY(other.transaction());
        QVERIFY(PgTestServer::run(other, "LOCK TABLE ProfDocuments IN ACCESS EXCLUSIVE MODE").isActive());
        QElapsedTimer clock;
        clock.start();
        const QStringList values = DocumentStore::usedValues(table, column, 0, true);
        const qint64 took = clock.elapsed();
        other.rollback();
        QCOMPARE(values,
                 (QStringList{QStringLiteral("Сварщик"), QStringLiteral("Токарь"), QString(1 << 20, QChar(0x044F))}));
        QVERIFY2(took < 1000, qPrintable(QString::number(took)));
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
    }

    // The server goes away under the program: a save's failure says so on its reason, once, and a
    // save after the server is back succeeds, in the edit dialogs' transaction as outside it.
    void savesAfterTheServerIsBack() {
        const QString failure = openSample();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QSignalSpy said(Database::instance(), &Database::writeFailed);
        QObject dialog;
        EditTransaction::begin(&dialog);
        QString error;
        QVERIFY(_server->pause(&error));
        const ServerBack back = resumedAfterwards();
        const auto rename = [](const QString& name) {
            return [name](QString* why) {
                return DocumentRecords::update(bigId, {{QStringLiteral("fio1"), name}}, why);
            };
        };
        QVERIFY(!EditTransaction::save(&dialog, rename(QStringLiteral("Первый")), &error));
        // The save's own reason says it, in the clerk's words first; the frame is not told again.
        QVERIFY2(error.startsWith(QStringLiteral("Нет связи с сервером реестра")), qPrintable(error));
        QVERIFY2(error.contains(QStringLiteral("Введённое остаётся в открытых окнах")), qPrintable(error));
        QVERIFY(!DocumentRecords::update(bigId, {{QStringLiteral("fio1"), QStringLiteral("Второй")}}, &error));
        QVERIFY(!DocumentRecords::update(bigId, {{QStringLiteral("fio1"), QStringLiteral("Третий")}}, &error));
        QCOMPARE(said.count(), 0);
        QVERIFY(_server->resume(&error));
        QTest::qWait(2100); // past the pause between attempts
        error.clear();
        QVERIFY2(EditTransaction::save(&dialog, rename(QStringLiteral("Четвёртый")), &error), qPrintable(error));
        EditTransaction::release(&dialog);
        QCOMPARE(rowSeenElsewhere(bigId).value(1).toString(), QStringLiteral("Четвёртый"));
    }

    // A pair of writes that belongs to the dialogs' transaction is refused once the connection that
    // transaction stood on is gone: it is not committed on its own on a new connection. The next
    // save opens the connection again and goes through.
    void pairRefusedAfterTheConnectionWasLost() {
        const QString failure = openSample();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QObject dialog;
        EditTransaction::begin(&dialog);
        QString error;
        QVERIFY(_server->pause(&error));
        const ServerBack back = resumedAfterwards();
        QVERIFY2(_server->resume(&error), qPrintable(error));
        bool ran = false;
        QVERIFY(!EditTransaction::atomically(
            [&] {
                ran = true;
                return DocumentRecords::update(bigId, {{QStringLiteral("qual"), QStringLiteral("Пара")}}, &error);
            },
            &error));
        QVERIFY(!ran);
        QVERIFY(!error.isEmpty());
        error.clear();
        QVERIFY2(
            EditTransaction::save(
                &dialog,
                [](QString* why) {
                    return DocumentRecords::update(bigId, {{QStringLiteral("fio1"), QStringLiteral("После")}}, why);
                },
                &error),
            qPrintable(error));
        EditTransaction::release(&dialog);
        const QVariantList row = rowSeenElsewhere(bigId);
        QCOMPARE(row.value(1).toString(), QStringLiteral("После"));
        QVERIFY(row.value(3).toString() != QStringLiteral("Пара"));
    }

    void refusalsInWords_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("problem");
        QTest::newRow("wrong password") << "password" << int(ServerProblem::WrongPassword);
        QTest::newRow("no such database") << "database" << int(ServerProblem::DatabaseMissing);
    }

    void refusalsInWords() {
        QFETCH(QString, how);
        QFETCH(int, problem);
        QString error;
        ServerAddress a = address(_server->createDatabase(&error));
        if (how == QLatin1String("password")) {
            QVERIFY2(_server->addPasswordRole(QStringLiteral("clerk"), QStringLiteral("right"), &error),
                     qPrintable(error));
            a.user = QStringLiteral("clerk");
            a.password = QStringLiteral("wrong");
        } else {
            a.database = QStringLiteral("no_such_registry");
        }
        Database::useServer(a);
        Database* store = Database::instance();
        QVERIFY(!store->isValid());
        QCOMPARE(int(store->serverProblem()), problem);
        QCOMPARE(store->startupProblem().kind, StartupProblem::Kind::CannotOpen);
        QVERIFY2(store->startupProblem().text.contains(a.displayText()), qPrintable(store->startupProblem().text));
    }

    // The backup is a registry file: it opens as the file store, with every row and value.
    void backupIsARegistryFile() {
        const QString failure = openSample();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        const QString path = _env->root() + QStringLiteral("/копия.db");
        QString error;
        QVERIFY2(RegistryBackup(*Database::instance()).backup(path, &error), qPrintable(error));
        QVERIFY2(RegistryBackup(*Database::instance()).isRestoreCandidate(path, &error), qPrintable(error));
        {
            QSqlDatabase file = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), fileConnection);
            file.setDatabaseName(path);
            QVERIFY(file.open());
            QSqlDatabase server = QSqlDatabase::database();
            for (const DBTable& table : ProfSchema::tables())
                QCOMPARE(count(file, table.name), count(server, table.name));
            for (const QVariantList& row : sampleDocuments())
                QVERIFY(sameValues(documentRow(file, row[0].toLongLong()), row));
            QCOMPARE(count(file, QStringLiteral("ViewProfDocuments")), qint64(3));
            file.close();
        }
        QSqlDatabase::removeDatabase(fileConnection);
        QVERIFY(!QFile::exists(path + QStringLiteral(".part")));
    }

    // A destination that cannot be written keeps what it held.
    void backupRefusedKeepsTarget() {
        const QString failure = openSample();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        const QString path = _env->root() + QStringLiteral("/old.db");
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old backup") > 0);
        old.close();
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
        QString error;
        QVERIFY(!RegistryBackup(*Database::instance()).backup(path, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(readFileBytes(path), QByteArray("old backup"));
    }

    // The file's rows take the place of the server's, ids kept and the numbering past them; a file
    // that is no registry, or rows the server refuses, leave the server's registry as it was.
    void restoreReplacesRows_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("restored");
        QTest::newRow("registry file") << "registry" << true;
        QTest::newRow("not a database") << "garbage" << false;
        QTest::newRow("server refuses a row") << "refused" << false;
        QTest::newRow("server's structure cannot be checked") << "unchecked" << false;
    }

    void restoreReplacesRows() {
        QFETCH(QString, source);
        QFETCH(bool, restored);
        const QString failure = openSample();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QSqlDatabase server = QSqlDatabase::database();
        const QString path = _env->root() + QStringLiteral("/restore.db");
        const qint64 fileId = Q_INT64_C(5000000000);
        if (source == QLatin1String("garbage")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(4096, 'x')) > 0);
        } else {
            QVERIFY(makeFile(path, fileId, QStringLiteral("Сидоров")));
        }
        if (source == QLatin1String("refused")) {
            QVERIFY(PgTestServer::run(server, "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
                                              "$$ BEGIN RAISE EXCEPTION 'refused'; END $$")
                        .isActive());
            QVERIFY(PgTestServer::run(server, "CREATE TRIGGER refuse BEFORE INSERT ON ProfDetails "
                                              "FOR EACH ROW EXECUTE FUNCTION refuse()")
                        .isActive());
        }
        if (source == QLatin1String("unchecked")) {
            QVERIFY(PgTestServer::run(server, "DROP TABLE ProfDetails CASCADE").isActive());
            QVERIFY(PgTestServer::run(server, "CREATE VIEW ProfDetails AS SELECT 1 AS profId").isActive());
        }
        QString error;
        ListChanges list;
        list.take();
        QVERIFY(PgTestServer::run(server, "DELETE FROM orvane_list_log").isActive());
        QVERIFY(!list.take().all);
        QCOMPARE(RegistryBackup(*Database::instance()).restore(path, &error), restored);
        // A list reads everything after a restore, told by one entry of the log, not one per row.
        QCOMPARE(list.take().all, restored);
        QCOMPARE(count(server, QStringLiteral("orvane_list_log")), qint64(restored ? 1 : 0));
        if (!restored) {
            QVERIFY(!error.isEmpty());
            // The clerk's words come first, the server's own after them.
            if (source == QLatin1String("unchecked"))
                QVERIFY2(error.startsWith(QStringLiteral("Копия ")) &&
                             error.contains(QStringLiteral("\nРеестр на сервере не изменён.\nТехнические сведения: ")),
                         qPrintable(error));
            QCOMPARE(count(server, QStringLiteral("ProfDocuments")), qint64(3));
            QVERIFY(sameValues(documentRow(server, bigId), sampleDocuments()[1]));
            return;
        }
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(count(server, QStringLiteral("ProfDocuments")), qint64(1));
        QCOMPARE(count(server, QStringLiteral("ProfDetails")), qint64(1));
        QCOMPARE(documentRow(server, fileId).value(1).toString(), QStringLiteral("Сидоров"));
        const qint64 next = DocumentRecords::insert(&error);
        QVERIFY2(next > fileId, qPrintable(error));
    }

    // The export tool takes a server's address where it takes a file; a text longer than a cell
    // holds is refused there too, never cut; a server without a registry is a database it cannot use.
    void exportToolOnServer() {
        const QString failure = openSample();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        const QString url = Database::serverText();
        Database::shutdown();
        const QString out = _env->root() + QStringLiteral("/book.xlsx");
        QProcess tool;
        tool.start(binaryPath(QStringLiteral("orvane-export")), {"--db", url, "--book", out});
        QVERIFY(tool.waitForFinished(60000));
        const QString refusal = QString::fromUtf8(tool.readAllStandardError());
        QCOMPARE(tool.exitCode(), 4);
        QVERIFY2(refusal.contains(QStringLiteral("«Наименование квалификации» у документа «O'Neil \"Ёж\"» (номер "
                                                 "записи %1)")
                                      .arg(bigId)),
                 qPrintable(refusal));
        QVERIFY(!QFile::exists(out));
        tool.start(binaryPath(QStringLiteral("orvane-export")), {"--db", url, "--book", out, "--fio", "иванов"});
        QVERIFY(tool.waitForFinished(60000));
        QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
        QVERIFY(QFileInfo(out).size() > 0);
        QString error;
        ServerAddress empty = address(_server->createDatabase(&error));
        tool.start(binaryPath(QStringLiteral("orvane-export")), {"--db", empty.toUrl(), "--book", out + "2"});
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 6);
        QVERIFY(!QFile::exists(out + "2"));
    }

    // The tools' reading connection writes nothing, and an address without a registry is refused.
    void readingOnly() {
        QString error;
        const QString database = _server->createDatabase(&error);
        QVERIFY(!Database::openServerForReading(address(database), &error));
        QVERIFY2(error.contains(QStringLiteral("нет реестра")), qPrintable(error));
        QVERIFY(_server->exec(database, ServerSchema::statements(), &error));
        QVERIFY2(Database::openServerForReading(address(database), &error), qPrintable(error));
        QSqlQuery write(QSqlDatabase::database());
        QVERIFY(!write.exec(QStringLiteral("INSERT INTO ProfDocuments (fio1) VALUES ('x')")));
        QCOMPARE(count(QSqlDatabase::database(), QStringLiteral("ProfDocuments")), qint64(0));
    }
};

ORVANE_TEST(TestServerStore)
#include "tst_serverstore.moc"
