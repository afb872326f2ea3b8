#include "textfield.h"

#include "jsonvalues.h"
#include "mzlog.h"
#include "reportpage.h"

#include <QAbstractTextDocumentLayout>
#include <QDataStream>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QHash>
#include <QJsonObject>
#include <QPainter>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextCursor>
#include <QTextFrame>
#include <QTextLayout>

namespace {
// Qt's document layout stops making progress once a line starts 2^23 pixels down; documents are
// kept to half of that, and widths where the fixed-point line arithmetic is still exact.
constexpr double maxDocumentHeight = 4.0e6;
constexpr double maxDocumentWidth = 4.0e6;
// Parsing markup takes time that grows faster than its length once tags nest or repeat; forms
// use a handful of tags, so text with more is shown as plain text.
constexpr int maxMarkupTags = 64;
// Qt lays a word that fits on no line out again from its start for every line it fills, which
// makes a word wider than its line cost the square of its length. Words up to this many
// characters are left as they are; words of a form are far shorter.
constexpr int maxUnbrokenRun = 128;
const QChar zeroWidthSpace(0x200B);
// The text fields of a page share what they lay out per paint: a page of hundreds of fields full
// of text still paints in about a second, while a form (a few dozen fields of at most a few
// hundred characters) stays far below its share.
constexpr int pageTextBudget = 250000;
// What a pen strokes around a rectangle, in device pixels, when deciding that it is off the device.
constexpr double strokeMargin = 4.0;

// Text within this many millimetres of a field's edge still counts as printed: the line boxes
// of the layout hold some room above and below the letters.
constexpr double edgeToleranceMm = 0.2;
// What a message shows of a field's lost text at most.
constexpr int maxLostShown = 200;

int spacingPixels(double lineHeightMm, double scale) {
    return qMax(0, int(lineHeightMm * scale));
}

double contentHeight(const QTextDocument& document, int spacing, int fontPixels) {
    QRectF blocks;
    QAbstractTextDocumentLayout* layout = document.documentLayout();
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        blocks = blocks.united(layout->blockBoundingRect(block));
    // Lines taller than the font are measured by the layout as a whole.
    if (spacing > fontPixels)
        return int(layout->documentSize().height());
    return blocks.height();
}

// How far down the content is drawn in a box `height` pixels tall: aligned to the middle or the
// bottom only while it is shorter than the box.
int contentShift(double height, double content, int alignFlags) {
    int shift = 0;
    if (alignFlags & Qt::AlignVCenter)
        shift = int((height - content) * 0.5);
    else if (alignFlags & Qt::AlignBottom)
        shift = int(height - content);
    return qMax(0, shift);
}

// The characters [from, to) of `line` lie within [left, right] (pixels of its layout); positions
// grow to the right, as in the scripts of the forms.
std::pair<int, int> visibleRange(const QTextLine& line, double left, double right) {
    const int start = line.textStart();
    const int end = start + line.textLength();
    int low = start, high = end;
    while (low < high) {
        const int mid = (low + high) / 2;
        if (line.cursorToX(mid) >= left)
            high = mid;
        else
            low = mid + 1;
    }
    const int from = low;
    low = from;
    high = end;
    while (low < high) {
        const int mid = (low + high + 1) / 2;
        if (line.cursorToX(mid) <= right)
            low = mid;
        else
            high = mid - 1;
    }
    return {from, qMax(from, low)};
}

// The text of `document` that falls outside a box of `size` pixels. Content aligned down within
// the box takes its clip along, so only the layout's own positions count.
QString textOutside(const QTextDocument& document, const QSizeF& size, double tolerance) {
    QStringList lost;
    QAbstractTextDocumentLayout* documentLayout = document.documentLayout();
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QTextLayout* layout = block.layout();
        if (!layout)
            continue;
        const QPointF origin = documentLayout->blockBoundingRect(block).topLeft();
        const QString text = block.text();
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            const double top = origin.y() + line.y();
            if (top < -tolerance || top + line.height() > size.height() + tolerance) {
                lost << text.mid(line.textStart(), line.textLength());
                continue;
            }
            // Alignment may move a line that is too wide out on either side.
            const int end = line.textStart() + line.textLength();
            if (origin.x() + line.cursorToX(line.textStart()) >= -tolerance &&
                origin.x() + line.cursorToX(end) <= size.width() + tolerance)
                continue;
            const auto shown = visibleRange(line, -tolerance - origin.x(), size.width() + tolerance - origin.x());
            lost << text.mid(line.textStart(), shown.first - line.textStart())
                 << text.mid(shown.second, end - shown.second);
        }
    }
    // Break opportunities and line separators of the layout are no text of the form.
    QString joined = lost.join(QLatin1Char(' '));
    joined.remove(zeroWidthSpace);
    joined.replace(QChar(QChar::LineSeparator), QLatin1Char(' '));
    return joined.simplified();
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

