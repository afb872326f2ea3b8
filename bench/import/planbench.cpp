#include "planbench.h"

#include <cstdio>

#ifdef BENCH_IMPORT_PLAN
#include "importplan.h"
#include "importstore.h"

#include <QDate>
#include <QElapsedTimer>

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
} // namespace

void benchPlan(int rows, qint64 templateId) {
    const ImportTable table = groupList(rows);
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
#else
void benchPlan(int rows, qint64) {
    std::printf("plan of %6d rows: not measured, the plan is not part of this build\n", rows);
}
#endif
