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
        QTest::qWait(3500);
        const QStringList before = folderListing(env.root());
        auto second = startProgram(env);
        QVERIFY(second->waitForStarted());
        QTest::qWait(2000);
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
        QTest::qWait(2000);
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
};

ORVANE_TEST(TestStartup)
#include "tst_startup.moc"
