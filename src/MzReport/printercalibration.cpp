#include "printercalibration.h"

#include "mzlog.h"

#include <QFont>
#include <QLocale>
#include <QPainter>
#include <QPen>
#include <QPrinter>
#include <QStringList>
#include <QUrl>
#include <cmath>

namespace {
// The marks sit this far from the paper's edges, inside what every printer can reach.
constexpr double markInsetMm = 20;
constexpr double markArmMm = 8;
constexpr double markRingMm = 3;
constexpr double fuzz = 1e-9;

// Thin lines every millimetre, stronger every five, strong and numbered every ten.
void paintGrid(QPainter& painter, const QSizeF& paper, double px) {
    const QColor fine(200, 215, 230);
    const QColor half(130, 160, 190);
    const QColor whole(40, 70, 110);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(qMax(1, int(std::lround(2.2 * px))));
    painter.setFont(font);
    for (int axis = 0; axis < 2; ++axis) {
        const double length = axis == 0 ? paper.width() : paper.height();
        const double across = axis == 0 ? paper.height() : paper.width();
        for (int mm = 0; mm <= int(length); ++mm) {
            const bool ten = mm % 10 == 0;
            const bool five = mm % 5 == 0;
            painter.setPen(QPen(ten ? whole : five ? half : fine, (ten ? 0.2 : five ? 0.12 : 0.06) * px));
            const QPointF from = axis == 0 ? QPointF(mm * px, 0) : QPointF(0, mm * px);
            const QPointF to = axis == 0 ? QPointF(mm * px, across * px) : QPointF(across * px, mm * px);
            painter.drawLine(from, to);
            if (!ten || mm == 0)
                continue;
            painter.setPen(whole);
            const QPointF at = axis == 0 ? QPointF((mm + 0.6) * px, 6 * px) : QPointF(1.5 * px, (mm - 0.6) * px);
            painter.drawText(at, QString::number(mm));
        }
    }
}

void paintMark(QPainter& painter, const QPointF& centre, const QString& label, double px) {
    const QPointF c = centre * px;
    painter.setPen(QPen(Qt::black, 0.25 * px));
    painter.setBrush(Qt::white);
    painter.drawEllipse(c, markRingMm * px, markRingMm * px);
    painter.drawLine(c - QPointF(markArmMm * px, 0), c + QPointF(markArmMm * px, 0));
    painter.drawLine(c - QPointF(0, markArmMm * px), c + QPointF(0, markArmMm * px));
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(qMax(1, int(std::lround(3.5 * px))));
    font.setBold(true);
    painter.setFont(font);
    const QString text = QStringLiteral("%1 (%2; %3 мм)").arg(label).arg(centre.x()).arg(centre.y());
    // The label goes towards the middle of the sheet, so that it is printed whatever the paper.
    const QFontMetricsF metrics(font);
    const double width = metrics.horizontalAdvance(text);
    const bool left = label == QLatin1String("A");
    const QPointF at = left ? c + QPointF((markArmMm + 1.5) * px, -(markArmMm - 4) * px)
                            : c + QPointF(-(markArmMm + 1.5) * px - width, (markArmMm - 1) * px);
    painter.drawText(at, text);
}
} // namespace

bool PrinterCalibration::isIdentity() const {
    return *this == PrinterCalibration();
}

bool PrinterCalibration::isValid() const {
    const auto finite = [](double v) { return std::isfinite(v); };
    if (!finite(offsetX) || !finite(offsetY) || !finite(scaleX) || !finite(scaleY))
        return false;
    return std::abs(offsetX) <= maxOffsetMm + fuzz && std::abs(offsetY) <= maxOffsetMm + fuzz &&
           scaleX >= minScale - fuzz && scaleX <= maxScale + fuzz && scaleY >= minScale - fuzz &&
           scaleY <= maxScale + fuzz;
}

bool PrinterCalibration::operator==(const PrinterCalibration& other) const {
    return offsetX == other.offsetX && offsetY == other.offsetY && scaleX == other.scaleX && scaleY == other.scaleY;
}

void PrinterCalibration::apply(QPainter& painter, double pixelsPerMm) const {
    if (isIdentity())
        return;
    painter.translate(offsetX * pixelsPerMm, offsetY * pixelsPerMm);
    painter.scale(scaleX, scaleY);
}

QString PrinterCalibration::toString() const {
    const QLocale c = QLocale::c();
    return QStringList{c.toString(offsetX, 'g', 12), c.toString(offsetY, 'g', 12), c.toString(scaleX, 'g', 12),
                       c.toString(scaleY, 'g', 12)}
        .join(QLatin1Char(','));
}

std::optional<PrinterCalibration> PrinterCalibration::fromString(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return std::nullopt;
    double values[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = QLocale::c().toDouble(parts.at(i).trimmed(), &ok);
        if (!ok)
            return std::nullopt;
    }
    const PrinterCalibration calibration{values[0], values[1], values[2], values[3]};
    if (!calibration.isValid())
        return std::nullopt;
    return calibration;
}

std::optional<PrinterCalibration> PrinterCalibration::fromMarks(QPointF nominalA, QPointF measuredA, QPointF nominalB,
                                                                QPointF measuredB) {
    const double spanX = nominalB.x() - nominalA.x();
    const double spanY = nominalB.y() - nominalA.y();
    if (std::abs(spanX) < minMarkSpanMm || std::abs(spanY) < minMarkSpanMm)
        return std::nullopt;
    const double sx = (measuredB.x() - measuredA.x()) / spanX;
    const double sy = (measuredB.y() - measuredA.y()) / spanY;
    if (!(sx > 0) || !(sy > 0))
        return std::nullopt;
    const double dx = measuredA.x() - nominalA.x() * sx;
    const double dy = measuredA.y() - nominalA.y() * sy;
    const PrinterCalibration calibration{-dx / sx, -dy / sy, 1 / sx, 1 / sy};
    if (!calibration.isValid())
        return std::nullopt;
    return calibration;
}

QPointF PrinterCalibration::markA(const QSizeF&) {
    return QPointF(markInsetMm, markInsetMm);
}

QPointF PrinterCalibration::markB(const QSizeF& paperMm) {
    return QPointF(std::floor(paperMm.width() - markInsetMm), std::floor(paperMm.height() - markInsetMm));
}

void PrinterCalibration::paintSheet(QPainter& painter, const QSizeF& paperMm, double pixelsPerMm,
                                    const QString& title) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    paintGrid(painter, paperMm, pixelsPerMm);
    paintMark(painter, markA(paperMm), QStringLiteral("A"), pixelsPerMm);
    paintMark(painter, markB(paperMm), QStringLiteral("B"), pixelsPerMm);

    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(qMax(1, int(std::lround(4.5 * pixelsPerMm))));
    painter.setFont(font);
    const QRectF box(30 * pixelsPerMm, (paperMm.height() / 2 - 30) * pixelsPerMm, (paperMm.width() - 60) * pixelsPerMm,
                     60 * pixelsPerMm);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRect(box);
    painter.setPen(Qt::black);
    painter.drawText(box.adjusted(3 * pixelsPerMm, 3 * pixelsPerMm, -3 * pixelsPerMm, -3 * pixelsPerMm),
                     Qt::AlignCenter | Qt::TextWordWrap, title);
    painter.restore();
}
