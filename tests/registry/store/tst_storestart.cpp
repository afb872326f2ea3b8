#include "appsettings.h"
#include "database.h"
#include "fileschema.h"
#include "scratchfilesystem.h"
#include "startupquestions.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>
#include <memory>

namespace {
using Kind = StartupProblem::Kind;

// Answers the store's questions the way a test says, and keeps what it was asked and told.
class RecordedAnswers : public StartupQuestions {
public:
    bool replace = false;
    QList<StartupProblem> asked;
    QList<StartupProblem> told;
    bool replaceUnrepairable(const StartupProblem& problem) override {
        asked << problem;
        return replace;
    }
    void tellFatal(const StartupProblem& problem) override { told << problem; }
};

// Runs statements on a file through a connection of its own; false with the first failure.
bool execOnFile(const QString& path, const QStringList& statements, QString* error = nullptr) {
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("setup"));
        db.setDatabaseName(path);
        ok = db.open();
        for (int i = 0; ok && i < statements.size(); ++i) {
            QSqlQuery query(db);
            ok = query.exec(statements[i]);
            if (!ok && error)
                *error = query.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("setup"));
    return ok;
}

QString scalar(const QString& path, const QString& sql) {
    QString value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("read"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(sql) && query.next())
                value = query.value(0).isNull() ? QStringLiteral("NULL") : query.value(0).toString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("read"));
    return value;
}

// A registry of an older version: the check adds columns to it.
const QStringList olderRegistry = {
    "CREATE TABLE 'ProfDocuments' ('profId' INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE NOT NULL, 'isTemplate' "
    "INTEGER, 'fio1' TEXT, 'qual' TEXT)",
    "INSERT INTO ProfDocuments (fio1) VALUES ('Иванов')"};
// ProfDetails without profId: a column that may not be empty cannot be added.
const QStringList unrepairable = {"CREATE TABLE 'ProfDetails' ('detId' INTEGER PRIMARY KEY, 'name' TEXT)",
                                  "INSERT INTO ProfDetails VALUES (1, 'keep me')"};
} // namespace

