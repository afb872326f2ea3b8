#include "statisticsdialog.h"
#include "ui_statisticsdialog.h"

#include "barchart.h"
#include "dialoggeometry.h"
#include "documentfilter.h"
#include "filedialog.h"
#include "messagebox.h"
#include "mzlog.h"
#include "xlsxworkbook.h"

#include <QApplication>
#include <QClipboard>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QSaveFile>
#include <QTimer>

namespace {
enum Tab { Years, Months, Professions, Qualifications };

const QColor workersColor(0x20, 0x9f, 0xdf), employeesColor(0x99, 0xca, 0x53), duplicatesColor(0xf6, 0xa6, 0x25);
// A name column wider than this leaves the chart too little room; the cell's tool tip has the rest.
constexpr int nameColumnWidth = 260;

QString monthName(int month) {
    const QString name = QLocale(QLocale::Russian).standaloneMonthName(month);
    return name.left(1).toUpper() + name.mid(1);
}

// Three letters, so that the twelve months fit under a narrow chart.
QString shortMonthName(int month) {
    static const QStringList names{"янв", "фев", "мар", "апр", "май", "июн", "июл", "авг", "сен", "окт", "ноя", "дек"};
    return names.value(month - 1);
}

QTableWidgetItem* numberItem(qint64 value) {
    auto* item = new QTableWidgetItem(QString::number(value));
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}
} // namespace

StatisticsDialog::StatisticsDialog(QWidget* parent)
    : QDialog(parent), ui(new Ui::StatisticsDialog), _filterText(RegistryStatistics::filterText(DocumentFilter())) {
    ui->setupUi(this);
    _tables = {ui->tableYears, ui->tableMonths, ui->tableProfessions, ui->tableQualifications};
    const QVector<QBoxLayout*> layouts{ui->layoutYears, ui->layoutMonths, ui->layoutProfessions,
                                       ui->layoutQualifications};
    const QStringList names{"chartYears", "chartMonths", "chartProfessions", "chartQualifications"};
    for (int i = 0; i < _tables.size(); ++i)
        addChart(_tables.at(i), layouts.at(i), names.at(i));
    ui->labelFilter->setText(_filterText);
    DialogGeometry::restore(this);
    DialogGeometry::fitIntoScreen(this);
}

StatisticsDialog::~StatisticsDialog() {
    DialogGeometry::save(this);
}

void StatisticsDialog::addChart(QTableWidget* table, QBoxLayout* layout, const QString& name) {
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    // The table as wide as its columns, the chart taking the rest.
    table->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    auto* chart = new BarChart(table->parentWidget());
    chart->setObjectName(name);
    layout->addWidget(chart, 1);
    _charts.append(chart);
}

void StatisticsDialog::setFilter(const DocumentFilter& filter) {
    _filterText = RegistryStatistics::filterText(filter);
    ui->labelFilter->setText(_filterText);
    showHeadings();
}

QStringList StatisticsDialog::headingOf(int tab) const {
    QString title = ui->tabWidget->tabText(tab);
    if (tab == Months && ui->comboBoxYear->currentIndex() >= 0)
        title += QStringLiteral(", %1 год").arg(ui->comboBoxYear->currentText());
    return {title, _filterText};
}

QStringList StatisticsDialog::heading() const {
    return headingOf(ui->tabWidget->currentIndex());
}

void StatisticsDialog::showHeadings() {
    for (int tab = 0; tab < _charts.size(); ++tab)
        _charts.at(tab)->setHeading(headingOf(tab));
}

bool StatisticsDialog::load(const QList<qint64>& ids, QString* error) {
    if (!_stats.readCounts(ids, error))
        return false;
    _hoursPending = true;
    _hoursStarted = false;
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
    showHeadings();
    return true;
}

QString StatisticsDialog::totalsText() const {
    const QString hours = _stats.hoursRead() ? QString::number(_stats.totalHours())
                          : _hoursPending    ? QStringLiteral("считаются…")
                                             : QStringLiteral("не удалось подсчитать");
    return QStringLiteral("Документов: %1, часов обучения: %2").arg(_stats.documentCount()).arg(hours);
}

void StatisticsDialog::showTotals() {
    ui->labelTotals->setText(totalsText());
}

// The hours are summed once the window has shown its counts and charts, a slice at a time so
// that the window keeps answering.
void StatisticsDialog::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    if (_hoursPending && !_hoursStarted) {
        _hoursStarted = true;
        QTimer::singleShot(0, this, &StatisticsDialog::readHoursSlice);
    }
}

void StatisticsDialog::readHoursSlice() {
    if (!_hoursPending)
        return;
    QString error;
    if (!_stats.readHoursSlice(&error)) {
        failHours(error);
        return;
    }
    if (!_stats.hoursRead()) {
        QTimer::singleShot(0, this, &StatisticsDialog::readHoursSlice);
        return;
    }
    _hoursPending = false;
    showTotals();
}

void StatisticsDialog::readHours() {
    if (!_hoursPending)
        return;
    QString error;
    if (!_stats.readHours(&error)) {
        failHours(error);
        return;
    }
    _hoursPending = false;
    showTotals();
}

void StatisticsDialog::failHours(const QString& error) {
    MZ_LOG() << "the statistics window shows no hours:" << error;
    _hoursPending = false;
    showTotals();
}

