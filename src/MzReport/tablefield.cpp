#include "tablefield.h"

#include "jsonvalues.h"
#include "mzlog.h"
#include "reportpage.h"
#include "textfield.h"

#include <QAbstractItemModel>
#include <QAbstractTextDocumentLayout>
#include <QDataStream>
#include <QFontInfo>
#include <QFontMetrics>
#include <QJsonArray>
#include <QJsonObject>
#include <QPainter>
#include <QPrinter>
#include <QTextDocument>
#include <limits>

namespace {
// More breaks than this are not a form; the cap keeps loops over the parts short.
constexpr int maxSplits = 1000;
// Lengths at or below this count as not set.
constexpr double unset = 0.000001;
// Row counts are kept in 16 bits.
constexpr int maxRows = std::numeric_limits<quint16>::max();
// A model value that names its own column would be expanded for ever.
constexpr int maxSubstitutions = 1000;
constexpr int maxSubstitutedLength = 1 << 20;
// Measuring box height of a cell text, pixels.
constexpr int measureHeight = 1800;
constexpr int verticalMask = 0x1E0;
// What the tables of a page lay out, in characters of their cell texts and a fixed cost per cell
// (a cell costs about as much as that many characters), split evenly between them: the rows of a
// form are far below it, while cells of thousands of characters or rows without height stop at
// well under a second of work per paint.
constexpr int pageTableBudget = 1000000;
constexpr int cellCost = 64;

const QString dataOpen = QStringLiteral("$D{");
const QString gradeWord = QStringLiteral("довлетворительно");
const QString gradeWordBroken = QStringLiteral("довлетво- рительно");

// Break lists may be shorter than the break count in a damaged file: a missing entry is unset.
double entry(const QList<double>& list, int index) {
    return index >= 0 && index < list.size() ? list.at(index) : 0.0;
}

// Lists of the template sized to the column count, so that painting never indexes past them.
QList<double> sized(const QList<double>& list, int count) {
    QList<double> result = list.mid(0, count);
    while (result.size() < count)
        result.append(0.0);
    return result;
}

// Element by element, so a damaged count cannot make the stream reserve gigabytes up front.
template <typename T> QList<T> readList(QDataStream& stream) {
    QList<T> list;
    quint32 count = 0;
    stream >> count;
    for (quint32 i = 0; i < count && stream.status() == QDataStream::Ok; ++i) {
        T value{};
        stream >> value;
        if (stream.status() == QDataStream::Ok)
            list.append(value);
    }
    return list;
}

template <typename T> void writeList(QDataStream& stream, const QList<T>& list) {
    stream << quint32(list.size());
    for (const T& value : list)
        stream << value;
}
} // namespace

TableField::TableField(QObject* parent) : AbstractField(parent) {}

// ---- model binding and cell texts

bool TableField::bindModel() {
    if (!_page)
        return false;
    if (_model)
        disconnect(_model, nullptr, this, nullptr);
    _model = _page->model(_modelName);
    _columnMap.clear();
    _layoutValid = false;
    if (!_model)
        return false;
    const int columns = _model->columnCount();
    for (int c = 0; c < columns; ++c)
        _columnMap.insert(_model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), c);
    watchModel();
    return true;
}

// A model edited or deleted elsewhere must not leave stale rows or a dangling pointer behind.
void TableField::watchModel() {
    QAbstractItemModel* model = _model;
    connect(model, &QObject::destroyed, this, &TableField::forgetModel);
    const auto relayout = [this] { _layoutValid = false; };
    connect(model, &QAbstractItemModel::modelReset, this, relayout);
    connect(model, &QAbstractItemModel::rowsInserted, this, relayout);
    connect(model, &QAbstractItemModel::rowsRemoved, this, relayout);
    connect(model, &QAbstractItemModel::dataChanged, this, relayout);
    connect(model, &QAbstractItemModel::layoutChanged, this, relayout);
    connect(model, &QAbstractItemModel::headerDataChanged, this, [this] { bindModel(); });
    connect(model, &QAbstractItemModel::columnsInserted, this, [this] { bindModel(); });
    connect(model, &QAbstractItemModel::columnsRemoved, this, [this] { bindModel(); });
}

void TableField::forgetModel() {
    _model = nullptr;
    _columnMap.clear();
    _layoutValid = false;
}