// The data store's start-up as the core reports it: what it found, what it asked, with which
// words and exit code, and that a file it cannot use is left as it was.
class TestStoreStart : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setUpAsTheProgram(); }

    void cleanup() { Database::setStartupQuestions(nullptr); }

    void startSituations_data() {
        QTest::addColumn<QString>("file"); // what lies at the database's place
        QTest::addColumn<int>("answer");   // -1: nobody to ask; 0: keep the file; 1: replace it
        QTest::addColumn<int>("kind");     // the problem found
        QTest::addColumn<int>("exitCode"); // of a start that ends
        QTest::addColumn<QString>("text"); // how the problem's text starts
        // The bytes at the place are as they were. (A check that fails keeps what it changed
        // before; the backup holds the file as it was.)
        QTest::addColumn<bool>("fileKept");
        const int none = int(Kind::None);
        const QString wrongFormat = QStringLiteral("Неверный формат базы данных. Исправить не удалось.\nОшибка: "
                                                   "Database::createColumn: ");
        QTest::newRow("missing") << "missing" << 0 << none << 0 << QString() << false;
        QTest::newRow("older registry") << "older" << 0 << none << 0 << QString() << false;
        QTest::newRow("unrepairable, replaced") << "unrepairable" << 1 << none << 0 << QString() << false;
        QTest::newRow("unrepairable, kept")
            << "unrepairable" << 0 << int(Kind::Unrepairable) << -1 << wrongFormat << false;
        QTest::newRow("unrepairable, nobody to ask")
            << "unrepairable" << -1 << int(Kind::Unrepairable) << -1 << wrongFormat << false;
        QTest::newRow("locked by another process") << "locked" << 0 << int(Kind::Unavailable) << 1
                                                   << QStringLiteral("База данных занята другой программой:\n") << true;
        QTest::newRow("read-only folder, older registry")
            << "read-only older" << 0 << int(Kind::Unavailable) << 1
            << QStringLiteral("Нет права на запись в базу данных:\n") << true;
        QTest::newRow("read-only folder, no file") << "read-only missing" << 0 << int(Kind::CannotCreate) << 0
                                                   << QStringLiteral("Не удалось создать новую базу данных\n") << true;
        QTest::newRow("read-only folder, current registry")
            << "read-only current" << 0 << none << 0 << QString() << true;
        QTest::newRow("a folder in the file's place")
            << "folder" << 0 << int(Kind::CannotCreate) << 0
            << QStringLiteral("Не удалось создать новую базу данных\nCant opeb db:") << true;
    }

    void startSituations() {
        QFETCH(QString, file);
        QFETCH(int, answer);
        QFETCH(int, kind);
        QFETCH(int, exitCode);
        QFETCH(QString, text);
        QFETCH(bool, fileKept);
        TestEnvironment env;
        AppSettings::setup();
        const bool readOnly = file.startsWith(QLatin1String("read-only"));
        std::unique_ptr<ScratchFileSystem> folder;
        if (readOnly) {
            folder = std::make_unique<ScratchFileSystem>(env.defaultDataFolder(), 8 << 20);
            if (!folder->canBeReadOnly())
                QSKIP("no way to make a folder read-only for root without mounting");
        }
        const QString path = Database::filePath();
        if (file == QLatin1String("older") || file == QLatin1String("read-only older") ||
            file == QLatin1String("locked"))
            QVERIFY(execOnFile(path, olderRegistry));
        else if (file == QLatin1String("unrepairable"))
            QVERIFY(execOnFile(path, unrepairable));
        else if (file == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(path));
        else if (file.endsWith(QLatin1String("current")))
            delete new Database(true);
        const QByteArray before = readFileBytes(path);
        QProcess holder;
        if (file == QLatin1String("locked")) {
            holder.start(QStringLiteral("sqlite3"), {path});
            holder.write("BEGIN EXCLUSIVE;\nSELECT 'held';\n");
            QVERIFY(holder.waitForReadyRead(10000));
        }
        if (readOnly)
            QVERIFY(folder->setReadOnly(true));

        RecordedAnswers answers;
        answers.replace = answer == 1;
        if (answer >= 0)
            Database::setStartupQuestions(&answers);
        auto db = std::make_unique<Database>(true);
        const StartupProblem problem = db->startupProblem();
        if (file == QLatin1String("locked")) {
            holder.closeWriteChannel();
            QVERIFY(holder.waitForFinished(10000));
        }
        if (readOnly)
            QVERIFY(folder->setReadOnly(false));

        QCOMPARE(int(problem.kind), kind);
        QCOMPARE(db->isValid(), problem.isNone());
        QVERIFY2(problem.text.startsWith(text), qPrintable(problem.text));
        if (!problem.isNone()) {
            QCOMPARE(problem.exitCode, exitCode);
            QVERIFY(!problem.error.isEmpty());
        }
        // The replacement is asked about once; any other end of the start is told once, and
        // nothing is shown twice.
        const bool askedFirst = file == QLatin1String("unrepairable") && answer >= 0;
        QCOMPARE(answers.asked.size(), askedFirst ? 1 : 0);
        const bool told = answer >= 0 && !problem.isNone() && problem.kind != Kind::Unrepairable;
        QCOMPARE(answers.told.size(), told ? 1 : 0);
        if (told)
            QCOMPARE(answers.told.first().text, problem.text);
        if (file == QLatin1String("unrepairable")) {
            // The file as it was waits in the backup whatever the answer; a kept file keeps its rows.
            const StartupProblem question = askedFirst ? answers.asked.first() : problem;
            QCOMPARE(readFileBytes(question.backupPath), before);
            QVERIFY(question.text.contains(question.backupPath));
            if (!db->isValid())
                QCOMPARE(scalar(path, QStringLiteral("SELECT name FROM ProfDetails")), QStringLiteral("keep me"));
        }
        if (fileKept)
            QVERIFY(readFileBytes(path) == before);
        if (file == QLatin1String("read-only current")) {
            QVERIFY(db->isReadOnly());
            QVERIFY2(db->startWarning().startsWith(QStringLiteral("База данных открыта только для чтения:\n")),
                     qPrintable(db->startWarning()));
        }
        if (db->isValid() && !readOnly) {
            db->commitAndClose();
            QCOMPARE(scalar(path, QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type='view'")),
                     QStringLiteral("2"));
            if (file == QLatin1String("older"))
                QCOMPARE(scalar(path, QStringLiteral("SELECT fio1 || '|' || IFNULL(profProgName, 'NULL') FROM "
                                                     "ProfDocuments")),
                         QStringLiteral("Иванов|NULL"));
        }
    }

    // The check stops at the first failing step: false, and the step's words with SQLite's reason.
    // A failed rebuild is rolled back: the table keeps its rows and no work table stays behind.
    void checkFailures_data() {
        QTest::addColumn<QStringList>("statements");
        QTest::addColumn<QString>("reason");
        QTest::newRow("an index in a table's place")
            << QStringList{"CREATE TABLE t (x)", "CREATE INDEX Bosses ON t (x)"}
            << QStringLiteral("Database::createTable: ");
        QTest::newRow("a column that may not be empty") << unrepairable << QStringLiteral("Database::createColumn: ");
        QTest::newRow("a rebuild that breaks a row")
            << QStringList{"CREATE TABLE 'ProfDetails' ('detId' INTEGER PRIMARY KEY, 'profId' INTEGER, "
                           "'name' TEXT, 'count' TEXT, 'rate' TEXT)",
                           "INSERT INTO ProfDetails VALUES (1, NULL, 'keep me', '8', '5')"}
            << QStringLiteral("Database::changeColumnType INSERT:");
        QTest::newRow("a read-only file") << olderRegistry << QStringLiteral("Database::createTable: ");
    }

    void checkFailures() {
        QFETCH(QStringList, statements);
        QFETCH(QString, reason);
        TestEnvironment env;
        AppSettings::setup();
        Database db(true);
        QVERIFY(db.isValid());
        const QString file = env.root() + QStringLiteral("/other.db");
        QVERIFY(execOnFile(file, statements));
        ScratchFileSystem folder(env.root() + QStringLiteral("/ro"), 1 << 20);
        QString target = file;
        if (QByteArray(QTest::currentDataTag()) == "a read-only file") {
            if (!folder.isMounted())
                QSKIP("a read-only file needs a file system of its own (root)");
            target = folder.path() + QStringLiteral("/other.db");
            QVERIFY(QFile::copy(file, target));
            QVERIFY(folder.setReadOnly(true));
        }
        const QByteArray before = readFileBytes(target);
        QString error;
        QVERIFY(!FileSchema(db.tables()).check(target, &error));
        QVERIFY2(error.startsWith(reason) && error.size() > reason.size(), qPrintable(error));
        if (reason.contains(QLatin1String("changeColumnType"))) {
            QCOMPARE(scalar(target, QStringLiteral("SELECT name || typeof(profId) FROM ProfDetails")),
                     QStringLiteral("keep menull"));
            QCOMPARE(scalar(target, QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE name LIKE 'tmp_%'")),
                     QStringLiteral("0"));
        }
        if (target != file) {
            QVERIFY(readFileBytes(target) == before);
            QVERIFY(folder.setReadOnly(false));
        }
    }

    // A refused write gives its caller false and SQLite's reason, and nothing else: the caller tells
    // of it, so the frame is not told a second time.
    void refusedWrites_data() {
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QString>("reason");
        QTest::newRow("trigger") << "CREATE TRIGGER refuse BEFORE INSERT ON Variables BEGIN SELECT RAISE(ABORT, "
                                    "'no variables here'); END"
                                 << "no variables here";
        QTest::newRow("read-only connection") << "PRAGMA query_only = ON"
                                              << "readonly";
    }

    void refusedWrites() {
        QFETCH(QString, refusal);
        QFETCH(QString, reason);
        TestEnvironment env;
        AppSettings::setup();
        Database db(true);
        QVERIFY(db.setVariable(QStringLiteral("Data/City"), QStringLiteral("Тверь")));
        QVERIFY(db.execSql(refusal).lastError().type() == QSqlError::NoError);
        QSignalSpy announcements(&db, &Database::writeFailed);
        QString error;
        QVERIFY(!db.setVariable(QStringLiteral("Data/City"), QStringLiteral("Псков"), &error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        QCOMPARE(announcements.size(), 0);
        QCOMPARE(db.variable(QStringLiteral("Data/City")), QStringLiteral("Тверь"));
    }
};

ORVANE_TEST(TestStoreStart)
#include "tst_storestart.moc"
