#include "tablefield.h"

#include "jsonvalues.h"
#include "reportpage.h"

#include <QAbstractItemModel>
#include <QDataStream>
#include <QJsonArray>
#include <QJsonObject>

namespace {
// More breaks than this are not a form; the cap keeps loops over the parts short.
constexpr int maxSplits = 1000;

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

// The grid layout (column widths, row heights, parts, overflow) is not built yet: until it is,
// a table takes no room on the form and paints nothing.
void TableField::prepare() {}

void TableField::paint(QPainter* painter, double scale, double yOffset) {
    Q_UNUSED(painter)
    Q_UNUSED(scale)
    Q_UNUSED(yOffset)
}

bool TableField::bindModel() {
    if (!_page)
        return false;
    _model = _page->model(_modelName);
    _columnMap.clear();
    if (!_model)
        return false;
    const int columns = _model->columnCount();
    for (int c = 0; c < columns; ++c)
        _columnMap.insert(_model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), c);
    return true;
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
