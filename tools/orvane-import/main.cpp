// orvane-import: makes documents from a group list (a workbook or a text table) as the program's
// "Импорт" window does, with the same reading, column matching, numbering, checks and the one
// all-or-nothing write, for an administrator's scripted imports. With --check it only lists what
// the window's problem list would show.
// Exit codes: 0 imported (with --check: no problems), 2 bad arguments, 4 source not readable,
// 6 database not usable, 8 some rows have problems (nothing written), 10 the write failed
// (nothing written).

#include "appresources.h"
#include "database.h"
#include "documentstore.h"
#include "importrun.h"
#include "importsource.h"
#include "importstore.h"
#include "profschema.h"
#include "serverconnection.h"
#include "serverschema.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStringList>
#include <algorithm>
#include <cstdio>

namespace {

const char usageText[] =
    "usage: orvane-import --db FILE|postgresql://user@host[:port]/dbname [--template ID]\n"
    "                     [--first-number TEXT] [--first-reg TEXT] [--sheet N] [--header-row N]\n"
    "                     [--check] SOURCE\n"
    "  SOURCE             the group list: a workbook (.xlsx, .ods, .xls) or a text table (CSV,\n"
    "                     tab-separated), recognised by its content as the import window does\n"
    "  --db FILE          the program's database (it must exist); or the registry on a server,\n"
    "                     postgresql://user@host[:port]/dbname (the password comes from PGPASSWORD\n"
    "                     or ~/.pgpass, never from the address)\n"
    "  --template ID      the template document whose values the rows do not give (dates,\n"
    "                     qualification, programme...), as \"Шаблон\" in the window\n"
    "  --first-number TEXT  the first certificate series/number, counted up over the rows\n"
    "  --first-reg TEXT   the first registration number, counted up likewise\n"
    "  --sheet N          the sheet of a workbook, the first being 1 (default 1)\n"
    "  --header-row N     the row of the column titles as the window numbers the rows (the first\n"
    "                     row is 1); 0: the table has none. Default: the row the window finds.\n"
    "                     Columns are matched by their titles only (\"Фамилия\", \"ФИО\",\n"
    "                     \"Дата рождения\"...); the choices the window remembers are not used\n"
    "  --check            write nothing; print the problems and warnings\n"
    "Problems and warnings are printed one a line, UTF-8, tab-separated: the row as the window\n"
    "shows it (\"Строка N\"), \"problem\" or \"warning\", the field as the preview's column is\n"
    "titled, the text (tabs and line breaks in it become blanks). Without --check a row with a\n"
    "problem stops the import: nothing is written and the lines go to stdout. Otherwise the\n"
    "documents are made, all or none, their ids are printed to stdout one a line in the table's\n"
    "order, and warnings (the same person twice, a person the registry holds) do not stop the\n"
    "import: their lines go to stderr.\n"
    "Exit codes: 0 imported (with --check: no problems; a table without rows imports nothing),\n"
    "2 bad arguments, 4 source not readable, 6 database not usable (missing, damaged, read-only,\n"
    "server unreachable), 8 some rows have problems (nothing written), 10 the write failed\n"
    "(nothing written).\n";

enum ExitCode { Done = 0, BadArguments = 2, SourceUnreadable = 4, BadDatabase = 6, RowsFail = 8, WriteFailed = 10 };

struct Options {
    QString db;
    ServerAddress server; // when db is an address
    QString source;
    qint64 templateId = 0;
    QString firstNumber;
    QString firstReg;
    int sheet = 1;
    int headerRow = -1; // as given (0 = none); -1: the row the window finds
    bool check = false;
};

void printError(const QString& text) {
    std::fprintf(stderr, "orvane-import: %s\n", text.toLocal8Bit().constData());
}

void printLine(FILE* stream, const QString& line) {
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fputc('\n', stream);
}

// Empty when the number is a whole number of at least `minimum`; otherwise what is wrong.
QString readNumber(const QString& arg, const QString& text, qint64 minimum, qint64* number) {
    bool ok = false;
    *number = text.toLongLong(&ok);
    if (!ok || *number < minimum)
        return QStringLiteral("%1 needs a whole number from %2 on").arg(arg).arg(minimum);
    return QString();
}

QString readOption(const QString& arg, const QString& value, Options* options) {
    qint64 number = 0;
    QString error;
    if (arg == QLatin1String("--db")) {
        options->db = value;
        // A server's address is read now: a password in it is refused before anything is opened.
        if (ServerAddress::looksLikeUrl(value) && !ServerAddress::fromUrl(value, &options->server, &error))
            return QStringLiteral("--db %1: %2").arg(value, error);
    } else if (arg == QLatin1String("--first-number")) {
        options->firstNumber = value.trimmed();
    } else if (arg == QLatin1String("--first-reg")) {
        options->firstReg = value.trimmed();
    } else if (arg == QLatin1String("--template")) {
        error = readNumber(arg, value, 1, &number);
        options->templateId = number;
    } else if (arg == QLatin1String("--sheet")) {
        error = readNumber(arg, value, 1, &number);
        options->sheet = int(qMin<qint64>(number, 100000));
    } else if (arg == QLatin1String("--header-row")) {
        error = readNumber(arg, value, 0, &number);
        options->headerRow = int(qMin<qint64>(number, ImportTable::maxRows + 1));
    } else {
        return QStringLiteral("unknown argument %1").arg(arg);
    }
    return error;
}

// Empty when the arguments make sense; otherwise what is wrong with them.
QString parseArguments(const QStringList& args, Options* options, bool* help) {
    QStringList sources;
    for (int i = 1; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            *help = true;
            return QString();
        }
        if (arg == QLatin1String("--check")) {
            options->check = true;
        } else if (!arg.startsWith(QLatin1String("--"))) {
            sources << arg;
        } else if (i + 1 >= args.size()) {
            return QStringLiteral("%1 needs a value").arg(arg);
        } else {
            const QString error = readOption(arg, args.at(++i), options);
            if (!error.isEmpty())
                return error;
        }
    }
    if (options->db.isEmpty())
        return QStringLiteral("--db is missing");
    if (sources.size() != 1)
        return sources.isEmpty() ? QStringLiteral("SOURCE is missing")
                                 : QStringLiteral("one SOURCE only: %1").arg(sources.join(QStringLiteral(", ")));
    options->source = sources.first();
    return QString();
}

