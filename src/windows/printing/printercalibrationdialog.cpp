#include "printercalibrationdialog.h"
#include "calibrationstore.h"
#include "ui_printercalibrationdialog.h"

#include "dialoggeometry.h"
#include "messagebox.h"
#include "mzlog.h"
#include "printercalibration.h"
#include "reportpage.h"

#include <QLocale>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QSignalBlocker>

namespace {
const QString dialogTitle = QStringLiteral("Калибровка принтера");

QString number(double value) {
    return QLocale(QLocale::Russian).toString(value, 'g', 6);
}

QString badMarksText() {
    return QStringLiteral("Измерения не подходят: метки должны лежать не ближе %1 мм друг к другу, "
                          "поправка — не больше %2 мм и масштаб — от %3 до %4. Проверьте измерения.")
        .arg(number(PrinterCalibration::minMarkSpanMm), number(PrinterCalibration::maxOffsetMm),
             number(PrinterCalibration::minScale), number(PrinterCalibration::maxScale));
}

QString markText(const QString& label, const QPointF& nominal) {
    // The nominal position is written as the sheet itself prints it.
    return QStringLiteral("Метка %1 (%2; %3 мм): измерено X, Y").arg(label).arg(nominal.x()).arg(nominal.y());
}
} // namespace

PrinterCalibrationDialog::PrinterCalibrationDialog(QWidget* parent, const QStringList& printers)
    : QDialog(parent), ui(new Ui::PrinterCalibrationDialog), _calibration(new PrinterCalibration) {
    ui->setupUi(this);
    setupRanges();
    const bool any = !printers.isEmpty();
    ui->labelNoPrinter->setVisible(!any);
    const std::initializer_list<QWidget*> needPrinter = {ui->comboBoxPrinter, ui->groupBoxCorrection, ui->groupBoxSheet,
                                                         ui->pushButtonSave};
    for (QWidget* w : needPrinter)
        w->setEnabled(any);
    {
        const QSignalBlocker blocker(ui->comboBoxPrinter);
        ui->comboBoxPrinter->addItems(printers);
    }
    on_comboBoxPrinter_currentIndexChanged(ui->comboBoxPrinter->currentIndex());

    DialogGeometry::restore(this);
}

PrinterCalibrationDialog::~PrinterCalibrationDialog() = default;

QStringList PrinterCalibrationDialog::availablePrinters() {
    QStringList names = QPrinterInfo::availablePrinterNames();
    const QString preferred = QPrinterInfo::defaultPrinterName();
    if (names.removeAll(preferred) > 0)
        names.prepend(preferred);
    return names;
}

void PrinterCalibrationDialog::setSheetPrinterHook(std::function<void(QPrinter*)> hook) {
    _sheetHook = std::move(hook);
}

void PrinterCalibrationDialog::done(int result) {
    DialogGeometry::save(this);
    QDialog::done(result);
}

QString PrinterCalibrationDialog::printerName() const {
    return ui->comboBoxPrinter->currentText();
}

void PrinterCalibrationDialog::setupRanges() {
    for (QDoubleSpinBox* spin : {ui->doubleSpinBoxOffsetX, ui->doubleSpinBoxOffsetY})
        spin->setRange(-PrinterCalibration::maxOffsetMm, PrinterCalibration::maxOffsetMm);
    for (QDoubleSpinBox* spin : {ui->doubleSpinBoxScaleX, ui->doubleSpinBoxScaleY})
        spin->setRange(PrinterCalibration::minScale, PrinterCalibration::maxScale);
}

void PrinterCalibrationDialog::showCalibration() {
    const std::pair<QDoubleSpinBox*, double> values[] = {{ui->doubleSpinBoxOffsetX, _calibration->offsetX},
                                                         {ui->doubleSpinBoxOffsetY, _calibration->offsetY},
                                                         {ui->doubleSpinBoxScaleX, _calibration->scaleX},
                                                         {ui->doubleSpinBoxScaleY, _calibration->scaleY}};
    // Blocked, so that the rounded display value never replaces the exact one.
    for (const auto& entry : values) {
        const QSignalBlocker blocker(entry.first);
        entry.first->setValue(entry.second);
    }
}

QSizeF PrinterCalibrationDialog::defaultPaper(const QString& name) {
    const QPageSize size = QPrinterInfo::printerInfo(name).defaultPageSize();
    const QSizeF mm = size.isValid() ? size.size(QPageSize::Millimeter) : QSizeF();
    return mm.width() > 0 && mm.height() > 0 ? mm : QPageSize(QPageSize::A4).size(QPageSize::Millimeter);
}

