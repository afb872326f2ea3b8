#pragma once

#include <QPointF>
#include <QSizeF>
#include <QString>
#include <optional>

class QPainter;
class QPrinter;

// How one printer's output is corrected so that a field lands where the template puts it: a
// point drawn at (x, y) mm is painted at (x * scaleX + offsetX, y * scaleY + offsetY) mm. The
// template itself never changes; where a correction is kept is the application's business.
struct PrinterCalibration {
    double offsetX = 0;
    double offsetY = 0;
    double scaleX = 1;
    double scaleY = 1;

    bool isIdentity() const;
    // Finite, offsets within maxOffsetMm, scales within minScale..maxScale: anything else is a
    // typing or measuring slip, never a real printer.
    bool isValid() const;
    bool operator==(const PrinterCalibration& other) const;
    bool operator!=(const PrinterCalibration& other) const { return !(*this == other); }

    static constexpr double maxOffsetMm = 50;
    static constexpr double minScale = 0.5;
    static constexpr double maxScale = 2;
    // Marks nearer to each other than this on either axis measure nothing usable.
    static constexpr double minMarkSpanMm = 1;

    // Turns the painter so that what follows is painted corrected; `pixelsPerMm` of the device.
    void apply(QPainter& painter, double pixelsPerMm) const;

    // "X,Y,SX,SY" with a decimal point, as stored and as the render tool takes it.
    QString toString() const;
    // Null when the text is not four such numbers or the values are not valid.
    static std::optional<PrinterCalibration> fromString(const QString& text);

    // From where the two marks of an uncorrected calibration sheet were measured on the paper
    // (mm from the left and top edges): the printer put a nominal n at n * s + d, so the
    // correction is 1 / s and -d / s. Null when the marks coincide or the result is not valid.
    static std::optional<PrinterCalibration> fromMarks(QPointF nominalA, QPointF measuredA, QPointF nominalB,
                                                       QPointF measuredB);

    // The calibration sheet for paper of `paperMm`: a millimetre cross-hatch labelled every
    // centimetre and the two marks, painted uncorrected at `pixelsPerMm`.
    static void paintSheet(QPainter& painter, const QSizeF& paperMm, double pixelsPerMm, const QString& title);
    // The centres of the two marks of the sheet, in mm from the paper's top left corner.
    static QPointF markA(const QSizeF& paperMm);
    static QPointF markB(const QSizeF& paperMm);
};
