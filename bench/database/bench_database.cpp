// Measures the data store on a large registry and sets each figure beside the time the sqlite3
// command-line shell needs for the same work on the same file.
//   bench_database REGISTRY.db      (make one with: dbgen REGISTRY.db)
#include "../common/sqliteshell.h"
#include "appresources.h"
#include "appsettings.h"
#include "database.h"
#include "messagebox.h"
#include "profschema.h"
#include "usedvalues.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {
QString dbPath;

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

template <typename Work> double median(int runs, Work work) {
    QVector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        times << t.nsecsElapsed() / 1e9;
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void report(const char* what, double ours, double sqlite) {
    std::printf("%-46s %9.1f ms   sqlite3 %9.1f ms   ratio %5.2f\n", what, ours * 1e3, sqlite * 1e3,
                sqlite > 0 ? ours / sqlite : 0.0);
}

void copyRegistry(const QString& source) {
    QFile::remove(dbPath);
    QFile::copy(source, dbPath);
}

QString viewsScript() {
    QFile f(QStringLiteral(":/views.sql"));
    f.open(QIODevice::ReadOnly);
    return QString::fromUtf8(f.readAll());
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    initAppResources();
    if (argc < 2 || !QFile::exists(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "usage: bench_database REGISTRY.db\n");
        return 2;
    }
    const QString registry = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path() + QStringLiteral("/config"));
    Database::setSchema(ProfSchema::tables(), ProfSchema::mainPrimaryKeyName());
    qInstallMessageHandler(quiet);
    dbPath = Database::filePath();
    const int runs = 5;

    const QString copyTarget = dbPath + QStringLiteral(".copy");
    const double copy = median(runs, [&] {
        QFile::remove(copyTarget);
        QFile::copy(registry, copyTarget);
    });
    QFile::remove(copyTarget);
    report("safety copy of the file (before a migration)", copy, 0);

    copyRegistry(registry);
    const double open = median(runs, [] { Database(true).commitAndClose(); });
    report("construction to \"Views updated\"", open, sqliteSeconds(dbPath, viewsScript()));

    const QString drop = QStringLiteral("ALTER TABLE ProfDocuments DROP COLUMN profProgName; ALTER TABLE "
                                        "ProfDocuments DROP COLUMN startDate; ALTER TABLE ProfDocuments DROP "
                                        "COLUMN finishDate;");
    QVector<double> migrate;
    for (int i = 0; i < runs; ++i) {
        copyRegistry(registry);
        sqliteSeconds(dbPath, drop);
        QElapsedTimer t;
        t.start();
        Database(true).commitAndClose();
        migrate << t.nsecsElapsed() / 1e9;
    }
    std::sort(migrate.begin(), migrate.end());
    copyRegistry(registry);
    sqliteSeconds(dbPath, drop);
    const double sqliteAdd = sqliteSeconds(dbPath, QStringLiteral("ALTER TABLE ProfDocuments ADD COLUMN "
                                                                  "'profProgName' TEXT; ALTER TABLE ProfDocuments "
                                                                  "ADD COLUMN 'startDate' TEXT; ALTER TABLE "
                                                                  "ProfDocuments ADD COLUMN 'finishDate' TEXT;") +
                                                       viewsScript());
    report("construction adding three columns", migrate[runs / 2], sqliteAdd);

    copyRegistry(registry);
    Database db(true);
    const QString all = QStringLiteral("SELECT * FROM ViewProfDocuments;");
    int count = 0;
    const double list = median(runs, [&] {
        QSqlQuery q = db.execSql(all);
        count = 0;
        while (q.next())
            count += q.value(1).toString().size() > 0;
    });
    const QString one = QStringLiteral("SELECT * FROM ViewProfDetails WHERE profId = 50000;");
    const double appendix = median(runs, [&] {
        QSqlQuery q = db.execSql(one);
        while (q.next())
            q.value(1);
    });
    const QString subjects = QStringLiteral("SELECT * FROM ProfDetails WHERE profId = 50000 ORDER BY detId;");
    const double details = median(runs, [&] {
        QSqlQuery q = db.execSql(subjects);
        while (q.next())
            q.value(2);
    });
    const double frequent = median(runs, [&] {
        UsedValues::mostFrequentValues(QStringLiteral("ProfDocuments"), {QStringLiteral("profession")}, 0, false);
    });
    db.commitAndClose();
    report("all rows of ViewProfDocuments", list, sqliteSeconds(dbPath, all));
    report("ViewProfDetails of one document", appendix, sqliteSeconds(dbPath, one));
    report("ProfDetails rows of one document", details, sqliteSeconds(dbPath, subjects));
    report("most frequent ProfDocuments.profession", frequent,
           sqliteSeconds(dbPath, QStringLiteral("SELECT profession FROM ProfDocuments;")));
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("rows listed: %d; peak memory (max RSS): %.1f MB\n", count, usage.ru_maxrss / 1024.0);
    return 0;
}