// The font of the character at `position` of `block`.
QFont fontAt(const QTextBlock& block, int position) {
    QTextBlock::iterator it = block.begin();
    for (; !it.atEnd(); ++it) {
        if (it.fragment().position() + it.fragment().length() > block.position() + position)
            break;
    }
    const QTextCharFormat format = it.atEnd() ? block.charFormat() : it.fragment().charFormat();
    return format.font().resolve(block.document()->defaultFont());
}

// Where Qt breaks a word that no line holds, from `start` to `end` of `block`: it starts a line
// and fills each with as many graphemes as fit. Measured without kerning, which the break
// opportunities put there interrupt, so that each piece still fits its line.
QList<int> fillBreaks(const QTextBlock& block, int start, int end, double width, QPaintDevice* device) {
    QFont font = fontAt(block, start);
    font.setKerning(false);
    QTextLayout layout(block.text().mid(start, end - start), font, device);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAnywhere);
    layout.setTextOption(option);
    const QTextBlockFormat format = block.blockFormat();
    const double margins =
        format.leftMargin() + format.rightMargin() + format.indent() * block.document()->indentWidth();
    double lineWidth = width - margins - (start == 0 ? format.textIndent() : 0.0);
    QList<int> breaks;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(qMax(0.0, lineWidth));
        lineWidth = width - margins;
        const int at = start + line.textStart() + line.textLength();
        if (at < end)
            breaks.append(at);
    }
    layout.endLayout();
    return breaks;
}

// The width in pixels of the characters from `start` to `end` of `block`, each in its own format.
double runWidth(const QTextBlock& block, int start, int end, QPaintDevice* device) {
    const QFont base = block.document()->defaultFont();
    double width = 0.0;
    for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        const int from = qMax(start, fragment.position() - block.position());
        const int to = qMin(end, fragment.position() + fragment.length() - block.position());
        if (from >= to)
            continue;
        const QFont font = fragment.charFormat().font().resolve(base);
        const QString piece = block.text().mid(from, to - from);
        width += device ? QFontMetricsF(font, device).horizontalAdvance(piece)
                        : QFontMetricsF(font).horizontalAdvance(piece);
    }
    return width;
}

// Keeps the breaking of words wider than `width` linear. A text without a choice of break (one
// unbroken word per line) breaks anywhere instead, which lays out the same lines; elsewhere such a
// word gets a break opportunity at the end of each line it fills.
void boundWordBreaking(QTextDocument& document, double width, QPaintDevice* device) {
    QList<int> positions;
    bool longRuns = false;
    bool choices = false;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QString text = block.text();
        QTextBoundaryFinder lines(QTextBoundaryFinder::Line, text);
        int start = 0;
        for (int end = lines.toNextBoundary(); end >= 0; start = end, end = lines.toNextBoundary()) {
            choices =
                choices || (end < text.size() && !(lines.boundaryReasons() & QTextBoundaryFinder::MandatoryBreak));
            if (end - start <= maxUnbrokenRun)
                continue;
            longRuns = true;
            if (runWidth(block, start, end, device) > width) {
                for (int at : fillBreaks(block, start, end, width, device))
                    positions.append(block.position() + at);
            }
        }
    }
    if (!longRuns)
        return;
    if (!choices) {
        QTextOption option = document.defaultTextOption();
        option.setWrapMode(QTextOption::WrapAnywhere);
        document.setDefaultTextOption(option);
        return;
    }
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    // From the end, so that the positions before each insertion stay valid.
    for (int i = positions.size() - 1; i >= 0; --i) {
        cursor.setPosition(positions.at(i));
        // In the font of its word: a fallback font that has the character would make the line taller.
        QTextCharFormat format = cursor.charFormat();
        format.setFontStyleStrategy(QFont::StyleStrategy(format.fontStyleStrategy() | QFont::NoFontMerging));
        cursor.insertText(QString(zeroWidthSpace), format);
    }
    cursor.endEditBlock();
}