void StatisticsDialog::on_comboBoxYear_currentIndexChanged(int index) {
    const int year = index < 0 ? RegistryStatistics::noDate : ui->comboBoxYear->itemData(index).toInt();
    showPeriods(Months, index < 0 ? QVector<PeriodCounts>() : _stats.months(year), true);
    _charts.at(Months)->setHeading(headingOf(Months));
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
    BarChart::Series workers{RegistryStatistics::workersText(), workersColor, {}};
    BarChart::Series employees{RegistryStatistics::employeesText(), employeesColor, {}};
    BarChart::Series duplicates{RegistryStatistics::duplicatesText(), duplicatesColor, {}};
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
        categories << (months ? shortMonthName(p.period) : label);
        workers.values << p.counts.workers;
        employees.values << p.counts.employees;
        duplicates.values << p.counts.duplicates;
    }
    table->resizeColumnsToContents();
    _charts.at(tab)->setData(Qt::Vertical, categories, {workers, employees, duplicates});
}

void StatisticsDialog::showNames(int tab, const QVector<NamedCount>& rows, const QString& header) {
    QTableWidget* table = _tables.at(tab);
    table->clear();
    table->setColumnCount(2);
    table->setHorizontalHeaderLabels({header, QStringLiteral("Документов")});
    table->setRowCount(rows.size());
    BarChart::Series counts{QStringLiteral("Документов"), workersColor, {}};
    QStringList categories;
    for (int row = 0; row < rows.size(); ++row) {
        auto* name = new QTableWidgetItem(rows.at(row).name);
        name->setToolTip(rows.at(row).name);
        table->setItem(row, 0, name);
        table->setItem(row, 1, numberItem(rows.at(row).count));
        categories << rows.at(row).name;
        counts.values << rows.at(row).count;
    }
    table->resizeColumnsToContents();
    if (table->columnWidth(0) > nameColumnWidth)
        table->setColumnWidth(0, nameColumnWidth);
    _charts.at(tab)->setData(Qt::Horizontal, categories, {counts});
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

QString StatisticsDialog::proposedFileName() const {
    QString name = QStringLiteral("Статистика-") + ui->tabWidget->tabText(ui->tabWidget->currentIndex());
    if (ui->tabWidget->currentIndex() == Months && ui->comboBoxYear->currentIndex() >= 0)
        name += QLatin1Char('-') + ui->comboBoxYear->currentText();
    name += QDate::currentDate().toString(QStringLiteral("-yyyy-MM-dd")) + QStringLiteral(".xlsx");
    return _exportFolder.isEmpty() ? name : QDir(_exportFolder).filePath(name);
}

void StatisticsDialog::on_pushButtonSave_clicked() {
    QString path = FileDialog::getSaveFileName(this, QStringLiteral("Сохранить"), proposedFileName(),
                                               QStringLiteral("Книга Excel (*.xlsx);;Рисунок PNG (*.png)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".xlsx");
    QString error;
    if (!saveTo(path, &error)) {
        MessageBox::critical(this, MessageBox::errorTitle(), error);
        return;
    }
    _exportFolder = QFileInfo(path).absolutePath();
    emit saved(path);
}

bool StatisticsDialog::saveTo(const QString& path, QString* error) {
    // A saved file carries the hours, not "считаются…".
    readHours();
    const bool picture = QFileInfo(path).suffix().compare(QLatin1String("png"), Qt::CaseInsensitive) == 0;
    const bool ok = picture ? savePicture(path, error) : saveWorkbook(path, error);
    if (!ok)
        MZ_LOG() << "cannot save the statistics" << path << (error ? *error : QString());
    return ok;
}

// The heading and the filter above the table, the totals below it, on a sheet named after the tab.
bool StatisticsDialog::saveWorkbook(const QString& path, QString* error) const {
    XlsxWorkbook book(path, ui->tabWidget->tabText(ui->tabWidget->currentIndex()));
    XlsxFormat headerFormat;
    headerFormat.bold = true;
    const int header = book.addFormat(headerFormat);
    book.setColumnWidth(0, 40);
    const QStringList heading = this->heading();
    for (int line = 0; line < heading.size(); ++line)
        book.writeString(line, 0, heading.at(line), line == 0 ? header : -1);
    int row = heading.size() + 1;
    const QStringList lines = tableText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (int line = 0; line < lines.size(); ++line, ++row) {
        const QStringList cells = lines.at(line).split(QLatin1Char('\t'));
        for (int column = 0; column < cells.size(); ++column) {
            // The counts as numbers, so that the spreadsheet can add them up.
            bool number = false;
            const qint64 value = line > 0 && column > 0 ? cells.at(column).toLongLong(&number) : 0;
            if (number)
                book.writeNumber(row, column, double(value));
            else
                book.writeString(row, column, cells.at(column), line == 0 ? header : -1);
        }
    }
    book.writeString(row + 1, 0, totalsText());
    // A failed call is kept by the workbook and reported by close().
    return book.close(error);
}

// The chart at one size whatever the window's, so that every label is whole and readable.
bool StatisticsDialog::savePicture(const QString& path, QString* error) const {
    const QImage picture =
        _charts.at(ui->tabWidget->currentIndex())->picture(BarChart::pictureSize(), BarChart::pictureFont());
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && picture.save(&file, "PNG") && file.commit())
        return true;
    if (error)
        *error =
            QStringLiteral("Не удалось сохранить файл %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
    return false;
}
