// icongen: draws Orvane's icons and splash picture with QPainter.
//
// Usage: icongen OUTPUT_DIR
// Writes OUTPUT_DIR/icons/... and OUTPUT_DIR/images/... as PNG files.
// The art is generated rather than hand-drawn so that every icon shares one
// palette and stroke style and can be redrawn after a design tweak.

#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <QTextStream>

#include <cmath>
#include <functional>
#include <vector>

namespace {

namespace Pal {
const QColor ink(0x2c, 0x3a, 0x4f); // outlines of small icons
const QColor paper(0xff, 0xff, 0xff);
const QColor paperShade(0xdd, 0xe5, 0xf0); // folded corner, light fills
const QColor textLine(0x9f, 0xb0, 0xc6);   // "text" strokes on sheets
const QColor navy(0x1f, 0x4e, 0x8c);
const QColor navyLight(0xd6, 0xe4, 0xf5);
const QColor teal(0x17, 0x86, 0x97);
const QColor gold(0xf0, 0xb4, 0x2a);
const QColor goldDark(0xc4, 0x85, 0x10);
const QColor green(0x2e, 0x9e, 0x5b);
const QColor red(0xd9, 0x44, 0x3f);
const QColor ribbon(0xc2, 0x3b, 0x36);
const QColor ribbonDark(0x96, 0x2a, 0x27);
} // namespace Pal

constexpr int kToolSize = 32;

QString g_fontFamily;

// ---------------------------------------------------------------- helpers

QImage newCanvas(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

void setupPainter(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
}

QPen inkPen(qreal width = 1.0, const QColor& color = Pal::ink) {
    return QPen(color, width, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
}

// Straight 1px strokes are placed on half-pixel coordinates by callers so
// that they stay crisp at 32x32; filled bars use whole pixels for the same
// reason.
void fillBar(QPainter& p, qreal x, qreal y, qreal w, qreal h, const QColor& c) {
    p.fillRect(QRectF(x, y, w, h), c);
}

// A document sheet with a folded top-right corner and a few text lines.
void drawSheet(QPainter& p, const QRectF& r, qreal fold, int lines) {
    QPainterPath body;
    body.moveTo(r.topLeft());
    body.lineTo(r.right() - fold, r.top());
    body.lineTo(r.right(), r.top() + fold);
    body.lineTo(r.bottomRight());
    body.lineTo(r.bottomLeft());
    body.closeSubpath();
    p.setPen(inkPen());
    p.setBrush(Pal::paper);
    p.drawPath(body);

    QPainterPath dog;
    dog.moveTo(r.right() - fold, r.top());
    dog.lineTo(r.right() - fold, r.top() + fold);
    dog.lineTo(r.right(), r.top() + fold);
    dog.closeSubpath();
    p.setBrush(Pal::paperShade);
    p.drawPath(dog);

    const qreal left = std::floor(r.left()) + 3;
    const qreal full = std::floor(r.width()) - 5;
    for (int i = 0; i < lines; ++i) {
        const qreal y = std::floor(r.top()) + 4 + i * 3;
        // The first line stops short of the fold; the last one is shorter
        // so the block reads as a paragraph.
        qreal w = full;
        if (i == 0)
            w = full - fold;
        else if (i == lines - 1)
            w = std::floor(full * 0.6);
        fillBar(p, left, y, w, 1, Pal::textLine);
    }
}

// Round badge with a white rim so it separates from whatever lies below.
void drawBadge(QPainter& p, const QPointF& c, qreal r, const QColor& fill) {
    p.setPen(QPen(Qt::white, 1.5));
    p.setBrush(fill);
    p.drawEllipse(c, r, r);
}

void drawPlusSign(QPainter& p, const QPointF& c, qreal arm, qreal thick, const QColor& color) {
    fillBar(p, c.x() - arm, c.y() - thick / 2, 2 * arm, thick, color);
    fillBar(p, c.x() - thick / 2, c.y() - arm, thick, 2 * arm, color);
}

void drawMinusSign(QPainter& p, const QPointF& c, qreal arm, qreal thick, const QColor& color) {
    fillBar(p, c.x() - arm, c.y() - thick / 2, 2 * arm, thick, color);
}

void drawCrossSign(QPainter& p, const QPointF& c, qreal arm, qreal thick, const QColor& color) {
    p.save();
    p.translate(c);
    p.rotate(45);
    drawPlusSign(p, QPointF(0, 0), arm, thick, color);
    p.restore();
}

const QPointF kBadgeCenter(24, 24);
constexpr qreal kBadgeRadius = 7;

void drawPlusBadge(QPainter& p, const QPointF& c = kBadgeCenter) {
    drawBadge(p, c, kBadgeRadius, Pal::green);
    drawPlusSign(p, c, 4, 2, Qt::white);
}

void drawCrossBadge(QPainter& p, const QPointF& c = kBadgeCenter) {
    drawBadge(p, c, kBadgeRadius, Pal::red);
    drawCrossSign(p, c, 4, 2, Qt::white);
}

// Magnifier lens centred at c; the handle points to the bottom right.
void drawMagnifier(QPainter& p, const QPointF& c, qreal r) {
    const qreal d = r / std::sqrt(2.0);
    const QLineF handle(c + QPointF(d + 1.5, d + 1.5), c + QPointF(d + 8, d + 8));
    p.setPen(QPen(Pal::ink, 4.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(handle);
    // Lighter core keeps the handle visible on dark tool bars too.
    p.setPen(QPen(QColor(0x8a, 0x9a, 0xb2), 1.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(handle);

    QRadialGradient glass(c - QPointF(r / 3, r / 3), r * 1.4);
    glass.setColorAt(0, Qt::white);
    glass.setColorAt(1, Pal::navyLight);
    p.setPen(QPen(Pal::ink, 2.0));
    p.setBrush(glass);
    p.drawEllipse(c, r, r);
}

void drawPencil(QPainter& p, const QPointF& tip, qreal length, qreal width, qreal angleDeg) {
    p.save();
    p.translate(tip);
    p.rotate(angleDeg);
    const qreal h = width / 2;
    const qreal cone = width * 1.2;
    const qreal cap = width * 0.9;

    p.setPen(inkPen(1.0));
    p.setBrush(QColor(0xf6, 0xd8, 0xa8)); // bare wood
    p.drawPolygon(QPolygonF({QPointF(0, 0), QPointF(cone, -h), QPointF(cone, h)}));
    p.setBrush(Pal::gold);
    p.drawRect(QRectF(cone, -h, length - cone - cap, width));
    p.setBrush(QColor(0xe8, 0x8a, 0x92)); // eraser
    p.drawRect(QRectF(length - cap, -h, cap, width));

    p.setPen(Qt::NoPen);
    p.setBrush(Pal::ink); // graphite point
    p.drawPolygon(QPolygonF({QPointF(0, 0), QPointF(cone * 0.4, -h * 0.4), QPointF(cone * 0.4, h * 0.4)}));
    p.restore();
}

bool savePng(const QImage& img, const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const bool ok = img.save(path, "PNG");
    QTextStream(stdout) << (ok ? "wrote " : "FAILED ") << path << '\n';
    return ok;
}

QImage renderTool(const std::function<void(QPainter&)>& draw) {
    QImage img = newCanvas(kToolSize, kToolSize);
    QPainter p(&img);
    setupPainter(p);
    draw(p);
    p.end();
    return img;
}

// --------------------------------------------------- registry tool icons

const QRectF kMainSheet(5.5, 2.5, 19, 26);

void drawAdd(QPainter& p) {
    drawSheet(p, kMainSheet, 6, 6);
    drawPlusBadge(p);
}

void drawEdit(QPainter& p) {
    drawSheet(p, kMainSheet, 6, 6);
    drawPencil(p, QPointF(14, 27), 21, 5.5, -45);
}

void drawRemove(QPainter& p) {
    drawSheet(p, kMainSheet, 6, 6);
    drawCrossBadge(p);
}

void drawCopy(QPainter& p) {
    drawSheet(p, QRectF(3.5, 2.5, 16, 20), 5, 4);
    drawSheet(p, QRectF(12.5, 9.5, 16, 20), 5, 4);
}

void drawPrint(QPainter& p) {
    // Paper waiting in the feeder.
    p.setPen(inkPen());
    p.setBrush(Pal::paper);
    p.drawRect(QRectF(9.5, 3.5, 13, 10));

    QLinearGradient body(0, 11, 0, 24);
    body.setColorAt(0, QColor(0x6a, 0x7d, 0x98));
    body.setColorAt(1, QColor(0x45, 0x55, 0x6e));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(3.5, 11.5, 25, 13), 2.5, 2.5);

    p.setPen(Qt::NoPen);
    p.setBrush(Pal::green);
    p.drawEllipse(QPointF(24.5, 15.5), 1.5, 1.5);
    fillBar(p, 7, 19, 18, 2, QColor(0x22, 0x2c, 0x3b)); // output slot

    // Printed page coming out of the slot.
    p.setPen(inkPen());
    p.setBrush(Pal::paper);
    p.drawRect(QRectF(9.5, 20.5, 13, 9));
    fillBar(p, 12, 23, 8, 1, Pal::textLine);
    fillBar(p, 12, 26, 6, 1, Pal::textLine);
}

// --------------------------------------------------- designer tool icons

void drawZoomIn(QPainter& p) {
    const QPointF c(13, 13);
    drawMagnifier(p, c, 9);
    drawPlusSign(p, c, 5, 2, Pal::navy);
}

void drawZoomOut(QPainter& p) {
    const QPointF c(13, 13);
    drawMagnifier(p, c, 9);
    drawMinusSign(p, c, 5, 2, Pal::navy);
}

void drawFieldBox(QPainter& p, const QRectF& r, Qt::PenStyle style) {
    QPen pen(Pal::navy, 1.0, style, Qt::FlatCap, Qt::MiterJoin);
    if (style == Qt::CustomDashLine)
        pen.setDashPattern({2, 2});
    p.setPen(pen);
    p.setBrush(QColor(0xee, 0xf4, 0xfb));
    p.drawRect(r);
}

void drawTextFieldAdd(QPainter& p) {
    drawFieldBox(p, QRectF(2.5, 4.5, 23, 21), Qt::SolidLine);
    fillBar(p, 7, 8, 14, 3, Pal::navy);    // crossbar of the "T"
    fillBar(p, 12.5, 8, 3, 14, Pal::navy); // stem
    fillBar(p, 10, 20, 8, 2, Pal::navy);   // serif foot
    drawPlusBadge(p);
}

void drawTableFieldAdd(QPainter& p) {
    const QRectF grid(2.5, 4.5, 24, 20);
    p.setPen(Qt::NoPen);
    p.setBrush(Pal::paper);
    p.drawRect(grid);
    fillBar(p, 3, 5, 23, 5, Pal::navyLight); // header row

    p.setPen(inkPen(1.0, Pal::navy));
    for (qreal y : {9.5, 14.5, 19.5})
        p.drawLine(QPointF(grid.left(), y), QPointF(grid.right(), y));
    for (qreal x : {10.5, 18.5})
        p.drawLine(QPointF(x, grid.top()), QPointF(x, grid.bottom()));
    p.setBrush(Qt::NoBrush);
    p.drawRect(grid);
    drawPlusBadge(p);
}

// 2px modules; finder squares sit in three corners like a real QR symbol,
// the fourth corner is left for the badge.
void drawQrFinder(QPainter& p, qreal x, qreal y) {
    fillBar(p, x, y, 10, 10, Pal::ink);
    fillBar(p, x + 2, y + 2, 6, 6, Pal::paper);
    fillBar(p, x + 4, y + 4, 2, 2, Pal::ink);
}

void drawQrFieldAdd(QPainter& p) {
    const qreal ox = 3, oy = 3;
    fillBar(p, ox - 1, oy - 1, 26, 26, Pal::paper);
    p.setPen(inkPen(1.0, Pal::textLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(ox - 1.5, oy - 1.5, 27, 27));

    drawQrFinder(p, ox, oy);
    drawQrFinder(p, ox + 14, oy);
    drawQrFinder(p, ox, oy + 14);
    // Fixed pseudo-random data modules, one row per string; they never
    // cover a finder so those stay recognisable at 1:1.
    static const char* rows[] = {
        "............", ".....#......", "......#.....", ".....##.....", "......#.....", ".#.#.##.....",
        "#.#.##.##.#.", "......#.##.#", "......##.#..", "......#.#...", ".......##...", "......#.#...",
    };
    for (int r = 0; r < 12; ++r)
        for (int c = 0; c < 12; ++c)
            if (rows[r][c] == '#')
                fillBar(p, ox + 2 * c, oy + 2 * r, 2, 2, Pal::ink);
    drawPlusBadge(p);
}

void drawFieldRemove(QPainter& p) {
    drawFieldBox(p, QRectF(2.5, 5.5, 24, 18), Qt::CustomDashLine);
    fillBar(p, 6, 11, 12, 2, Pal::textLine);
    fillBar(p, 6, 15, 8, 2, Pal::textLine);
    drawCrossBadge(p);
}

// ------------------------------------------------ certificate (256 space)

const QRectF kCertSheet(36, 14, 168, 214);

void drawSoftShadow(QPainter& p, const QRectF& r, qreal radius) {
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 8; ++i) {
        p.setBrush(QColor(0, 0, 0, 9));
        p.drawRoundedRect(r.translated(3, 6).adjusted(-i, -i, i, i), radius + i, radius + i);
    }
}

void drawCertificateSheet(QPainter& p) {
    drawSoftShadow(p, kCertSheet, 10);
    QLinearGradient fill(kCertSheet.topLeft(), kCertSheet.bottomRight());
    fill.setColorAt(0, QColor(0xff, 0xff, 0xff));
    fill.setColorAt(1, QColor(0xf5, 0xf0, 0xe2));
    p.setPen(QPen(Pal::ink, 3));
    p.setBrush(fill);
    p.drawRoundedRect(kCertSheet, 10, 10);

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Pal::navy, 4));
    p.drawRoundedRect(kCertSheet.adjusted(12, 12, -12, -12), 4, 4);
    p.setPen(QPen(Pal::gold, 2));
    p.drawRoundedRect(kCertSheet.adjusted(19, 19, -19, -19), 2, 2);
}

void drawCentredBar(QPainter& p, qreal y, qreal w, qreal h, const QColor& c) {
    const qreal cx = kCertSheet.center().x();
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRoundedRect(QRectF(cx - w / 2, y, w, h), h / 2, h / 2);
}

void drawCertificateText(QPainter& p) {
    drawCentredBar(p, 50, 100, 14, Pal::navy); // title
    drawCentredBar(p, 72, 56, 7, Pal::gold);
    const qreal widths[] = {116, 96, 116, 72};
    for (int i = 0; i < 4; ++i)
        drawCentredBar(p, 96 + i * 17, widths[i], 7, Pal::textLine);

    // Signature: a line with a loose scribble above it.
    p.setPen(QPen(Pal::ink, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(64, 196), QPointF(122, 196));
    QPainterPath sig;
    sig.moveTo(66, 190);
    sig.cubicTo(74, 170, 80, 196, 88, 182);
    sig.cubicTo(94, 172, 98, 192, 106, 184);
    sig.lineTo(116, 180);
    p.setPen(QPen(Pal::navy, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(sig);
}

// A ribbon tail from `top` to `bottom` ending in a swallowtail notch.
void drawRibbonTail(QPainter& p, const QPointF& top, const QPointF& bottom, qreal width) {
    const QPointF dir = bottom - top;
    const qreal len = std::hypot(dir.x(), dir.y());
    const QPointF n(-dir.y() / len * width / 2, dir.x() / len * width / 2);
    const QPointF notch = bottom - dir / len * (width * 0.55);

    QPolygonF poly({top + n, bottom + n, notch, bottom - n, top - n});
    p.setPen(Qt::NoPen);
    p.setBrush(Pal::ribbon);
    p.drawPolygon(poly);
    p.setBrush(Pal::ribbonDark); // inner fold gives the ribbon some depth
    p.drawPolygon(QPolygonF({top + n * 0.15, bottom + n * 0.15, notch, top}));
}

QPolygonF starPolygon(const QPointF& c, int points, qreal outer, qreal inner, qreal startDeg) {
    QPolygonF poly;
    for (int i = 0; i < points * 2; ++i) {
        const qreal r = (i % 2 == 0) ? outer : inner;
        const qreal a = (startDeg + i * 180.0 / points) * M_PI / 180.0;
        poly << c + QPointF(r * std::cos(a), r * std::sin(a));
    }
    return poly;
}

void drawRibbonSeal(QPainter& p, const QPointF& c, qreal r) {
    drawRibbonTail(p, c, c + QPointF(-20, r * 1.75), r * 0.62);
    drawRibbonTail(p, c, c + QPointF(20, r * 1.75), r * 0.62);

    p.setPen(QPen(Pal::goldDark, 1.5));
    p.setBrush(Pal::gold);
    p.drawPolygon(starPolygon(c, 28, r, r * 0.88, -90));

    p.setPen(Qt::NoPen);
    p.setBrush(Pal::goldDark);
    p.drawEllipse(c, r * 0.72, r * 0.72);
    p.setPen(QPen(QColor(0xff, 0xe7, 0xa8), 1.5));
    p.setBrush(Pal::gold);
    p.drawEllipse(c, r * 0.6, r * 0.6);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xf6, 0xdc));
    p.drawPolygon(starPolygon(c, 5, r * 0.38, r * 0.16, -90));
}

void drawCertificate(QPainter& p) {
    drawCertificateSheet(p);
    drawCertificateText(p);
    drawRibbonSeal(p, QPointF(176, 178), 36);
}

QImage renderAppIcon() {
    QImage img = newCanvas(256, 256);
    QPainter p(&img);
    setupPainter(p);
    drawCertificate(p);
    p.end();
    return img;
}

// ----------------------------------------------------------------- splash

constexpr int kBannerW = 480;
constexpr int kBannerH = 300;
constexpr int kBandH = 40; // left empty: the program prints its status there

QFont bannerFont(int pixelSize, int weight) {
    QFont f(g_fontFamily);
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

void drawBannerBackground(QPainter& p) {
    const QRectF top(0, 0, kBannerW, kBannerH - kBandH);
    QLinearGradient g(top.topLeft(), top.bottomRight());
    g.setColorAt(0, QColor(0x18, 0x3f, 0x78));
    g.setColorAt(1, Pal::teal);
    p.fillRect(top, g);

    // Large faint circles keep the gradient from looking empty.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 14));
    p.drawEllipse(QPointF(400, 40), 150, 150);
    p.drawEllipse(QPointF(60, 250), 110, 110);

    p.fillRect(QRectF(0, kBannerH - kBandH, kBannerW, kBandH), QColor(0xf4, 0xf6, 0xf9));
    p.fillRect(QRectF(0, kBannerH - kBandH - 3, kBannerW, 3), Pal::gold);
}

void drawBannerText(QPainter& p) {
    p.setPen(Qt::white);
    p.setFont(bannerFont(64, QFont::Bold));
    p.drawText(QPointF(30, 112), QStringLiteral("Orvane"));

    p.fillRect(QRectF(33, 130, 48, 3), Pal::gold);

    p.setPen(QColor(255, 255, 255, 235));
    p.setFont(bannerFont(18, QFont::Normal));
    p.drawText(QPointF(32, 162), QStringLiteral("для документов"));
    p.drawText(QPointF(32, 186), QStringLiteral("профессионального обучения"));

    p.setPen(QColor(255, 255, 255, 170));
    p.setFont(bannerFont(13, QFont::Normal));
    p.drawText(QPointF(32, 232), QStringLiteral("v0.7.3"));
}

QImage renderBanner() {
    QImage img(kBannerW, kBannerH, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::white);
    QPainter p(&img);
    setupPainter(p);
    drawBannerBackground(p);
    drawBannerText(p);

    // Same certificate as the window icon, tilted slightly for liveliness.
    p.translate(368, 132);
    p.rotate(6);
    p.scale(0.68, 0.68);
    p.translate(-128, -128);
    drawCertificate(p);
    p.end();
    return img.convertToFormat(QImage::Format_RGB32);
}

QString pickFontFamily() {
    const QStringList families = QFontDatabase().families();
    for (const QString& want : {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")}) {
        if (families.contains(want))
            return want;
    }
    return QFont().defaultFamily();
}

struct ToolIcon {
    const char* path;
    void (*draw)(QPainter&);
};

} // namespace

int main(int argc, char** argv) {
    // Runs headless in build scripts; an explicit platform still wins.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    if (argc != 2) {
        QTextStream(stderr) << "usage: icongen OUTPUT_DIR\n";
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    g_fontFamily = pickFontFamily();
    QTextStream(stdout) << "font: " << g_fontFamily << '\n';

    const std::vector<ToolIcon> tools = {
        {"icons/icons/add.png", drawAdd},
        {"icons/icons/edit.png", drawEdit},
        {"icons/icons/print.png", drawPrint},
        {"icons/icons/remove.png", drawRemove},
        {"icons/icons/copy.png", drawCopy},
        {"images/zoomIn.png", drawZoomIn},
        {"images/zoomOut.png", drawZoomOut},
        {"images/textFieldAdd.png", drawTextFieldAdd},
        {"images/tableFieldAdd.png", drawTableFieldAdd},
        {"images/qrFieldAdd.png", drawQrFieldAdd},
        {"images/fieldRemove.png", drawFieldRemove},
    };

    bool ok = savePng(renderAppIcon(), out.filePath("icons/default.png"));
    ok = savePng(renderBanner(), out.filePath("icons/banner2.png")) && ok;
    for (const ToolIcon& t : tools)
        ok = savePng(renderTool(t.draw), out.filePath(QString::fromLatin1(t.path))) && ok;
    return ok ? 0 : 1;
}
