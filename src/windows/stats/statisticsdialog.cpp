#include "statisticsdialog.h"
#include "ui_statisticsdialog.h"

#include "dialoggeometry.h"
#include "filedialog.h"
#include "messagebox.h"
#include "mzlog.h"
#include "xlsxworkbook.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QSaveFile>
#include <QTimer>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSet>
#include <QtCharts/QChartView>
#include <QtCharts/QHorizontalBarSeries>
#include <QtCharts/QStackedBarSeries>
#include <QtCharts/QValueAxis>

using namespace QtCharts;

namespace {
enum Tab { Years, Months, Professions, Qualifications };

QString monthName(int month) {
    const QString name = QLocale(QLocale::Russian).standaloneMonthName(month);
    return name.left(1).toUpper() + name.mid(1);
}

QTableWidgetItem* numberItem(qint64 value) {
    auto* item = new QTableWidgetItem(QString::number(value));
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

// A fresh chart on `view`, the old one (with its series and axes) going with it.
QChart* newChart(QChartView* view) {
    auto* chart = new QChart;
    chart->setAnimationOptions(QChart::NoAnimation);
    QChart* old = view->chart();
    view->setChart(chart);
    delete old;
    return chart;
}

void addAxes(QChart* chart, QAbstractBarSeries* series, const QStringList& categories, bool horizontal) {
    auto* names = new QBarCategoryAxis;
    names->append(categories);
    auto* values = new QValueAxis;
    values->setLabelFormat(QStringLiteral("%d"));
    chart->addAxis(names, horizontal ? Qt::AlignLeft : Qt::AlignBottom);
    chart->addAxis(values, horizontal ? Qt::AlignBottom : Qt::AlignLeft);
    series->attachAxis(names);
    series->attachAxis(values);
    values->applyNiceNumbers();
}
} // namespace

StatisticsDialog::StatisticsDialog(QWidget* parent) : QDialog(parent), ui(new Ui::StatisticsDialog) {
    ui->setupUi(this);
    _tables = {ui->tableYears, ui->tableMonths, ui->tableProfessions, ui->tableQualifications};
    const QVector<QBoxLayout*> layouts{ui->layoutYears, ui->layoutMonths, ui->layoutProfessions,
                                       ui->layoutQualifications};
    const QStringList names{"chartViewYears", "chartViewMonths", "chartViewProfessions", "chartViewQualifications"};
    for (int i = 0; i < _tables.size(); ++i)
        addChartView(_tables.at(i), layouts.at(i), names.at(i));
    DialogGeometry::restore(this);
}

StatisticsDialog::~StatisticsDialog() {
    DialogGeometry::save(this);
}

void StatisticsDialog::addChartView(QTableWidget* table, QBoxLayout* layout, const QString& name) {
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    // The table as wide as its columns, the chart taking the rest.
    table->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    auto* view = new QChartView(table->parentWidget());
    view->setObjectName(name);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumWidth(400);
    layout->addWidget(view, 1);
    _charts.append(view);
}

bool StatisticsDialog::load(const QList<qint64>& ids, QString* error) {
    if (!_stats.readCounts(ids, error))
        return false;
    _ids = ids;
    _hoursPending = true;
    showTotals();
    showPeriods(Years, _stats.years(), false);
    {
        const QSignalBlocker blocker(ui->comboBoxYear);
        ui->comboBoxYear->clear();
        for (int year : _stats.datedYears())
            ui->comboBoxYear->addItem(QString::number(year), year);
        ui->comboBoxYear->setCurrentIndex(ui->comboBoxYear->count() - 1);
    }
    on_comboBoxYear_currentIndexChanged(ui->comboBoxYear->currentIndex());
    showNames(Professions, _stats.professions(), QStringLiteral("Профессия"));
    showNames(Qualifications, _stats.qualifications(), QStringLiteral("Квалификация"));
    return true;
}

void StatisticsDialog::showTotals() {
    const QString hours = _stats.hoursRead() ? QString::number(_stats.totalHours())
                          : _hoursPending    ? QStringLiteral("считаются…")
                                             : QStringLiteral("не удалось подсчитать");
    ui->labelTotals->setText(
        QStringLiteral("Документов: %1, часов обучения: %2").arg(_stats.documentCount()).arg(hours));
}

// The hours are summed once the window has shown its counts and charts.
void StatisticsDialog::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    if (_hoursPending)
        QTimer::singleShot(0, this, &StatisticsDialog::readHours);
}

void StatisticsDialog::readHours() {
    if (!_hoursPending)
        return;
    _hoursPending = false;
    QString error;
    if (!_stats.readHours(_ids, &error))
        MZ_LOG() << "the statistics window shows no hours:" << error;
    _ids.clear();
    showTotals();
}

void StatisticsDialog::on_comboBoxYear_currentIndexChanged(int index) {
    const int year = index < 0 ? RegistryStatistics::noDate : ui->comboBoxYear->itemData(index).toInt();
    showPeriods(Months, index < 0 ? QVector<PeriodCounts>() : _stats.months(year), true);
}