void PrinterCalibrationDialog::setPaper(const QSizeF& paperMm) {
    _paper = paperMm;
    const QPointF a = PrinterCalibration::markA(_paper);
    const QPointF b = PrinterCalibration::markB(_paper);
    ui->labelMarkA->setText(markText(QStringLiteral("A"), a));
    ui->labelMarkB->setText(markText(QStringLiteral("B"), b));
    ui->doubleSpinBoxAX->setValue(a.x());
    ui->doubleSpinBoxAY->setValue(a.y());
    ui->doubleSpinBoxBX->setValue(b.x());
    ui->doubleSpinBoxBY->setValue(b.y());
}

void PrinterCalibrationDialog::on_comboBoxPrinter_currentIndexChanged(int) {
    const QString name = printerName();
    *_calibration = CalibrationStore::forPrinter(name);
    showCalibration();
    setPaper(defaultPaper(name));
}

void PrinterCalibrationDialog::on_doubleSpinBoxOffsetX_valueChanged(double value) {
    _calibration->offsetX = value;
}

void PrinterCalibrationDialog::on_doubleSpinBoxOffsetY_valueChanged(double value) {
    _calibration->offsetY = value;
}

void PrinterCalibrationDialog::on_doubleSpinBoxScaleX_valueChanged(double value) {
    _calibration->scaleX = value;
}

void PrinterCalibrationDialog::on_doubleSpinBoxScaleY_valueChanged(double value) {
    _calibration->scaleY = value;
}

void PrinterCalibrationDialog::on_pushButtonReset_clicked() {
    *_calibration = PrinterCalibration();
    showCalibration();
}

void PrinterCalibrationDialog::on_pushButtonPrintSheet_clicked() {
    const QString name = printerName();
    if (name.isEmpty())
        return;
    if (!printSheet(name))
        MessageBox::warning(this, dialogTitle,
                            QStringLiteral("Не удалось напечатать калибровочный лист.\nПринтер: %1").arg(name));
}

bool PrinterCalibrationDialog::printSheet(const QString& name) {
    QPrinter printer(QPrinterInfo::printerInfo(name), QPrinter::HighResolution);
    printer.setDocName(QStringLiteral("Калибровочный лист"));
    printer.setFullPage(true);
    printer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    if (_sheetHook)
        _sheetHook(&printer);
    // A printer removed since the list was made would silently fall back to another one.
    if (printer.outputFormat() == QPrinter::NativeFormat && printer.printerName() != name) {
        MZ_LOG() << "calibration sheet not printed, no such printer:" << name;
        return false;
    }
    const QSizeF paper = printer.pageLayout().fullRect(QPageLayout::Millimeter).size();
    if (!(paper.width() > 0 && paper.height() > 0))
        return false;
    QPainter painter;
    if (!painter.begin(&printer)) {
        MZ_LOG() << "calibration sheet not printed, the printer refused:" << name;
        return false;
    }
    PrinterCalibration::paintSheet(painter, paper, ReportPage::mmToPx(printer.logicalDpiX()),
                                   QStringLiteral("Калибровочный лист\nПринтер: %1\nНапечатан без поправки").arg(name));
    if (!painter.end())
        return false;
    // The marks to measure are those of the paper the sheet went out on.
    if (paper != _paper)
        setPaper(paper);
    return true;
}

void PrinterCalibrationDialog::on_pushButtonCompute_clicked() {
    const auto calibration = PrinterCalibration::fromMarks(
        PrinterCalibration::markA(_paper), QPointF(ui->doubleSpinBoxAX->value(), ui->doubleSpinBoxAY->value()),
        PrinterCalibration::markB(_paper), QPointF(ui->doubleSpinBoxBX->value(), ui->doubleSpinBoxBY->value()));
    if (!calibration) {
        MessageBox::warning(this, dialogTitle, badMarksText());
        return;
    }
    *_calibration = *calibration;
    showCalibration();
}

void PrinterCalibrationDialog::on_pushButtonSave_clicked() {
    if (!CalibrationStore::store(printerName(), *_calibration)) {
        MessageBox::warning(this, dialogTitle, QStringLiteral("Не удалось сохранить поправку принтера."));
        return;
    }
    accept();
}

void PrinterCalibrationDialog::on_pushButtonCancel_clicked() {
    reject();
}
