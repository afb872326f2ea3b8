// orvane-export: writes the registry book or the FRDO workbook of a database file, with the same
// writer and cells as the program's "Инструменты" menu, for offices that automate their uploads.
// With --check it lists instead what the federal registry would refuse.
// Exit codes: 0 written, 2 bad arguments, 4 output not written, 6 database not usable or not readable,
// 8 the check found documents that fail.

#include "appkeys.h"
#include "appresources.h"
#include "database.h"
#include "documentfilter.h"
#include "filterlisttype.h"
#include "frdocheck.h"
#include "frdoexport.h"
#include "profschema.h"
#include "registrybook.h"
#include "xlsxexport.h"

#include <QCoreApplication>
#include <QDate>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const char usageText[] =
    "usage: orvane-export --db FILE (--book OUT.xlsx | --frdo OUT.xlsx | --frdo --check) [--fio TEXT]\n"
    "                     [--qual TEXT] [--issued FROM TO] [--edited FROM TO]\n"
    "  --db FILE          the program's database, opened read-only (never written); or the\n"
    "                     registry on a server, postgresql://user@host[:port]/dbname (the\n"
    "                     password from PGPASSWORD or ~/.pgpass, never in the address)\n"
    "  --book OUT.xlsx    write the registry book of the documents the filters let through\n"
    "  --frdo OUT.xlsx    write the FRDO upload table of the documents the filters let through\n"
    "  --check            with --frdo: write nothing, check the same documents by the federal\n"
    "                     registry's rules and print one line per problem to stdout, UTF-8,\n"
    "                     tab-separated: id, full name, series/number, problem (an OUT.xlsx given\n"
    "                     as well is not written)\n"
    "  --fio TEXT         part of the full name (any letter case)\n"
    "  --qual TEXT        part of the qualification (any letter case)\n"
    "  --issued FROM TO   issue date range, both ends included, dates as yyyy-MM-dd\n"
    "  --edited FROM TO   edit date range, the same way\n"
    "OUT.xlsx is replaced only by a complete workbook; a read-only OUT.xlsx is left as it is.\n"
    "Both workbooks list the documents in the Russian alphabet's order of the names. A text\n"
    "longer than a cell holds (32767 characters) is never cut: the document and the column are\n"
    "named and nothing is written (exit 4).\n"
    "Exit codes: 0 written (with --check: no document fails), 2 bad arguments, 4 output not\n"
    "written, 6 database not usable or not readable (then nothing is written), 8 with --check:\n"
    "some documents fail.\n";

enum ExitCode { Done = 0, BadArguments = 2, OutputFailed = 4, BadDatabase = 6, CheckFailed = 8 };

struct Options {
    QString db;
    QString book;
    QString frdo;
    QString fio;
    QString qual;
    bool frdoChosen = false; // --frdo, with or without OUT.xlsx
    bool check = false;
    QDate issuedFrom, issuedTo, editedFrom, editedTo;
};

void printError(const QString& text) {
    std::fprintf(stderr, "orvane-export: %s\n", text.toLocal8Bit().constData());
}

bool readDate(const QString& text, QDate* date) {
    *date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    return date->isValid();
}

