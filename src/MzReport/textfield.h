#pragma once

#include "abstractfield.h"

#include <QString>

// A paragraph of rich text whose $V{...} placeholders are filled from the page variables.
class TextField : public AbstractField {
    Q_OBJECT

public:
    explicit TextField(QObject* parent = nullptr);

    int type() const override { return TextType; }
    void prepare() override;
    void paint(QPainter* painter, double scale, double yOffset) override;
    void writeTo(QDataStream& stream) const override;
    void readFrom(QDataStream& stream) override;
    void read(const QJsonObject& object) override;
    void write(QJsonObject& object) const override;

    QString text() const { return _text; }
    void setText(const QString& text) { _text = text; }
    // First-line indent and line spacing in millimetres; 0 spacing means the font's own.
    double indent() const { return _indent; }
    void setIndent(double mm) { _indent = mm; }
    double lineHeight() const { return _lineHeight; }
    void setLineHeight(double mm) { _lineHeight = mm; }

    // The text as this field shows it: filled when the page fills with data, raw otherwise.
    QString shownText() const;
    // Font pixel size for a scale, from the point size the font database resolves.
    static int fontPixelSize(const QFont& font, double scale);

protected:
    QString _text;
    double _indent = 0.0;
    double _lineHeight = 0.0;
};
