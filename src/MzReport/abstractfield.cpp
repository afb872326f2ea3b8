#include "abstractfield.h"

#include "jsonvalues.h"
#include "mzlog.h"
#include "reportpage.h"

#include <QDataStream>
#include <QJsonObject>
#include <QPaintDevice>
#include <QPainter>
#include <limits>

namespace {
// How a default-constructed font was described where the templates were first drawn; files
// carry it for fields that use the page's font.
const QString legacyDefaultFont = QStringLiteral("MS Shell Dlg 2,8.25,-1,5,50,0,0,0,0,0");
} // namespace

AbstractField::AbstractField(QObject* parent) : QObject(parent) {}

void AbstractField::setGeometry(double x, double y, double width, double height) {
    if (x == _x && y == _y && width == _width && height == _height)
        return;
    _x = x;
    _y = y;
    _width = width;
    _height = height;
    notifyChanged("geometry");
}

void AbstractField::setPage(ReportPage* page) {
    if (page == _page)
        return;
    _page = page;
    _layoutValid = false;
}

void AbstractField::notifyChanged(const char* property) {
    _layoutValid = false;
    emit fieldChanged(this, QByteArray(property));
}

void AbstractField::writeTo(QDataStream& stream) const {
    stream << _x << _y << _width << _height << qint32(_wrap) << _wordWrap << _font << _alignFlags;
}

void AbstractField::readFrom(QDataStream& stream) {
    qint32 wrap = 0;
    stream >> _x >> _y >> _width >> _height >> wrap >> _wordWrap >> _font >> _alignFlags;
    _wrap = wrap;
    _layoutValid = false;
}

void AbstractField::read(const QJsonObject& object) {
    using namespace mzjson;
    _x = readLength(object, QStringLiteral("x"));
    _y = readLength(object, QStringLiteral("y"));
    _width = readLength(object, QStringLiteral("width"));
    _height = readLength(object, QStringLiteral("height"));
    _wrap =
        readInt(object, QStringLiteral("wrap"), 0, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    _wordWrap = readBool(object, QStringLiteral("wordWrap"));
    _alignFlags = quint16(readInt(object, QStringLiteral("alignFlags"), 0, 0, 0xFFFF));

    const QString font = readString(object, QStringLiteral("font"));
    _font = QFont();
    if (!font.isEmpty() && font != legacyDefaultFont && !parseFont(font, &_font))
        MZ_LOG() << "Unusable field font, the page font is used:" << font;
    _zOnEmpty = readBool(object, QStringLiteral("zOnEmpty"), _zOnEmpty);
    _layoutValid = false;
}

void AbstractField::write(QJsonObject& object) const {
    using mzjson::truncatedLength;
    object.insert(QStringLiteral("x"), truncatedLength(_x));
    object.insert(QStringLiteral("y"), truncatedLength(_y));
    object.insert(QStringLiteral("width"), truncatedLength(_width));
    object.insert(QStringLiteral("height"), truncatedLength(_height));
    object.insert(QStringLiteral("wrap"), _wrap);
    object.insert(QStringLiteral("wordWrap"), _wordWrap);
    object.insert(QStringLiteral("alignFlags"), int(_alignFlags));
    // Compared as a font, not as its description: the description of a default font differs
    // between platforms, and writing it would pin the field to that platform's font.
    if (!isDefaultFont(_font)) {
        const QString description = _font.toString();
        if (description != legacyDefaultFont)
            object.insert(QStringLiteral("font"), description);
    }
    if (_zOnEmpty)
        object.insert(QStringLiteral("zOnEmpty"), true);
}

QFont AbstractField::effectiveFont() const {
    if (_page && isDefaultFont(_font))
        return _page->defaultFont();
    return _font;
}

int AbstractField::effectiveAlignment(int override) const {
    int flags = override != 0 ? override : int(_alignFlags);
    if (_wordWrap)
        flags |= Qt::TextWordWrap;
    else
        flags &= ~int(Qt::TextWordWrap);
    return flags;
}

bool AbstractField::isPrinterDevice(const QPainter* painter) {
    const QPaintDevice* device = painter ? painter->device() : nullptr;
    return device && device->devType() == QInternal::Printer;
}

bool AbstractField::isDefaultFont(const QFont& font) {
    return font == QFont();
}

double AbstractField::resolveScale(double scale) const {
    if (scale >= 0.0)
        return scale;
    return _page ? _page->mmToPx() : 0.0;
}

bool AbstractField::fillsWithData() const {
    return _page && _page->fillWithData();
}
