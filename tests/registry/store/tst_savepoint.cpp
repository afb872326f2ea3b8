// The one savepoint every all-or-nothing write of the registry runs in, on a real SQLite file.

#include "savepoint.h"
#include "storequery.h"
#include "testregistry.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QSqlQuery run(const QString& statement) {
    QSqlQuery query(QSqlDatabase::database());
    if (!query.exec(statement))
        qWarning() << query.lastError().text() << statement;
    return query;
}

QStringList names() {
    QStringList rows;
    QSqlQuery query = run(QStringLiteral("SELECT name FROM Person ORDER BY rowid;"));
    while (query.next())
        rows << query.value(0).toString();
    return rows;
}

// The row is written, or SQLite's reason is kept in `error`.
bool insert(const QString& name, QString* error = nullptr) {
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(QStringLiteral("INSERT INTO Person(name) VALUES(?);"));
    query.addBindValue(name);
    if (query.exec())
        return true;
    if (error)
        *error = query.lastError().databaseText();
    return false;
}

// How a write goes wrong inside the savepoint.
enum class Trouble { None, WorkFails, Trigger, QueryOnly, ReleaseFails };

// What the store's write guard does with a save (Database::guardedWrite sets the real one).
enum class Guard { None, Allows, Declines, Rewords };

// Makes the writes of writePair() fail as `trouble` says, where it is the file's doing.
void arm(Trouble trouble) {
    if (trouble == Trouble::Trigger)
        run(QStringLiteral("CREATE TRIGGER refuse AFTER INSERT ON Person WHEN new.name = 'Вера' "
                           "BEGIN SELECT RAISE(ABORT, 'отказано'); END;"));
    if (trouble == Trouble::QueryOnly)
        run(QStringLiteral("PRAGMA query_only = 1;"));
}

// Two people written together; with ReleaseFails the second breaks a deferred key, which only the
// release (or commit) finds. False with SQLite's reason when a write is refused.
bool writePair(Trouble trouble, QString* error) {
    if (!insert(QStringLiteral("Борис"), error))
        return false;
    if (trouble == Trouble::ReleaseFails)
        run(QStringLiteral("INSERT INTO Person(name, parent) VALUES('Вера', 42);"));
    else if (!insert(QStringLiteral("Вера"), error))
        return false;
    return trouble != Trouble::WorkFails;
}
} // namespace
Q_DECLARE_METATYPE(Trouble)
Q_DECLARE_METATYPE(Guard)

class TestSavepoint : public QObject {
    Q_OBJECT

    QTemporaryDir _dir;

private slots:
    void init() {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
        db.setDatabaseName(_dir.filePath(QStringLiteral("savepoint.db")));
        QVERIFY(db.open());
        run(QStringLiteral("PRAGMA foreign_keys = ON;"));
        run(QStringLiteral("DROP TABLE IF EXISTS Person;"));
        run(QStringLiteral("DROP TABLE IF EXISTS Parent;"));
        run(QStringLiteral("CREATE TABLE Parent(id INTEGER PRIMARY KEY);"));
        // A deferred key is checked when the outermost savepoint is released: a failed commit.
        run(QStringLiteral("CREATE TABLE Person(name TEXT, parent INTEGER REFERENCES Parent(id) "
                           "DEFERRABLE INITIALLY DEFERRED);"));
        QVERIFY(insert(QStringLiteral("Анна")));
    }

    void cleanup() {
        Savepoint::setWriteGuard({});
        StoreQuery::setRunner({});
        { QSqlDatabase::database().close(); }
        QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    }

    void allOrNothing_data() {
        QTest::addColumn<bool>("inTransaction");
        QTest::addColumn<Trouble>("trouble");
        QTest::addColumn<QStringList>("kept");
        QTest::addColumn<QString>("reason");
        const QStringList before{QStringLiteral("Анна")};
        const QStringList after{QStringLiteral("Анна"), QStringLiteral("Борис"), QStringLiteral("Вера")};
        for (bool inTransaction : {false, true}) {
            const QByteArray where = inTransaction ? "inside a transaction: " : "alone: ";
            QTest::newRow(where + "written") << inTransaction << Trouble::None << after << QString();
            QTest::newRow(where + "work fails") << inTransaction << Trouble::WorkFails << before << QString();
            QTest::newRow(where + "trigger")
                << inTransaction << Trouble::Trigger << before << QStringLiteral("отказано");
            QTest::newRow(where + "read only") << inTransaction << Trouble::QueryOnly << before
                                               << QStringLiteral("attempt to write a readonly database");
        }
        QTest::newRow("alone: release is a failed commit")
            << false << Trouble::ReleaseFails << before << QStringLiteral("FOREIGN KEY constraint failed");
    }