QString TableField::substituteRow(const QString& source, int row) {
    if (!_dataBound)
        return source;
    const QString prefix = dataOpen + _modelName + QLatin1Char('.');
    QString text = source;
    for (int done = 0;; ++done) {
        const int start = text.indexOf(prefix);
        if (start < 0 || start >= TextField::maxTextLength) {
            if (text.size() > TextField::maxTextLength) {
                text = TextField::cutText(text, TextField::maxTextLength);
                reportCut(
                    QStringLiteral("the filled text of row %1 cut to %2 characters").arg(row + 1).arg(text.size()));
            }
            return _page ? _page->substituteVariables(text) : text;
        }
        const int close = text.indexOf(QLatin1Char('}'));
        // A "}" inside the model name would put the column id before its prefix.
        if (close <= start + 2 || close < start + prefix.size())
            return text;
        if (done >= maxSubstitutions || text.size() > maxSubstitutedLength) {
            MZ_LOG() << "Table cell substitution stopped, the values keep expanding:" << source.left(200);
            return text;
        }
        const QString column = text.mid(start + prefix.size(), close - start - prefix.size());
        QString value;
        const auto mapped = _columnMap.constFind(column);
        if (_model && mapped != _columnMap.constEnd())
            value = _model->data(_model->index(row, mapped.value()), Qt::DisplayRole).toString().toHtmlEscaped();
        text.replace(start, close - start + 1, value);
    }
}

int TableField::rowsToShow() const {
    if (!_dataBound)
        return _previewRowCount;
    return _model ? qMin(_model->rowCount(), maxRows) : 0;
}

QStringList TableField::rowTexts(int row) {
    QStringList texts;
    for (int c = 0; c < _columnCount; ++c) {
        const QString source = _columnIds.value(c);
        // Filling costs grow with the text, so a long template text is cut before it too.
        const QString raw = TextField::cutText(source, TextField::maxTextLength);
        const QString filled = substituteRow(raw, row);
        const QString text = TextField::cutText(filled, TextField::maxTextLength);
        if (raw.size() < source.size() || text.size() < filled.size())
            reportCut(QStringLiteral("the text of row %1, column %2 cut to %3 characters")
                          .arg(row + 1)
                          .arg(c + 1)
                          .arg(text.size()));
        texts.append(text);
    }
    return texts;
}

void TableField::rebuildCellTexts() {
    _cellTexts.clear();
    for (int r = 0; r < _rowCount; ++r)
        _cellTexts.append(rowTexts(r));
}

void TableField::reportCut(const QString& what) {
    if (_cutReported)
        return;
    _cutReported = true;
    MZ_LOG() << "Table" << _modelName << "at" << _x << _y << "mm:" << qPrintable(what);
}

// ---- layout