void StatisticsDialog::showPeriods(int tab, const QVector<PeriodCounts>& rows, bool months) {
    QTableWidget* table = _tables.at(tab);
    table->clear();
    table->setColumnCount(5);
    // The kinds' long names on two lines, so that the table leaves the chart its room.
    const auto twoLines = [](QString text) { return text.replace(text.lastIndexOf(QLatin1Char(' ')), 1, '\n'); };
    table->setHorizontalHeaderLabels(
        {months ? QStringLiteral("Месяц") : QStringLiteral("Год"), twoLines(RegistryStatistics::workersText()),
         twoLines(RegistryStatistics::employeesText()), RegistryStatistics::duplicatesText(), QStringLiteral("всего")});
    table->setRowCount(rows.size());
    auto* workers = new QBarSet(RegistryStatistics::workersText());
    auto* employees = new QBarSet(RegistryStatistics::employeesText());
    auto* duplicates = new QBarSet(RegistryStatistics::duplicatesText());
    QStringList categories;
    for (int row = 0; row < rows.size(); ++row) {
        const PeriodCounts& p = rows.at(row);
        const QString label = months                                   ? monthName(p.period)
                              : p.period == RegistryStatistics::noDate ? RegistryStatistics::noDateText()
                                                                       : QString::number(p.period);
        table->setItem(row, 0, new QTableWidgetItem(label));
        table->setItem(row, 1, numberItem(p.counts.workers));
        table->setItem(row, 2, numberItem(p.counts.employees));
        table->setItem(row, 3, numberItem(p.counts.duplicates));
        table->setItem(row, 4, numberItem(p.counts.total()));
        categories << label;
        *workers << p.counts.workers;
        *employees << p.counts.employees;
        *duplicates << p.counts.duplicates;
    }
    table->resizeColumnsToContents();
    QChart* chart = newChart(_charts.at(tab));
    auto* series = new QStackedBarSeries;
    series->append({workers, employees, duplicates});
    chart->addSeries(series);
    addAxes(chart, series, categories, false);
    chart->legend()->setAlignment(Qt::AlignBottom);
}

void StatisticsDialog::showNames(int tab, const QVector<NamedCount>& rows, const QString& header) {
    QTableWidget* table = _tables.at(tab);
    table->clear();
    table->setColumnCount(2);
    table->setHorizontalHeaderLabels({header, QStringLiteral("Документов")});
    table->setRowCount(rows.size());
    auto* set = new QBarSet(QStringLiteral("Документов"));
    QStringList categories;
    // Bars go from the bottom up: the largest is drawn last so that it is on top.
    for (int row = rows.size() - 1; row >= 0; --row) {
        table->setItem(row, 0, new QTableWidgetItem(rows.at(row).name));
        table->setItem(row, 1, numberItem(rows.at(row).count));
        categories << rows.at(row).name;
        *set << rows.at(row).count;
    }
    table->resizeColumnsToContents();
    QChart* chart = newChart(_charts.at(tab));
    auto* series = new QHorizontalBarSeries;
    series->append(set);
    chart->addSeries(series);
    addAxes(chart, series, categories, true);
    chart->legend()->hide();
}

QString StatisticsDialog::tableText() const {
    const QTableWidget* table = _tables.at(ui->tabWidget->currentIndex());
    QStringList lines;
    QStringList cells;
    for (int column = 0; column < table->columnCount(); ++column)
        cells << table->horizontalHeaderItem(column)->text().simplified();
    lines << cells.join(QLatin1Char('\t'));
    for (int row = 0; row < table->rowCount(); ++row) {
        cells.clear();
        for (int column = 0; column < table->columnCount(); ++column) {
            const QTableWidgetItem* item = table->item(row, column);
            // A tab or line break inside a name would split the pasted row.
            cells << (item ? item->text().simplified() : QString());
        }
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void StatisticsDialog::on_pushButtonCopy_clicked() {
    QApplication::clipboard()->setText(tableText());
}

void StatisticsDialog::on_pushButtonSave_clicked() {
    QString path = FileDialog::getSaveFileName(this, QStringLiteral("Сохранить"), QString(),
                                               QStringLiteral("Книга Excel (*.xlsx);;Рисунок PNG (*.png)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".xlsx");
    QString error;
    if (!saveTo(path, &error))
        MessageBox::critical(this, MessageBox::errorTitle(), error);
}

bool StatisticsDialog::saveTo(const QString& path, QString* error) const {
    const bool picture = QFileInfo(path).suffix().compare(QLatin1String("png"), Qt::CaseInsensitive) == 0;
    const bool ok = picture ? savePicture(path, error) : saveWorkbook(path, error);
    if (!ok)
        MZ_LOG() << "cannot save the statistics" << path << (error ? *error : QString());
    return ok;
}

bool StatisticsDialog::saveWorkbook(const QString& path, QString* error) const {
    XlsxWorkbook book(path);
    XlsxFormat headerFormat;
    headerFormat.bold = true;
    const int header = book.addFormat(headerFormat);
    book.setColumnWidth(0, 40);
    const QStringList lines = tableText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (int row = 0; row < lines.size(); ++row) {
        const QStringList cells = lines.at(row).split(QLatin1Char('\t'));
        for (int column = 0; column < cells.size(); ++column) {
            // The counts as numbers, so that the spreadsheet can add them up.
            bool number = false;
            const qint64 value = row > 0 && column > 0 ? cells.at(column).toLongLong(&number) : 0;
            if (number)
                book.writeNumber(row, column, double(value));
            else
                book.writeString(row, column, cells.at(column), row == 0 ? header : -1);
        }
    }
    // A failed call is kept by the workbook and reported by close().
    return book.close(error);
}

bool StatisticsDialog::savePicture(const QString& path, QString* error) const {
    const QPixmap picture = _charts.at(ui->tabWidget->currentIndex())->grab();
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && picture.save(&file, "PNG") && file.commit())
        return true;
    if (error)
        *error =
            QStringLiteral("Не удалось сохранить файл %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
    return false;
}
