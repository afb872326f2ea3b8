#include "rendertool.h"

#include "testenvironment.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTextDocument>

namespace {
constexpr double mmPerInch = 25.399931;
constexpr double mmPerPoint = 25.4 / 72.0;

QString unescapeHtml(const QString& text) {
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}
} // namespace

RenderTool::RenderTool() = default;

QString RenderTool::writeTemplate(const QJsonObject& page, const QString& name) {
    QFile file(path(name));
    if (file.open(QIODevice::WriteOnly))
        file.write(QJsonDocument(page).toJson());
    return file.fileName();
}

int RenderTool::run(const QStringList& arguments) {
    QProcess process;
    process.start(binaryPath(QStringLiteral("mzrpt-render")), arguments);
    if (!process.waitForFinished(120000)) {
        _stderr = QStringLiteral("mzrpt-render did not finish: ") + process.errorString();
        return -1;
    }
    _stderr = QString::fromUtf8(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QString RenderTool::render(const QJsonObject& page, int dpi, const QStringList& extra, bool png) {
    const QString templatePath = writeTemplate(page);
    const QString pdf = path(QStringLiteral("page.pdf"));
    QFile::remove(pdf);
    QStringList arguments{QStringLiteral("--dpi"), QString::number(dpi)};
    arguments << extra;
    if (png)
        arguments << QStringLiteral("--png") << path(QStringLiteral("page"));
    arguments << templatePath << pdf;
    return run(arguments) == 0 ? pdf : QString();
}

QImage RenderTool::png(int side) const {
    return QImage(path(QStringLiteral("page-%1.png").arg(side)));
}

QList<PdfWord> pdfWords(const QString& pdfPath) {
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdfPath, QStringLiteral("-")});
    if (!process.waitForFinished(60000))
        return {};
    const QString html = QString::fromUtf8(process.readAllStandardOutput());
    static const QRegularExpression pattern(QStringLiteral(
        R"re(<page |<word xMin="([-\d.]+)" yMin="([-\d.]+)" xMax="([-\d.]+)" yMax="([-\d.]+)">([^<]*)</word>)re"));
    QList<PdfWord> words;
    int page = -1;
    auto it = pattern.globalMatch(html);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        if (match.captured(0).startsWith(QLatin1String("<page"))) {
            ++page;
            continue;
        }
        PdfWord word;
        word.page = page;
        word.left = match.captured(1).toDouble() * mmPerPoint;
        word.top = match.captured(2).toDouble() * mmPerPoint;
        word.right = match.captured(3).toDouble() * mmPerPoint;
        word.bottom = match.captured(4).toDouble() * mmPerPoint;
        word.text = unescapeHtml(match.captured(5));
        words.append(word);
    }
    return words;
}

double pxToMm(double px, int dpi) {
    return px * mmPerInch / dpi;
}

double mmToPx(double mm, int dpi) {
    return mm * dpi / mmPerInch;
}

QJsonObject pageObject(const QJsonArray& textFields, const QJsonArray& qrFields, int pagesCount) {
    return QJsonObject{{QStringLiteral("orientation"), 1},
                       {QStringLiteral("pageSize"), 0},
                       {QStringLiteral("pagesCount"), pagesCount},
                       {QStringLiteral("textFields"), textFields},
                       {QStringLiteral("qrFields"), qrFields}};
}

QJsonObject textFieldObject(double x, double y, double width, double height, const QString& text, int alignFlags) {
    return QJsonObject{{QStringLiteral("x"), x},
                       {QStringLiteral("y"), y},
                       {QStringLiteral("width"), width},
                       {QStringLiteral("height"), height},
                       {QStringLiteral("alignFlags"), alignFlags},
                       {QStringLiteral("id"), text}};
}