    void allOrNothing() {
        QFETCH(bool, inTransaction);
        QFETCH(Trouble, trouble);
        QFETCH(QStringList, kept);
        QFETCH(QString, reason);
        arm(trouble);
        QSqlDatabase db = QSqlDatabase::database();
        if (inTransaction)
            QVERIFY(db.transaction());
        QString error;
        const bool done = Savepoint::run(
            QStringLiteral("people"), [&] { return writePair(trouble, &error); }, &error);
        QCOMPARE(done, trouble == Trouble::None);
        QCOMPARE(error, reason);
        if (inTransaction)
            QVERIFY(db.commit());
        run(QStringLiteral("PRAGMA query_only = 0;"));
        QCOMPARE(names(), kept);
    }

    // A save of the edit dialogs: its savepoint ends with the commit of the transaction it stands
    // in. A refused commit undoes the save's own work only; what was written before it stays open.
    void commitUndoesOnlyItsOwn_data() {
        QTest::addColumn<Trouble>("trouble");
        QTest::addColumn<QString>("reason");
        QTest::newRow("written") << Trouble::None << QString();
        QTest::newRow("trigger") << Trouble::Trigger << QStringLiteral("отказано");
        QTest::newRow("read only") << Trouble::QueryOnly << QStringLiteral("attempt to write a readonly database");
        QTest::newRow("commit refused") << Trouble::ReleaseFails << QStringLiteral("FOREIGN KEY constraint failed");
    }

    void commitUndoesOnlyItsOwn() {
        QFETCH(Trouble, trouble);
        QFETCH(QString, reason);
        QSqlDatabase db = QSqlDatabase::database();
        QVERIFY(db.transaction());
        QVERIFY(insert(QStringLiteral("Ёж")));
        arm(trouble);
        QString error;
        bool done = false;
        {
            Savepoint savepoint(QStringLiteral("save"));
            QVERIFY(savepoint.isOpen());
            done = writePair(trouble, &error) && savepoint.commit(&error);
        }
        QCOMPARE(done, trouble == Trouble::None);
        QCOMPARE(error, reason);
        run(QStringLiteral("PRAGMA query_only = 0;"));
        const QStringList earlier{QStringLiteral("Анна"), QStringLiteral("Ёж")};
        if (done) {
            // Committed: nothing is left open to roll back.
            QVERIFY(!db.rollback());
            QCOMPARE(names(), earlier + QStringList({QStringLiteral("Борис"), QStringLiteral("Вера")}));
            return;
        }
        QCOMPARE(names(), earlier);
        QVERIFY(db.rollback());
        QCOMPARE(names(), QStringList{QStringLiteral("Анна")});
    }

    // Writes that belong together inside an open transaction: all of them or none, and a release
    // the file refuses is told, not passed over.
    void nestedAllOrNothing_data() {
        QTest::addColumn<bool>("inTransaction");
        QTest::addColumn<Trouble>("trouble");
        QTest::addColumn<QString>("reason");
        QTest::newRow("inside: written") << true << Trouble::None << QString();
        QTest::newRow("inside: work fails") << true << Trouble::WorkFails << QString();
        QTest::newRow("inside: trigger") << true << Trouble::Trigger << QStringLiteral("отказано");
        QTest::newRow("alone: written") << false << Trouble::None << QString();
        QTest::newRow("alone: release refused")
            << false << Trouble::ReleaseFails << QStringLiteral("FOREIGN KEY constraint failed");
    }

    void nestedAllOrNothing() {
        QFETCH(bool, inTransaction);
        QFETCH(Trouble, trouble);
        QFETCH(QString, reason);
        arm(trouble);
        QSqlDatabase db = QSqlDatabase::database();
        if (inTransaction)
            QVERIFY(db.transaction());
        QString error;
        const bool done = Savepoint::nested(
            QStringLiteral("pair"), [&] { return writePair(trouble, &error); }, &error);
        QCOMPARE(done, trouble == Trouble::None);
        QCOMPARE(error, reason);
        // Nothing of a refused pair waits for a later commit.
        if (inTransaction)
            QVERIFY(db.commit());
        else
            QVERIFY(!db.rollback());
        const QStringList kept =
            done ? QStringList{QStringLiteral("Анна"), QStringLiteral("Борис"), QStringLiteral("Вера")}
                 : QStringList{QStringLiteral("Анна")};
        QCOMPARE(names(), kept);
    }

    // Left unreleased (an early return, an exception), the work is undone; released, it stays.
    void scopeUndoesUnreleasedWork() {
        {
            Savepoint savepoint(QStringLiteral("scoped"));
            QVERIFY(savepoint.isOpen());
            QVERIFY(insert(QStringLiteral("Борис")));
        }
        QCOMPARE(names(), QStringList{QStringLiteral("Анна")});
        {
            Savepoint outer(QStringLiteral("outer"));
            QVERIFY(insert(QStringLiteral("Борис")));
            {
                Savepoint inner(QStringLiteral("inner"));
                QVERIFY(insert(QStringLiteral("Вера")));
                inner.rollback();
            }
            QString error;
            QVERIFY(outer.release(&error));
            QVERIFY(error.isEmpty());
        }
        QCOMPARE(names(), (QStringList{QStringLiteral("Анна"), QStringLiteral("Борис")}));
    }

