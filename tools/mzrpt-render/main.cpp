// mzrpt-render: prints a template to a PDF file through the page's own side painting, without
// dialogs. Exit codes: 0 done, 2 bad arguments, 3 unreadable template, 4 output not written,
// 5 unreadable model file, 6 database or document not usable.

#include "appresources.h"
#include "csvmodel.h"
#include "database.h"
#include "engine.h"
#include "pdfsideswriter.h"
#include "printdata.h"
#include "profschema.h"
#include "replacementfile.h"
#include "reportlist.h"
#include "reportpage.h"

#include <QApplication>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QJsonObject>
#include <QPainter>
#include <QPrinter>
#include <QSaveFile>
#include <QStringList>
#include <QTextStream>
#include <cstdio>
#include <optional>

namespace {

const char usageText[] =
    "usage: mzrpt-render [options] TEMPLATE.mzrpt OUTPUT.pdf\n"
    "       mzrpt-render [options] --db FILE --type N --doc ID [--doc ID ...] OUTPUT.pdf\n"
    "  --db FILE             open FILE as the program's database, read-only (never written); its\n"
    "                        folder is the data folder. A registry on a server is given as\n"
    "                        postgresql://user@host[:port]/dbname (the password from PGPASSWORD or\n"
    "                        ~/.pgpass); the data folder is then this computer's\n"
    "  --doc ID              fill a fresh page from document ID with the print data, as the program\n"
    "                        does (repeatable: every document's sides go into the one PDF, in order)\n"
    "  --type N              instead of TEMPLATE: report type N (701 to 708), its template taken from\n"
    "                        the data folder's \"reports\" folder (needs --db)\n"
    "  --var NAME=VALUE      set a page variable (repeatable; NAME is stored as the page stores names)\n"
    "  --model NAME=FILE.csv register a read-only table model from a UTF-8 CSV file whose first row\n"
    "                        holds the header texts (repeatable; NAME is stored as the page stores names)\n"
    "  --raw                 do not fill: show the raw template texts, as the designer does\n"
    "  --background          print the background images\n"
    "  --calibration X,Y,SX,SY\n"
    "                        correct the output as a calibrated printer is corrected: a point at\n"
    "                        (x, y) mm is painted at (x * SX + X, y * SY + Y) mm (default 0,0,1,1)\n"
    "  --dpi N               printer resolution in dots per inch (default 300)\n"
    "  --side N              render only side N, counted from 0 (default: every side, one PDF page each)\n"
    "  --png PREFIX          also write each rendered side as PREFIX-N.png at the same resolution\n"
    "                        (PREFIX-ID-N.png with --doc)\n"
    "                        (drawn as on screen: tables without borders show dashed outlines;\n"
    "                        at most 250 megapixels a side)\n"
    "  --save FILE.mzrpt     also write the loaded template back with the page's own save\n"
    "A table whose rows do not all fit is reported on standard error and rendered cut.\n"
    "The PDF replaces OUTPUT.pdf only once it is complete.\n"
    "exit codes: 0 done, 2 bad arguments, 3 template not readable, 4 output not written,\n"
    "            5 model file not readable, 6 database or document not usable or not readable\n";

enum ExitCode { Done = 0, BadArguments = 2, BadTemplate = 3, OutputFailed = 4, BadModel = 5, BadDatabase = 6 };

constexpr int minDpi = 10;
// A3 at this resolution is already a gigabyte of PNG pixels.
constexpr int maxDpi = 1200;
// One side as a PNG picture is held in memory whole, three bytes a pixel: under a gigabyte. All the
// pictures of one run together are held to the same, which keeps a run to seconds.
constexpr qint64 maxPngPixels = 250LL * 1000 * 1000;
// Qt's quality for zlib's fastest level.
constexpr int pngQuality = 80;

struct Options {
    QString templatePath;
    // The PDF file asked for, and the file the printer writes until it is complete.
    QString outputPath;
    QString pdfPath;
    QList<QPair<QString, QString>> variables;
    QList<QPair<QString, QString>> models;
    bool raw = false;
    bool background = false;
    int dpi = 300;
    int side = -1;
    QString pngPrefix;
    QString savePath;
    QString dbPath;
    QList<qint64> docs;
    int type = 0;
    PrinterCalibration calibration;
    // Each document of `docs` read once, and why those that failed could not be.
    QHash<qint64, PrintValues> values;
    QHash<qint64, QString> unreadable;
};

void printError(const QString& text) {
    QTextStream(stderr) << "mzrpt-render: " << text << '\n';
}

int usageError(const QString& text) {
    printError(text);
    std::fputs(usageText, stderr);
    return BadArguments;
}

std::optional<int> parseInt(const QString& text, int min, int max) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return value;
}

