#include "planbench.h"

#include <cstdio>

#include "importplan.h"
#include "importstore.h"
#include "tabletext.h"
#include "xlsxreader.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {
// A group list as a workbook gives it: a title row above the header, dates as dates.
ImportTable groupList(int rows) {
    ImportTable table;
    table.rows.reserve(rows + 2);
    table.rows << QVector<QVariant>{QStringLiteral("Список группы № 12")};
    table.rows << QVector<QVariant>{QStringLiteral("Фамилия"),  QStringLiteral("Имя"),
                                    QStringLiteral("Отчество"), QStringLiteral("Дата рождения"),
                                    QStringLiteral("СНИЛС"),    QStringLiteral("Пол")};
    for (int i = 0; i < rows; ++i)
        table.rows << QVector<QVariant>{QStringLiteral("Фамилия%1").arg(i), QStringLiteral("Иван"),
                                        QStringLiteral("Петрович"),         QDate(2000, 1, 1).addDays(i % 3000),
                                        QStringLiteral("112-233-445 95"),   QStringLiteral("м")};
    return table;
}

double ms(const QElapsedTimer& timer) {
    return timer.nsecsElapsed() / 1e6;
}

// The same list as a CSV file and as a workbook (written by python3-xlsxwriter when it is there),
// each read back as the import window reads it.
void benchReading(const ImportTable& table) {
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("group.csv"));
    QFile file(csv);
    if (!file.open(QIODevice::WriteOnly))
        return;
    for (int row = 0; row < table.rows.size(); ++row) {
        QStringList cells;
        for (int column = 0; column < table.rows.at(row).size(); ++column)
            cells << table.text(row, column);
        file.write(cells.join(QLatin1Char(';')).toUtf8() + "\r\n");
    }
    file.close();
    const QString xlsx = dir.filePath(QStringLiteral("group.xlsx"));
    const QString script = QStringLiteral(
        "import sys, csv, datetime, xlsxwriter\n"
        "wb = xlsxwriter.Workbook(sys.argv[2]); ws = wb.add_worksheet(); d = wb.add_format({'num_format': "
        "'dd.mm.yyyy'})\n"
        "for r, row in enumerate(csv.reader(open(sys.argv[1], encoding='utf-8'), delimiter=';')):\n"
        "    for c, v in enumerate(row):\n"
        "        if c == 3 and r > 1: ws.write_datetime(r, c, datetime.datetime.strptime(v, '%d.%m.%Y'), d)\n"
        "        else: ws.write_string(r, c, v)\n"
        "wb.close()\n");
    const bool haveWorkbook =
        QProcess::execute(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, csv, xlsx}) == 0;
    QElapsedTimer timer;
    timer.start();
    ImportTable read;
    QString error;
    TableText::readFile(csv, &read, &error);
    const double csvMs = ms(timer);
    double xlsxMs = -1;
    if (haveWorkbook) {
        timer.restart();
        XlsxReader reader;
        ImportTable sheet;
        if (reader.open(xlsx, &error) && reader.readSheet(0, &sheet, &error))
            xlsxMs = ms(timer);
    }
    std::printf("reading %6d rows: CSV %7.1f ms, workbook %7.1f ms%s\n", int(table.rows.size()), csvMs, xlsxMs,
                haveWorkbook ? "" : " (python3-xlsxwriter missing)");
}
} // namespace

void benchPlan(int rows, qint64 templateId) {
    const ImportTable table = groupList(rows);
    benchReading(table);
    QElapsedTimer timer;
    timer.start();
    ImportOptions options;
    options.headerRow = ImportPlan::findHeaderRow(table, &options.columns);
    options.firstAttNumber = QStringLiteral("ИМ 000001");
    options.firstRegNumber = QStringLiteral("900000");
    QString error;
    QSet<QString> taken;
    ImportStore::templateRow(templateId, &options.templateRow, &error);
    ImportStore::takenNumbers(&taken, &error);
    const double lookUps = ms(timer);
    timer.restart();
    QVector<ImportDocument> documents = ImportPlan::documents(table, options);
    ImportPlan::number(&documents, options);
    ImportPlan::check(&documents, options, taken);
    const double preview = ms(timer);
    timer.restart();
    const QVector<ImportRecord> records = ImportPlan::records(documents, options);
    const double made = ms(timer);
    std::printf("plan of %6d rows: template and %d taken numbers %7.1f ms, documents+number+check %7.1f ms, "
                "records %7.1f ms (%d records, %d with problems)\n",
                rows, int(taken.size()), lookUps, preview, made, int(records.size()),
                ImportPlan::problemCount(documents));
}
