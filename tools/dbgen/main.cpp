// Generates a registry database of realistic training documents for benchmarks and manual tests:
//   dbgen [--docs N] [--subjects M] [--templates K] [--history H] [--first-id I] [--force] OUTPUT.db
// Every document gets M appendix subjects, one FRDO row and H entries of history. The file has the
// program's own schema.
#include "appresources.h"
#include "database.h"
#include "fileschema.h"
#include "profschema.h"
#include "snils.h"

#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <cstdio>

namespace {
const QStringList surnames = {"Иванов",  "Петров",   "Сидоров", "Кузнецов", "Смирнов", "Попов",    "Васильев",
                              "Соколов", "Михайлов", "Новиков", "Фёдоров",  "Морозов", "Волков",   "Алексеев",
                              "Лебедев", "Семёнов",  "Егоров",  "Павлов",   "Козлов",  "Степанов", "Николаев"};
const QStringList names = {"Александр", "Дмитрий", "Максим", "Сергей", "Андрей", "Алексей", "Артём",
                           "Илья",      "Кирилл",  "Михаил", "Никита", "Матвей", "Роман",   "Егор"};
const QStringList patronymics = {"Александрович", "Дмитриевич", "Сергеевич",  "Андреевич",   "Алексеевич",
                                 "Иванович",      "Петрович",   "Николаевич", "Владимирович"};
const QStringList professions = {"Сварщик ручной дуговой сварки",
                                 "Токарь",
                                 "Слесарь-ремонтник",
                                 "Электромонтёр",
                                 "Повар",
                                 "Водитель погрузчика",
                                 "Оператор котельной",
                                 "Машинист крана",
                                 "Бухгалтер",
                                 "Кассир",
                                 "Секретарь руководителя",
                                 "Охранник",
                                 "Продавец",
                                 "Парикмахер",
                                 "Маникюрша",
                                 "Штукатур",
                                 "Маляр",
                                 "Каменщик",
                                 "Плотник",
                                 "Монтажник санитарно-технических систем"};
const QStringList subjects = {"Охрана труда",
                              "Материаловедение",
                              "Черчение",
                              "Электротехника",
                              "Основы экономики",
                              "Допуски и технические измерения",
                              "Технология работ",
                              "Производственное обучение",
                              "Производственная практика",
                              "Промышленная безопасность",
                              "Оборудование и инструменты",
                              "Квалификационный экзамен"};
const QStringList grades = {"отлично", "хорошо", "удовлетворительно", "зачтено"};

QString pick(const QStringList& list) {
    return list.at(QRandomGenerator::global()->bounded(list.size()));
}

bool insertDocument(QSqlQuery& doc, QSqlQuery& det, QSqlQuery& frdo, qint64 id, int subjectCount, bool isTemplate) {
    auto* rnd = QRandomGenerator::global();
    const QDate issue = QDate(2015, 1, 1).addDays(rnd->bounded(4000));
    const QString profession = pick(professions);
    doc.bindValue(0, id);
    doc.bindValue(1, isTemplate ? 1 : 0);
    doc.bindValue(2, isTemplate ? QStringLiteral("Шаблон %1").arg(id) : pick(surnames));
    doc.bindValue(3, pick(names));
    doc.bindValue(4, pick(patronymics));
    doc.bindValue(5, QDate(1970, 1, 1).addDays(rnd->bounded(12000)).toString(Qt::ISODate));
    doc.bindValue(6, profession);
    doc.bindValue(7, profession + QStringLiteral("\n%1 разряд").arg(2 + rnd->bounded(5)));
    doc.bindValue(8, QStringLiteral("%1").arg(id, 6, 10, QLatin1Char('0')));
    doc.bindValue(9, issue.toString(Qt::ISODate));
    doc.bindValue(10, QStringLiteral("%1 %2").arg(issue.toString(Qt::ISODate), QStringLiteral("12:00:00")));
    doc.bindValue(11, QStringLiteral("СВ %1").arg(100000 + id));
    doc.bindValue(12, id % 10 == 0 ? 1 : 0);
    doc.bindValue(13, QStringLiteral("Программа профессиональной подготовки по профессии «%1»").arg(profession));
    doc.bindValue(14, issue.addDays(-180).toString(Qt::ISODate));
    doc.bindValue(15, issue.addDays(-3).toString(Qt::ISODate));
    doc.bindValue(16, QStringLiteral("%1-к").arg(1 + rnd->bounded(300)));
    doc.bindValue(17, issue.addDays(-3).toString(Qt::ISODate));
    doc.bindValue(18, 1);
    doc.bindValue(19, QStringLiteral("Аттестат о среднем общем образовании"));
    // Every fiftieth a duplicate (as its FRDO row says), every fourth of the rest about a post.
    doc.bindValue(20, !isTemplate && id % 50 == 0 ? 1 : 0);
    doc.bindValue(21, id % 4 == 0 ? 2 : 1);
    if (!doc.exec())
        return false;
    for (int s = 0; s < subjectCount; ++s) {
        det.bindValue(0, id);
        det.bindValue(1, subjects.at(s % subjects.size()));
        det.bindValue(2, 4 + rnd->bounded(70));
        det.bindValue(3, pick(grades));
        if (!det.exec())
            return false;
    }
    // A full FRDO row, every fiftieth document a duplicate, so that the upload table is as wide as
    // an office's.
    const bool duplicate = id % 50 == 0;
    const QDate begin = QDate(2015, 9, 1).addDays(rnd->bounded(0, 3000));
    // A SNILS with its right check number, as a real office's registry holds them. The fourth
    // draw is kept so that every later value stays what it was.
    const QString nine =
        QStringLiteral("%1%2%3").arg(rnd->bounded(100, 999)).arg(rnd->bounded(100, 999)).arg(rnd->bounded(100, 999));
    rnd->bounded(10, 99);
    const QString snils = QStringLiteral("%1-%2-%3 %4")
                              .arg(nine.mid(0, 3), nine.mid(3, 3), nine.mid(6, 3))
                              .arg(Snils::checkNumber(nine), 2, 10, QLatin1Char('0'));
    const QVariantList values = {
        id,
        snils,
        QStringLiteral("Свидетельство о профессии рабочего, должности служащего"),
        duplicate ? 1 : 0,
        rnd->bounded(2) ? 1 : -1,
        QStringLiteral("СВ"),
        QString::number(100000 + id),
        begin.addDays(200).toString(Qt::ISODate),
        QStringLiteral("%1-П").arg(id),
        QStringLiteral("Программа профессиональной подготовки по профессии рабочего, должности служащего"),
        QStringLiteral("Повар"),
        QStringLiteral("Повар"),
        QStringLiteral("3 разряд"),
        begin.toString(Qt::ISODate),
        begin.addDays(180).toString(Qt::ISODate),
        rnd->bounded(72, 480),
        QDate(1970, 1, 1).addDays(rnd->bounded(0, 12000)).toString(Qt::ISODate),
        QStringLiteral("643"),
        QStringLiteral("Очная"),
        QStringLiteral("Платное обучение"),
        QStringLiteral("в образовательной организации"),
        duplicate ? QStringLiteral("Справка из органов внутренних дел") : QString(),
        duplicate ? QStringLiteral("Нет") : QString(),
        duplicate ? QStringLiteral("Да") : QString(),
        duplicate ? QStringLiteral("Свидетельство о профессии рабочего, должности служащего") : QString(),
        duplicate ? QStringLiteral("СВ") : QString(),
        duplicate ? QString::number(900000 + id) : QString(),
    };
    for (int i = 0; i < values.size(); ++i)
        frdo.bindValue(i, values.at(i));
    return frdo.exec();
}

// Each document's creation a year before its issue day and `perDocument` - 1 edits of its
// registration number after it, in the order the program writes them (by time, then document).
bool insertHistory(QSqlDatabase& db, int perDocument) {
    if (perDocument <= 0)
        return true;
    QSqlQuery query(db);
    const QString sql = QStringLiteral(
        "WITH RECURSIVE n(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM n WHERE k + 1 < %1) "
        "INSERT INTO DocumentHistory (profId, changedAt, kind, osUser, host, docName, attNumber, changes) "
        "SELECT d.profId, strftime('%Y-%m-%dT%H:%M:%S', d.issueDate, '-365 days', '+' || (n.k * 7) || ' days', "
        "'+' || (d.profId % 36000) || ' seconds'), CASE n.k WHEN 0 THEN 'create' ELSE 'edit' END, 'clerk', "
        "'office-pc', d.fio1 || ' ' || d.fio2 || ' ' || d.fio3, d.attNumber, "
        "CASE n.k WHEN 0 THEN json_array(json_object('table', 'ProfDocuments', 'field', 'fio1', 'old', NULL, "
        "'new', d.fio1)) ELSE json_array(json_object('table', 'ProfDocuments', 'field', 'regNumber', 'old', "
        "d.regNumber || '-' || (n.k - 1), 'new', d.regNumber || '-' || n.k)) END "
        "FROM n CROSS JOIN ProfDocuments d ORDER BY 2, 1");
    return query.exec(sql.arg(perDocument));
}

const char usageText[] = "usage: dbgen [--docs N] [--subjects M] [--templates K] [--history H] [--first-id I] "
                         "[--force] "
                         "OUTPUT.db\n"
                         "  --docs N       documents to generate (default 100000)\n"
                         "  --subjects M   appendix subjects of each document (default 12)\n"
                         "  --templates K  document templates after the documents (default 20)\n"
                         "  --history H    entries of history of each document: its creation and H - 1 edits "
                         "(default 0)\n"
                         "  --first-id I   id of the first document, up to 2^62 (default 1)\n"
                         "  --force        replace OUTPUT.db when it exists (never done without it)\n"
                         "exit codes: 0 done, 1 not written, 2 bad arguments or OUTPUT.db exists\n";

constexpr qint64 maxFirstId = qint64(1) << 62;

struct Options {
    QString output;
    int docs = 100000;
    int subjectCount = 12;
    int templates = 20;
    int history = 0;
    qint64 firstId = 1;
    bool force = false;
    bool help = false;
};

// Returns an error text for bad arguments, empty when they parse.
QString parseArguments(const QStringList& args, Options* options) {
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        int* count = arg == QLatin1String("--docs")        ? &options->docs
                     : arg == QLatin1String("--subjects")  ? &options->subjectCount
                     : arg == QLatin1String("--templates") ? &options->templates
                     : arg == QLatin1String("--history")   ? &options->history
                                                           : nullptr;
        if (count) {
            bool ok = false;
            *count = i + 1 < args.size() ? args.at(++i).toInt(&ok) : 0;
            if (!ok || *count < 0 || *count > 10000000)
                return QStringLiteral("%1 wants a whole number from 0 to 10000000").arg(arg);
        } else if (arg == QLatin1String("--first-id")) {
            bool ok = false;
            options->firstId = i + 1 < args.size() ? args.at(++i).toLongLong(&ok) : 0;
            // Room above for every id to come, in the file and in the program's later inserts.
            if (!ok || options->firstId < 1 || options->firstId > maxFirstId)
                return QStringLiteral("%1 wants a whole number from 1 to %2").arg(arg).arg(maxFirstId);
        } else if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            options->help = true;
        } else if (arg == QLatin1String("--force")) {
            options->force = true;
        } else if (arg.startsWith(QLatin1Char('-')) && arg != QLatin1String("-")) {
            return QStringLiteral("unknown option %1").arg(arg);
        } else if (!options->output.isEmpty()) {
            return QStringLiteral("only one output file, got %1 and %2").arg(options->output, arg);
        } else {
            options->output = arg;
        }
    }
    if (!options->help && options->output.isEmpty())
        return QStringLiteral("no output file");
    return QString();
}

