#include "art.h"

#include <QFontMetricsF>

namespace {
constexpr int imageDpi = 120;
// Fine enough that rounding of the measuring device does not matter.
constexpr int measureDpi = 1200;

int dotsPerMeter(int dpi) {
    return qRound(dpi / 0.0254);
}

QFont baseFont(const QString& family, const FontStyle& style) {
    QFont font(family);
    font.setPointSizeF(style.pt);
    font.setBold(style.bold);
    font.setItalic(style.italic);
    return font;
}

QPointF toDevice(Page page, double u, double v) {
    return QPointF((pageLeft(page) + u) * geo::pxPerMmX, v * geo::pxPerMmY);
}
} // namespace

QFont artFont(const FontStyle& style) {
    QFont font = baseFont(style.sans ? QStringLiteral("Liberation Sans") : QStringLiteral("Liberation Serif"), style);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

QFont fieldFont(const FontStyle& style) {
    return baseFont(QStringLiteral("Times New Roman"), style);
}

static QFontMetricsF measuringMetrics(const FontStyle& style) {
    static QImage device = [] {
        QImage image(8, 8, QImage::Format_RGB32);
        image.setDotsPerMeterX(dotsPerMeter(measureDpi));
        image.setDotsPerMeterY(dotsPerMeter(measureDpi));
        return image;
    }();
    return QFontMetricsF(artFont(style), &device);
}

double textWidth(const FontStyle& style, const QString& text) {
    return measuringMetrics(style).horizontalAdvance(text) * 25.4 / measureDpi +
           style.spacing * qMax(0, text.size() - 1);
}

double textDescent(const FontStyle& style) {
    return measuringMetrics(style).descent() * 25.4 / measureDpi;
}

double textLineSpacing(const FontStyle& style) {
    return measuringMetrics(style).lineSpacing() * 25.4 / measureDpi;
}

Art::Art() {
    for (int side = 0; side < 2; ++side) {
        QImage& image = m_images[side];
        image = QImage(geo::imageWidth, geo::imageHeight, QImage::Format_RGB32);
        image.setDotsPerMeterX(dotsPerMeter(imageDpi));
        image.setDotsPerMeterY(dotsPerMeter(imageDpi));
        image.fill(Qt::white);
        m_painters[side] = std::make_unique<QPainter>(&image);
        m_painters[side]->setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                                         QPainter::SmoothPixmapTransform);
    }
}

Art::~Art() {
    finish();
}

void Art::finish() {
    for (auto& painter : m_painters)
        painter.reset();
}

QPainter& Art::painter(Page page) {
    QPainter& p = *m_painters[page.side];
    QTransform transform;
    transform.scale(geo::pxPerMmX, geo::pxPerMmY);
    transform.translate(pageLeft(page), 0.0);
    p.setWorldTransform(transform);
    return p;
}

QPainter& Art::devicePainter(Page page) {
    QPainter& p = *m_painters[page.side];
    p.resetTransform();
    return p;
}

void Art::text(Page page, const QRectF& local, const QString& text, const FontStyle& font, int flags,
               const QColor& colour) {
    QPainter& p = devicePainter(page);
    QFont f = artFont(font);
    if (font.spacing > 0.0)
        f.setLetterSpacing(QFont::AbsoluteSpacing, font.spacing * geo::pxPerMmX);
    p.setFont(f);
    p.setPen(colour);
    const QRectF device(toDevice(page, local.left(), local.top()), toDevice(page, local.right(), local.bottom()));
    p.drawText(device, flags, text);
}

void Art::textAt(Page page, double u, double baseline, const QString& text, const FontStyle& font,
                 const QColor& colour) {
    QPainter& p = devicePainter(page);
    p.setFont(artFont(font));
    p.setPen(colour);
    p.drawText(toDevice(page, u, baseline), text);
}

void Art::line(Page page, const QPointF& a, const QPointF& b, double width, const QColor& colour, Qt::PenStyle style) {
    QPainter& p = painter(page);
    QPen pen(colour, width, style, Qt::FlatCap);
    p.setPen(pen);
    p.drawLine(a, b);
}

void Art::rect(Page page, const QRectF& local, double width, const QColor& colour) {
    QPainter& p = painter(page);
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRect(local);
}

void Art::stroke(Page page, const QPainterPath& local, double width, const QColor& colour) {
    QPainter& p = painter(page);
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(local);
}

void Art::fill(Page page, const QPainterPath& local, const QColor& colour) {
    QPainter& p = painter(page);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(local);
}
