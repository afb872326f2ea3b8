#include "textfield.h"

#include "jsonvalues.h"
#include "reportpage.h"

#include <QAbstractTextDocumentLayout>
#include <QDataStream>
#include <QFontInfo>
#include <QJsonObject>
#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>

namespace {
struct Paragraph {
    int fontPixels = 0;
    int spacing = 0;
};

// Fills `document` with the field's one paragraph; returns the pixel metrics the placement needs.
Paragraph buildDocument(QTextDocument& document, const TextField& field, const QString& text, double scale) {
    Paragraph result;
    QFont font = field.effectiveFont();
    result.fontPixels = TextField::fontPixelSize(font, scale);
    font.setPixelSize(qMax(1, result.fontPixels));
    font.setHintingPreference(QFont::PreferNoHinting);
    document.setDefaultFont(font);

    result.spacing = qMax(0, int(field.lineHeight() * scale));
    const int indent = qMax(0, int(field.indent() * scale));
    QString source = result.spacing > 0
                         ? QStringLiteral("<p style=\"line-height:%1px; text-indent: %2px;\">%3</p>")
                               .arg(QString::number(result.spacing), QString::number(indent), text)
                         : QStringLiteral("<p style=\"text-indent: %1px;\">%2</p>").arg(QString::number(indent), text);
    if (field.wordWrap())
        source.replace(QLatin1Char('\n'), QStringLiteral("<br>"));

    QTextOption option = document.defaultTextOption();
    option.setAlignment(Qt::Alignment(field.alignFlags()));
    option.setWrapMode(field.wordWrap() ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    document.setDefaultTextOption(option);
    document.setDocumentMargin(0);
    document.setTextWidth(field.width() * scale);
    document.setHtml(source);
    return result;
}

double contentHeight(const QTextDocument& document, const Paragraph& paragraph) {
    QRectF blocks;
    QAbstractTextDocumentLayout* layout = document.documentLayout();
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        blocks = blocks.united(layout->blockBoundingRect(block));
    // Lines taller than the font are measured by the layout as a whole.
    if (paragraph.spacing > paragraph.fontPixels)
        return int(layout->documentSize().height());
    return blocks.height();
}

void drawZStrike(QPainter* painter, double scale, double width, double height, double contentBottom) {
    const double m = 2.0 * scale;
    const double top = contentBottom + m;
    const double right = width - m;
    const double bottom = height - m;
    if (!(right > m && bottom > top))
        return;
    painter->setPen(QPen(Qt::black, 1, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter->drawLine(QPointF(m, top), QPointF(right, top));
    painter->drawLine(QPointF(right, top), QPointF(m, bottom));
    painter->drawLine(QPointF(m, bottom), QPointF(right, bottom));
}
} // namespace

TextField::TextField(QObject* parent) : AbstractField(parent) {}

void TextField::prepare() {
    _layoutValid = true;
}

int TextField::fontPixelSize(const QFont& font, double scale) {
    return int(QFontInfo(font).pointSizeF() * scale * ReportPage::mmPerInch / 72.0);
}

QString TextField::shownText() const {
    return fillsWithData() ? _page->substituteVariables(_text) : _text;
}

void TextField::paint(QPainter* painter, double scale, double yOffset) {
    scale = resolveScale(scale);
    if (!painter || !(scale > 0.0))
        return;
    QRectF rect(_x * scale, _y * scale - yOffset, _width * scale, _height * scale);
    if (rect.bottom() <= 0.0)
        return; // on an earlier side

    painter->save();
    painter->setRenderHint(QPainter::TextAntialiasing);
    QTextDocument document;
    const Paragraph paragraph = buildDocument(document, *this, shownText(), scale);
    // Compensates the first line for the paragraph's fixed line height.
    if (paragraph.spacing > 0)
        rect.setTop(rect.top() + (paragraph.fontPixels - paragraph.spacing / 1.25));
    const QPointF origin = rect.topLeft();
    const QRectF box(0.0, 0.0, rect.width(), rect.height());
    painter->translate(origin);

    const double content = contentHeight(document, paragraph);
    int shift = 0;
    if (_alignFlags & Qt::AlignVCenter)
        shift = int((box.height() - content) * 0.5);
    else if (_alignFlags & Qt::AlignBottom)
        shift = int(box.height() - content);
    double contentBottom = content;
    if (shift > 0) {
        painter->translate(0.0, shift);
        contentBottom = content + shift;
    }

    // Printed forms are black on white whatever the desktop palette says.
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette.setColor(QPalette::Text, Qt::black);
    context.clip = box;
    painter->setClipRect(box, Qt::IntersectClip);
    document.documentLayout()->draw(painter, context);
    painter->restore();

    if (_zOnEmpty) {
        painter->save();
        painter->translate(origin);
        drawZStrike(painter, scale, box.width(), box.height(), contentBottom);
        painter->restore();
    }
}

void TextField::writeTo(QDataStream& stream) const {
    AbstractField::writeTo(stream);
    stream << _text;
}

void TextField::readFrom(QDataStream& stream) {
    AbstractField::readFrom(stream);
    stream >> _text;
}

void TextField::read(const QJsonObject& object) {
    AbstractField::read(object);
    _text = mzjson::readString(object, QStringLiteral("id"));
    _indent = mzjson::readLength(object, QStringLiteral("indent"), _indent);
    _lineHeight = mzjson::readLength(object, QStringLiteral("lineHeight"), _lineHeight);
}

void TextField::write(QJsonObject& object) const {
    AbstractField::write(object);
    object.insert(QStringLiteral("id"), _text);
    object.insert(QStringLiteral("indent"), mzjson::truncatedLength(_indent));
    object.insert(QStringLiteral("lineHeight"), mzjson::truncatedLength(_lineHeight));
}
