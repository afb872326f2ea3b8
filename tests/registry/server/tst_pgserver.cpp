// The throwaway server the server-store tests run on: it starts on a socket of its own, keeps its
// data across a pause, takes password logins, and leaves nothing behind.
#include "pgtestserver.h"
#include "testregistry.h"

#include <QDir>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

namespace {
QVariant scalar(QSqlDatabase db, const QString& sql) {
    QSqlQuery query(db);
    return query.exec(sql) && query.next() ? query.value(0) : QVariant();
}

// The server processes whose command line names `folder`.
int serverProcesses(const QString& folder) {
    QProcess pgrep;
    pgrep.start(QStringLiteral("pgrep"), {"-f", "-c", folder});
    pgrep.waitForFinished(10000);
    return QString::fromLatin1(pgrep.readAllStandardOutput()).trimmed().toInt();
}
} // namespace

class TestPgServer : public QObject {
    Q_OBJECT

private slots:
    void startsPausesAndGoes() {
        QString folder;
        {
            PgTestServer server;
            QString error;
            QVERIFY2(server.start(&error), qPrintable(error));
            folder = server.socketFolder();
            QVERIFY(QFile::exists(folder + QStringLiteral("/.s.PGSQL.%1").arg(server.port())));
            const QString name = server.createDatabase(&error);
            QVERIFY2(!name.isEmpty(), qPrintable(error));
            QVERIFY2(server.exec(name,
                                 {"CREATE TABLE t (id BIGINT PRIMARY KEY, name TEXT)",
                                  "INSERT INTO t VALUES (5000000000, 'Иванов')"},
                                 &error),
                     qPrintable(error));
            {
                QSqlDatabase db = server.connect("first", name, &error);
                QVERIFY2(db.isOpen(), qPrintable(error));
                // No network address: only the socket.
                QCOMPARE(scalar(db, "SHOW listen_addresses").toString(), QString());
                QCOMPARE(scalar(db, "SELECT name FROM t WHERE id = 5000000000").toString(), QStringLiteral("Иванов"));
                QVERIFY2(server.pause(&error), qPrintable(error));
                QSqlQuery lost(db);
                QVERIFY(!lost.exec("SELECT 1"));
                QVERIFY2(server.resume(&error), qPrintable(error));
                db.close();
                QVERIFY(db.open());
                QCOMPARE(scalar(db, "SELECT count(*) FROM t").toInt(), 1);
            }
            QSqlDatabase::removeDatabase("first");

            QVERIFY2(server.addPasswordRole("clerk", "сек'рет", &error), qPrintable(error));
            {
                QSqlDatabase wrong = server.connect("wrong", name, &error, "clerk", "не тот");
                QVERIFY(!wrong.isOpen());
                QVERIFY2(error.contains("password", Qt::CaseInsensitive), qPrintable(error));
                QSqlDatabase right = server.connect("right", name, &error, "clerk", "сек'рет");
                QVERIFY2(right.isOpen(), qPrintable(error));
            }
            QSqlDatabase::removeDatabase("wrong");
            QSqlDatabase::removeDatabase("right");
            QVERIFY(serverProcesses(folder) > 0);
        }
        QVERIFY(!QDir(folder).exists());
        QTRY_COMPARE(serverProcesses(folder), 0);
    }
};

ORVANE_TEST(TestPgServer)
#include "tst_pgserver.moc"