// Returns an error text for bad arguments, empty when they parse.
QString parseArguments(const QStringList& args, Options* options, bool* help) {
    QStringList positional;
    for (int i = 1; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        const bool takesValue = arg == QLatin1String("--var") || arg == QLatin1String("--model") ||
                                arg == QLatin1String("--dpi") || arg == QLatin1String("--side") ||
                                arg == QLatin1String("--png") || arg == QLatin1String("--save") ||
                                arg == QLatin1String("--db") || arg == QLatin1String("--doc") ||
                                arg == QLatin1String("--type") || arg == QLatin1String("--calibration");
        if (takesValue && i + 1 >= args.size())
            return QStringLiteral("%1 needs a value").arg(arg);
        const QString value = takesValue ? args.at(++i) : QString();
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            *help = true;
        } else if (arg == QLatin1String("--raw")) {
            options->raw = true;
        } else if (arg == QLatin1String("--background")) {
            options->background = true;
        } else if (arg == QLatin1String("--var")) {
            const int eq = value.indexOf(QLatin1Char('='));
            if (eq <= 0 || value.left(eq).trimmed().isEmpty())
                return QStringLiteral("--var wants NAME=VALUE, got \"%1\"").arg(value);
            options->variables.append({value.left(eq), value.mid(eq + 1)});
        } else if (arg == QLatin1String("--model")) {
            const int eq = value.indexOf(QLatin1Char('='));
            if (eq <= 0 || value.left(eq).trimmed().isEmpty() || eq + 1 >= value.size())
                return QStringLiteral("--model wants NAME=FILE.csv, got \"%1\"").arg(value);
            options->models.append({value.left(eq), value.mid(eq + 1)});
        } else if (arg == QLatin1String("--dpi")) {
            const auto dpi = parseInt(value, minDpi, maxDpi);
            if (!dpi)
                return QStringLiteral("--dpi wants a whole number from %1 to %2").arg(minDpi).arg(maxDpi);
            options->dpi = *dpi;
        } else if (arg == QLatin1String("--side")) {
            const auto side = parseInt(value, 0, 1000000);
            if (!side)
                return QStringLiteral("--side wants a side number, counted from 0");
            options->side = *side;
        } else if (arg == QLatin1String("--png")) {
            options->pngPrefix = value;
        } else if (arg == QLatin1String("--save")) {
            options->savePath = value;
        } else if (arg == QLatin1String("--db")) {
            options->dbPath = value;
        } else if (arg == QLatin1String("--doc")) {
            bool ok = false;
            const qint64 id = value.toLongLong(&ok);
            if (!ok || id < -1)
                return QStringLiteral("--doc wants a document id");
            options->docs.append(id);
        } else if (arg == QLatin1String("--calibration")) {
            const auto calibration = PrinterCalibration::fromString(value);
            if (!calibration)
                return QStringLiteral("--calibration wants X,Y,SX,SY: offsets within %1 mm, scales from %2 to %3")
                    .arg(PrinterCalibration::maxOffsetMm)
                    .arg(PrinterCalibration::minScale)
                    .arg(PrinterCalibration::maxScale);
            options->calibration = *calibration;
        } else if (arg == QLatin1String("--type")) {
            const auto type = parseInt(value, 0, 100000);
            if (!type || !ReportList::info(*type))
                return QStringLiteral("--type wants a report type from 701 to 708");
            options->type = *type;
        } else if (arg.startsWith(QLatin1String("--")) && arg.size() > 2) {
            return QStringLiteral("unknown option %1").arg(arg);
        } else {
            positional.append(arg);
        }
    }
    if (*help)
        return QString();
    if ((options->type || !options->docs.isEmpty()) && options->dbPath.isEmpty())
        return QStringLiteral("--type and --doc need --db");
    if (options->type) {
        if (positional.size() != 1)
            return QStringLiteral("with --type only an output file is needed");
        options->outputPath = positional.at(0);
        return QString();
    }
    if (positional.size() != 2)
        return QStringLiteral("a template and an output file are needed");
    options->templatePath = positional.at(0);
    options->outputPath = positional.at(1);
    return QString();
}

