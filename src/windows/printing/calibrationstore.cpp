#include "calibrationstore.h"

#include "appkeys.h"
#include "mzlog.h"
#include "printsession.h"
#include "reportpage.h"

#include <QUrl>

namespace {
// Percent-encoded, so that a name with slashes stays one key.
QString storeName(const QString& printerName) {
    return QString::fromLatin1(QUrl::toPercentEncoding(printerName));
}
} // namespace

namespace CalibrationStore {
// Every print session of the program corrects by what is kept here; installed with this file.
[[maybe_unused]] const bool sourceInstalled = (PrintSession::setCalibrationSource(&forPrinter), true);

PrinterCalibration forPrinter(const QString& printerName) {
    if (printerName.isEmpty())
        return PrinterCalibration();
    const QString stored =
        SettingsRegistry::instance()->value(Keys::printerCalibration, {storeName(printerName)}).toString();
    if (stored.isEmpty())
        return PrinterCalibration();
    const auto calibration = PrinterCalibration::fromString(stored);
    if (!calibration) {
        MZ_LOG() << "printer calibration ignored, not usable:" << printerName << stored;
        return PrinterCalibration();
    }
    return *calibration;
}

bool store(const QString& printerName, const PrinterCalibration& calibration) {
    if (printerName.isEmpty() || !calibration.isValid())
        return false;
    auto* settings = SettingsRegistry::instance();
    if (calibration.isIdentity())
        return settings->remove(Keys::printerCalibration, {storeName(printerName)});
    return settings->setValue(Keys::printerCalibration, calibration.toString(), {storeName(printerName)});
}

} // namespace CalibrationStore
