#pragma once

// The registry the export tests write from, and a workbook read back as openpyxl sees it: shared
// by the core's export tests and the tests of the windows' export entries.

#include "filterlisttype.h"
#include "testdatabase.h"

#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <QtTest>

namespace exportfixture {
const QVariant null;

// profId, isTemplate, fio1, fio2, fio3, qual, issueDate, editDate, attNumber, regNumber, profession,
// protocolDate, protocolNumber
const QList<QVariantList> documents = {
    {1, null, "Иванов", "Иван", "Иванович", "Сварщик", "2016-04-01", "2016-04-01 09:00:00", "000001", "1", "Сварщик",
     "2016-03-30", "12"},
    {2, 0, "ИВАНОВА", "Мария", "Петровна", "Повар\nтретьего разряда", "2016-04-10", "2016-04-10T15:30:00", "АБ 2", "2",
     "Повар", null, "7"},
    {3, null, "Ёлкина", null, null, null, "2016-03-31", null, null, null, null, null, null},
    {4, 0, "Абрамов", "Пётр", null, "повар", "2016-04-11", "2016-04-11 00:00:00", "4", "4", "Повар", "11.04.2016",
     null},
    {5, 1, "Шаблон", "Иван", null, "Сварщик", "2016-04-05", "2016-04-05 10:00:00", null, null, null, null, null},
    {6, null, "Иванов", "Алексей", null, "Электромонтёр", "2016-04-05", "2016-04-12", "6", "6", "Электромонтёр", "",
     "3"},
};

const QStringList frdoKeys = {"profId",        "StateDuplicate", "frdo18",        "frdo19",        "frdo20",
                              "DocType",       "DocSerial",      "DocNumber",     "issueDateFrdo", "RegNumberFrdo",
                              "frdo13",        "frdo14",         "frdo15",        "frdo16",        "beginDate",
                              "endDate",       "studyCount",     "birthDateFrdo", "SexIsMale",     "snils",
                              "frdo21",        "frdo22",         "frdo23",        "frdo24",        "DocNameOrig",
                              "DocSerialOrig", "DocNumberOrig",  "RegNumberOrig", "issueDateOrig", "fio1orig",
                              "fio2orig",      "fio3orig"};
// Rows of ProfFrdo in the order of frdoKeys; documents 3 and 6 have none.
const QList<QVariantList> frdoRows = {
    {2,
     1,
     "Объявление в газете",
     "",
     null,
     "Свидетельство о профессии рабочего",
     "АБ",
     "000002",
     "2016-04-10",
     "2-р",
     "Профессиональная подготовка",
     "Повар",
     "Повар",
     "3 разряд",
     "2022-09-01",
     "2023-06-30",
     144,
     "1990-05-17",
     -1,
     "123-456-789 01",
     "643",
     "Очная",
     "Бюджет",
     "Очная",
     "Свидетельство",
     "ВГ",
     "456789",
     "15",
     "2019-06-30",
     "Сидорова",
     "Мария",
     "Петровна"},
    {1,
     0,
     "Справка",
     "",
     null,
     "Свидетельство о профессии рабочего",
     "",
     "000001",
     "01.04.2016",
     "1",
     "Переподготовка",
     "Сварка",
     "Сварщик",
     "2 разряд",
     "01.09.2021",
     "43831",
     null,
     null,
     1,
     " 111 222 333 44 ",
     "643",
     "Заочная",
     "Платное",
     "Заочная",
     "Не должно выйти",
     "ВГ",
     "1",
     "2",
     "2019-06-30",
     "Старое",
     "Имя",
     "Отчество"},
    {4,    null, null, null, null, "Свидетельство",
     null, null, null, null, null, null,
     null, null, null, null, null, null,
     0,    null, null, null, null, null,
     null, null, null, null, null, null,
     null, null},
};

// A workbook as openpyxl reads it: every cell with its value and format, the column widths and the
// row heights (1-based in the file, 0-based here).
class Sheet {
public:
    explicit Sheet(const QString& path) {
        static const char script[] = R"(
import json, sys, openpyxl
ws = openpyxl.load_workbook(sys.argv[1]).active
def cell(c):
    b, a, f = c.border, c.alignment, c.font
    sides = {s.style for s in (b.left, b.right, b.top, b.bottom)}
    return {"value": c.value, "type": c.data_type, "border": sides.pop() if len(sides) == 1 else "mixed",
            "wrap": bool(a.wrap_text), "h": a.horizontal, "v": a.vertical, "font": f.name, "size": f.sz,
            "bold": bool(f.b), "format": c.number_format}
widths = {}
for d in ws.column_dimensions.values():
    if d.customWidth:
        for i in range(d.min, d.max + 1):
            widths[str(i - 1)] = d.width
ps, fit = ws.page_setup, ws.sheet_properties.pageSetUpPr
one = lambda v: 1 if v is None else int(v)  # the file's default when left out
page = "%s paper %s fit %s titles %s footer %s" % (
    ps.orientation or "-", ps.paperSize or "-",
    "%dx%d" % (one(ps.fitToWidth), one(ps.fitToHeight)) if fit is not None and fit.fitToPage else "none",
    ws.print_title_rows or "-", ws.oddFooter.center.text or "-")
print(json.dumps({"rows": [[cell(c) for c in row] for row in ws.iter_rows()], "widths": widths,
                  "heights": {str(i - 1): d.ht for i, d in ws.row_dimensions.items() if d.ht is not None},
                  "title": ws.title, "page": page}))
)";
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromLatin1(script), path});
        if (!python.waitForFinished(60000) || python.exitCode() != 0)
            qWarning() << "openpyxl:" << python.readAllStandardError();
        const QJsonObject root = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
        _rows = root.value("rows").toArray();
        _widths = root.value("widths").toObject();
        _heights = root.value("heights").toObject();
        _title = root.value("title").toString();
        _page = root.value("page").toString();
    }

    QString title() const { return _title; }
    // "orientation paper P fit WxH titles ROWS footer TEXT"
    QString page() const { return _page; }

    int rowCount() const { return _rows.size(); }
    QJsonObject cell(int row, int column) const { return _rows.at(row).toArray().at(column).toObject(); }
    // A blank cell reads as an empty text.
    QString value(int row, int column) const { return cell(row, column).value("value").toString(); }
    QStringList row(int row) const {
        QStringList values;
        for (int c = 0; c < _rows.at(row).toArray().size(); ++c)
            values << value(row, c);
        return values;
    }
    QList<QStringList> dataRows() const {
        QList<QStringList> rows;
        for (int r = 1; r < rowCount(); ++r)
            rows << row(r);
        return rows;
    }
    QStringList column(int column) const {
        QStringList values;
        for (int r = 1; r < rowCount(); ++r)
            values << value(r, column);
        return values;
    }
    // The width as Excel shows it is a whole number of pixels at 7 pixels a character plus 5.
    int widthPixels(int column) const {
        const QJsonValue width = _widths.value(QString::number(column));
        return width.isUndefined() ? -1 : qRound(width.toDouble() * 7) - 5;
    }
    QJsonValue height(int row) const { return _heights.value(QString::number(row)); }

