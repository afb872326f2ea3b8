#include "qrfield.h"

#include "jsonvalues.h"
#include "mzlog.h"

#include <QJsonObject>
#include <QPainter>
#include <exception>
#include <memory>
#include <qrcodegen/qrcodegen.hpp>

QrField::QrField(QObject* parent) : TextField(parent) {}

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

    const QByteArray content = shownText().toUtf8();
    std::unique_ptr<qrcodegen::QrCode> code;
    try {
        code = std::make_unique<qrcodegen::QrCode>(
            qrcodegen::QrCode::encodeText(content.constData(), qrcodegen::QrCode::Ecc::HIGH));
    } catch (const std::exception& refusal) {
        MZ_LOG() << "QR code not encoded:" << refusal.what() << "text bytes:" << content.size();
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
