#pragma once

#include "reportlist.h"

#include <QDialog>

class QGraphicsPixmapItem;
class QGraphicsScene;
class QListWidgetItem;

namespace Ui {
class PrintDialog;
}

// Lets the user pick a report type to print (with the background and preview flags) and shows
// the type's blank form; in template-choice mode it picks the template the designer opens.
class PrintDialog : public QDialog {
    Q_OBJECT

public:
    explicit PrintDialog(QWidget* parent = nullptr);
    ~PrintDialog() override;

    // The designer's template chooser: other titles, no background option, and a choice leaves
    // the dialog open so that several templates can be opened one after another.
    void setTemplateChoiceMode(bool on = true);
    bool isTemplateChoiceMode() const { return _templateChoice; }
    double zoom() const { return _zoom; }

signals:
    void reportTypeSelected(ReportList::ReportType type, bool printBackground, bool showPreview);
    // "Сохранить в PDF": the chosen documents of the type go into a PDF file instead of the printer.
    void pdfRequested(ReportList::ReportType type, bool printBackground);

private slots:
    void on_pushButtonCancel_clicked();
    void on_pushButtonPrint_clicked();
    void on_pushButtonSavePdf_clicked();
    void on_listWidget_itemDoubleClicked(QListWidgetItem* item);
    void on_listWidget_currentItemChanged(QListWidgetItem* current, QListWidgetItem* previous);
    void on_pushButtonScalePlus_clicked();
    void on_pushButtonScaleMinus_clicked();
    void on_checkBoxPreview_toggled(bool checked);

private:
    void fillList();
    void showReport(QListWidgetItem* item);
    // The current row's type, remembered as the last one printed.
    void chooseCurrent(bool toPdf);
    void choose(QListWidgetItem* item, bool toPdf = false);
    void updateZoomButtons();
    void saveSettings();

    Ui::PrintDialog* ui;
    QGraphicsScene* _scene = nullptr;
    QGraphicsPixmapItem* _picture = nullptr;
    const double _zoomFactor = 1.2;
    double _zoom = 1.0;
    int _lastPrintedReport = 0;
    bool _templateChoice = false;
};
