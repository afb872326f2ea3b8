#pragma once

#include "printercalibration.h"

#include <QString>

// The corrections of the office's printers, kept per printer name in the user store.
namespace CalibrationStore {
// The stored correction of a printer; none for an unnamed printer (a PDF file) or a damaged entry.
PrinterCalibration forPrinter(const QString& printerName);
// Stores it; the identity removes the printer's entry. False when nothing was written.
bool store(const QString& printerName, const PrinterCalibration& calibration);
} // namespace CalibrationStore
