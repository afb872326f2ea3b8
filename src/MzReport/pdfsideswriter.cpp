#include "pdfsideswriter.h"

#include "reportpage.h"

PdfSidesWriter::PdfSidesWriter(const QString& path, int dotsPerInch) {
    _printer.setOutputFormat(QPrinter::PdfFormat);
    _printer.setOutputFileName(path);
    _printer.setResolution(dotsPerInch);
    _printer.setFullPage(true);
    _printer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
}

PdfSidesWriter::~PdfSidesWriter() {
    if (_painter.isActive())
        _painter.end();
}

bool PdfSidesWriter::addSides(ReportPage& page, const QList<int>& sides) {
    if (!_error.isEmpty())
        return false;
    for (int side : sides) {
        if (!_started) {
            // The file takes the paper of its first page; the pages of one template share it.
            const QPageLayout paper = page.printer()->pageLayout();
            _printer.setPageLayout(QPageLayout(paper.pageSize(), paper.orientation(), QMarginsF()));
            if (!_painter.begin(&_printer)) {
                _error = QStringLiteral("the PDF file cannot be started");
                return false;
            }
            _started = true;
        } else if (!_printer.newPage()) {
            _error = QStringLiteral("a new PDF page cannot be started");
            return false;
        }
        page.paintSideOn(_painter, _printer, side, _calibration);
    }
    return true;
}

bool PdfSidesWriter::finish() {
    if (!_error.isEmpty())
        return false;
    if (!_started) {
        _error = QStringLiteral("nothing to write");
        return false;
    }
    if (!_painter.end()) {
        _error = QStringLiteral("the job did not end");
        return false;
    }
    _error = ReportPage::outputError(&_printer);
    return _error.isEmpty();
}