void setUpPrinter(QPrinter* printer, const Options& options) {
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(options.pdfPath);
    printer->setResolution(options.dpi);
    printer->setFullPage(true);
    printer->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    printer->setDocName(QFileInfo(options.templatePath).completeBaseName());
    printer->setCreator(QStringLiteral("mzrpt-render"));
}

// The same side painting onto an image of the printer's page at the printer's resolution. The
// image is kept for the next side of the same size: a fresh one costs its pages again.
QString writePng(ReportPage& page, int side, const QString& prefix, const PrinterCalibration& calibration) {
    static QImage image;
    QPrinter* printer = page.printer();
    if (image.width() != printer->width() || image.height() != printer->height())
        image = QImage(printer->width(), printer->height(), QImage::Format_RGB888);
    if (image.isNull())
        return QStringLiteral("no memory for a %1 x %2 image").arg(printer->width()).arg(printer->height());
    const int dotsPerMeter = qRound(printer->resolution() / 0.0254);
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        const double bandTop = printer->pageRect(QPrinter::DevicePixel).height() * side;
        const double scale = ReportPage::mmToPx(printer->logicalDpiX());
        calibration.apply(painter, scale);
        page.paintSide(painter, side, image.rect(), bandTop, scale);
    }
    const QString path = QStringLiteral("%1-%2.png").arg(prefix).arg(side);
    QSaveFile file(path);
    // The fastest compression: these pictures are mostly white, and a large side at the best
    // compression takes seconds.
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG", pngQuality) || !file.commit())
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return QString();
}

// Reads the template file; on failure prints why and returns the exit code.
std::optional<int> readTemplate(QJsonObject& content, const Options& options) {
    QString loadError;
    if (!ReportPage::readFile(options.templatePath, &content, &loadError)) {
        printError(QStringLiteral("cannot read template %1: %2").arg(options.templatePath, loadError));
        return BadTemplate;
    }
    return std::nullopt;
}

// Builds the page from the template's content; on failure prints why and returns the exit code.
std::optional<int> loadTemplate(ReportPage& page, const Options& options, const QJsonObject& content) {
    page.fromJson(content);
    if (page.pagesCount() < 1) {
        printError(QStringLiteral("template %1 has no printed sides").arg(options.templatePath));
        return BadTemplate;
    }
    if (options.side >= page.pagesCount())
        return usageError(
            QStringLiteral("--side %1: the template has sides 0 to %2").arg(options.side).arg(page.pagesCount() - 1));
    return std::nullopt;
}

// Document data first (when asked for), then the command line's variables and models over it.
std::optional<int> fillPage(ReportPage& page, const Options& options, std::optional<qint64> docId) {
    if (docId) {
        const QString error = options.unreadable.value(*docId);
        if (!error.isEmpty()) {
            printError(QStringLiteral("document %1 cannot be read from %2: %3").arg(*docId).arg(options.dbPath, error));
            return BadDatabase;
        }
        Engine::fillPage(&page, options.values.value(*docId));
    }
    for (const auto& variable : options.variables)
        page.setVariable(variable.first, variable.second);
    for (const auto& model : options.models) {
        auto* csv = new CsvModel;
        const QString error = csv->load(model.second);
        if (!error.isEmpty()) {
            delete csv;
            printError(QStringLiteral("cannot read model %1 from %2: %3").arg(model.first, model.second, error));
            return BadModel;
        }
        page.setModel(model.first, csv, true);
    }
    page.setFillWithData(!options.raw);
    page.setPrintBackgroundImage(options.background);
    return std::nullopt;
}
QList<int> sidesToRender(const ReportPage& page, const Options& options) {
    QList<int> sides;
    if (options.side >= 0)
        sides.append(options.side);
    else
        for (int side = 0; side < page.pagesCount(); ++side)
            sides.append(side);
    return sides;
}

