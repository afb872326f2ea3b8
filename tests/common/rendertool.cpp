#include "rendertool.h"

#include "testenvironment.h"

#include <QDir>
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

QString RenderTool::writeCsv(const QList<QStringList>& rows, const QString& name) {
    QStringList lines;
    for (const QStringList& row : rows) {
        QStringList fields;
        for (QString field : row)
            fields << QLatin1Char('"') + field.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
        lines << fields.join(QLatin1Char(','));
    }
    QFile file(path(name));
    if (file.open(QIODevice::WriteOnly))
        file.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
    return file.fileName();
}

QList<QImage> rasterize(const QString& pdfPath, int dpi) {
    QTemporaryDir dir;
    QProcess process;
    process.start(QStringLiteral("pdftoppm"),
                  {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-png"), pdfPath, dir.filePath("p")});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    QList<QImage> pages;
    QStringList files = QDir(dir.path()).entryList({QStringLiteral("p-*.png")}, QDir::Files, QDir::Name);
    for (const QString& file : files)
        pages << QImage(dir.filePath(file));
    return pages;
}

namespace {
bool isDark(QRgb pixel) {
    return qGray(pixel) < 128;
}
} // namespace

QList<int> solidRows(const QImage& image, int left, int right, int top, int bottom) {
    QList<int> rows;
    left = qMax(0, left);
    right = qMin(right, image.width());
    for (int y = qMax(0, top); y < qMin(bottom, image.height()); ++y) {
        int dark = 0;
        for (int x = left; x < right; ++x)
            dark += isDark(image.pixel(x, y)) ? 1 : 0;
        if (right > left && dark >= (right - left) * 9 / 10)
            rows << y;
    }
    return rows;
}

QList<int> solidColumns(const QImage& image, int top, int bottom, int left, int right) {
    QList<int> columns;
    top = qMax(0, top);
    bottom = qMin(bottom, image.height());
    for (int x = qMax(0, left); x < qMin(right, image.width()); ++x) {
        int dark = 0;
        for (int y = top; y < bottom; ++y)
            dark += isDark(image.pixel(x, y)) ? 1 : 0;
        if (bottom > top && dark >= (bottom - top) * 9 / 10)
            columns << x;
    }
    return columns;
}

QList<int> mergeAdjacent(const QList<int>& lines) {
    QList<int> merged;
    for (int i = 0; i < lines.size(); ++i) {
        if (i == 0 || lines.at(i) != lines.at(i - 1) + 1)
            merged << lines.at(i);
    }
    return merged;
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

QString describeWords(const QList<PdfWord>& words) {
    QStringList lines;
    for (const PdfWord& w : words)
        lines << QStringLiteral("%1@%2 [%3,%4]-[%5,%6]")
                     .arg(w.text)
                     .arg(w.page)
                     .arg(w.left, 0, 'f', 2)
                     .arg(w.top, 0, 'f', 2)
                     .arg(w.right, 0, 'f', 2)
                     .arg(w.bottom, 0, 'f', 2);
    return lines.join(QLatin1Char('\n'));
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

QJsonObject tablePageObject(const QJsonArray& tableFields, int pagesCount) {
    QJsonObject page = pageObject({}, {}, pagesCount);
    page.insert(QStringLiteral("tableFields"), tableFields);
    return page;
}

QJsonObject tableFieldObject(double x, double y, const QList<double>& widths, const QStringList& modelColumns,
                             double headerHeight, double rowHeight, int alignFlags) {
    QJsonArray widthArray, headers, ids, aligns;
    for (int c = 0; c < widths.size(); ++c) {
        widthArray << widths.at(c);
        headers << QStringLiteral("Графа%1").arg(c + 1);
        ids << QStringLiteral("$D{m.%1}").arg(modelColumns.value(c));
        aligns << 0;
    }
    return QJsonObject{{QStringLiteral("x"), x},
                       {QStringLiteral("y"), y},
                       {QStringLiteral("alignFlags"), alignFlags},
                       {QStringLiteral("headerIsVisible"), headerHeight > 0},
                       {QStringLiteral("columnCount"), widths.size()},
                       {QStringLiteral("previewRowCount"), 2},
                       {QStringLiteral("headerHeight"), headerHeight},
                       {QStringLiteral("rowHeight"), rowHeight},
                       {QStringLiteral("mModelName"), QStringLiteral("m")},
                       {QStringLiteral("drawBorders"), true},
                       {QStringLiteral("columnsWidth"), widthArray},
                       {QStringLiteral("headerNames"), headers},
                       {QStringLiteral("columnIds"), ids},
                       {QStringLiteral("columnsAlign"), aligns}};
}

QJsonObject textFieldObject(double x, double y, double width, double height, const QString& text, int alignFlags) {
    return QJsonObject{{QStringLiteral("x"), x},
                       {QStringLiteral("y"), y},
                       {QStringLiteral("width"), width},
                       {QStringLiteral("height"), height},
                       {QStringLiteral("alignFlags"), alignFlags},
                       {QStringLiteral("id"), text}};
}
