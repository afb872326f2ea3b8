#include "mzrptwriter.h"

#include <QBuffer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace {
// Keeps each background near 100 to 250 KB while the fine guilloche stays crisp.
constexpr int jpegQuality = 75;

QJsonArray lengths(const QList<double>& values) {
    QJsonArray array;
    for (double v : values)
        array.append(truncatedLength(v));
    return array;
}

void writeCommon(QJsonObject& o, const QRectF& rect, bool wordWrap, int alignFlags, const FontStyle& font,
                 bool zOnEmpty) {
    o.insert(QStringLiteral("x"), truncatedLength(rect.x()));
    o.insert(QStringLiteral("y"), truncatedLength(rect.y()));
    o.insert(QStringLiteral("width"), truncatedLength(rect.width()));
    o.insert(QStringLiteral("height"), truncatedLength(rect.height()));
    o.insert(QStringLiteral("wrap"), 0);
    o.insert(QStringLiteral("wordWrap"), wordWrap);
    o.insert(QStringLiteral("alignFlags"), alignFlags);
    if (!(font == dataFont))
        o.insert(QStringLiteral("font"), fieldFont(font).toString());
    if (zOnEmpty)
        o.insert(QStringLiteral("zOnEmpty"), true);
}

QJsonObject textJson(const TextFieldDef& t) {
    QJsonObject o;
    writeCommon(o, t.rect, t.wordWrap, t.align, t.font, t.zOnEmpty);
    o.insert(QStringLiteral("id"), t.text);
    o.insert(QStringLiteral("indent"), 0.0);
    o.insert(QStringLiteral("lineHeight"), truncatedLength(t.lineHeight));
    if (t.shrinkToFit)
        o.insert(QStringLiteral("shrinkToFit"), true);
    return o;
}

QJsonObject qrJson(const QrFieldDef& q) {
    QJsonObject o;
    writeCommon(o, q.rect, false, 0, dataFont, false);
    o.insert(QStringLiteral("id"), q.text);
    return o;
}

QJsonObject tableJson(const TableFieldDef& t) {
    QJsonObject o;
    writeCommon(o, QRectF(t.origin, QSizeF(t.width(), t.maxHeights.value(0))), t.wordWrap, t.align, t.font, t.zOnEmpty);
    QList<double> widths, splitX, splitY;
    QStringList headers, cells;
    QJsonArray aligns;
    for (const TableColumn& c : t.columns) {
        widths << c.width;
        headers << c.header;
        cells << c.cell;
        aligns.append(c.align);
    }
    for (const QPointF& p : t.continuations) {
        splitX << p.x();
        splitY << p.y();
    }
    o.insert(QStringLiteral("headerIsVisible"), true);
    o.insert(QStringLiteral("autoWidth"), false);
    o.insert(QStringLiteral("columnCount"), t.columns.size());
    o.insert(QStringLiteral("previewRowCount"), t.previewRows);
    o.insert(QStringLiteral("headerHeight"), truncatedLength(t.headerHeight));
    o.insert(QStringLiteral("rowHeight"), truncatedLength(t.rowHeight));
    o.insert(QStringLiteral("mModelName"), t.model);
    o.insert(QStringLiteral("drawBorders"), t.drawBorders);
    o.insert(QStringLiteral("columnsWidth"), lengths(widths));
    o.insert(QStringLiteral("headerNames"), QJsonArray::fromStringList(headers));
    o.insert(QStringLiteral("columnIds"), QJsonArray::fromStringList(cells));
    o.insert(QStringLiteral("columnsAlign"), aligns);
    o.insert(QStringLiteral("splitsCount"), t.continuations.size());
    o.insert(QStringLiteral("maxSplitHeight"), lengths(t.maxHeights));
    o.insert(QStringLiteral("splitX"), lengths(splitX));
    o.insert(QStringLiteral("splitY"), lengths(splitY));
    return o;
}

QString jpegBase64(const QImage& image) {
    return QString::fromLatin1(backgroundJpeg(image).toBase64());
}
} // namespace

QByteArray backgroundJpeg(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", jpegQuality);
    return bytes;
}

QJsonObject templateJson(const Form& form) {
    QJsonObject page;
    page.insert(QStringLiteral("orientation"), 1);
    page.insert(QStringLiteral("printBackgroundImage"), false);
    page.insert(QStringLiteral("defaultFont"), fieldFont(dataFont).toString());
    page.insert(QStringLiteral("pagesCount"), 2);
    page.insert(QStringLiteral("pageSize"), 0);
    QJsonArray texts, tables, qrs;
    for (const TextFieldDef& t : form.texts)
        texts.append(textJson(t));
    for (const TableFieldDef& t : form.tables)
        tables.append(tableJson(t));
    for (const QrFieldDef& q : form.qrs)
        qrs.append(qrJson(q));
    page.insert(QStringLiteral("textFields"), texts);
    page.insert(QStringLiteral("tableFields"), tables);
    page.insert(QStringLiteral("qrFields"), qrs);
    page.insert(QStringLiteral("backgroundImageJPG"), jpegBase64(form.art.image(0)));
    page.insert(QStringLiteral("backgroundImage2JPG"), jpegBase64(form.art.image(1)));
    return page;
}

QString writeTemplate(const Form& form, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    const QByteArray json = QJsonDocument(templateJson(form)).toJson(QJsonDocument::Indented);
    if (file.write(json) != json.size() || !file.flush())
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return QString();
}