// Empty when the arguments make sense; otherwise what is wrong with them.
QString parseArguments(const QStringList& args, Options* options, bool* help) {
    for (int i = 1; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        const auto value = [&](int ahead) { return i + ahead < args.size() ? args.at(i + ahead) : QString(); };
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            *help = true;
            return QString();
        }
        if (arg == QLatin1String("--check")) {
            options->check = true;
            continue;
        }
        // A check writes no file, so its --frdo may come without one.
        if (arg == QLatin1String("--frdo")) {
            options->frdoChosen = true;
            if (!value(1).startsWith(QLatin1String("--")) && !value(1).isEmpty())
                options->frdo = args.at(++i);
            continue;
        }
        QString* text = arg == QLatin1String("--db")     ? &options->db
                        : arg == QLatin1String("--book") ? &options->book
                        : arg == QLatin1String("--fio")  ? &options->fio
                        : arg == QLatin1String("--qual") ? &options->qual
                                                         : nullptr;
        if (text) {
            if (i + 1 >= args.size())
                return QStringLiteral("%1 needs a value").arg(arg);
            *text = value(1);
            ++i;
        } else if (arg == QLatin1String("--issued") || arg == QLatin1String("--edited")) {
            const bool issued = arg == QLatin1String("--issued");
            QDate* from = issued ? &options->issuedFrom : &options->editedFrom;
            QDate* to = issued ? &options->issuedTo : &options->editedTo;
            if (!readDate(value(1), from) || !readDate(value(2), to))
                return QStringLiteral("%1 needs two dates as yyyy-MM-dd").arg(arg);
            i += 2;
        } else {
            return QStringLiteral("unknown argument %1").arg(arg);
        }
    }
    if (options->db.isEmpty())
        return QStringLiteral("--db is missing");
    // Anyone on the machine could read it in the list of processes.
    const QUrl address(options->db);
    if (!address.scheme().isEmpty() && address.scheme().startsWith(QLatin1String("postgres")) &&
        !address.password().isEmpty())
        return QStringLiteral("--db: the address must not hold the password (others may see it in the process "
                              "list); give it in PGPASSWORD or ~/.pgpass");
    if (options->book.isEmpty() == !options->frdoChosen)
        return QStringLiteral("give one of --book and --frdo");
    if (options->check && !options->frdoChosen)
        return QStringLiteral("--check goes with --frdo");
    if (options->frdoChosen && options->frdo.isEmpty() && !options->check)
        return QStringLiteral("--frdo needs a value");
    return QString();
}

// The conditions as the filter panel hands them to the list.
FilterListType filtersOf(const Options& options) {
    FilterListType filters;
    if (options.issuedFrom.isValid()) {
        filters.append({FilterKeys::dateFrom, options.issuedFrom});
        filters.append({FilterKeys::dateTo, options.issuedTo});
    }
    if (options.editedFrom.isValid()) {
        filters.append({FilterKeys::editDateFrom, options.editedFrom});
        filters.append({FilterKeys::editDateTo, options.editedTo});
    }
    filters.append({FilterKeys::fio, options.fio.trimmed()});
    filters.append({FilterKeys::qual, options.qual.trimmed()});
    return filters;
}

// The problems go to stdout, one a line; whether any document fails is the exit code. The lines
// are held until the whole registry is read, so that a registry that fails half-way prints no
// list that would pass for the complete one.
int check(const DocumentFilter& filter) {
    QByteArray lines;
    bool failed = false;
    QString error;
    const auto take = [&](const FrdoCheck::FailingDocument& document) {
        failed = true;
        FrdoCheck::appendReport(document, &lines);
    };
    if (!FrdoCheck::checkShown(filter, take, &error)) {
        printError(QStringLiteral("database not usable: %1").arg(error));
        return BadDatabase;
    }
    if (std::fwrite(lines.constData(), 1, size_t(lines.size()), stdout) != size_t(lines.size()) ||
        std::fflush(stdout) != 0) {
        printError(
            QStringLiteral("the list of problems not written: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return OutputFailed;
    }
    return failed ? CheckFailed : Done;
}

int run(const Options& options) {
    QString error;
    Database::setSchema(ProfSchema::tables(), ProfSchema::mainPrimaryKeyName());
    if (!Database::openSourceForReading(options.db, &error)) {
        printError(QStringLiteral("database not usable: %1").arg(error.isEmpty() ? options.db : error));
        return BadDatabase;
    }
    const DocumentFilter filter = DocumentFilter::fromList(filtersOf(options));
    if (options.check)
        return check(filter);
    const QString& output = options.book.isEmpty() ? options.frdo : options.book;
    ExportFailure failure = ExportFailure::None;
    bool written = false;
    // The documents the list would show under these filters, in its own order.
    const QList<qint64> ids = filter.shownIds({}, &error);
    if (!error.isEmpty())
        failure = ExportFailure::Database;
    else if (!options.book.isEmpty())
        written = RegistryBook::write(ids, output, &error, {}, &failure);
    else
        written = XlsxExport::write(FrdoExport::layout(), ids, output, &error, {}, nullptr, nullptr, &failure);
    // A registry that cannot be read gives no workbook at all, not a short one.
    if (failure == ExportFailure::Database) {
        printError(QStringLiteral("database not usable: %1").arg(error));
        return BadDatabase;
    }
    if (!written) {
        printError(QStringLiteral("%1 not written: %2").arg(output, error));
        return OutputFailed;
    }
    return Done;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Orvane"));
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
