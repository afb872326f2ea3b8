#pragma once

#include "filterdockwidgetabstract.h"

#include <memory>

namespace Ui {
class FilterDockWidget;
}

class QDateEdit;

// The training documents' filters: parts of the name and of the qualification, and a range of
// issue dates and of edit dates, each range switched on by its check box.
class FilterDockWidget : public FilterDockWidgetAbstract {
    Q_OBJECT

public:
    explicit FilterDockWidget(QWidget* parent = nullptr);
    ~FilterDockWidget() override;

    FilterListType filterList() const override;
    QString sqlCondition() const override;

public slots:
    void clearForms() override;

private slots:
    void on_checkBox_stateChanged(int);
    void on_checkBox_2_stateChanged(int);

private:
    // Neither end of a range can pass the other.
    static void limitEachOther(QDateEdit* from, QDateEdit* to);

    std::unique_ptr<Ui::FilterDockWidget> ui;
};
