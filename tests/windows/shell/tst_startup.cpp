#include "testdatabase.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QProcess>
#include <QtTest>
#include <csignal>
#include <memory>

namespace {
void stop(QProcess& process) {
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

// Runs sqlite3 on a file; its standard output, or nothing when it failed.
QByteArray sqlite(const QString& file, const QString& sql) {
    QProcess process;
    process.start(QStringLiteral("sqlite3"), {file, sql});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QByteArray();
    return process.readAllStandardOutput().trimmed();
}

QStringList folderListing(const QString& folder) {
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        entries << it.filePath() + QLatin1Char(' ') + QString::number(it.fileInfo().size()) + QLatin1Char(' ') +
                       it.fileInfo().lastModified().toString(Qt::ISODateWithMs);
    }
    entries.sort();
    return entries;
}
} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void singleInstanceAndRecoveryAfterKill() {
        TestEnvironment env;
        const QString log = env.userFolder() + QStringLiteral("/debug.txt");

        auto first = startProgram(env);
        QVERIFY(first->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(readFileBytes(log).contains("SpellChecker::init():"), 30000);
        const QByteArray firstLog = readFileBytes(log);
        QVERIFY(firstLog.startsWith("\"Orvane build 1160 "));
        QVERIFY(firstLog.contains("\nAvailablePrinters: ("));
        QVERIFY(QFileInfo(env.defaultDataFolder()).isDir());
        QVERIFY(QFileInfo(env.defaultDataFolder() + QStringLiteral("/reports")).isDir());
        QVERIFY(QFileInfo(env.defaultDataFolder() + QStringLiteral("/Orvane.db")).size() > 0);
        QVERIFY(firstLog.contains("\nDatabase checked\nViews updated\n"));
        // The version check runs once the window is up and stores the version in the user store.
        QTRY_VERIFY_WITH_TIMEOUT(
            readFileBytes(env.userFolder() + QStringLiteral("/settings.ini")).contains("last_started_version=0.7.3"),
            30000);
        QCOMPARE(first->state(), QProcess::Running);

        // A second copy shows its refusal and touches nothing of the first one's. The first copy's
        // window appears 3 s into its start and may log then; the comparison starts after that.
        QTRY_VERIFY_WITH_TIMEOUT(readFileBytes(log).contains("Updates checked"), 30000);
        const QStringList before = folderListing(env.root());
        auto second = startProgram(env);
        QVERIFY(second->waitForStarted());
        QTest::qWait(2000); // it must touch nothing and keep waiting: time for it to do otherwise
        QCOMPARE(second->state(), QProcess::Running); // the refusal box is waiting for an answer
        QCOMPARE(folderListing(env.root()), before);
        stop(*second);

        // A copy that the computer-wide guard cannot see (another temporary folder here; another
        // account or computer on a shared data folder alike) meets the lock file beside the
        // database and is refused the same way.
        QTemporaryDir otherTemp;
        const QStringList beforeOther = folderListing(env.root());
        auto unseen = startProgram(env, {QStringLiteral("TMPDIR=") + otherTemp.path()});
        QVERIFY(unseen->waitForStarted());
        QTest::qWait(2000); // as above
        QCOMPARE(unseen->state(), QProcess::Running);
        QCOMPARE(folderListing(env.root()), beforeOther);
        stop(*unseen);

        // A crashed first copy leaves its segment behind; the next start must still succeed.
        ::kill(pid_t(first->processId()), SIGKILL);
        QVERIFY(first->waitForFinished(5000));
        auto third = startProgram(env);
        QVERIFY(third->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(readFileBytes(log).contains("SpellChecker::init():"), 30000);
        QVERIFY(readFileBytes(log).startsWith("\"Orvane build 1160 ")); // a fresh log
        QCOMPARE(third->state(), QProcess::Running);
        stop(*third);
    }

    // A writer killed in the middle of deleting every document leaves a hot journal. The next start
    // rolls it back instead of taking it for a missing permission, and every row is there.
    void startAfterKilledWrite() {
        constexpr int documents = 100000;
        TestDatabase data;
        data.open();
        data.close();
        const QString db = data.filePath();
        QVERIFY(sqlite(db, QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < "
                                          "%1) INSERT INTO ProfDocuments (isTemplate, fio1, qual) SELECT 0, "
                                          "'Фамилия ' || i, 'Квалификация' FROM n; SELECT 'filled';")
                               .arg(documents)) == "filled");

        QProcess writer;
        // Interactive: each answer comes at once, not when the output buffer is full.
        writer.start(QStringLiteral("sqlite3"), {QStringLiteral("-interactive"), db});
        QVERIFY(writer.waitForStarted());
        // A small cache makes the delete spill into the file itself before it is committed.
        writer.write("PRAGMA cache_size = 10;\nBEGIN;\nDELETE FROM ProfDocuments;\nSELECT 'dele' || 'ted';\n");
        QByteArray answers;
        QTRY_VERIFY_WITH_TIMEOUT((answers += writer.readAllStandardOutput()).contains("deleted"), 120000);
        ::kill(pid_t(writer.processId()), SIGKILL);
        QVERIFY(writer.waitForFinished(5000));
        QVERIFY(QFileInfo(db + QStringLiteral("-journal")).size() > 0);

        const QString log = data.env().userFolder() + QStringLiteral("/debug.txt");
        auto program = startProgram(data.env());
        QVERIFY(program->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(readFileBytes(log).contains("SpellChecker::init():"), 30000);
        const QByteArray started = readFileBytes(log);
        stop(*program);
        QVERIFY2(started.contains("\nDatabase checked\nViews updated\n"), started.constData());
        QVERIFY(started.contains("hot journal"));
        QVERIFY(!started.contains("database not available"));
        QCOMPARE(sqlite(db, QStringLiteral("SELECT COUNT(*) FROM ProfDocuments;")), QByteArray::number(documents));
        QCOMPARE(sqlite(db, QStringLiteral("PRAGMA integrity_check;")), QByteArray("ok"));
    }
};

ORVANE_TEST(TestStartup)
#include "tst_startup.moc"
