#pragma once

#include "textfield.h"

#include <QBrush>

// A QR code of the field's filled text, drawn module by module so that it prints sharp at any
// printer resolution. Shares the text field's layout and binary copy.
class QrField : public TextField {
    Q_OBJECT

public:
    explicit QrField(QObject* parent = nullptr);

    int type() const override { return QrType; }
    void paint(QPainter* painter, double scale, double yOffset) override;
    void read(const QJsonObject& object) override;
    void write(QJsonObject& object) const override;

    static constexpr int quietZone = 4;

private:
    // Where the encoder refuses the text: the square stays white, crossed out in grey.
    static void paintRefusal(QPainter* painter, const QRectF& square);

    QBrush _background{Qt::white};
    QBrush _foreground{Qt::black};
    QPointF _origin;
};