void setSource(QTextDocument& document, const QString& tag, const QString& body, bool wrap) {
    QString source = tag + body + QStringLiteral("</p>");
    if (wrap)
        source.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    document.setHtml(source);
}

// Tables, frames and images lay out in time and height that the characters do not bound (nested
// tables take time exponential in their depth).
bool hasOnlyText(const QTextDocument& document) {
    if (!document.rootFrame()->childFrames().isEmpty())
        return false;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().objectType() != QTextFormat::NoObject)
                return false;
        }
    }
    return true;
}

// An upper bound of the laid-out height in pixels: a block has at most one line per character
// and one more, none taller than its largest font or its fixed line height.
double heightBound(const QTextDocument& document, QPaintDevice* device) {
    QHash<QString, double> spacings;
    const auto spacing = [&](const QTextCharFormat& format) {
        const QFont font = format.font().resolve(document.defaultFont());
        auto known = spacings.constFind(font.key());
        if (known == spacings.constEnd())
            known = spacings.insert(font.key(), device ? QFontMetricsF(font, device).lineSpacing()
                                                       : QFontMetricsF(font).lineSpacing());
        return known.value();
    };
    double bound = 0.0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        double step = spacing(block.charFormat());
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it)
            step = qMax(step, spacing(it.fragment().charFormat()));
        const QTextBlockFormat format = block.blockFormat();
        const double given = qMax(0.0, format.lineHeight());
        switch (format.lineHeightType()) {
        case QTextBlockFormat::FixedHeight:
            step = given;
            break;
        case QTextBlockFormat::MinimumHeight:
            step = qMax(step, given);
            break;
        case QTextBlockFormat::ProportionalHeight:
            step = step * qMax(100.0, given) / 100.0;
            break;
        case QTextBlockFormat::LineDistanceHeight:
            step += given;
            break;
        default:
            break;
        }
        bound +=
            qMax(0.0, format.topMargin()) + qMax(0.0, format.bottomMargin()) + (block.length() + 1.0) * qMax(1.0, step);
    }
    return bound;
}
} // namespace

QVariant TextField::Document::loadResource(int, const QUrl&) {
    return QVariant();
}

TextField::TextField(QObject* parent) : AbstractField(parent) {}

void TextField::prepare() {
    _layoutValid = true;
}

int TextField::fontPixelSize(const QFont& font, double scale) {
    return int(QFontInfo(font).pointSizeF() * scale * ReportPage::mmPerInch / 72.0);
}

QString TextField::cutText(const QString& text, int length) {
    if (text.size() <= length)
        return text;
    length = qMax(0, length);
    if (length > 0 && text.at(length - 1).isHighSurrogate())
        --length;
    return text.left(length);
}

QString TextField::boundedText(int length, bool* cut) const {
    // Filling costs grow with the text, so a long template text is cut before it too.
    const QString raw = cutText(_text, maxTextLength);
    // A QR code encodes the values as they are; the other fields print them as rich text.
    const QString filled = fillsWithData() ? _page->substituteVariables(raw, type() != QrType) : raw;
    const QString text = cutText(filled, length);
    if (cut)
        *cut = raw.size() < _text.size() || text.size() < filled.size();
    return text;
}

QString TextField::shownText() const {
    return boundedText(maxTextLength, nullptr);
}

int TextField::textAllowance() const {
    const int fields = _page ? qMax(1, int(_page->fields().size())) : 1;
    return qMin(maxTextLength, pageTextBudget / fields);
}

void TextField::reportCut(const QString& what) {
    if (_cutReported)
        return;
    _cutReported = true;
    // The length only: the text is a document's, with its holder's personal data.
    MZ_LOG() << "Text of the field at" << _x << _y << "mm" << qPrintable(what) << "characters:" << _text.size();
}

