// templategen: draws the eight shipped blank-form templates and writes them as .mzrpt files.
//
// Usage: templategen OUTPUT_DIR
//        templategen --preview DIR [--dpi N]
// The first form writes id130.mzrpt ... id151.mzrpt. The second writes, per template, the raw
// backgrounds (<id>-bg<side>.jpg) and the sides filled with a long sample document as the
// engine would paint them (<id>-<side>.png, and <id>-<side>-boxes.png with the data fields outlined).
// Both first check the placement: every data field on the paper, clear of the edges and the
// fold, and no two data fields overlapping; a problem is reported and nothing is written.

#include "mzrptwriter.h"
#include "preview.h"
#include "templates.h"

#include <QDir>
#include <QGuiApplication>
#include <QTextStream>

namespace {
const char usage[] = "usage: templategen OUTPUT_DIR\n"
                     "       templategen --preview DIR [--dpi N]\n";

struct Options {
    QString dir;
    bool preview = false;
    int dpi = 150;
};

bool parse(const QStringList& args, Options* options) {
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--preview")) {
            options->preview = true;
        } else if (args[i] == QLatin1String("--dpi") && i + 1 < args.size()) {
            bool ok = false;
            options->dpi = args[++i].toInt(&ok);
            if (!ok || options->dpi < 30 || options->dpi > 600)
                return false;
        } else if (!args[i].startsWith(QLatin1String("--")) && options->dir.isEmpty()) {
            options->dir = args[i];
        } else {
            return false;
        }
    }
    return !options->dir.isEmpty();
}

QString writeForm(const Form& form, const Options& options) {
    if (!options.preview)
        return writeTemplate(form, QDir(options.dir).filePath(form.fileName + QStringLiteral(".mzrpt")));
    QString error = writeBackgrounds(form, options.dir);
    if (error.isEmpty())
        error = writePreview(form, options.dir, options.dpi, false);
    if (error.isEmpty())
        error = writePreview(form, options.dir, options.dpi, true);
    return error;
}
} // namespace

std::vector<std::unique_ptr<Form>> buildAllForms() {
    std::vector<std::unique_ptr<Form>> forms;
    forms.push_back(buildCertificate({QStringLiteral("id130"), Kind::Either, false}));
    forms.push_back(buildAppendix({QStringLiteral("id133"), Kind::Either}));
    forms.push_back(buildCertificate({QStringLiteral("id139"), Kind::Profession, false}));
    forms.push_back(buildCertificate({QStringLiteral("id142"), Kind::Profession, true}));
    forms.push_back(buildCertificate({QStringLiteral("id145"), Kind::Post, false}));
    forms.push_back(buildCertificate({QStringLiteral("id148"), Kind::Post, true}));
    forms.push_back(buildAppendix({QStringLiteral("id150"), Kind::Profession}));
    forms.push_back(buildAppendix({QStringLiteral("id151"), Kind::Post}));
    return forms;
}

int main(int argc, char* argv[]) {
    // Drawing needs fonts, not a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);

    Options options;
    if (!parse(QGuiApplication::arguments(), &options)) {
        err << usage;
        return 2;
    }
    if (!QDir().mkpath(options.dir)) {
        err << "templategen: cannot create " << options.dir << '\n';
        return 1;
    }
    const auto forms = buildAllForms();
    QStringList problems;
    for (const auto& form : forms)
        problems << form->check();
    if (!problems.isEmpty()) {
        for (const QString& problem : problems)
            err << "templategen: " << problem << '\n';
        return 1;
    }
    for (const auto& form : forms) {
        const QString error = writeForm(*form, options);
        if (!error.isEmpty()) {
            err << "templategen: " << error << '\n';
            return 1;
        }
    }
    return 0;
}
