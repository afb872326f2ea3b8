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
        if (start < 0)
            return _page ? _page->substituteVariables(text) : text;
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
            value = _model->data(_model->index(row, mapped.value()), Qt::DisplayRole).toString();
        text.replace(start, close - start + 1, value);
    }
}

int TableField::rowsToShow() const {
    if (!_dataBound)
        return _previewRowCount;
    return _model ? qMin(_model->rowCount(), maxRows) : 0;
}

void TableField::rebuildCellTexts() {
    const int rows = rowsToShow();
    _cellTexts.clear();
    _cellTexts.reserve(rows);
    for (int r = 0; r < rows; ++r) {
        QStringList row;
        for (int c = 0; c < _columnCount; ++c)
            row.append(substituteRow(_columnIds.value(c), r));
        _cellTexts.append(row);
    }
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

void TableField::layOutDocument(QTextDocument& document, const QString& text, double widthPx, int alignment) {
    document.documentLayout()->setPaintDevice(&_layoutDevice);
    document.setDefaultFont(effectiveFont());
    QTextOption option = document.defaultTextOption();
    option.setAlignment(Qt::Alignment(alignment));
    option.setWrapMode(_wordWrap ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    document.setDefaultTextOption(option);
    document.setDocumentMargin(0);
    document.setTextWidth(widthPx);
    if (text.isEmpty())
        return;
    const bool leadingBlank = text.at(0).isSpace();
    QString source = QStringLiteral("<p%2>%1</p>")
                         .arg(text, leadingBlank ? QStringLiteral(" style=\"white-space: pre-wrap;\"") : QString());
    if (_wordWrap)
        source.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    document.setHtml(source);
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
    useScale(scale);

    if (!_autoWidth)
        _effectiveWidths = sized(_columnsWidth, _columnCount);
    _headerInEffect = _headerIsVisible ? _headerHeight : 0.0;
    const QFont font = metricsFont(scale);
    _rowCount = rowsToShow();
    // Before the widths are fitted to them, so that they are measured as painted.
    if (_cellTexts.size() != _rowCount)
        rebuildCellTexts();
    if (_autoWidth)
        fitAutoWidths(font, scale);
    computeHeaderInset(scale);
    computeRowHeights(font, scale);

    _totalWidth = 0.0;
    for (double w : qAsConst(_effectiveWidths))
        _totalWidth += w;
    _totalHeight = _headerInEffect;
    for (double h : qAsConst(_rowHeights))
        _totalHeight += h;
    _width = _totalWidth;
    // An unlimited first part (or a missing entry) would give the field no height at all.
    const double firstPart = entry(_maxSplitHeight, 0);
    _height = _splitsCount > 0 && firstPart > unset ? firstPart : _totalHeight;
    checkOverflow();

    if (!_layoutValid)
        emit fieldChanged();
    _layoutValid = true;
}

void TableField::fitAutoWidths(const QFont& font, double scale) {
    const QFontMetrics metrics(font);
    _effectiveWidths = QList<double>();
    for (int c = 0; c < _columnCount; ++c) {
        double w = qMax(minAutoWidth, metrics.horizontalAdvance(_headerNames.value(c)) / scale + 2.0);
        if (!_dataBound) {
            w = qMax(w, metrics.horizontalAdvance(_columnIds.value(c)) / scale + 2.0);
        } else {
            for (const QStringList& row : qAsConst(_cellTexts))
                w = qMax(w, metrics.horizontalAdvance(row.value(c)) / scale + 2.0);
        }
        _effectiveWidths.append(w);
    }
}

// Half a text line of the field's font, in millimetres.
void TableField::computeHeaderInset(double scale) {
    const int alignment = Qt::AlignLeft | Qt::AlignTop;
    QTextDocument two, one;
    layOutDocument(two, QStringLiteral("W<br>W"), 100.0, alignment);
    layOutDocument(one, QStringLiteral("W"), 100.0, alignment);
    _headerInset = (two.size().height() - one.size().height()) / (2.0 * scale);
}

void TableField::computeRowHeights(const QFont& font, double scale) {
    if (!_layoutValid || _rowHeights.size() != _rowCount)
        _rowHeights = QVector<double>(_rowCount, _rowHeight).toList();
    if (!_wordWrap)
        return;
    const QFontMetrics metrics(font);
    const int measureFlags = _alignFlags | Qt::TextWordWrap;
    for (int r = 0; r < _rowCount && r < _cellTexts.size(); ++r) {
        QStringList& texts = _cellTexts[r];
        bool allEmpty = true;
        for (int c = 0; c < _columnCount && c < texts.size(); ++c) {
            const double w = _effectiveWidths.value(c);
            QString& text = texts[c];
            allEmpty = allEmpty && text.isEmpty();
            const QRect box(0, 0, int((w - 1.0) * scale), measureHeight);
            // Lets the grade word break in a column narrower than the word.
            if (metrics.boundingRect(box, measureFlags, text).width() > w * scale && text.contains(gradeWord))
                text.replace(gradeWord, gradeWordBroken);
            QTextDocument document;
            layOutDocument(document, text, w * scale, effectiveAlignment(_columnsAlign.value(c)));
            _rowHeights[r] = qMax(_rowHeights.at(r), document.size().height() / scale);
        }
        if (allEmpty)
            _rowHeights[r] = _rowHeight * 0.7;
    }
}

// In millimetres, the same walk over the parts as the painting does in pixels.
void TableField::checkOverflow() {
    double used = _headerInEffect;
    int part = 0;
    _overflow = false;
    for (int r = 0; r < _rowCount; ++r) {
        const double height = _rowHeights.value(r);
        const double limit = entry(_maxSplitHeight, part);
        if (part < _splitsCount && limit > unset && limit <= height + used) {
            if (entry(_splitX, part) < unset && entry(_splitY, part) < unset) {
                _overflow = true;
                return;
            }
            ++part;
            used = 0.0;
        }
        used += height;
    }
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
    const bool bound = fillsWithData();
    if (bound != _dataBound || !_layoutValid) {
        _dataBound = bound;
        rebuildCellTexts();
        prepare();
    }

    painter->save();
    painter->setFont(metricsFont(scale));
    // Dashed lines show a borderless table on screen; on paper it has no lines at all.
    painter->setPen(QPen(Qt::black, 1, _drawBorders ? Qt::SolidLine : Qt::DashLine));
    const bool borders = _drawBorders || !isPrinterDevice(painter);
    const QPointF origin(_x * scale, _y * scale - yOffset);
    paintHeader(painter, origin, scale, borders);

    QPointF start(origin.x(), origin.y() + _headerInEffect * scale);
    double used = _headerInEffect * scale;
    int part = 0;
    for (int r = 0; r < _rowCount; ++r) {
        const double height = _rowHeights.value(r) * scale;
        const double limit = entry(_maxSplitHeight, part);
        if (part < _splitsCount && limit > unset && limit * scale <= height + used) {
            if (entry(_splitX, part) < unset && entry(_splitY, part) < unset)
                break; // no continuation: the rest is cut
            start = QPointF(entry(_splitX, part) * scale, entry(_splitY, part) * scale - yOffset);
            used = 0.0;
            ++part;
        }
        paintRow(painter, r, start, height, scale, borders);
        start.ry() += height;
        used += height;
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
    for (int c = 0; c < _columnCount; ++c) {
        const QRectF rect(x, origin.y(), _effectiveWidths.value(c) * scale, _headerInEffect * scale);
        x += rect.width();
        if (rect.bottom() <= 0.0)
            continue; // on an earlier side
        if (borders)
            painter->drawRect(rect);
        const int horizontal = _columnsAlign.value(c) & Qt::AlignHorizontal_Mask;
        painter->drawText(rect.adjusted(inset, inset, -inset, 0.0), horizontal | vertical | wrap,
                          _headerNames.value(c));
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
        const QString text = _dataBound ? _cellTexts.value(row).value(c) : _columnIds.value(c);
        if (text.isEmpty() || rect.width() <= 0.0 || rect.height() <= 0.0)
            continue;
        QTextDocument document;
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
    _modelName = name;
    bindModel();
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