// The problem list as the window shows it, one line each; the problems first within a row.
QStringList reportLines(const QVector<ImportDocument>& documents, bool problems, bool warnings) {
    const auto oneLine = [](QString text) {
        return text.replace(QLatin1Char('\t'), QLatin1Char(' '))
            .replace(QLatin1Char('\n'), QLatin1Char(' '))
            .replace(QLatin1Char('\r'), QLatin1Char(' '));
    };
    QStringList lines;
    for (const ImportDocument& document : documents) {
        if (!document.included)
            continue;
        const QString row = QString::number(document.sourceRow + 1);
        const auto add = [&](const QVector<ImportProblem>& list, const QString& word) {
            for (const ImportProblem& problem : list)
                lines << QStringList{row, word, ImportRun::columnTitle(problem.field), oneLine(problem.text)}.join(
                    QLatin1Char('\t'));
        };
        if (problems)
            add(document.problems, QStringLiteral("problem"));
        if (warnings)
            add(document.warnings, QStringLiteral("warning"));
    }
    return lines;
}

// The table of the chosen sheet; an exit code other than Done when it cannot be had.
int readSource(const Options& options, ImportTable* table) {
    ImportSource source;
    QString error;
    if (!source.open(options.source, &error)) {
        printError(QStringLiteral("unreadable source %1: %2").arg(options.source, error));
        return SourceUnreadable;
    }
    const int sheets = qMax(1, int(source.sheetNames().size()));
    if (options.sheet > sheets) {
        printError(QStringLiteral("--sheet %1: %2 has %3 sheet(s)")
                       .arg(QString::number(options.sheet), options.source, QString::number(sheets)));
        return BadArguments;
    }
    if (!source.readSheet(options.sheet - 1, table, &error)) {
        printError(QStringLiteral("unreadable source %1: %2").arg(options.source, error));
        return SourceUnreadable;
    }
    if (!table->notice.isEmpty())
        printError(table->notice);
    if (options.headerRow > table->rows.size()) {
        printError(
            QStringLiteral("--header-row %1: the table has %2 rows").arg(options.headerRow).arg(table->rows.size()));
        return BadArguments;
    }
    return Done;
}

// A server database without a registry is refused rather than given one.
bool serverHasRegistry(const ServerAddress& address, QString* error) {
    ScopedServerConnection probe(address, QStringLiteral("orvane-import-probe"));
    if (!probe.isOpen()) {
        *error = probe.error();
        return false;
    }
    QSqlDatabase db = probe.database();
    bool found = false;
    if (!ServerSchema::hasRegistry(db, &found, error))
        return false;
    if (!found)
        *error = QStringLiteral("в базе данных %1 нет реестра").arg(address.toUrl());
    return found;
}

// The registry opened for the run: only read for a check, otherwise as the program opens it.
bool openDatabase(const Options& options, QString* error) {
    if (options.check)
        return Database::openSourceForReading(options.db, error) != nullptr;
    if (options.server.isComplete()) {
        if (!serverHasRegistry(options.server, error))
            return false;
        Database::useServer(options.server);
    } else {
        // The program would make a new registry where none is; an import needs the one meant.
        if (!QFileInfo(options.db).isFile()) {
            *error = QStringLiteral("no database file %1").arg(options.db);
            return false;
        }
        Database::useFile(QFileInfo(options.db).absoluteFilePath());
    }
    Database* db = Database::instance();
    if (!db->isValid()) {
        *error = db->startupProblem().text;
        return false;
    }
    if (!db->startWarning().isEmpty()) {
        *error = db->startWarning();
        return false;
    }
    return true;
}

