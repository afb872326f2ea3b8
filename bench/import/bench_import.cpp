// Measures the import's write on a large registry: N documents, each with a 12-subject template's
// appendix and an FRDO row, made by ImportStore::write on a fresh copy of the registry, beside a
// plain sqlite3 insert of the same rows (one transaction, prepared statements) on another copy.
// With --server the same write is timed on a throwaway PostgreSQL server too, into a fresh move of
// the registry there.
//   bench_import [--db REGISTRY.db] [--records N[,N...]] [--server]
// Without --db a 100,000-document registry is made with dbgen (beside this program).
#include "database.h"
#include "importstore.h"
#include "pgtestserver.h"
#include "planbench.h"
#include "profschema.h"
#include "registrymove.h"

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdio>
#include <sqlite3.h>
#include <sys/resource.h>

namespace {
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

const int subjectCount = 12;
const QStringList surnames = {"Иванов", "Петров", "Сидоров", "Кузнецов", "Смирнов", "Попов", "Васильев"};
const QStringList names = {"Александр", "Дмитрий", "Максим", "Сергей", "Андрей", "Алексей"};

// The process's own processor time, user and system, in ms: on a shared machine it says what the
// wall clock cannot.
double cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0; // kilobytes on Linux
}

// The statements that give a registry the import's template: 12 subjects and an FRDO row.
QStringList templateStatements(qint64 id) {
    QStringList statements;
    statements << QStringLiteral("INSERT INTO ProfDocuments (profId, isTemplate, fio1, qual, profession, addInfo, "
                                 "hideTotalCountInAdd, comment) VALUES (%1, 1, 'Шаблон группы', '2 разряд', "
                                 "'Сварщик', 'Доп. сведения', 0, '');")
                      .arg(id);
    for (int s = 1; s <= subjectCount; ++s)
        statements << QStringLiteral("INSERT INTO ProfDetails (profId, name, count, rate) VALUES (%1, 'Предмет %2', "
                                     "%3, 'хорошо');")
                          .arg(id)
                          .arg(s)
                          .arg(s * 8);
    statements << QStringLiteral("INSERT INTO ProfFrdo (profId, frdo13, frdo21, frdo22, studyPeriod, docType) VALUES "
                                 "(%1, 'Программа', 'очная', 'бюджет', '3 мес.', 'Свидетельство');")
                      .arg(id);
    return statements;
}

// What the plan would hand over for a group of `count`.
QVector<ImportRecord> makeRecords(int count) {
    QVector<ImportRecord> records;
    records.reserve(count);
    for (int i = 0; i < count; ++i) {
        ImportRecord r;
        r.document = {{"isTemplate", 0},
                      {"fio1", surnames.at(i % surnames.size()) + QString::number(i)},
                      {"fio2", names.at(i % names.size())},
                      {"fio3", QStringLiteral("Петрович")},
                      {"attNumber", QStringLiteral("ИМ %1").arg(i + 1, 6, 10, QLatin1Char('0'))},
                      {"regNumber", QString::number(900000 + i)},
                      {"birthDate", QDate(2000, 1, 1).addDays(i % 3000)},
                      {"issueDate", QDate(2024, 6, 30)},
                      {"startDate", QDate(2024, 3, 1)},
                      {"finishDate", QDate(2024, 6, 1)},
                      {"qual", QStringLiteral("2 разряд")},
                      {"profession", QStringLiteral("Сварщик")},
                      {"addInfo", QStringLiteral("Доп. сведения")},
                      {"hideTotalCountInAdd", 0}};
        r.frdo = {{"snils", QStringLiteral("112-233-445 95")}, {"sexIsMale", 1}};
        records << r;
    }
    return records;
}

bool runAll(sqlite3* db, const QStringList& statements) {
    for (const QString& statement : statements)
        if (sqlite3_exec(db, statement.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "sqlite3: %s\n", sqlite3_errmsg(db));
            return false;
        }
    return true;
}

void bindText(sqlite3_stmt* statement, int at, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(statement, at, utf8.constData(), utf8.size(), SQLITE_TRANSIENT);
}

