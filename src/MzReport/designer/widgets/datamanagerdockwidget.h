#pragma once

#include "reportpage.h"

#include <QDockWidget>
#include <QPointer>
#include <memory>

class ReportPage;

namespace Ui {
class DataManagerDockWidget;
}

// The variable manager of the designer: every placeholder the filled page offers, with a sample
// value. A row is dragged onto a field of the canvas to put its placeholder there.
class DataManagerDockWidget : public QDockWidget {
    Q_OBJECT

public:
    explicit DataManagerDockWidget(QWidget* parent = nullptr);
    ~DataManagerDockWidget() override;

    // Not owned. The list follows the page's data.
    void setReportPage(ReportPage* page);
    ReportPage* reportPage() const { return _page; }

public slots:
    void updateTable();
    void resizeChildren();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void addRow(const QString& placeholder, const QString& sample);

    std::unique_ptr<Ui::DataManagerDockWidget> ui;
    QPointer<ReportPage> _page;
};