TextField::Shown TextField::fillDocument(Document& document, const QString& paragraphTag, const QString& text,
                                         double width, QPaintDevice* device) {
    // A null page size keeps Qt from laying the document out while it is being built.
    document.setPageSize(QSizeF(0.0, 0.0));
    width = qMin(width, maxDocumentWidth);
    const QTextOption option = document.defaultTextOption();
    const bool wrap = option.wrapMode() != QTextOption::NoWrap;
    const auto build = [&](const QString& body) {
        document.setDefaultTextOption(option);
        setSource(document, paragraphTag, body, wrap);
        // A negative width does not wrap.
        if (wrap && width >= 0.0)
            boundWordBreaking(document, width, device);
    };
    bool asGiven = text.count(QLatin1Char('<')) <= maxMarkupTags;
    if (asGiven) {
        build(text);
        asGiven = hasOnlyText(document) && heightBound(document, device) <= maxDocumentHeight;
    }
    Shown shown = asGiven ? Shown::AsGiven : Shown::AsPlainText;
    if (!asGiven) {
        QString plain = text;
        build(plain.toHtmlEscaped());
        for (double height = heightBound(document, device); height > maxDocumentHeight && !plain.isEmpty();
             height = heightBound(document, device)) {
            plain = cutText(plain, int(plain.size() * 0.9 * maxDocumentHeight / height));
            build(plain.toHtmlEscaped());
            shown = Shown::Shortened;
        }
    }
    document.setTextWidth(width);
    return shown;
}

bool TextField::reachesDevice(const QPainter* painter, const QRectF& rect) {
    const QPaintDevice* device = painter ? painter->device() : nullptr;
    if (!device || device->width() <= 0 || device->height() <= 0)
        return true;
    const QRectF area(-strokeMargin, -strokeMargin, device->width() + 2 * strokeMargin,
                      device->height() + 2 * strokeMargin);
    const QRectF box = painter->deviceTransform().mapRect(rect.normalized());
    return box.left() <= area.right() && box.right() >= area.left() && box.top() <= area.bottom() &&
           box.bottom() >= area.top();
}

struct TextField::Layout {
    Document document;
    QString text;
    // The text was cut before it was laid out, or shown shortened.
    bool cut = false;
    Shown shown = Shown::AsGiven;
    int fontPixels = 0;
    int spacing = 0;
    QSizeF box;
};

QRectF TextField::box(double scale, double yOffset) const {
    QRectF rect(_x * scale, _y * scale - yOffset, _width * scale, _height * scale);
    // Compensates the first line for the paragraph's fixed line height: its baseline comes one
    // font size below the top. The field's own size decides, so that a shrunk text stays on the
    // rules of the blank.
    const int spacing = spacingPixels(_lineHeight, scale);
    if (spacing > 0)
        rect.setTop(rect.top() + (fontPixelSize(effectiveFont(), scale) - spacing / 1.25));
    return rect;
}

