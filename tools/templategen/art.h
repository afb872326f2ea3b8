// The two background images of a form and the drawing primitives, all in page-local millimetres.
#pragma once

#include "geometry.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <memory>

struct FontStyle {
    double pt = 12.0;
    bool bold = false;
    bool italic = false;
    bool sans = false;
    double spacing = 0.0; // extra letter spacing in mm, drawing only

    bool operator==(const FontStyle& o) const {
        return pt == o.pt && bold == o.bold && italic == o.italic && sans == o.sans && spacing == o.spacing;
    }
};

namespace ink {
const QColor title(0x1a, 0x32, 0x66);    // headings
const QColor text(0x21, 0x2c, 0x44);     // pre-printed phrases
const QColor hint(0x55, 0x61, 0x78);     // small captions under the lines
const QColor rule(0x55, 0x66, 0x84);     // the lines the data fills
const QColor ornament(0x6f, 0x88, 0xb4); // guilloche strokes
const QColor ornamentSoft(0xa9, 0xba, 0xd6);
const QColor pattern(0xe4, 0xea, 0xf4); // security background
} // namespace ink

// Liberation faces stand in for the template's Times New Roman with the same metrics.
QFont artFont(const FontStyle& style);
// The font a template field names: always the serif family the Windows program knows.
QFont fieldFont(const FontStyle& style);
// Advance width of a one-line text, mm.
double textWidth(const FontStyle& style, const QString& text);
// Drop from the baseline to the lowest descender, mm.
double textDescent(const FontStyle& style);
// Distance between the baselines of two lines, mm.
double textLineSpacing(const FontStyle& style);

class Art {
public:
    Art();
    ~Art();
    Art(const Art&) = delete;
    Art& operator=(const Art&) = delete;

    // Ends painting; the images are final afterwards.
    void finish();
    const QImage& image(int side) const { return m_images[side]; }

    // Painter of the page's side with a world transform in page-local millimetres.
    QPainter& painter(Page page);

    void text(Page page, const QRectF& local, const QString& text, const FontStyle& font, int flags,
              const QColor& colour = ink::text);
    void textAt(Page page, double u, double baseline, const QString& text, const FontStyle& font,
                const QColor& colour = ink::text);
    void line(Page page, const QPointF& a, const QPointF& b, double width, const QColor& colour,
              Qt::PenStyle style = Qt::SolidLine);
    void rect(Page page, const QRectF& local, double width, const QColor& colour);
    void stroke(Page page, const QPainterPath& local, double width, const QColor& colour);
    void fill(Page page, const QPainterPath& local, const QColor& colour);

private:
    QPainter& devicePainter(Page page); // identity transform, device pixels
    QImage m_images[2];
    std::unique_ptr<QPainter> m_painters[2];
};
