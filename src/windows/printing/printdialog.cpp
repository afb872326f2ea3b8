#include "printdialog.h"
#include "appkeys.h"
#include "ui_printdialog.h"

#include "engine.h"
#include "settingsregistry.h"

#include <QCoreApplication>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QPointer>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>

namespace {
const double maxZoom = 2.0;
const double minZoom = 0.4;

QString printTitle() {
    return QStringLiteral("Печать");
}
QString printListTitle() {
    return QStringLiteral("Выберите шаблон для печати: ");
}

ReportList::ReportType typeOf(const QListWidgetItem* item) {
    return static_cast<ReportList::ReportType>(item->data(Qt::UserRole).toInt());
}
} // namespace

PrintDialog::PrintDialog(QWidget* parent) : QDialog(parent), ui(new Ui::PrintDialog) {
    ui->setupUi(this);
    setWindowTitle(printTitle());
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::ApplicationModal);

    auto* settings = SettingsRegistry::instance();
    restoreGeometry(settings->value(Keys::printDialogGeometry).toByteArray());
    {
        // The preview is applied once below, not on every restored state.
        const QSignalBlocker blocker(ui->checkBoxPreview);
        ui->checkBoxPreview->setChecked(settings->value(Keys::printDialogPreviewEnabled).toBool());
    }
    ui->checkBoxPreviewBeforePrinting->setChecked(settings->value(Keys::printDialogPreviewBeforePrinting).toBool());
    _lastPrintedReport = settings->value(Keys::lastPrintedReport).toInt();

    _scene = new QGraphicsScene(this);
    _picture = new QGraphicsPixmapItem;
    _scene->addItem(_picture);
    ui->graphicsView->setScene(_scene);

    fillList();
    on_checkBoxPreview_toggled(ui->checkBoxPreview->isChecked());
}

PrintDialog::~PrintDialog() {
    saveSettings();
    delete ui;
}

void PrintDialog::setTemplateChoiceMode(bool on) {
    _templateChoice = on;
    setWindowTitle(on ? QStringLiteral("Редактировать шаблон") : printTitle());
    ui->pushButtonPrint->setText(on ? QStringLiteral("Редактировать") : printTitle());
    ui->groupBox_3->setTitle(on ? QStringLiteral("Выберите шаблон, который нужно отредактировать:") : printListTitle());
    ui->checkBoxBackground->setVisible(!on);
    ui->pushButtonSavePdf->setVisible(!on);
}

void PrintDialog::fillList() {
    const QSignalBlocker blocker(ui->listWidget);
    ui->listWidget->clear();
    for (const ReportList::ReportInfo& info : ReportList::reports()) {
        auto* item = new QListWidgetItem(info.title, ui->listWidget);
        item->setData(Qt::UserRole, static_cast<int>(info.type));
        item->setToolTip(info.description);
    }
    // Several titles differ only at their ends: the list is as wide as the longest, never cut.
    QListWidget* list = ui->listWidget;
    list->setTextElideMode(Qt::ElideNone);
    list->setMinimumWidth(list->sizeHintForColumn(0) + 2 * list->frameWidth() +
                          list->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + list->spacing() * 2);
    // A stored row the list no longer has falls back to the first one.
    const int row = _lastPrintedReport >= 0 && _lastPrintedReport < ui->listWidget->count() ? _lastPrintedReport : 0;
    ui->listWidget->setCurrentRow(row);
}

void PrintDialog::showReport(QListWidgetItem* item) {
    if (!item)
        return;
    const ReportList::ReportInfo* info = ReportList::info(typeOf(item));
    ui->plainTextEdit->setPlainText(info ? info->description : QString());
    if (ui->checkBoxPreview->isChecked()) {
        _picture->setPixmap(Engine::templatePicture(typeOf(item)));
        _scene->setSceneRect(_picture->boundingRect());
    }
}

void PrintDialog::on_checkBoxPreview_toggled(bool checked) {
    ui->pushButtonScalePlus->setVisible(checked);
    ui->pushButtonScaleMinus->setVisible(checked);
    ui->graphicsView->setVisible(checked);
    // Without the picture the area keeps only its switch, at the top: the list takes the room.
    QSizePolicy area = ui->groupBox->sizePolicy();
    area.setHorizontalPolicy(checked ? QSizePolicy::Expanding : QSizePolicy::Maximum);
    area.setVerticalPolicy(checked ? QSizePolicy::Preferred : QSizePolicy::Maximum);
    area.setHorizontalStretch(checked ? 1 : 0);
    ui->groupBox->setSizePolicy(area);
    ui->horizontalLayout->setAlignment(ui->groupBox, checked ? Qt::Alignment() : Qt::AlignTop);
    showReport(ui->listWidget->currentItem());
    QCoreApplication::processEvents();
    updateZoomButtons();
}

void PrintDialog::on_listWidget_currentItemChanged(QListWidgetItem* current, QListWidgetItem*) {
    showReport(current);
}

void PrintDialog::updateZoomButtons() {
    ui->pushButtonScalePlus->setEnabled(_zoom <= maxZoom);
    ui->pushButtonScaleMinus->setEnabled(_zoom >= minZoom);
}

void PrintDialog::on_pushButtonScalePlus_clicked() {
    ui->graphicsView->scale(_zoomFactor, _zoomFactor);
    _zoom *= _zoomFactor;
    updateZoomButtons();
}

void PrintDialog::on_pushButtonScaleMinus_clicked() {
    ui->graphicsView->scale(1 / _zoomFactor, 1 / _zoomFactor);
    _zoom /= _zoomFactor;
    updateZoomButtons();
}

void PrintDialog::on_pushButtonPrint_clicked() {
    chooseCurrent(false);
}

void PrintDialog::on_pushButtonSavePdf_clicked() {
    chooseCurrent(true);
}

void PrintDialog::chooseCurrent(bool toPdf) {
    QListWidgetItem* item = ui->listWidget->currentItem();
    if (!item)
        return;
    _lastPrintedReport = ui->listWidget->currentRow();
    SettingsRegistry::instance()->setValue(Keys::lastPrintedReport, _lastPrintedReport);
    choose(item, toPdf);
}

void PrintDialog::on_listWidget_itemDoubleClicked(QListWidgetItem* item) {
    if (item)
        choose(item);
}

void PrintDialog::choose(QListWidgetItem* item, bool toPdf) {
    const ReportList::ReportType type = typeOf(item);
    // A second click while the receiver works must not start a second job.
    setEnabled(false);
    QPointer<PrintDialog> self(this);
    QCoreApplication::processEvents();
    if (!self)
        return;
    if (toPdf)
        emit pdfRequested(type, ui->checkBoxBackground->isChecked());
    else
        emit reportTypeSelected(type, ui->checkBoxBackground->isChecked(),
                                ui->checkBoxPreviewBeforePrinting->isChecked());
    if (!self)
        return;
    if (!_templateChoice)
        close();
    setEnabled(true);
}

void PrintDialog::on_pushButtonCancel_clicked() {
    close();
}

void PrintDialog::saveSettings() {
    auto* settings = SettingsRegistry::instance();
    settings->setValue(Keys::printDialogGeometry, saveGeometry());
    settings->setValue(Keys::printDialogPreviewEnabled, ui->checkBoxPreview->isChecked());
    settings->setValue(Keys::printDialogPreviewBeforePrinting, ui->checkBoxPreviewBeforePrinting->isChecked());
    settings->setValue(Keys::lastPrintedReport, _lastPrintedReport);
}