std::optional<int> writePngs(ReportPage& page, const QList<int>& sides, const QString& prefix,
                             const PrinterCalibration& calibration) {
    for (int side : sides) {
        const QString error = writePng(page, side, prefix, calibration);
        if (!error.isEmpty()) {
            printError(error);
            return OutputFailed;
        }
    }
    return std::nullopt;
}

// The program's database in the folder of FILE, read only: the tool never writes to a registry.
std::optional<int> openDatabase(Options& options) {
    QString error;
    Database::setSchema(ProfSchema::tables(), ProfSchema::mainPrimaryKeyName());
    if (!Database::openSourceForReading(options.dbPath, &error)) {
        printError(QStringLiteral("database not usable: %1").arg(error));
        return BadDatabase;
    }
    if (options.type)
        options.templatePath = Engine::templatePath(ReportList::ReportType(options.type));
    QList<qint64> missing;
    for (qint64 id : qAsConst(options.docs)) {
        if (id == -1 || options.values.contains(id))
            continue; // never saved: the empty form
        PrintValues values;
        if (!PrintData::read(id, true, &values, &error)) {
            if (!values.found) {
                printError(QStringLiteral("database not usable: %1").arg(error));
                return BadDatabase;
            }
            options.unreadable.insert(id, error);
        }
        if (values.found)
            options.values.insert(id, values);
        else
            missing << id;
    }
    if (!missing.isEmpty()) {
        printError(QStringLiteral("document %1 not found in %2").arg(missing.first()).arg(options.dbPath));
        return BadDatabase;
    }
    return std::nullopt;
}

// Pictures too large to hold or to write in reasonable time are refused before anything is drawn.
std::optional<int> checkPngSize(const ReportPage& page, const Options& options) {
    if (options.pngPrefix.isEmpty())
        return std::nullopt;
    const qint64 pixels = qint64(page.printer()->width()) * page.printer()->height();
    if (pixels > maxPngPixels)
        return usageError(QStringLiteral("--png: a side at %1 dpi would be a picture of %2 megapixels, more than %3; "
                                         "choose a lower --dpi")
                              .arg(options.dpi)
                              .arg(pixels / 1000000)
                              .arg(maxPngPixels / 1000000));
    const qint64 pictures = qint64(sidesToRender(page, options).size()) * qMax(1, int(options.docs.size())) * pixels;
    if (pictures > maxPngPixels)
        return usageError(QStringLiteral("--png: the pictures of all sides at %1 dpi would take %2 megapixels, more "
                                         "than %3; choose a lower --dpi or one --side")
                              .arg(options.dpi)
                              .arg(pictures / 1000000)
                              .arg(maxPngPixels / 1000000));
    return std::nullopt;
}

