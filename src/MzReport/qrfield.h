#pragma once

#include "textfield.h"

#include <QBrush>
#include <memory>

namespace qrcodegen {
class QrCode;
}

// A QR code of the field's filled text, drawn module by module so that it prints sharp at any
// printer resolution. Shares the text field's layout and binary copy.
class QrField : public TextField {
    Q_OBJECT

public:
    explicit QrField(QObject* parent = nullptr);
    ~QrField() override;

    int type() const override { return QrType; }
    void paint(QPainter* painter, double scale, double yOffset) override;
    void read(const QJsonObject& object) override;
    void write(QJsonObject& object) const override;

    static constexpr int quietZone = 4;

private:
    // Where the encoder refuses the text: the square stays white, crossed out in grey.
    static void paintRefusal(QPainter* painter, const QRectF& square);
    // The code of `content`, encoded once for as long as the content stays the same; null when the
    // encoder refuses it or the page's share of encoding is spent.
    const qrcodegen::QrCode* encoded(const QByteArray& content);
    // What this field may encode per paint: the QR fields of a page share a budget of bytes.
    int encodingAllowance() const;

    QByteArray _encodedContent;
    std::unique_ptr<qrcodegen::QrCode> _code;
    bool _refused = false;

    QBrush _background{Qt::white};
    QBrush _foreground{Qt::black};
    QPointF _origin;
};
