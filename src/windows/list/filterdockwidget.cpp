#include "filterdockwidget.h"

#include "documentfilter.h"
#include "ui_filterdockwidget.h"

#include <QSignalBlocker>

FilterDockWidget::FilterDockWidget(QWidget* parent)
    : FilterDockWidgetAbstract(parent), ui(std::make_unique<Ui::FilterDockWidget>()) {
    ui->setupUi(this);
    connect(ui->pushButtonClear, &QPushButton::clicked, this, &FilterDockWidget::clearForms);
    limitEachOther(ui->dateEditFrom, ui->dateEditTo);
    limitEachOther(ui->dateEditFrom_2, ui->dateEditTo_2);

    const QList<QDateEdit*> dateEdits = {ui->dateEditFrom, ui->dateEditTo, ui->dateEditFrom_2, ui->dateEditTo_2};
    const QDate today = QDate::currentDate();
    for (QDateEdit* edit : dateEdits)
        edit->setDate(today);
    for (QDateEdit* edit : dateEdits)
        connect(edit, &QDateEdit::dateChanged, this, &FilterDockWidget::apply);
    // Only the user's edits: texts set by the program re-filter through clearForms() or apply().
    connect(ui->lineEditFio1, &QLineEdit::textEdited, this, &FilterDockWidget::apply);
    connect(ui->lineEditQual, &QLineEdit::textEdited, this, &FilterDockWidget::apply);
}

FilterDockWidget::~FilterDockWidget() = default;

void FilterDockWidget::limitEachOther(QDateEdit* from, QDateEdit* to) {
    connect(from, &QDateEdit::dateChanged, to, &QDateEdit::setMinimumDate);
    connect(to, &QDateEdit::dateChanged, from, &QDateEdit::setMaximumDate);
}

FilterListType FilterDockWidget::filterList() const {
    FilterListType list;
    if (ui->checkBox->isChecked()) {
        list << qMakePair(FilterKeys::dateFrom, QVariant(ui->dateEditFrom->date()));
        list << qMakePair(FilterKeys::dateTo, QVariant(ui->dateEditTo->date()));
    }
    if (ui->checkBox_2->isChecked()) {
        list << qMakePair(FilterKeys::editDateFrom, QVariant(ui->dateEditFrom_2->date()));
        list << qMakePair(FilterKeys::editDateTo, QVariant(ui->dateEditTo_2->date()));
    }
    list << qMakePair(FilterKeys::fio, QVariant(ui->lineEditFio1->text().trimmed()));
    list << qMakePair(FilterKeys::qual, QVariant(ui->lineEditQual->text().trimmed()));
    return list;
}

QString FilterDockWidget::sqlCondition() const {
    return DocumentFilter::fromList(filterList()).sqlCondition();
}

void FilterDockWidget::clearForms() {
    {
        // One re-filter for the whole reset, not one more per box.
        const QSignalBlocker blockIssue(ui->checkBox);
        const QSignalBlocker blockEdit(ui->checkBox_2);
        ui->checkBox->setChecked(false);
        ui->checkBox_2->setChecked(false);
    }
    ui->lineEditFio1->clear();
    ui->lineEditQual->clear();
    apply();
}

void FilterDockWidget::on_checkBox_stateChanged(int) {
    apply();
}

void FilterDockWidget::on_checkBox_2_stateChanged(int) {
    apply();
}