    // No connection, no work: the reason says so and nothing is begun.
    void refusesWorkItCannotUndo() {
        QSqlDatabase::database().close();
        bool ran = false;
        QString error;
        QVERIFY(!Savepoint::run(
            QStringLiteral("closed"), [&] { return ran = true; }, &error));
        QVERIFY(!ran);
        QCOMPARE(error, QStringLiteral("база данных не открыта"));
    }
    // write() runs its work through the guard the store sets: declined, nothing is begun and the
    // guard's reason is kept; allowed, the work is all or nothing and a failure's reason may be
    // reworded by the guard; without a guard write() is run().
    void writeGoesThroughTheGuard_data() {
        QTest::addColumn<Guard>("guard");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<QStringList>("kept");
        QTest::addColumn<QString>("reason");
        const QStringList before{QStringLiteral("Анна")};
        const QStringList after{QStringLiteral("Анна"), QStringLiteral("Борис")};
        const QString refused = QStringLiteral("отказано");
        QTest::newRow("no guard") << Guard::None << false << after << QString();
        QTest::newRow("no guard, failing") << Guard::None << true << before << refused;
        QTest::newRow("allowed") << Guard::Allows << false << after << QString();
        QTest::newRow("allowed, failing") << Guard::Allows << true << before << refused;
        QTest::newRow("declined") << Guard::Declines << false << before << QStringLiteral("Изменения не записаны");
        QTest::newRow("reworded") << Guard::Rewords << true << before << QStringLiteral("Нет связи\nотказано");
    }

    void writeGoesThroughTheGuard() {
        QFETCH(Guard, guard);
        QFETCH(bool, fails);
        QFETCH(QStringList, kept);
        QFETCH(QString, reason);
        int guarded = 0;
        if (guard != Guard::None)
            Savepoint::setWriteGuard([&](const std::function<bool()>& write, QString* error) {
                ++guarded;
                if (guard == Guard::Declines) {
                    *error = QStringLiteral("Изменения не записаны");
                    return false;
                }
                const bool done = write();
                if (!done && guard == Guard::Rewords)
                    *error = QStringLiteral("Нет связи\n") + *error;
                return done;
            });
        if (fails)
            run(QStringLiteral("CREATE TRIGGER refuse AFTER INSERT ON Person WHEN new.name = 'Борис' "
                               "BEGIN SELECT RAISE(ABORT, 'отказано'); END;"));
        bool ran = false;
        QString error;
        const bool done = Savepoint::write(
            QStringLiteral("guarded"), [&] { return (ran = true) && insert(QStringLiteral("Борис"), &error); }, &error);
        QCOMPARE(done, reason.isEmpty());
        QCOMPARE(error, reason);
        QCOMPARE(guarded, guard == Guard::None ? 0 : 1);
        QCOMPARE(ran, guard != Guard::Declines);
        QCOMPARE(names(), kept);
    }

    // StoreQuery::exec runs a query as the store runs its own once one is set, and on its own
    // otherwise (tools, tests before the database); a failure keeps its reason either way.
    void execGoesThroughTheRunner_data() {
        QTest::addColumn<bool>("withRunner");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("done");
        QTest::newRow("alone") << false << QStringLiteral("SELECT count(*) FROM Person;") << true;
        QTest::newRow("alone, failing") << false << QStringLiteral("SELECT nothing FROM Person;") << false;
        QTest::newRow("runner") << true << QStringLiteral("SELECT count(*) FROM Person;") << true;
        QTest::newRow("runner, failing") << true << QStringLiteral("SELECT nothing FROM Person;") << false;
    }

    void execGoesThroughTheRunner() {
        QFETCH(bool, withRunner);
        QFETCH(QString, sql);
        QFETCH(bool, done);
        int runs = 0;
        if (withRunner)
            StoreQuery::setRunner([&](QSqlQuery& query) {
                ++runs;
                return query.exec();
            });
        QSqlQuery query(QSqlDatabase::database());
        query.prepare(sql);
        QString error;
        QCOMPARE(StoreQuery::write(query, &error), done);
        QCOMPARE(error.isEmpty(), done);
        QCOMPARE(runs, withRunner ? 1 : 0);
        if (done)
            QVERIFY(query.next() && query.value(0).toInt() == 1);
    }
};

ORVANE_TEST(TestSavepoint)
#include "tst_savepoint.moc"
