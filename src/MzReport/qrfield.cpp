#include "qrfield.h"

#include "jsonvalues.h"
#include "mzlog.h"
#include "reportpage.h"

#include <QJsonObject>
#include <QPainter>
#include <exception>
#include <memory>
#include <qrcodegen/qrcodegen.hpp>

namespace {
// Encoding costs about a millisecond per kilobyte at the highest correction level; a form carries
// one or two codes of at most a few hundred bytes, while a page of thousands of large codes would
// take minutes. Beyond their share the fields of such a page are crossed out.
constexpr int pageEncodingBudget = 200000;
} // namespace

QrField::QrField(QObject* parent) : TextField(parent) {}

QrField::~QrField() = default;

int QrField::encodingAllowance() const {
    return pageEncodingBudget / qMax(1, _page ? _page->fieldsSharing(QrType) : 1);
}

const qrcodegen::QrCode* QrField::encoded(const QByteArray& content) {
    if (_code && content == _encodedContent)
        return _code.get();
    if (_refused && content == _encodedContent)
        return nullptr;
    _encodedContent = content;
    _code.reset();
    _refused = true;
    if (content.size() > encodingAllowance()) {
        MZ_LOG() << "QR code not encoded, beyond the page's share of encoding; text bytes:" << content.size();
        return nullptr;
    }
    try {
        _code = std::make_unique<qrcodegen::QrCode>(
            qrcodegen::QrCode::encodeText(content.constData(), qrcodegen::QrCode::Ecc::HIGH));
    } catch (const std::exception& refusal) {
        MZ_LOG() << "QR code not encoded:" << refusal.what() << "text bytes:" << content.size();
        return nullptr;
    }
    _refused = false;
    return _code.get();
}

void QrField::paint(QPainter* painter, double scale, double yOffset) {
    scale = resolveScale(scale);
    if (!painter || !(scale > 0.0))
        return;
    const QRectF rect(_x * scale, _y * scale - yOffset, _width * scale, _height * scale);
    if (rect.bottom() <= 0.0)
        return;
    const int side = float(rect.width()) / float(rect.height()) > 1.0f ? int(rect.height()) : int(rect.width());
    if (side <= 0)
        return;
    const QRectF square(rect.left(), rect.top(), side, side);
    // A code on another side is not even encoded.
    if (!reachesDevice(painter, square))
        return;

    const qrcodegen::QrCode* code = encoded(shownText().toUtf8());
    if (!code) {
        paintRefusal(painter, square);
        return;
    }

    const int size = code->getSize();
    const float module = float(side) / float(2 * quietZone + size);
    _origin = square.topLeft();
    painter->save();
    painter->setClipRect(square, Qt::ReplaceClip);
    painter->fillRect(square, _background);
    // Dark modules of a row are drawn as one rectangle per run: the same pixels as module
    // squares, without seams between them in PDF viewers.
    for (int y = -quietZone; y < size + quietZone; ++y) {
        int x = -quietZone;
        while (x < size + quietZone) {
            if (!code->getModule(x, y)) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < size + quietZone && code->getModule(x, y))
                ++x;
            painter->fillRect(QRectF(_origin.x() + (start + quietZone) * module, _origin.y() + (y + quietZone) * module,
                                     (x - start) * module, module),
                              _foreground);
        }
    }
    painter->restore();
}

void QrField::paintRefusal(QPainter* painter, const QRectF& square) {
    painter->save();
    painter->setClipRect(square, Qt::ReplaceClip);
    painter->fillRect(square, Qt::white);
    painter->setPen(QPen(Qt::gray, 1));
    painter->drawLine(square.topLeft(), square.bottomRight());
    painter->drawLine(square.topRight(), square.bottomLeft());
    painter->restore();
}

void QrField::read(const QJsonObject& object) {
    AbstractField::read(object);
    _text = mzjson::readString(object, QStringLiteral("id"));
}

void QrField::write(QJsonObject& object) const {
    AbstractField::write(object);
    object.insert(QStringLiteral("id"), _text);
}
