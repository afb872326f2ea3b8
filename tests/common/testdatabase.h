#pragma once

#include "database.h"
#include "testenvironment.h"

#include <QPointer>
#include <QStringList>
#include <QVariant>
#include <memory>

class StartupQuestions;

// A test's own data folder with the training-document schema registered. The database itself is
// constructed on demand, so a test may first put any file in its place. Whoever the executable
// names answers the database's questions (the windows' tests: the program's start-up boxes; the
// core's: nobody), and the exit code of a failed start is recorded.
class TestDatabase {
public:
    TestDatabase();
    ~TestDatabase();

    static void useStartupQuestions(StartupQuestions* questions);

    TestEnvironment& env() { return _env; }
    QString filePath() const;
    Database* open();
    void close();
    Database* db() const { return _db.data(); }
    // Exit codes of the starts that failed since construction.
    QList<int> exitCodes() const { return _exitCodes; }

private:
    TestEnvironment _env;
    // A window under test may shut the database down itself (the main window does).
    QPointer<Database> _db;
    QList<int> _exitCodes;
};

// Runs statements on a file through a private connection; returns the first error text.
QString execOnFile(const QString& path, const QStringList& statements);
// The rows of a query on a file, each row a list of values.
QList<QVariantList> queryFile(const QString& path, const QString& sql);

class QSqlQuery;
// A statement with bound values on the program's own connection; failures are logged.
QSqlQuery runSql(const QString& sql, const QVariantList& values = {});
// Inserts one row of column values into `table`; the new row's id.
int insertRow(const QString& table, const QVariantMap& columns);
