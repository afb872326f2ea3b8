// mzrpt-render: prints a template to a PDF file through the page's own side painting, without
// dialogs. Exit codes: 0 done, 2 bad arguments, 3 unreadable template, 4 output not written,
// 5 unreadable model file.

#include "MzReport/reportpage.h"
#include "csvmodel.h"

#include <QApplication>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QStringList>
#include <QTextStream>
#include <cstdio>
#include <optional>

namespace {

const char usageText[] =
    "usage: mzrpt-render [options] TEMPLATE.mzrpt OUTPUT.pdf\n"
    "  --var NAME=VALUE      set a page variable (repeatable; NAME is stored as the page stores names)\n"
    "  --model NAME=FILE.csv register a read-only table model from a UTF-8 CSV file whose first row\n"
    "                        holds the header texts (repeatable; NAME is stored as the page stores names)\n"
    "  --raw                 do not fill: show the raw template texts, as the designer does\n"
    "  --background          print the background images\n"
    "  --dpi N               printer resolution in dots per inch (default 300)\n"
    "  --side N              render only side N, counted from 0 (default: every side, one PDF page each)\n"
    "  --png PREFIX          also write each rendered side as PREFIX-N.png at the same resolution\n"
    "                        (drawn as on screen: tables without borders show dashed outlines)\n"
    "  --save FILE.mzrpt     also write the loaded template back with the page's own save\n"
    "A table whose rows do not all fit is reported on standard error and rendered cut.\n"
    "exit codes: 0 done, 2 bad arguments, 3 template not readable, 4 output not written,\n"
    "            5 model file not readable\n";

enum ExitCode { Done = 0, BadArguments = 2, BadTemplate = 3, OutputFailed = 4, BadModel = 5 };

constexpr int minDpi = 10;
// A3 at this resolution is already a gigabyte of PNG pixels.
constexpr int maxDpi = 1200;

struct Options {
    QString templatePath;
    QString pdfPath;
    QList<QPair<QString, QString>> variables;
    QList<QPair<QString, QString>> models;
    bool raw = false;
    bool background = false;
    int dpi = 300;
    int side = -1;
    QString pngPrefix;
    QString savePath;
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
                                arg == QLatin1String("--png") || arg == QLatin1String("--save");
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
        } else if (arg.startsWith(QLatin1String("--")) && arg.size() > 2) {
            return QStringLiteral("unknown option %1").arg(arg);
        } else {
            positional.append(arg);
        }
    }
    if (*help)
        return QString();
    if (positional.size() != 2)
        return QStringLiteral("a template and an output file are needed");
    options->templatePath = positional.at(0);
    options->pdfPath = positional.at(1);
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

// The same side painting onto an image of the printer's page at the printer's resolution.
QString writePng(ReportPage& page, int side, const QString& prefix) {
    QPrinter* printer = page.printer();
    QImage image(printer->width(), printer->height(), QImage::Format_RGB32);
    if (image.isNull())
        return QStringLiteral("no memory for a %1 x %2 image").arg(printer->width()).arg(printer->height());
    const int dotsPerMeter = qRound(printer->resolution() / 0.0254);
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        const double bandTop = printer->pageRect(QPrinter::DevicePixel).height() * side;
        page.paintSide(painter, side, image.rect(), bandTop, ReportPage::mmToPx(printer->logicalDpiX()));
    }
    const QString path = QStringLiteral("%1-%2.png").arg(prefix).arg(side);
    if (!image.save(path, "PNG"))
        return QStringLiteral("cannot write %1").arg(path);
    return QString();
}

int run(const Options& options) {
    ReportPage page;
    const QString loadError = page.loadFile(options.templatePath);
    if (!loadError.isEmpty()) {
        printError(QStringLiteral("cannot read template %1: %2").arg(options.templatePath, loadError));
        return BadTemplate;
    }
    if (page.pagesCount() < 1) {
        printError(QStringLiteral("template %1 has no printed sides").arg(options.templatePath));
        return BadTemplate;
    }
    if (options.side >= page.pagesCount())
        return usageError(
            QStringLiteral("--side %1: the template has sides 0 to %2").arg(options.side).arg(page.pagesCount() - 1));

    // Written as loaded, before the rendering options touch the page.
    if (!options.savePath.isEmpty()) {
        const QString error = page.saveFile(options.savePath);
        if (!error.isEmpty()) {
            printError(QStringLiteral("cannot save %1: %2").arg(options.savePath, error));
            return OutputFailed;
        }
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

    QList<int> sides;
    if (options.side >= 0)
        sides.append(options.side);
    else
        for (int side = 0; side < page.pagesCount(); ++side)
            sides.append(side);

    setUpPrinter(page.printer(), options);
    if (!page.paintSides(page.printer(), sides)) {
        printError(QStringLiteral("cannot write %1").arg(options.pdfPath));
        return OutputFailed;
    }
    // As answering Yes to the page's question: reported, and printed cut.
    if (page.tablesOverflow())
        printError(QStringLiteral("table data does not fit on the form and is cut"));
    if (!options.pngPrefix.isEmpty()) {
        for (int side : sides) {
            const QString error = writePng(page, side, options.pngPrefix);
            if (!error.isEmpty()) {
                printError(error);
                return OutputFailed;
            }
        }
    }
    return Done;
}

} // namespace

int main(int argc, char* argv[]) {
    // Rendering needs fonts, not a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    Options options;
    bool help = false;
    const QString error = parseArguments(QApplication::arguments(), &options, &help);
    if (help) {
        std::fputs(usageText, stdout);
        return Done;
    }
    if (!error.isEmpty())
        return usageError(error);
    return run(options);
}