private:
    QJsonArray _rows;
    QJsonObject _widths;
    QJsonObject _heights;
    QString _title;
    QString _page;
};

inline void insertRows(const QString& table, const QStringList& columns, const QList<QVariantList>& rows) {
    for (const QVariantList& values : rows) {
        QString marks = QStringLiteral("?,").repeated(columns.size());
        marks.chop(1);
        QSqlQuery query =
            runSql(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)").arg(table, columns.join(','), marks), values);
        QVERIFY2(query.numRowsAffected() == 1, qPrintable(table));
    }
}

inline FilterListType filters(const QString& fio, const QString& qual, const QDate& from = {}, const QDate& to = {},
                              const QDate& editFrom = {}, const QDate& editTo = {}) {
    FilterListType list;
    if (from.isValid() || to.isValid())
        list << qMakePair(QStringLiteral("dateFrom"), QVariant(from))
             << qMakePair(QStringLiteral("dateTo"), QVariant(to));
    if (editFrom.isValid() || editTo.isValid())
        list << qMakePair(QStringLiteral("editDateFrom"), QVariant(editFrom))
             << qMakePair(QStringLiteral("editDateTo"), QVariant(editTo));
    return list << qMakePair(QStringLiteral("fio"), QVariant(fio)) << qMakePair(QStringLiteral("qual"), QVariant(qual));
}

// Filters of the list and the names the registry book then holds, for a data-driven test.
inline void addBookFilterRows() {
    QTest::addColumn<FilterListType>("filters");
    QTest::addColumn<QStringList>("names");
    const QStringList all = {"Абрамов Пётр ", "Ёлкина  ", "Иванов Алексей ", "Иванов Иван Иванович",
                             "ИВАНОВА Мария Петровна"};
    const QDate apr1(2016, 4, 1), apr5(2016, 4, 5), apr10(2016, 4, 10), apr11(2016, 4, 11), apr30(2016, 4, 30);
    QTest::newRow("none") << filters("", "") << all;
    QTest::newRow("name in any case") << filters("иВАНОВ", "") << QStringList(all.mid(2));
    QTest::newRow("Ё in any case") << filters("ёЛК", "") << QStringList(all.mid(1, 1));
    QTest::newRow("qual over a line break") << filters("", "ПОВАР ТРЕТЬЕГО") << QStringList(all.mid(4, 1));
    QTest::newRow("qual in any case") << filters("", "Повар") << QStringList{all[0], all[4]};
    QTest::newRow("issue dates, ends included") << filters("", "", apr1, apr10) << QStringList(all.mid(2));
    QTest::newRow("edit dates, date and time texts")
        << filters("", "", {}, {}, apr10, apr11) << QStringList{all[0], all[4]};
    QTest::newRow("one end only") << filters("", "", apr1, {}) << all;
    QTest::newRow("name and issue dates") << filters("иванов", "", apr5, apr30) << QStringList{all[2], all[4]};
    QTest::newRow("nothing matches") << filters("Сидоров", "") << QStringList();
}
} // namespace exportfixture

using namespace exportfixture;
