#pragma once

#include "abstractfield.h"

#include <QString>
#include <QTextDocument>

class QPaintDevice;
class QRectF;

// A paragraph of rich text whose $V{...} placeholders are filled from the page variables.
class TextField : public AbstractField {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)
    Q_PROPERTY(double indent READ indent WRITE setIndent)
    Q_PROPERTY(double lineHeight READ lineHeight WRITE setLineHeight)
    Q_PROPERTY(bool shrinkToFit READ shrinkToFit WRITE setShrinkToFit)

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
    void setText(const QString& text) {
        if (assign(_text, text, "text"))
            _cutReported = false;
    }
    // First-line indent and line spacing in millimetres; 0 spacing means the font's own.
    double indent() const { return _indent; }
    void setIndent(double mm) { assign(_indent, mm, "indent"); }
    double lineHeight() const { return _lineHeight; }
    void setLineHeight(double mm) { assign(_lineHeight, mm, "lineHeight"); }
    // The font is made smaller, step by step down to minShrinkPointSize, until the filled text fits
    // the field. Off by default: a template prints as it was drawn unless it asks for this.
    bool shrinkToFit() const { return _shrinkToFit; }
    void setShrinkToFit(bool on) { assign(_shrinkToFit, on, "shrinkToFit"); }
    static constexpr double minShrinkPointSize = 6.0;
    static constexpr double shrinkStep = 0.5;

    // The point size the text is painted in at `scale` device pixels per mm: the font's own, or
    // smaller when the field shrinks its text to fit.
    double paintedPointSize(double scale);
    // What of the shown text would not be printed at `scale` (cut off at the field's edges), as
    // plain text; empty when everything fits.
    QString lostText(double scale);

    // The text as this field shows it: filled when the page fills with data, raw otherwise; at most
    // maxTextLength characters.
    QString shownText() const;
    // Font pixel size for a scale, from the point size the font database resolves.
    static int fontPixelSize(const QFont& font, double scale);

    // A document that reads nothing from outside: markup in a template must not make printing read
    // files or devices (style sheets and background images are read while the markup is parsed).
    class Document : public QTextDocument {
    protected:
        QVariant loadResource(int type, const QUrl& name) override;
    };

    // The longest text a field or a table cell lays out, counted after its placeholders are filled.
    static constexpr int maxTextLength = 20000;
    // At most `length` characters of `text`, never ending inside a surrogate pair.
    static QString cutText(const QString& text, int length);
    // How fillDocument() shows a text.
    enum class Shown { AsGiven, AsPlainText, Shortened };
    // Fills `document`, whose font and text option are set, with the paragraph `paragraphTag` (an
    // opening <p> tag) of `text`, then lays it out `width` pixels wide (measured on `device`, the
    // screen when null). Text whose layout time or height would not be bounded as rich text is
    // shown as plain text, shortened when even its plain lines could grow too tall for the layout.
    static Shown fillDocument(Document& document, const QString& paragraphTag, const QString& text, double width,
                              QPaintDevice* device = nullptr);
    // Whether anything drawn within `rect` (painter coordinates, with a pen's width around it) can
    // land on the painter's device; true when the device does not tell its size.
    static bool reachesDevice(const QPainter* painter, const QRectF& rect);

protected:
    QString _text;
    double _indent = 0.0;
    double _lineHeight = 0.0;

private:
    struct Layout;
    // The field's text laid out at `scale` in its font at `pointSize` points (its own size when
    // not above 0), as paint() draws it.
    void layOut(Layout& layout, double scale, double pointSize) const;
    // The size paintedPointSize() gives for `text`, the shown text; the last answer is kept for as
    // long as the layout it was found for stays the same.
    double fittedPointSize(double scale, const QString& text);
    // The field's rectangle in device pixels, its top moved for a fixed line height.
    QRectF box(double scale, double yOffset) const;

    // The shown text cut to `length`; `cut` tells whether anything was left out.
    QString boundedText(int length, bool* cut) const;
    // This field's share of what the page's text fields lay out per paint.
    int textAllowance() const;
    void reportCut(const QString& what);

    bool _cutReported = false;
    bool _shrinkToFit = false;
    // The last size found to fit, for the layout it was found for.
    QString _fitKey;
    double _fitPointSize = 0.0;
};
