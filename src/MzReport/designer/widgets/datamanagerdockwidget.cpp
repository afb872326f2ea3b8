#include "datamanagerdockwidget.h"
#include "abstractfield.h"
#include "structuredockwidget.h"
#include "ui_datamanagerdockwidget.h"

#include "reportpage.h"

#include <QAbstractItemModel>
#include <QTableWidget>
#include <QTimer>

DataManagerDockWidget::DataManagerDockWidget(QWidget* parent) : QDockWidget(parent), ui(new Ui::DataManagerDockWidget) {
    ui->setupUi(this);
}

DataManagerDockWidget::~DataManagerDockWidget() = default;

void DataManagerDockWidget::setReportPage(ReportPage* page) {
    if (_page)
        disconnect(_page, nullptr, this, nullptr);
    _page = page;
    if (page)
        connect(page, &ReportPage::dataUpdated, this, &DataManagerDockWidget::updateTable);
    updateTable();
}

void DataManagerDockWidget::addRow(const QString& placeholder, const QString& sample) {
    QTableWidget* table = ui->tableWidget;
    const int row = table->rowCount();
    table->insertRow(row);
    auto* name = new QTableWidgetItem(placeholder);
    auto* value = new QTableWidgetItem(sample);
    // The sample may be long or several lines: the tool tip shows it whole.
    value->setToolTip(sample);
    for (QTableWidgetItem* item : {name, value})
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
    table->setItem(row, 0, name);
    table->setItem(row, 1, value);
}

void DataManagerDockWidget::updateTable() {
    QTableWidget* table = ui->tableWidget;
    table->setRowCount(0);
    if (!_page)
        return;
    const QMap<QString, QVariant> variables = _page->variables();
    for (auto it = variables.cbegin(); it != variables.cend(); ++it)
        addRow(QStringLiteral("$V{%1}").arg(it.key()), it.value().toString());
    for (const QString& key : _page->modelNames()) {
        const QAbstractItemModel* model = _page->model(key);
        if (!model)
            continue;
        const bool hasRow = model->rowCount() > 0;
        for (int c = 0; c < model->columnCount(); ++c) {
            const QString header = model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
            const QString sample = hasRow ? model->index(0, c).data(Qt::DisplayRole).toString() : QString();
            addRow(QStringLiteral("$D{%1.%2}").arg(key, header), sample);
        }
    }
    resizeChildren();
}

void DataManagerDockWidget::resizeChildren() {
    StructureDockWidget::fitColumns(ui->tableWidget);
}

void DataManagerDockWidget::resizeEvent(QResizeEvent* event) {
    QDockWidget::resizeEvent(event);
    // The tables take their new size after this event.
    QTimer::singleShot(0, this, &DataManagerDockWidget::resizeChildren);
}