// The same documents, subjects and FRDO rows through SQLite's own interface: the floor.
double plainInsert(const QString& file, const QVector<ImportRecord>& records, qint64 templateId) {
    sqlite3* db = nullptr;
    if (sqlite3_open(file.toUtf8().constData(), &db) != SQLITE_OK)
        return -1;
    runAll(db, {QStringLiteral("PRAGMA locking_mode = EXCLUSIVE;")});
    runAll(db, templateStatements(templateId));
    const char* columns[] = {"fio1",      "fio2",      "fio3",       "attNumber", "regNumber",  "birthDate",
                             "issueDate", "startDate", "finishDate", "qual",      "profession", "addInfo"};
    sqlite3_stmt* document = nullptr;
    sqlite3_stmt* subject = nullptr;
    sqlite3_stmt* frdo = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO ProfDocuments (fio1, fio2, fio3, attNumber, regNumber, birthDate, issueDate, "
                       "startDate, finishDate, qual, profession, addInfo, isTemplate, hideTotalCountInAdd, editDate, "
                       "comment) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,0,0,?,'')",
                       -1, &document, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO ProfDetails (profId, name, count, rate) VALUES (?,?,?,'хорошо')", -1, &subject,
                       nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO ProfFrdo (profId, sexIsMale, snils, docSerial, docNumber, RegNumberFrdo, "
                       "docType, frdo13, frdo21, frdo22, studyPeriod, studyCount, birthDateFrdo, beginDate, endDate, "
                       "issueDateFrdo, frdo15, frdo16, frdo18, frdo19, frdo20) VALUES (?,1,'11223344595','ИМ',?,?,"
                       "'Свидетельство','Программа','очная','бюджет','3 мес.',624,?,?,?,?,'Сварщик','2 разряд','Нет',"
                       "'Нет','Нет')",
                       -1, &frdo, nullptr);
    const QString now = QDateTime::currentDateTime().toString(Qt::ISODate);
    QElapsedTimer timer;
    timer.start();
    runAll(db, {QStringLiteral("BEGIN;")});
    for (const ImportRecord& r : records) {
        int at = 1;
        for (const char* column : columns)
            bindText(document, at++, r.document.value(QLatin1String(column)).toString());
        bindText(document, at, now);
        sqlite3_step(document);
        sqlite3_reset(document);
        const sqlite3_int64 id = sqlite3_last_insert_rowid(db);
        for (int s = 1; s <= subjectCount; ++s) {
            sqlite3_bind_int64(subject, 1, id);
            bindText(subject, 2, QStringLiteral("Предмет %1").arg(s));
            sqlite3_bind_int(subject, 3, s * 8);
            sqlite3_step(subject);
            sqlite3_reset(subject);
        }
        sqlite3_bind_int64(frdo, 1, id);
        bindText(frdo, 2, r.document.value(QStringLiteral("attNumber")).toString().mid(3));
        bindText(frdo, 3, r.document.value(QStringLiteral("regNumber")).toString());
        bindText(frdo, 4, r.document.value(QStringLiteral("birthDate")).toString());
        bindText(frdo, 5, r.document.value(QStringLiteral("startDate")).toString());
        bindText(frdo, 6, r.document.value(QStringLiteral("finishDate")).toString());
        bindText(frdo, 7, r.document.value(QStringLiteral("issueDate")).toString());
        sqlite3_step(frdo);
        sqlite3_reset(frdo);
    }
    runAll(db, {QStringLiteral("COMMIT;")});
    const double ms = timer.nsecsElapsed() / 1e6;
    sqlite3_finalize(document);
    sqlite3_finalize(subject);
    sqlite3_finalize(frdo);
    sqlite3_close(db);
    return ms;
}

struct Figures {
    double writeMs = -1;
    double cpuMs = -1;
    int progressCalls = 0;
    double peakMb = 0;
    double historyBytes = 0; // of the history's entries per document
};

// Opens a fresh copy of `registry` with the template in it as the program's database.
Database* openCopy(const QString& registry, const QString& copy, qint64 templateId) {
    QFile::remove(copy);
    if (!QFile::copy(registry, copy))
        return nullptr;
    Database::useFile(copy);
    auto* db = new Database(true);
    for (const QString& statement : templateStatements(templateId))
        db->execSql(statement);
    return db;
}

void close(Database* db, const QString& copy) {
    db->commitAndClose();
    delete db;
    QFile::remove(copy);
}

// ImportStore::write on a fresh copy of `registry`, committed as the window's import commits.
Figures importWrite(const QString& registry, const QString& copy, const QVector<ImportRecord>& records,
                    qint64 templateId) {
    Figures figures;
    Database* db = openCopy(registry, copy, templateId);
    if (!db)
        return figures;
    QList<qint64> ids;
    QString error;
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = cpuMs();
    const bool written = ImportStore::write(records, templateId, &ids, &error, [&](int, int) {
        ++figures.progressCalls;
        return true;
    });
    figures.writeMs = timer.nsecsElapsed() / 1e6;
    figures.cpuMs = cpuMs() - cpuBefore;
    figures.peakMb = peakMegabytes();
    if (!written || ids.size() != records.size()) {
        std::fprintf(stderr, "import failed: %s\n", qPrintable(error));
        figures.writeMs = -1;
    }
    QSqlQuery size(QSqlDatabase::database());
    if (size.exec(QStringLiteral("SELECT AVG(LENGTH(changes)) FROM DocumentHistory")) && size.next())
        figures.historyBytes = size.value(0).toDouble();
    close(db, copy);
    return figures;
}

// The same write on a throwaway server, into a fresh move of `registry` there.
Figures importWriteOnServer(const QString& registry, const QVector<ImportRecord>& records, qint64 templateId) {
    Figures figures;
    QString error;
    PgTestServer* server = PgTestServer::shared(&error);
    const QString name = server ? server->createDatabase(&error) : QString();
    if (name.isEmpty()) {
        std::fprintf(stderr, "no server: %s\n", qPrintable(error));
        return figures;
    }
    bool moved = false;
    {
        QSqlDatabase target = server->connect(QStringLiteral("benchmove"), name, &error);
        QList<RegistryMove::Counts> counts;
        moved = target.isOpen() && RegistryMove::toServer(registry, target, &counts, &error);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("benchmove"));
    if (!moved) {
        std::fprintf(stderr, "move failed: %s\n", qPrintable(error));
        return figures;
    }
    Database::useServer(server->addressOf(name));
    auto* db = new Database(true);
    for (const QString& statement : templateStatements(templateId))
        db->execSql(statement);
    QList<qint64> ids;
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = cpuMs();
    const bool written = ImportStore::write(records, templateId, &ids, &error);
    figures.writeMs = timer.nsecsElapsed() / 1e6;
    figures.cpuMs = cpuMs() - cpuBefore;
    if (!written || ids.size() != records.size()) {
        std::fprintf(stderr, "import failed: %s\n", qPrintable(error));
        figures.writeMs = -1;
    }
    db->commitAndClose();
    delete db;
    Database::useDataFolderFile();
    return figures;
}

QString makeRegistry(const QTemporaryDir& work) {
    const QString file = work.filePath(QStringLiteral("generated.db"));
    QProcess dbgen;
    dbgen.start(QCoreApplication::applicationDirPath() + QStringLiteral("/dbgen"), {file});
    if (!dbgen.waitForFinished(-1) || dbgen.exitCode() != 0) {
        std::fprintf(stderr, "dbgen failed: %s\n", dbgen.readAllStandardError().constData());
        return QString();
    }
    return file;
}
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QString registry;
    QVector<int> sizes = {1000, 10000};
    QStringList args = app.arguments().mid(1);
    const bool onServer = args.removeAll(QStringLiteral("--server")) > 0;
    for (int i = 0; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--db")) {
            registry = args.at(i + 1);
        } else if (args.at(i) == QLatin1String("--records")) {
            sizes.clear();
            for (const QString& n : args.at(i + 1).split(QLatin1Char(',')))
                sizes << n.toInt();
        }
    }
    if (args.size() % 2 != 0 || (!registry.isEmpty() && !QFile::exists(registry))) {
        std::fprintf(stderr, "usage: bench_import [--db REGISTRY.db] [--records N[,N...]] [--server]\n");
        return 2;
    }
    QTemporaryDir work;
    if (registry.isEmpty() && (registry = makeRegistry(work)).isEmpty())
        return 1;
    // The settings layer stays inside the work folder.
    qputenv("XDG_DATA_HOME", work.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", work.filePath(QStringLiteral("config")).toUtf8());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, work.filePath(QStringLiteral("config")));
    Database::setSchema(ProfSchema::tables(), ProfSchema::mainPrimaryKeyName());
    qInstallMessageHandler(quiet);
    const qint64 templateId = Q_INT64_C(1) << 32;
    const QString copy = work.filePath(QStringLiteral("copy.db"));
    std::printf("registry %s; template of %d subjects with an FRDO row\n", qPrintable(registry), subjectCount);
    std::printf("%8s %16s %12s %16s %8s %12s %14s\n", "records", "ImportStore ms", "its CPU ms", "sqlite3 C ms",
                "ratio", "peak RSS MB", "entry bytes");
    for (int count : qAsConst(sizes)) {
        const QVector<ImportRecord> records = makeRecords(count);
        const Figures ours = importWrite(registry, copy, records, templateId);
        QFile::remove(copy);
        QFile::copy(registry, copy);
        const double plain = plainInsert(copy, records, templateId);
        QFile::remove(copy);
        std::printf("%8d %16.1f %12.1f %16.1f %8.1f %12.1f %14.0f\n", count, ours.writeMs, ours.cpuMs, plain,
                    plain > 0 ? ours.writeMs / plain : 0.0, ours.peakMb, ours.historyBytes);
        std::fflush(stdout);
    }
    if (onServer) {
        std::printf("%8s %16s %12s   on a throwaway PostgreSQL server\n", "records", "ImportStore ms", "its CPU ms");
        for (int count : qAsConst(sizes)) {
            const Figures served = importWriteOnServer(registry, makeRecords(count), templateId);
            std::printf("%8d %16.1f %12.1f\n", count, served.writeMs, served.cpuMs);
            std::fflush(stdout);
        }
    }
    if (Database* db = openCopy(registry, copy, templateId)) {
        for (int count : qAsConst(sizes))
            benchPlan(count, templateId);
        close(db, copy);
    }
    return 0;
}
