#include "ornament.h"

#include <QtMath>

#include <vector>

namespace {
// A rounded rectangle walked by arc length: point and inward normal at each distance.
class Track {
public:
    Track(const QRectF& rect, double radius) : m_rect(rect), m_radius(radius) {}

    double length() const { return 2.0 * (straightX() + straightY()) + 2.0 * M_PI * m_radius; }

    void at(double s, QPointF* point, QPointF* normal) const {
        const double quarter = M_PI_2 * m_radius;
        const double spans[8] = {straightX(), quarter, straightY(), quarter,
                                 straightX(), quarter, straightY(), quarter};
        s = std::fmod(s, length());
        int part = 0;
        while (part < 7 && s > spans[part]) {
            s -= spans[part];
            ++part;
        }
        const double r = m_radius;
        const QRectF& q = m_rect;
        switch (part) {
        case 0:
            *point = {q.left() + r + s, q.top()};
            *normal = {0, 1};
            return;
        case 2:
            *point = {q.right(), q.top() + r + s};
            *normal = {-1, 0};
            return;
        case 4:
            *point = {q.right() - r - s, q.bottom()};
            *normal = {0, -1};
            return;
        case 6:
            *point = {q.left(), q.bottom() - r - s};
            *normal = {1, 0};
            return;
        default:
            break;
        }
        // Corners: centre and start angle of the arc, walking clockwise on screen.
        const QPointF centres[4] = {{q.right() - r, q.top() + r},
                                    {q.right() - r, q.bottom() - r},
                                    {q.left() + r, q.bottom() - r},
                                    {q.left() + r, q.top() + r}};
        const double starts[4] = {-M_PI_2, 0.0, M_PI_2, M_PI};
        const int corner = part / 2;
        const double angle = starts[corner] + s / r;
        const QPointF radial(std::cos(angle), std::sin(angle));
        *point = centres[corner] + radial * r;
        *normal = -radial;
    }

private:
    double straightX() const { return m_rect.width() - 2.0 * m_radius; }
    double straightY() const { return m_rect.height() - 2.0 * m_radius; }
    QRectF m_rect;
    double m_radius;
};

QRectF inset(double by) {
    return QRectF(by, by, geo::halfWidth - 2.0 * by, geo::paperHeight - 2.0 * by);
}

// One closed wave along the track: offset = a1 sin(n t + phase) + a2 sin(3 n t - phase).
QPainterPath bandWave(const Track& track, int waves, double a1, double a2, double phase) {
    QPainterPath path;
    const double length = track.length();
    const int steps = int(length / 0.2);
    for (int i = 0; i <= steps; ++i) {
        const double s = length * i / steps;
        const double t = 2.0 * M_PI * s / length;
        const double offset = a1 * std::sin(waves * t + phase) + a2 * std::sin(3.0 * waves * t - phase);
        QPointF point, normal;
        track.at(s, &point, &normal);
        const QPointF p = point + normal * offset;
        if (i == 0)
            path.moveTo(p);
        else
            path.lineTo(p);
    }
    return path;
}

void cornerMedallion(Art& art, Page page, const QPointF& centre) {
    QPainterPath disc;
    disc.addEllipse(centre, 3.6, 3.6);
    art.fill(page, disc, Qt::white);
    rosette(art, page, centre, 3.3, 1.2, 6, ink::ornament);
    art.stroke(page, disc, 0.25, ink::title);
}
} // namespace

void securityMesh(Art& art, Page page) {
    const QRectF area = inset(geo::frameInner + 0.6);
    QPainter& p = art.painter(page);
    p.save();
    p.setClipRect(area);
    p.setPen(QPen(ink::pattern, 0.16));
    p.setBrush(Qt::NoBrush);
    // Two families of shallow waves crossing at a slant give the moire of protected paper.
    for (int family = 0; family < 2; ++family) {
        const double slope = family == 0 ? 0.35 : -0.35;
        for (double start = -60.0; start < geo::paperHeight + 60.0; start += 2.4) {
            QPainterPath path;
            for (double u = area.left(); u <= area.right() + 0.5; u += 0.5) {
                const double v = start + slope * u + 0.8 * std::sin(u / 3.2 + start * 0.9);
                if (u == area.left())
                    path.moveTo(u, v);
                else
                    path.lineTo(u, v);
            }
            p.drawPath(path);
        }
    }
    p.restore();
}