int renderTemplate(const Options& options) {
    ReportPage page;
    QJsonObject content;
    if (const auto failed = readTemplate(content, options))
        return *failed;
    if (const auto failed = loadTemplate(page, options, content))
        return *failed;
    // Written as loaded, before the rendering options touch the page.
    if (!options.savePath.isEmpty()) {
        QString error;
        if (!page.save(options.savePath, &error)) {
            printError(QStringLiteral("cannot save %1: %2").arg(options.savePath, error));
            return OutputFailed;
        }
    }
    if (const auto failed = fillPage(page, options, std::nullopt))
        return *failed;
    const QList<int> sides = sidesToRender(page, options);
    setUpPrinter(page.printer(), options);
    if (const auto failed = checkPngSize(page, options))
        return *failed;
    if (!page.paintSides(page.printer(), sides, options.calibration)) {
        const QString reason = ReportPage::outputError(page.printer());
        printError(QStringLiteral("cannot write %1: %2")
                       .arg(options.outputPath, reason.isEmpty() ? QStringLiteral("the job failed") : reason));
        return OutputFailed;
    }
    // As answering Yes to the page's question: reported, and printed cut.
    if (page.tablesOverflow())
        printError(QStringLiteral("table data does not fit on the form and is cut"));
    if (!options.pngPrefix.isEmpty())
        return writePngs(page, sides, options.pngPrefix, options.calibration).value_or(Done);
    return Done;
}

// A fresh page per document from the template read once, as the program prints; every side of
// every document in one PDF, written as the program writes its PDF copies.
int renderDocuments(const Options& options) {
    QJsonObject content;
    if (const auto failed = readTemplate(content, options))
        return *failed;
    PdfSidesWriter writer(options.pdfPath, options.dpi);
    writer.setCreator(QStringLiteral("mzrpt-render"));
    writer.setDocName(QFileInfo(options.templatePath).completeBaseName());
    writer.setCalibration(options.calibration);
    // The template's pictures, decoded once and held once by the PDF, as the program's copies do.
    ReportPage pictures;
    pictures.fromJson(content);
    for (qint64 id : options.docs) {
        ReportPage page;
        if (const auto failed = loadTemplate(page, options, content))
            return *failed;
        if (options.background)
            page.shareBackgrounds(pictures);
        if (const auto failed = fillPage(page, options, id))
            return *failed;
        const QList<int> sides = sidesToRender(page, options);
        setUpPrinter(page.printer(), options);
        if (const auto failed = checkPngSize(page, options))
            return *failed;
        if (!writer.addSides(page, sides)) {
            printError(QStringLiteral("cannot write %1: %2").arg(options.outputPath, writer.error()));
            return OutputFailed;
        }
        if (page.tablesOverflow())
            printError(QStringLiteral("document %1: table data does not fit on the form and is cut").arg(id));
        if (!options.pngPrefix.isEmpty()) {
            const QString prefix = options.pngPrefix + QStringLiteral("-%1").arg(id);
            if (const auto failed = writePngs(page, sides, prefix, options.calibration))
                return *failed;
        }
    }
    if (!writer.finish()) {
        printError(QStringLiteral("cannot write %1: %2").arg(options.outputPath, writer.error()));
        return OutputFailed;
    }
    return Done;
}

int run(Options options) {
    const QFileInfo output(options.outputPath);
    if (output.exists() && !output.isFile()) {
        printError(QStringLiteral("cannot write %1: not a regular file").arg(options.outputPath));
        return OutputFailed;
    }
    ReplacementFile partial(options.outputPath);
    QString reason;
    if (!partial.create(&reason)) {
        printError(QStringLiteral("cannot write %1: %2").arg(options.outputPath, reason));
        return OutputFailed;
    }
    options.pdfPath = partial.path();
    if (!options.dbPath.isEmpty()) {
        if (const auto failed = openDatabase(options))
            return *failed;
    }
    const int result = options.docs.isEmpty() ? renderTemplate(options) : renderDocuments(options);
    if (result != Done)
        return result;
    if (!partial.commit(&reason)) {
        printError(QStringLiteral("cannot write %1: the finished file could not be moved into place: %2")
                       .arg(options.outputPath, reason));
        return OutputFailed;
    }
    return Done;
}

} // namespace

int main(int argc, char* argv[]) {
    // Rendering needs fonts, not a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    initAppResources();
    ReportList::build();

    Options options;
    bool help = false;
    const QString error = parseArguments(QApplication::arguments(), &options, &help);
    if (help) {
        std::fputs(usageText, stdout);
        return Done;
    }
    if (!error.isEmpty())
        return usageError(error);
    const int result = run(options);
    Database::shutdown();
    return result;
}
