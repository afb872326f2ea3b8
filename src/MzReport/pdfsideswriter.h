#pragma once

#include "printercalibration.h"

#include <QList>
#include <QPainter>
#include <QPrinter>
#include <QString>

class ReportPage;

// Writes sides of filled pages into one PDF file, one PDF page per side, through the pages' own
// side painting: the same painting a printed sheet gets, without any question or prompt.
class PdfSidesWriter {
public:
    // The resolution of PDF copies, the program's and the render tool's alike.
    static constexpr int defaultDpi = 300;

    PdfSidesWriter(const QString& path, int dotsPerInch = defaultDpi);
    ~PdfSidesWriter();
    PdfSidesWriter(const PdfSidesWriter&) = delete;
    PdfSidesWriter& operator=(const PdfSidesWriter&) = delete;

    void setCreator(const QString& creator) { _printer.setCreator(creator); }
    void setDocName(const QString& name) { _printer.setDocName(name); }
    void setCalibration(const PrinterCalibration& calibration) { _calibration = calibration; }

    // Appends `sides` of `page` after what was written before, on the paper of the first page
    // written (the pages of one template share it). False, with
    // error(), when the file cannot be written.
    bool addSides(ReportPage& page, const QList<int>& sides);
    // Ends the file and checks that it was written completely.
    bool finish();
    QString error() const { return _error; }

private:
    QPrinter _printer;
    QPainter _painter;
    PrinterCalibration _calibration;
    bool _started = false;
    QString _error;
};
