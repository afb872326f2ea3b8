#pragma once

#include <QDialog>
#include <QSizeF>
#include <QStringList>
#include <functional>
#include <memory>

class QPrinter;
struct PrinterCalibration;

namespace Ui {
class PrinterCalibrationDialog;
}

// Lets the user measure a printer on an uncorrected calibration sheet and keep the correction
// that makes its output land where the templates put it. No button is the default: Enter after a
// typed measurement must neither save nor close before the correction is computed.
class PrinterCalibrationDialog : public QDialog {
    Q_OBJECT

public:
    explicit PrinterCalibrationDialog(QWidget* parent = nullptr, const QStringList& printers = availablePrinters());
    ~PrinterCalibrationDialog() override;

    // The installed printers, the default one first.
    static QStringList availablePrinters();

    // Called with the sheet's printer just before it is painted (tests send it to a file).
    void setSheetPrinterHook(std::function<void(QPrinter*)> hook);

    void done(int result) override;

private slots:
    void on_comboBoxPrinter_currentIndexChanged(int index);
    void on_doubleSpinBoxOffsetX_valueChanged(double value);
    void on_doubleSpinBoxOffsetY_valueChanged(double value);
    void on_doubleSpinBoxScaleX_valueChanged(double value);
    void on_doubleSpinBoxScaleY_valueChanged(double value);
    void on_pushButtonReset_clicked();
    void on_pushButtonPrintSheet_clicked();
    void on_pushButtonCompute_clicked();
    void on_pushButtonSave_clicked();
    void on_pushButtonCancel_clicked();

private:
    QString printerName() const;
    void setupRanges();
    void showCalibration();
    void setPaper(const QSizeF& paperMm);
    bool printSheet(const QString& name);
    static QSizeF defaultPaper(const QString& name);

    std::unique_ptr<Ui::PrinterCalibrationDialog> ui;
    // The exact values: the spin boxes round them for display only.
    std::unique_ptr<PrinterCalibration> _calibration;
    QSizeF _paper;
    std::function<void(QPrinter*)> _sheetHook;
};
