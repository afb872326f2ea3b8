#pragma once

#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A word of a rendered PDF as pdftotext -bbox reports it, converted to millimetres from the
// top-left corner of its page.
struct PdfWord {
    int page = 0;
    QString text;
    double left = 0, top = 0, right = 0, bottom = 0;
    double centerX() const { return (left + right) / 2; }
    double centerY() const { return (top + bottom) / 2; }
};

// Runs build/bin/mzrpt-render on templates written into a private temporary folder.
class RenderTool {
public:
    RenderTool();

    QString path(const QString& name) const { return _dir.filePath(name); }
    QString writeTemplate(const QJsonObject& page, const QString& name = QStringLiteral("page.mzrpt"));
    // Exit code of the tool; its standard error is kept in errorText().
    int run(const QStringList& arguments);
    QString errorText() const { return _stderr; }

    // Renders `page` to page.pdf (and page-N.png with `png`); empty on failure (see errorText()).
    QString render(const QJsonObject& page, int dpi, const QStringList& extra = {}, bool png = false);
    QImage png(int side) const;
    // Writes rows (the first one the header) as a UTF-8 CSV file, quoting every field.
    QString writeCsv(const QList<QStringList>& rows, const QString& name = QStringLiteral("model.csv"));

private:
    QTemporaryDir _dir;
    QString _stderr;
};

QList<PdfWord> pdfWords(const QString& pdfPath);
// One line per word with its page and box, for failure messages.
QString describeWords(const QList<PdfWord>& words);
// Millimetres per device pixel at `dpi`, the way the engine converts.
double pxToMm(double px, int dpi);
double mmToPx(double mm, int dpi);

// The pages of a PDF as images at `dpi` (pdftoppm); empty on failure.
QList<QImage> rasterize(const QString& pdfPath, int dpi);

// Rows (or columns) of the image in which at least 90 % of the pixels of the span are dark.
QList<int> solidRows(const QImage& image, int left, int right, int top, int bottom);
QList<int> solidColumns(const QImage& image, int top, int bottom, int left, int right);
// Runs of adjacent indexes merged into their first index.
QList<int> mergeAdjacent(const QList<int>& lines);

// Template helpers.
QJsonObject pageObject(const QJsonArray& textFields, const QJsonArray& qrFields = {}, int pagesCount = 1);
QJsonObject tablePageObject(const QJsonArray& tableFields, int pagesCount = 1);
// A data-bound table of model "m" whose cell templates are $D{m.<header>} of `modelColumns`.
QJsonObject tableFieldObject(double x, double y, const QList<double>& widths, const QStringList& modelColumns,
                             double headerHeight, double rowHeight, int alignFlags = 0x21);
QJsonObject textFieldObject(double x, double y, double width, double height, const QString& text,
                            int alignFlags = 0x21);
