// An appendix page: a table of 60 subjects bound to a model, word wrap on, a first part of limited
// height and a continuation beside it. Measures the table layout (prepare) and the painting of the
// side into a 300 dpi PDF, then 100 such pages in one process with the peak memory, and has
// reportlab draw the same table (a platypus Table over two frames) for comparison.
// Prints the figures; asserts nothing.
//
//   build/bin/bench_mztable [iterations [folder]]
// With a folder, the template, the model and the PDFs are kept there for a look.

#include "reportpage.h"
#include "tablefield.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPrinter>
#include <QProcess>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <sys/resource.h>

namespace {

constexpr int subjectCount = 60;
constexpr int pageCount = 100;
constexpr int dpi = 300;
// The form: columns of 80, 15 and 35 mm; the first part at (12, 20), 180 mm high; the rest
// continues at (152, 15).
const QList<double> columnWidths{80.0, 15.0, 35.0};
constexpr double tableX = 12.0, tableY = 20.0, firstPartHeight = 180.0;
constexpr double continuationX = 152.0, continuationY = 15.0;
constexpr double headerHeight = 10.0, rowHeight = 5.0;
constexpr double fontPoints = 9.0;

QTextStream out(stdout);

QString subjectName(int i, int variant) {
    static const QStringList names{QStringLiteral("Охрана труда"),
                                   QStringLiteral("Основы материаловедения"),
                                   QStringLiteral("Допуски, посадки и технические измерения"),
                                   QStringLiteral("Эксплуатация и техническое обслуживание грузоподъёмных механизмов"),
                                   QStringLiteral("Чтение чертежей"),
                                   QStringLiteral("Технология сварочных работ"),
                                   QStringLiteral("Контроль качества сварных соединений"),
                                   QStringLiteral("Правовые основы профессиональной деятельности")};
    return QStringLiteral("%1. ").arg(i + 1) + names.at((i + variant) % names.size());
}

QString grade(int i) {
    static const QStringList grades{QStringLiteral("отлично"), QStringLiteral("хорошо"),
                                    QStringLiteral("удовлетворительно"), QStringLiteral("зачтено")};
    return grades.at(i % grades.size());
}

// The rows of one appendix; `variant` changes the texts from page to page.
QList<QStringList> subjects(int variant) {
    QList<QStringList> rows;
    for (int i = 0; i < subjectCount; ++i)
        rows << QStringList{subjectName(i, variant), QString::number(8 + (i * 7 + variant) % 40), grade(i + variant)};
    return rows;
}

QStandardItemModel* makeModel(const QList<QStringList>& rows) {
    auto* model = new QStandardItemModel(rows.size(), 3);
    model->setHorizontalHeaderLabels({QStringLiteral("col1"), QStringLiteral("col2"), QStringLiteral("col3")});
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < 3; ++c)
            model->setItem(r, c, new QStandardItem(rows.at(r).at(c)));
    return model;
}

QJsonObject buildTemplate() {
    QJsonArray widths;
    for (double w : columnWidths)
        widths << w;
    const QJsonObject table{
        {"x", tableX},
        {"y", tableY},
        {"alignFlags", int(Qt::AlignLeft | Qt::AlignVCenter)},
        {"wordWrap", true},
        {"headerIsVisible", true},
        {"columnCount", 3},
        {"headerHeight", headerHeight},
        {"rowHeight", rowHeight},
        {"mModelName", "viewprofdetails"},
        {"drawBorders", true},
        {"columnsWidth", widths},
        {"headerNames", QJsonArray{"Наименование учебного предмета", "Часы", "Оценка"}},
        {"columnIds", QJsonArray{"$D{viewprofdetails.col1}", "$D{viewprofdetails.col2}", "$D{viewprofdetails.col3}"}},
        {"columnsAlign", QJsonArray{1, 4, 4}},
        {"splitsCount", 1},
        {"maxSplitHeight", QJsonArray{firstPartHeight}},
        {"splitX", QJsonArray{continuationX}},
        {"splitY", QJsonArray{continuationY}}};
    return QJsonObject{{"orientation", 1},
                       {"pageSize", 0},
                       {"pagesCount", 1},
                       {"defaultFont", QStringLiteral("Times New Roman,%1,-1,5,50,0,0,0,0,0").arg(fontPoints)},
                       {"tableFields", QJsonArray{table}}};
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0.0 : values.at(values.size() / 2);
}

long peakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long currentRssKb() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLong() * 4 : 0;
}

void setUpPrinter(QPrinter* printer, const QString& pdf) {
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(pdf);
    printer->setResolution(dpi);
}

// Loads, fills, lays out and prints one appendix, as the engine does for a print request.
void printOnePage(const QString& templatePath, const QString& pdf, int variant) {
    ReportPage page;
    page.load(templatePath);
    page.setModel(QStringLiteral("ViewProfDetails"), makeModel(subjects(variant)), true);
    page.setFillWithData(true);
    setUpPrinter(page.printer(), pdf);
    page.paintSides(page.printer(), {0});
}

void printRow(const QString& name, const QList<double>& times) {
    out << QStringLiteral("  %1 median %2 ms, min %3 ms (%4 runs)\n")
               .arg(name, -36)
               .arg(median(times), 0, 'f', 2)
               .arg(*std::min_element(times.begin(), times.end()), 0, 'f', 2)
               .arg(times.size());
}

QJsonObject drawingPlan(const TableField* table, const QString& plansFolder) {
    QJsonArray widths, rows;
    for (double w : columnWidths)
        widths << w;
    for (int variant = 0; variant < pageCount; ++variant) {
        QJsonArray page;
        for (const QStringList& row : subjects(variant))
            page << QJsonArray::fromStringList(row);
        rows << page;
    }
    return QJsonObject{{"widthMm", 297.0},
                       {"heightMm", 210.0},
                       {"fontSize", fontPoints},
                       {"columnWidths", widths},
                       {"header", QJsonArray{"Наименование учебного предмета", "Часы", "Оценка"}},
                       {"headerHeight", headerHeight},
                       {"rowHeight", rowHeight},
                       {"x", tableX},
                       {"y", tableY},
                       {"firstPartHeight", firstPartHeight},
                       {"continuationX", continuationX},
                       {"continuationY", continuationY},
                       {"engineRows", table->rowCountInEffect()},
                       {"folder", plansFolder},
                       {"pages", rows}};
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int iterations = argc > 1 ? qMax(1, QString::fromLocal8Bit(argv[1]).toInt()) : 20;
    QTemporaryDir dir(argc > 2 ? QString::fromLocal8Bit(argv[2]) + QStringLiteral("/bench-XXXXXX") : QString());
    if (argc > 2) {
        dir.setAutoRemove(false);
        out << "files kept in " << dir.path() << '\n';
    }
    const QString templatePath = dir.filePath(QStringLiteral("appendix.mzrpt"));
    {
        QFile file(templatePath);
        file.open(QIODevice::WriteOnly);
        file.write(QJsonDocument(buildTemplate()).toJson());
    }

    ReportPage page;
    page.load(templatePath);
    page.setModel(QStringLiteral("ViewProfDetails"), makeModel(subjects(0)), true);
    page.setFillWithData(true);
    const QString pdf = dir.filePath(QStringLiteral("side.pdf"));
    setUpPrinter(page.printer(), pdf);
    auto* table = qobject_cast<TableField*>(page.fields().value(0));
    if (!table) {
        out << "template has no table\n";
        return 1;
    }
    page.paintSides(page.printer(), {0}); // binds, lays out, warms the font caches

    QList<double> layouts, paints, coldSides;
    for (int i = 0; i < iterations; ++i) {
        QElapsedTimer timer;
        timer.start();
        // Deliberately: nothing changed, the figure is the cost of laying the table out anew.
        table->invalidateLayout();
        table->rebuildCellTexts();
        table->prepare();
        layouts << timer.nsecsElapsed() / 1e6;
        timer.restart();
        page.paintSides(page.printer(), {0});
        paints << timer.nsecsElapsed() / 1e6;
        timer.restart();
        printOnePage(templatePath, pdf, i);
        coldSides << timer.nsecsElapsed() / 1e6;
    }
    const qint64 pdfSize = QFileInfo(pdf).size();
    // The rows of the first part, by the table's own walk over the parts.
    int firstPartRows = 0;
    {
        double used = table->headerHeightInEffect();
        for (double h : table->rowHeights()) {
            if (firstPartHeight <= h + used)
                break;
            used += h;
            ++firstPartRows;
        }
    }

    const long rssBefore = currentRssKb();
    QElapsedTimer batch;
    batch.start();
    for (int i = 0; i < pageCount; ++i)
        printOnePage(templatePath, dir.filePath(QStringLiteral("page.pdf")), i);
    const double batchMs = batch.nsecsElapsed() / 1e6;
    const long rssAfter = currentRssKb();

    out << "appendix: " << subjectCount << " subjects, word wrap, first part " << firstPartHeight
        << " mm, continuation at (" << continuationX << ", " << continuationY << "); " << table->rowCountInEffect()
        << " rows laid out, table height " << QString::number(table->totalHeight(), 'f', 1) << " mm, overflow "
        << (table->overflow() ? "yes" : "no") << "\n";
    out << "Orvane report engine (" << dpi << " dpi PDF):\n";
    printRow(QStringLiteral("table layout (prepare)"), layouts);
    printRow(QStringLiteral("paint side (laid out)"), paints);
    printRow(QStringLiteral("load + fill + lay out + paint side"), coldSides);
    out << QStringLiteral("  %1 %2 ms, %3 ms per page\n")
               .arg(QStringLiteral("%1 pages in one process").arg(pageCount), -36)
               .arg(batchMs, 0, 'f', 0)
               .arg(batchMs / pageCount, 0, 'f', 2);
    out << "  PDF " << pdfSize / 1024 << " KB; peak RSS " << peakRssKb() / 1024 << " MB; RSS before/after the "
        << pageCount << " pages " << rssBefore / 1024 << " / " << rssAfter / 1024 << " MB\n";

    const QString planPath = dir.filePath(QStringLiteral("table-plan.json"));
    {
        QFile plan(planPath);
        plan.open(QIODevice::WriteOnly);
        plan.write(QJsonDocument(drawingPlan(table, dir.path())).toJson());
    }
    QProcess reportlab;
    reportlab.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(ORVANE_REPORTLAB_TABLE_SCRIPT), planPath, QString::number(iterations)});
    if (!reportlab.waitForFinished(600000) || reportlab.exitCode() != 0) {
        out << "reportlab run failed: " << reportlab.readAllStandardError() << '\n';
        return 1;
    }
    const QJsonObject figures = QJsonDocument::fromJson(reportlab.readAllStandardOutput()).object();
    const double rlSide = figures.value(QStringLiteral("sideMs")).toDouble();
    const double rlBatch = figures.value(QStringLiteral("batchMs")).toDouble();
    out << "reportlab " << figures.value(QStringLiteral("version")).toString()
        << " (Table of the same widths, wrapped Paragraph cells, two frames):\n"
        << QStringLiteral("  %1 median %2 ms\n").arg(QStringLiteral("build + save side"), -36).arg(rlSide, 0, 'f', 2)
        << QStringLiteral("  %1 %2 ms, %3 ms per page\n")
               .arg(QStringLiteral("%1 pages in one process").arg(pageCount), -36)
               .arg(rlBatch, 0, 'f', 0)
               .arg(rlBatch / pageCount, 0, 'f', 2)
        << "  rows in the first frame " << figures.value(QStringLiteral("firstFrameRows")).toInt()
        << " (engine: " << firstPartRows << "); peak RSS " << figures.value(QStringLiteral("peakRssMb")).toDouble()
        << " MB\n";
    out << "ratio Orvane / reportlab: " << QString::number(median(coldSides) / rlSide, 'f', 2) << " per side, "
        << QString::number(batchMs / rlBatch, 'f', 2) << " for " << pageCount << " pages\n";
    return 0;
}