void TextField::layOut(Layout& layout, double scale, double pointSize) const {
    QFont font = effectiveFont();
    if (pointSize > 0.0 && pointSize != QFontInfo(font).pointSizeF())
        font.setPointSizeF(pointSize);
    layout.fontPixels = fontPixelSize(font, scale);
    font.setPixelSize(qMax(1, layout.fontPixels));
    font.setHintingPreference(QFont::PreferNoHinting);
    layout.spacing = spacingPixels(_lineHeight, scale);
    layout.box = box(scale, 0.0).size();
    const int indent = int(qBound(0.0, _indent * scale, maxDocumentWidth));

    Document& document = layout.document;
    document.setDefaultFont(font);
    const QString tag = layout.spacing > 0
                            ? QStringLiteral("<p style=\"line-height:%1px; text-indent: %2px;\">")
                                  .arg(QString::number(layout.spacing), QString::number(indent))
                            : QStringLiteral("<p style=\"text-indent: %1px;\">").arg(QString::number(indent));
    QTextOption option = document.defaultTextOption();
    option.setAlignment(Qt::Alignment(_alignFlags));
    option.setWrapMode(_wordWrap ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    document.setDefaultTextOption(option);
    document.setDocumentMargin(0);
    layout.shown = fillDocument(document, tag, layout.text, _width * scale);
}

double TextField::paintedPointSize(double scale) {
    return fittedPointSize(scale, boundedText(textAllowance(), nullptr));
}

double TextField::fittedPointSize(double scale, const QString& text) {
    const double own = QFontInfo(effectiveFont()).pointSizeF();
    if (!_shrinkToFit || own <= minShrinkPointSize || !(scale > 0.0))
        return own;
    Layout layout;
    layout.text = text;
    const QString key = QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9")
                            .arg(scale)
                            .arg(_width)
                            .arg(_height)
                            .arg(_indent)
                            .arg(_lineHeight)
                            .arg(_alignFlags)
                            .arg(_wordWrap)
                            .arg(effectiveFont().key(), layout.text);
    if (key == _fitKey)
        return _fitPointSize;
    const double tolerance = qMax(1.0, edgeToleranceMm * scale);
    double size = own;
    for (;; size = qMax(minShrinkPointSize, size - shrinkStep)) {
        layOut(layout, scale, size);
        if (size <= minShrinkPointSize || textOutside(layout.document, layout.box, tolerance).isEmpty())
            break;
    }
    _fitKey = key;
    _fitPointSize = size;
    return size;
}

QString TextField::lostText(double scale) {
    if (!(scale > 0.0))
        return QString();
    Layout layout;
    layout.text = boundedText(textAllowance(), &layout.cut);
    layOut(layout, scale, fittedPointSize(scale, layout.text));
    QString lost = textOutside(layout.document, layout.box, qMax(1.0, edgeToleranceMm * scale));
    if (layout.cut || layout.shown == Shown::Shortened)
        lost += QStringLiteral(" …");
    lost = lost.trimmed();
    return lost.size() > maxLostShown ? cutText(lost, maxLostShown) + QStringLiteral("…") : lost;
}

void TextField::paint(QPainter* painter, double scale, double yOffset) {
    scale = resolveScale(scale);
    if (!painter || !(scale > 0.0))
        return;
    const QRectF rect = box(scale, yOffset);
    if (rect.bottom() <= 0.0)
        return; // on an earlier side
    // A field on a later side is not even laid out.
    if (!reachesDevice(painter, rect))
        return;

    Layout layout;
    layout.text = boundedText(textAllowance(), &layout.cut);
    if (layout.cut)
        reportCut(QStringLiteral("cut to %1 characters:").arg(layout.text.size()));
    painter->save();
    painter->setRenderHint(QPainter::TextAntialiasing);
    layOut(layout, scale, fittedPointSize(scale, layout.text));
    if (layout.shown == Shown::AsPlainText)
        reportCut(QStringLiteral("shown as plain text:"));
    else if (layout.shown == Shown::Shortened)
        reportCut(QStringLiteral("shortened, its lines would be too tall to lay out:"));
    const QTextDocument& document = layout.document;
    const QPointF origin = rect.topLeft();
    const QRectF box(0.0, 0.0, rect.width(), rect.height());
    painter->translate(origin);

    const double content = contentHeight(document, layout.spacing, layout.fontPixels);
    const int shift = contentShift(box.height(), content, _alignFlags);
    const double contentBottom = content + shift;
    painter->translate(0.0, shift);

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
    _cutReported = false;
}

void TextField::read(const QJsonObject& object) {
    AbstractField::read(object);
    _text = mzjson::readString(object, QStringLiteral("id"));
    _indent = mzjson::readLength(object, QStringLiteral("indent"), _indent);
    _lineHeight = mzjson::readLength(object, QStringLiteral("lineHeight"), _lineHeight);
    _shrinkToFit = mzjson::readBool(object, QStringLiteral("shrinkToFit"), _shrinkToFit);
    _cutReported = false;
}

void TextField::write(QJsonObject& object) const {
    AbstractField::write(object);
    object.insert(QStringLiteral("id"), _text);
    object.insert(QStringLiteral("indent"), mzjson::truncatedLength(_indent));
    object.insert(QStringLiteral("lineHeight"), mzjson::truncatedLength(_lineHeight));
    // Written only when asked for: templates without it stay as they were.
    if (_shrinkToFit)
        object.insert(QStringLiteral("shrinkToFit"), true);
}