void guillocheBorder(Art& art, Page page) {
    const double mid = (geo::frameOuter + geo::frameInner) / 2.0;
    const double halfBand = (geo::frameInner - geo::frameOuter) / 2.0;
    const Track track(inset(mid), 4.0);
    const int waves = int(track.length() / 4.2);
    for (int k = 0; k < 4; ++k) {
        const double phase = k * M_PI / 2.0;
        art.stroke(page, bandWave(track, waves, halfBand * 0.72, halfBand * 0.18, phase), 0.13, ink::ornament);
        art.stroke(page, bandWave(track, waves, -halfBand * 0.45, halfBand * 0.12, phase + M_PI / 4.0), 0.1,
                   ink::ornamentSoft);
    }
    QPainterPath outer, inner;
    outer.addRoundedRect(inset(geo::frameOuter - 0.6), 5.0, 5.0);
    inner.addRoundedRect(inset(geo::frameInner + 0.6), 3.0, 3.0);
    art.stroke(page, outer, 0.35, ink::title);
    art.stroke(page, inner, 0.2, ink::title);
    const double c = mid;
    for (const QPointF& corner : {QPointF(c, c), QPointF(geo::halfWidth - c, c),
                                  QPointF(geo::halfWidth - c, geo::paperHeight - c), QPointF(c, geo::paperHeight - c)})
        cornerMedallion(art, page, corner);
}

void rosette(Art& art, Page page, const QPointF& centre, double outer, double inner, int lobes, const QColor& colour) {
    const double mid = (outer + inner) / 2.0;
    const double amplitude = (outer - inner) / 2.0;
    const int curves = 12;
    const double width = qMax(0.08, outer / 250.0);
    for (int k = 0; k < curves; ++k) {
        const double phase = 2.0 * M_PI * k / curves;
        QPainterPath path;
        const int steps = 720;
        for (int i = 0; i <= steps; ++i) {
            const double t = 2.0 * M_PI * i / steps;
            // A slow second harmonic bends the lobes into the interlaced look of an engraved rosette.
            const double r =
                mid + amplitude * (0.78 * std::sin(lobes * t + phase) + 0.22 * std::sin(2 * lobes * t - 2.0 * phase));
            const QPointF p = centre + QPointF(std::cos(t), std::sin(t)) * r;
            if (i == 0)
                path.moveTo(p);
            else
                path.lineTo(p);
        }
        art.stroke(page, path, width, colour);
    }
    QPainterPath rings;
    rings.addEllipse(centre, outer + amplitude * 0.15, outer + amplitude * 0.15);
    rings.addEllipse(centre, inner - amplitude * 0.15, inner - amplitude * 0.15);
    art.stroke(page, rings, width * 1.5, colour);
}

void divider(Art& art, Page page, double v, double halfLength) {
    const double c = geo::centre;
    art.line(page, {c - halfLength, v}, {c - 2.4, v}, 0.25, ink::ornament);
    art.line(page, {c + 2.4, v}, {c + halfLength, v}, 0.25, ink::ornament);
    QPainterPath diamond;
    diamond.moveTo(c - 1.8, v);
    diamond.lineTo(c, v - 1.1);
    diamond.lineTo(c + 1.8, v);
    diamond.lineTo(c, v + 1.1);
    diamond.closeSubpath();
    art.fill(page, diamond, ink::ornament);
}

void dressPage(Art& art, Page page) {
    securityMesh(art, page);
    guillocheBorder(art, page);
}
