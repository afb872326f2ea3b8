#pragma once

#include "registrystatistics.h"

#include <QDialog>
#include <QScopedPointer>
#include <QVector>

class BarChart;
class DocumentFilter;
class QBoxLayout;
class QTableWidget;

namespace Ui {
class StatisticsDialog;
}

// The registry's figures for the documents the list shows: each tab a table and a chart of it, both
// saying which documents they count.
class StatisticsDialog : public QDialog {
    Q_OBJECT

public:
    explicit StatisticsDialog(QWidget* parent = nullptr);
    ~StatisticsDialog() override;

    // Reads the figures of `ids` and fills every tab; false with the reason when they cannot be read.
    // The training hours follow once the window has painted.
    bool load(const QList<qint64>& ids, QString* error);
    // The list's filter the ids were chosen by, stated in the window and in every saved file.
    void setFilter(const DocumentFilter& filter);
    // Where "Сохранить…" proposes its file.
    void setExportFolder(const QString& folder) { _exportFolder = folder; }
    QString proposedFileName() const;

    const RegistryStatistics& figures() const { return _stats; }
    // The current tab's table as tab-separated lines, the header first.
    QString tableText() const;
    // The current tab's chart title ("По месяцам, 2022 год") and the filter line.
    QStringList heading() const;
    // Writes the current tab's table as a workbook (".xlsx") or its chart as a picture (".png").
    bool saveTo(const QString& path, QString* error);

signals:
    // A file was written by "Сохранить…".
    void saved(const QString& path);

private slots:
    void on_pushButtonCopy_clicked();
    void on_pushButtonSave_clicked();
    void on_comboBoxYear_currentIndexChanged(int index);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void readHours();
    void readHoursSlice();
    void failHours(const QString& error);
    QString totalsText() const;
    void showTotals();
    void addChart(QTableWidget* table, QBoxLayout* layout, const QString& name);
    void showPeriods(int tab, const QVector<PeriodCounts>& rows, bool months);
    void showNames(int tab, const QVector<NamedCount>& rows, const QString& header);
    void showHeadings();
    QStringList headingOf(int tab) const;
    bool saveWorkbook(const QString& path, QString* error) const;
    bool savePicture(const QString& path, QString* error) const;

    QScopedPointer<Ui::StatisticsDialog> ui;
    RegistryStatistics _stats;
    bool _hoursPending = false;
    bool _hoursStarted = false;
    QString _filterText;
    QString _exportFolder;
    QVector<QTableWidget*> _tables;
    QVector<BarChart*> _charts;
};