// The template's row; an exit code other than Done when the id names no template.
int templateOptions(const Options& options, ImportOptions* importOptions) {
    if (options.templateId <= 0)
        return Done;
    QVector<DocumentStore::TemplateEntry> templates;
    QString error;
    if (!DocumentStore::templates(&templates, &error)) {
        printError(QStringLiteral("database not usable: %1").arg(error));
        return BadDatabase;
    }
    QStringList known;
    for (const DocumentStore::TemplateEntry& entry : templates)
        known << QStringLiteral("%1 %2").arg(entry.id).arg(entry.name);
    const bool isTemplate =
        std::any_of(templates.cbegin(), templates.cend(),
                    [&](const DocumentStore::TemplateEntry& e) { return e.id == options.templateId; });
    if (!isTemplate) {
        printError(QStringLiteral("--template %1: no template has this id; the templates: %2")
                       .arg(options.templateId)
                       .arg(known.isEmpty() ? QStringLiteral("none") : known.join(QStringLiteral("; "))));
        return BadArguments;
    }
    if (!ImportStore::templateRow(options.templateId, &importOptions->templateRow, &error)) {
        printError(QStringLiteral("database not usable: the template is not read: %1").arg(error));
        return BadDatabase;
    }
    return Done;
}

int import(const Options& options, ImportRun* run, QVector<ImportDocument>* documents,
           const ImportOptions& importOptions) {
    QList<qint64> ids;
    QString error;
    QStringList taken;
    if (ImportRun::write(*documents, importOptions, options.templateId, &ids, &error, {}, nullptr, &taken,
                         options.source)) {
        for (const QString& line : reportLines(*documents, false, true))
            printLine(stderr, line);
        for (qint64 id : ids)
            printLine(stdout, QString::number(id));
        return Done;
    }
    if (taken.isEmpty()) {
        printError(QStringLiteral("nothing imported, the registry is unchanged: %1").arg(error));
        return WriteFailed;
    }
    // Saved by another program since the check: the rows are refused as the window marks them.
    run->addTaken(taken);
    ImportRun::Unread unread;
    run->check(documents, importOptions, &unread);
    for (const QString& line : reportLines(*documents, true, true))
        printLine(stdout, line);
    return RowsFail;
}

int run(const Options& options) {
    ImportTable table;
    int result = readSource(options, &table);
    if (result != Done)
        return result;
    ImportOptions importOptions;
    importOptions.headerRow = options.headerRow < 0 ? ImportPlan::findHeaderRow(table, nullptr) : options.headerRow - 1;
    importOptions.columns = ImportRun::columnsOf(table, importOptions.headerRow);
    importOptions.firstAttNumber = options.firstNumber;
    importOptions.firstRegNumber = options.firstReg;
    Database::setSchema(ProfSchema::tables(), ProfSchema::mainPrimaryKeyName());
    QString error;
    if (!openDatabase(options, &error)) {
        printError(QStringLiteral("database not usable: %1").arg(error.isEmpty() ? options.db : error));
        return BadDatabase;
    }
    result = templateOptions(options, &importOptions);
    if (result != Done)
        return result;
    ImportRun importRun;
    ImportRun::Unread unread;
    QVector<ImportDocument> documents = importRun.build(table, importOptions, &unread);
    // An import that could not look at the registry's numbers and people would be blind.
    if (!unread.isEmpty()) {
        printError(QStringLiteral("database not usable: %1")
                       .arg(unread.takenNumbers.isEmpty() ? unread.registry : unread.takenNumbers));
        return BadDatabase;
    }
    const bool fails = ImportPlan::problemCount(documents) > 0;
    if (options.check || fails) {
        for (const QString& line : reportLines(documents, true, true))
            printLine(stdout, line);
        return fails ? RowsFail : Done;
    }
    if (documents.isEmpty()) {
        printError(QStringLiteral("no rows to import in %1").arg(options.source));
        return Done;
    }
    return import(options, &importRun, &documents, importOptions);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Orvane"));
    // The store's diagnostic lines would mix with the warnings a script reads on stderr;
    // QT_LOGGING_RULES="default.debug=true" brings them back.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    // The views script is one of the program's resources.
    initAppResources();
    Options options;
    bool help = false;
    const QString error = parseArguments(QCoreApplication::arguments(), &options, &help);
    if (help) {
        std::fputs(usageText, stdout);
        return Done;
    }
    if (!error.isEmpty()) {
        printError(error);
        std::fputs(usageText, stderr);
        return BadArguments;
    }
    const int result = run(options);
    Database::shutdown();
    return result;
}