int usageError(const QString& text) {
    std::fprintf(stderr, "dbgen: %s\n%s", qPrintable(text), usageText);
    return 2;
}
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    initAppResources();
    Options options;
    const QString error = parseArguments(app.arguments().mid(1), &options);
    if (options.help) {
        std::fputs(usageText, stdout);
        return 0;
    }
    if (!error.isEmpty())
        return usageError(error);
    if (options.history > 1000)
        return usageError(QStringLiteral("--history wants a whole number from 0 to 1000"));
    const QString output = options.output;
    const int docs = options.docs, subjectCount = options.subjectCount, templates = options.templates;
    const QFileInfo target(output);
    if (target.exists() || target.isSymLink()) {
        if (!options.force)
            return usageError(QStringLiteral("%1 exists; give --force to replace it").arg(output));
        if (!target.isFile() || !QFile::remove(output)) {
            std::fprintf(stderr, "dbgen: cannot replace %s\n", qPrintable(output));
            return 1;
        }
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(output);
    if (!db.open()) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(output));
        return 1;
    }
    for (const DBTable& table : ProfSchema::tables()) {
        QString error;
        if (!FileSchema::createTable(db, table, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
    }
    db.transaction();
    QSqlQuery doc(db), det(db), frdo(db);
    doc.prepare(QStringLiteral(
        "INSERT INTO ProfDocuments (profId, isTemplate, fio1, fio2, fio3, birthDate, "
        "profession, qual, regNumber, issueDate, editDate, attNumber, isExcellent, profProgName, "
        "startDate, finishDate, protocolNumber, protocolDate, showTotalCount, prevEducation, isDuplicate, "
        "certificateType) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
    det.prepare(QStringLiteral("INSERT INTO ProfDetails (profId, name, count, rate) VALUES (?,?,?,?)"));
    frdo.prepare(QStringLiteral(
        "INSERT INTO ProfFrdo (profId, snils, DocType, StateDuplicate, SexIsMale, DocSerial, DocNumber, "
        "issueDateFrdo, RegNumberFrdo, frdo13, frdo14, frdo15, frdo16, beginDate, endDate, studyCount, "
        "birthDateFrdo, frdo21, frdo22, frdo23, frdo24, frdo18, frdo19, frdo20, DocNameOrig, DocSerialOrig, "
        "DocNumberOrig) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
    const qint64 firstId = options.firstId;
    for (qint64 id = firstId; id < firstId + docs + templates; ++id) {
        if (!insertDocument(doc, det, frdo, id, subjectCount, id >= firstId + docs)) {
            std::fprintf(stderr, "insert failed: %s\n", qPrintable(doc.lastError().text() + det.lastError().text()));
            return 1;
        }
    }
    const QList<QPair<QString, QString>> organisation = {
        {"Data/OrgName_1", "Государственное бюджетное профессиональное образовательное учреждение «Колледж "
                           "технологий и сервиса № 7»"},
        {"Data/OrgName_2", "ГБПОУ «КТС № 7»"},
        {"Data/City", "г. Тверь"},
        {"Data/Boss", "Кузнецова Анна Сергеевна"},
        {"Data/Boss_2", "Петров Пётр Петрович"},
        {"Data/Boss_3", "Сидорова Елена Викторовна"}};
    QSqlQuery variable(db);
    variable.prepare(QStringLiteral("INSERT OR REPLACE INTO Variables VALUES (?, ?)"));
    for (const auto& entry : organisation) {
        variable.bindValue(0, entry.first);
        variable.bindValue(1, entry.second);
        variable.exec();
    }
    if (!insertHistory(db, options.history)) {
        std::fprintf(stderr, "dbgen: history not written: %s\n", qPrintable(db.lastError().text()));
        return 1;
    }
    db.commit();
    // The views and the index of the appendix, as the program makes them at every start: a
    // registry that a tool opens read-only is used as the program would leave it.
    QString views;
    if (!FileSchema::runViewsScript(db, false, &views)) {
        std::fprintf(stderr, "dbgen: views not made: %s\n", qPrintable(views));
        return 1;
    }
    std::printf("%s: %d documents, %d templates, %d subjects each\n", qPrintable(output), docs, templates,
                subjectCount);
    return 0;
}