QFont TableField::metricsFont(double scale) const {
    QFont font = effectiveFont();
    // The font's own point size; only a font given in pixels asks the font database.
    const double points = font.pointSizeF() > 0 ? font.pointSizeF() : QFontInfo(font).pointSizeF();
    font.setPixelSize(qMax(1, int(points * scale * ReportPage::mmPerInch / 72.0)));
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

void TableField::layOutDocument(TextField::Document& document, const QString& text, double widthPx, int alignment) {
    document.documentLayout()->setPaintDevice(&_layoutDevice);
    document.setDefaultFont(effectiveFont());
    QTextOption option = document.defaultTextOption();
    option.setAlignment(Qt::Alignment(alignment));
    option.setWrapMode(_wordWrap ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    document.setDefaultTextOption(option);
    document.setDocumentMargin(0);
    if (text.isEmpty()) {
        document.setTextWidth(widthPx);
        return;
    }
    const bool leadingBlank = text.at(0).isSpace();
    const QString tag = leadingBlank ? QStringLiteral("<p style=\"white-space: pre-wrap;\">") : QStringLiteral("<p>");
    if (TextField::fillDocument(document, tag, text, widthPx, &_layoutDevice) != TextField::Shown::AsGiven)
        reportCut(QStringLiteral("a cell shown as plain text, possibly shortened: ") + text.left(60));
}

void TableField::useScale(double scale) {
    _scale = scale;
    const int dpi = qMax(1, qRound(scale * ReportPage::mmPerInch));
    if (_layoutDevice.isNull() || _layoutDevice.logicalDpiX() != dpi) {
        _layoutDevice = QImage(1, 1, QImage::Format_RGB32);
        _layoutDevice.setDotsPerMeterX(qRound(dpi / 0.0254));
        _layoutDevice.setDotsPerMeterY(qRound(dpi / 0.0254));
    }
}

void TableField::prepare() {
    const double scale = _scale < unset && _page ? _page->mmToPx() : _scale;
    if (!(scale > 0.0))
        return; // neither painted nor on a page: nothing to measure with
    // Measuring again at the same resolution would give the same rows.
    if (_layoutValid && scale == _preparedScale)
        return;
    useScale(scale);

    if (!_autoWidth)
        _effectiveWidths = sized(_columnsWidth, _columnCount);
    _headerInEffect = _headerIsVisible ? _headerHeight : 0.0;
    if (_headerIsVisible && _columnCount > 0)
        computeHeaderInset(scale);
    layOutRows(metricsFont(scale), scale);

    _totalWidth = 0.0;
    for (double w : qAsConst(_effectiveWidths))
        _totalWidth += w;
    _totalHeight = _headerInEffect + (rowsToShow() - _rowCount) * _rowHeight;
    for (double h : qAsConst(_rowHeights))
        _totalHeight += h;
    _width = _totalWidth;
    // An unlimited first part (or a missing entry) would give the field no height at all.
    const double firstPart = entry(_maxSplitHeight, 0);
    _height = _splitsCount > 0 && firstPart > unset ? firstPart : _totalHeight;

    _preparedScale = scale;
    _layoutValid = true;
}

// Half a text line of the field's font, in millimetres.
void TableField::computeHeaderInset(double scale) {
    const int alignment = Qt::AlignLeft | Qt::AlignTop;
    TextField::Document two, one;
    layOutDocument(two, QStringLiteral("W<br>W"), 100.0, alignment);
    layOutDocument(one, QStringLiteral("W"), 100.0, alignment);
    _headerInset = (two.size().height() - one.size().height()) / (2.0 * scale);
}

int TableField::tableAllowance() const {
    return pageTableBudget / qMax(1, _page ? _page->fieldsSharing(TableType) : 1);
}

// Header names take at most half of the allowance together, and header cells are drawn while it
// lasts; returns what the header costs.
int TableField::limitHeader(int allowance) {
    _headerLimit = qBound(0, allowance / (2 * qMax(1, int(_columnCount))), TextField::maxTextLength);
    _headerColumns = 0;
    int cost = 0;
    for (int c = 0; c < _columnCount && _headerIsVisible; ++c) {
        if (_headerNames.value(c).size() > _headerLimit)
            reportCut(QStringLiteral("header names cut to %1 characters").arg(_headerLimit));
        const int cellWork = cellCost + headerText(c).size();
        if (cost + cellWork > allowance) {
            reportCut(QStringLiteral("header cells from column %1 on left out").arg(c + 1));
            break;
        }
        cost += cellWork;
        ++_headerColumns;
    }
    return cost;
}

QString TableField::headerText(int column) const {
    return TextField::cutText(_headerNames.value(column), _headerLimit);
}

void TableField::startAutoWidths(const QFontMetrics& metrics, double scale) {
    _effectiveWidths = QList<double>();
    for (int c = 0; c < _columnCount; ++c) {
        double w = qMax(minAutoWidth, metrics.horizontalAdvance(headerText(c)) / scale + 2.0);
        if (!_dataBound)
            w = qMax(w, metrics.horizontalAdvance(TextField::cutText(_columnIds.value(c), TextField::maxTextLength)) /
                                scale +
                            2.0);
        _effectiveWidths.append(w);
    }
}

// Widens the automatic columns to a row's texts; true when one grew.
bool TableField::widenColumns(const QStringList& texts, const QFontMetrics& metrics, double scale) {
    bool widened = false;
    for (int c = 0; c < _columnCount && c < _effectiveWidths.size(); ++c) {
        const double w = metrics.horizontalAdvance(texts.value(c)) / scale + 2.0;
        if (w > _effectiveWidths.at(c)) {
            _effectiveWidths[c] = w;
            widened = true;
        }
    }
    return widened;
}

// The height of a row whose height so far is `height`, in millimetres.
double TableField::measureRow(QStringList& texts, double height, const QFontMetrics& metrics, double scale) {
    if (!_wordWrap)
        return height;
    bool allEmpty = true;
    for (int c = 0; c < _columnCount && c < texts.size(); ++c) {
        const double w = _effectiveWidths.value(c);
        QString& text = texts[c];
        allEmpty = allEmpty && text.isEmpty();
        // Lets the grade word break in a column narrower than the word.
        if (text.contains(gradeWord)) {
            const QRect box(0, 0, int((w - 1.0) * scale), measureHeight);
            if (metrics.boundingRect(box, _alignFlags | Qt::TextWordWrap, text).width() > w * scale)
                text.replace(gradeWord, gradeWordBroken);
        }
        TextField::Document document;
        layOutDocument(document, text, w * scale, effectiveAlignment(_columnsAlign.value(c)));
        height = qMax(height, document.size().height() / scale);
    }
    return allEmpty ? _rowHeight * 0.7 : height;
}

// Fills, measures and places rows until one fits in no part, one starts below the last side in a
// last part without a maximum height, or the allowance is spent. Automatic widths follow the rows
// laid out; when a row widens a column, the rows before it are measured again and placed anew.
void TableField::layOutRows(const QFont& font, double scale) {
    const QFontMetrics metrics(font);
    Rows rows;
    // Rows of a valid layout keep their texts and do not shrink: another resolution measures a
    // little differently, and a printed table must not move.
    if (_layoutValid) {
        rows.known = _cellTexts;
        rows.knownHeights = _rowHeights;
    }
    rows.allowance = tableAllowance();
    rows.allowance -= limitHeader(rows.allowance);
    if (_autoWidth)
        startAutoWidths(metrics, scale);
    const double strip = qMax(stripBottom(), _paintedBottom);
    for (;;) {
        const int widenedAt = walkRows(rows, metrics, scale, strip);
        if (widenedAt <= 0 || !measureAgain(rows, widenedAt, metrics, scale))
            break;
    }
    _cellTexts = rows.texts.mid(0, rows.laidOut);
    _rowHeights = rows.heights.mid(0, rows.laidOut);
    _rowCount = rows.laidOut;
}

// Places the rows from the first on, filling and measuring those not measured yet; returns the
// last row that widened a column, -1 when none did.
int TableField::walkRows(Rows& rows, const QFontMetrics& metrics, double scale, double strip) {
    const int count = rowsToShow();
    // Heights below zero move rows up again; then only the allowance bounds the walk.
    const bool rowsOnlyDescend = _rowHeight >= 0.0;
    Walk walk;
    walk.used = _headerInEffect;
    _rowParts.clear();
    _overflow = false;
    _stripCut = 0.0;
    int widenedAt = -1;
    int r = 0;
    for (; r < count; ++r) {
        if (rowsOnlyDescend && isLastPart(walk.part) && partTop(walk.part) + walk.used >= strip) {
            _stripCut = strip;
            break;
        }
        if (r == rows.heights.size()) {
            QStringList texts = r < rows.known.size() ? rows.known.at(r) : rowTexts(r);
            int cost = 0;
            for (const QString& text : qAsConst(texts))
                cost += cellCost + text.size();
            if (cost > rows.allowance) {
                reportCut(QStringLiteral("rows from %1 on left out, beyond what a table lays out").arg(r + 1));
                _overflow = true;
                break;
            }
            rows.allowance -= cost;
            if (_autoWidth && _dataBound && widenColumns(texts, metrics, scale))
                widenedAt = r;
            rows.costs.append(cost);
            rows.heights.append(measureRow(texts, rows.startHeight(r, _rowHeight), metrics, scale));
            rows.texts.append(texts);
        }
        if (!placeRow(walk, rows.heights.at(r))) {
            _overflow = true;
            _rowParts.append(-1);
            ++r;
            break;
        }
        _rowParts.append(walk.part);
    }
    rows.laidOut = r;
    return widenedAt;
}

// Measures the rows before `end` at the widths grown since; false when the allowance cannot pay
// for it (the rows keep the heights measured in narrower columns).
bool TableField::measureAgain(Rows& rows, int end, const QFontMetrics& metrics, double scale) {
    int cost = 0;
    for (int r = 0; r < end; ++r)
        cost += rows.costs.at(r);
    if (cost > rows.allowance)
        return false;
    rows.allowance -= cost;
    for (int r = 0; r < end; ++r)
        rows.heights[r] = measureRow(rows.texts[r], rows.startHeight(r, _rowHeight), metrics, scale);
    return true;
}

// Places a row of `height` after the rows placed so far, as painting does; false when it fits in
// no part, the table being cut there.
bool TableField::placeRow(Walk& walk, double height) const {
    const double limit = entry(_maxSplitHeight, walk.part);
    if (walk.part < _splitsCount && limit > unset && limit <= height + walk.used) {
        if (entry(_splitX, walk.part) < unset && entry(_splitY, walk.part) < unset)
            return false;
        ++walk.part;
        walk.used = 0.0;
    }
    walk.used += height;
    return true;
}

// Rows never leave this part for another.
bool TableField::isLastPart(int part) const {
    return part >= _splitsCount || !(entry(_maxSplitHeight, part) > unset);
}

double TableField::partTop(int part) const {
    return part == 0 ? _y : entry(_splitY, part - 1);
}

// The bottom of the last side in millimetres, for the paper of the page's printer in either
// orientation.
double TableField::stripBottom() const {
    const QPrinter* printer = _page ? _page->printer() : nullptr;
    if (!printer || !(_page->mmToPx() > 0.0))
        return std::numeric_limits<double>::infinity();
    const double side =
        qMax(printer->pageRect(QPrinter::DevicePixel).height(), double(qMax(printer->width(), printer->height())));
    return qMax(1, _page->pagesCount()) * side / _page->mmToPx();
}

// Remembers how far down the strip a painted side reaches; rows left out above that are laid out.
void TableField::noteVisibleBottom(const QPainter* painter, double scale, double yOffset) {
    const QPaintDevice* device = painter->device();
    bool invertible = false;
    const QTransform toLogical = painter->deviceTransform().inverted(&invertible);
    double bottom = std::numeric_limits<double>::infinity();
    if (device && device->width() > 0 && device->height() > 0 && invertible)
        bottom = (toLogical.mapRect(QRectF(0, 0, device->width(), device->height())).bottom() + yOffset) / scale;
    if (!(bottom > _paintedBottom))
        return;
    _paintedBottom = bottom;
    if (_stripCut > 0.0 && bottom > _stripCut)
        _layoutValid = false;
}

// ---- painting

void TableField::paint(QPainter* painter, double scale, double yOffset) {
    if (!painter)
        return;
    if (scale < unset)
        scale = _page ? _page->mmToPx() : 0.0;
    if (!(scale > 0.0))
        return;
    // Also with a valid layout: the cell texts are drawn at this paint's resolution.
    useScale(scale);
    noteVisibleBottom(painter, scale, yOffset);
    const bool bound = fillsWithData();
    if (bound != _dataBound || !_layoutValid) {
        _dataBound = bound;
        // Filled anew, and measured even at the resolution of the last layout.
        _cellTexts.clear();
        _preparedScale = 0.0;
        prepare();
    }

    painter->save();
    painter->setFont(metricsFont(scale));
    // Dashed lines show a borderless table on screen; on paper it has no lines at all.
    painter->setPen(QPen(Qt::black, 1, _drawBorders ? Qt::SolidLine : Qt::DashLine));
    const bool borders = _drawBorders || !isPrinterDevice(painter);
    const QPointF origin(_x * scale, _y * scale - yOffset);
    paintHeader(painter, origin, scale, borders);

    // Where the cells of a row reach across, from its start.
    double left = 0.0, right = 0.0, x = 0.0;
    for (double w : qAsConst(_effectiveWidths)) {
        x += w * scale;
        left = qMin(left, x);
        right = qMax(right, x);
    }
    QPointF start(origin.x(), origin.y() + _headerInEffect * scale);
    int part = 0;
    for (int r = 0; r < _rowCount; ++r) {
        const int rowPart = _rowParts.value(r, -1);
        if (rowPart < 0)
            break; // no continuation: the rest is cut
        const double height = _rowHeights.value(r) * scale;
        if (rowPart != part) {
            start = QPointF(entry(_splitX, part) * scale, entry(_splitY, part) * scale - yOffset);
            part = rowPart;
        }
        const QRectF span(start.x() + left, start.y(), right - left, height);
        if (TextField::reachesDevice(painter, span))
            paintRow(painter, r, start, height, scale, borders);
        start.ry() += height;
    }
    if (_zOnEmpty)
        paintZStrike(painter, part, start, scale, yOffset);
    painter->restore();
}

void TableField::paintHeader(QPainter* painter, const QPointF& origin, double scale, bool borders) {
    if (!_headerIsVisible)
        return;
    const double inset = _headerInset * scale;
    const int vertical = _alignFlags & verticalMask;
    const int wrap = _wordWrap ? int(Qt::TextWordWrap) : 0;
    double x = origin.x();
    for (int c = 0; c < _headerColumns; ++c) {
        const QRectF rect(x, origin.y(), _effectiveWidths.value(c) * scale, _headerInEffect * scale);
        x += rect.width();
        if (rect.bottom() <= 0.0)
            continue; // on an earlier side
        if (borders)
            painter->drawRect(rect);
        const int horizontal = _columnsAlign.value(c) & Qt::AlignHorizontal_Mask;
        painter->drawText(rect.adjusted(inset, inset, -inset, 0.0), horizontal | vertical | wrap, headerText(c));
    }
}

void TableField::paintRow(QPainter* painter, int row, const QPointF& start, double height, double scale, bool borders) {
    double x = start.x();
    for (int c = 0; c < _columnCount; ++c) {
        const QRectF rect(x, start.y(), _effectiveWidths.value(c) * scale, height);
        x += rect.width();
        if (rect.bottom() <= 0.0)
            continue;
        if (borders)
            painter->drawRect(rect);
        const QString text = _dataBound ? _cellTexts.value(row).value(c)
                                        : TextField::cutText(_columnIds.value(c), TextField::maxTextLength);
        if (text.isEmpty() || rect.width() <= 0.0 || rect.height() <= 0.0)
            continue;
        TextField::Document document;
        layOutDocument(document, text, rect.width(), effectiveAlignment(_columnsAlign.value(c)));
        const double free = rect.height() - document.size().height();
        double shift = 0.0;
        if (_alignFlags & Qt::AlignVCenter)
            shift = free * 0.5;
        else if (_alignFlags & Qt::AlignBottom)
            shift = free;
        shift = qMax(0.0, shift);

        painter->save();
        painter->setClipRect(rect, Qt::IntersectClip);
        painter->translate(rect.left(), rect.top() + shift);
        // Printed forms are black on white whatever the desktop palette says.
        QAbstractTextDocumentLayout::PaintContext context;
        context.palette.setColor(QPalette::Text, Qt::black);
        context.clip = QRectF(0.0, -shift, rect.width(), rect.height());
        document.documentLayout()->draw(painter, context);
        painter->restore();
    }
}

// Closes the free rest of the current part and every later part that has a maximum height.
void TableField::paintZStrike(QPainter* painter, int part, QPointF start, double scale, double yOffset) {
    if (part >= _maxSplitHeight.size() || !(_maxSplitHeight.at(part) > unset))
        return;
    painter->setPen(QPen(Qt::black, 1, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    const double m = 2.0 * scale;
    for (int i = part; i < _splitsCount; ++i) {
        const double limit = entry(_maxSplitHeight, i);
        const double partTop = (i == 0 ? _y : entry(_splitY, i - 1)) * scale - yOffset;
        const double left = start.x() + m;
        const double top = start.y() + m;
        const double right = start.x() + (_width - 2.0) * scale;
        const double bottom = partTop + (limit - 2.0) * scale;
        if (left < right && top < bottom && limit > unset) {
            painter->drawLine(QPointF(left, top), QPointF(right, top));
            painter->drawLine(QPointF(right, top), QPointF(left, bottom));
            painter->drawLine(QPointF(left, bottom), QPointF(right, bottom));
        }
        // A break without a continuation has no part after it to close.
        if (entry(_splitX, i) < unset && entry(_splitY, i) < unset)
            break;
        start = QPointF(entry(_splitX, i) * scale, entry(_splitY, i) * scale - yOffset);
    }
}

void TableField::setModelName(const QString& name) {
    const bool renamed = name != _modelName;
    _modelName = name;
    // Bound before observers hear of it, so that they see the new model.
    bindModel();
    if (renamed)
        notifyChanged("modelName");
}

void TableField::writeTo(QDataStream& stream) const {
    AbstractField::writeTo(stream);
    stream << _headerIsVisible << _autoWidth << _columnCount << _previewRowCount << _headerHeight << _rowHeight;
    writeList(stream, _columnsWidth);
    writeList(stream, QList<QString>(_headerNames));
    writeList(stream, QList<QString>(_columnIds));
    stream << _drawBorders;
}

void TableField::readFrom(QDataStream& stream) {
    AbstractField::readFrom(stream);
    stream >> _headerIsVisible >> _autoWidth >> _columnCount >> _previewRowCount >> _headerHeight >> _rowHeight;
    _columnsWidth = readList<double>(stream);
    _headerNames = readList<QString>(stream);
    _columnIds = readList<QString>(stream);
    stream >> _drawBorders;
}

void TableField::read(const QJsonObject& object) {
    using namespace mzjson;
    AbstractField::read(object);
    _cutReported = false;
    _headerIsVisible = readBool(object, QStringLiteral("headerIsVisible"));
    _autoWidth = readBool(object, QStringLiteral("autoWidth"));
    _columnCount = quint8(readInt(object, QStringLiteral("columnCount"), 0, 0, 255));
    _previewRowCount = quint8(readInt(object, QStringLiteral("previewRowCount"), 0, 0, 255));
    _headerHeight = readLength(object, QStringLiteral("headerHeight"));
    _rowHeight = readLength(object, QStringLiteral("rowHeight"));
    _modelName = readString(object, QStringLiteral("mModelName"));
    _drawBorders = readBool(object, QStringLiteral("drawBorders"));

    _columnsWidth = readLengths(object, QStringLiteral("columnsWidth"));
    _headerNames = readStrings(object, QStringLiteral("headerNames"));
    _columnIds = readStrings(object, QStringLiteral("columnIds"));
    _columnsAlign.clear();
    for (int code : readInts(object, QStringLiteral("columnsAlign"), 0, 255))
        _columnsAlign.append(quint8(code));
    while (_columnsAlign.size() < _columnCount)
        _columnsAlign.append(0);

    _splitsCount = readInt(object, QStringLiteral("splitsCount"), 0, 0, maxSplits);
    _maxSplitHeight.append(readLengths(object, QStringLiteral("maxSplitHeight")));
    _splitX.append(readLengths(object, QStringLiteral("splitX")));
    _splitY.append(readLengths(object, QStringLiteral("splitY")));
}

void TableField::write(QJsonObject& object) const {
    using mzjson::lengthsToJson;
    using mzjson::truncatedLength;
    AbstractField::write(object);
    object.insert(QStringLiteral("headerIsVisible"), _headerIsVisible);
    object.insert(QStringLiteral("autoWidth"), _autoWidth);
    object.insert(QStringLiteral("columnCount"), int(_columnCount));
    object.insert(QStringLiteral("previewRowCount"), int(_previewRowCount));
    object.insert(QStringLiteral("headerHeight"), truncatedLength(_headerHeight));
    object.insert(QStringLiteral("rowHeight"), truncatedLength(_rowHeight));
    object.insert(QStringLiteral("mModelName"), _modelName);
    object.insert(QStringLiteral("drawBorders"), _drawBorders);
    object.insert(QStringLiteral("columnsWidth"), lengthsToJson(_columnsWidth));
    object.insert(QStringLiteral("headerNames"), QJsonArray::fromStringList(_headerNames));
    object.insert(QStringLiteral("columnIds"), QJsonArray::fromStringList(_columnIds));
    QJsonArray aligns;
    for (quint8 code : _columnsAlign)
        aligns.append(int(code));
    object.insert(QStringLiteral("columnsAlign"), aligns);
    object.insert(QStringLiteral("splitsCount"), _splitsCount);
    object.insert(QStringLiteral("maxSplitHeight"), lengthsToJson(_maxSplitHeight));
    object.insert(QStringLiteral("splitX"), lengthsToJson(_splitX));
    object.insert(QStringLiteral("splitY"), lengthsToJson(_splitY));
}
