// What an import leaves, compared with the same documents made statement by statement the way the
// registry's own paths make them (the row, the template's rows copied, the FRDO auto-fill against
// what is stored, the row's own FRDO values over it); and the entry each document gets.

#include "coreregistry.h"
#include "database.h"
#include "documentstore.h"
#include "frdoautofill.h"
#include "historyjournal.h"
#include "historytext.h"
#include "importstore.h"
#include "profschema.h"
#include "testregistry.h"

#include <QDate>
#include <QJsonArray>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

namespace {
using Records = QVector<ImportRecord>;
const QString source = QStringLiteral("/tmp/группы/список «весна».csv");

// A template of `subjects` subjects (one with NULL hours), with or without an FRDO row.
void makeTemplate(qint64 id, int subjects, bool frdo) {
    sql(QStringLiteral("INSERT INTO ProfDocuments (profId, isTemplate, fio1, addInfo, comment) VALUES (?, 1, "
                       "'Шаблон', 'Доп. сведения', 'заметка');"),
        {id});
    for (int i = 1; i <= subjects; ++i)
        sql(QStringLiteral("INSERT INTO ProfDetails (profId, name, count, rate) VALUES (?, ?, ?, ?);"),
            {id, QStringLiteral("Предмет \"%1\"").arg(i), i == 2 ? QVariant() : QVariant(i * 8),
             i % 2 ? QStringLiteral("хорошо") : QStringLiteral("зачёт")});
    if (frdo)
        sql(QStringLiteral("INSERT INTO ProfFrdo (profId, frdo13, frdo18, fio1orig, studyPeriod, snils, docType, "
                           "StateDuplicate) VALUES (?, 'Программа', 'Да', 'Прежняя', '3 мес.', '000-000-000 00', "
                           "'Справка об обучении', 0);"),
            {id});
}

ImportRecord record(int i) {
    ImportRecord r;
    r.document = {{"isTemplate", 0},
                  {"fio1", QStringLiteral("Фамилия%1").arg(i)},
                  {"fio2", QStringLiteral("Имя")},
                  {"fio3", i % 2 ? QStringLiteral("Петровна") : QStringLiteral("Петрович")},
                  {"attNumber", QStringLiteral("СВ %1").arg(100000 + i)},
                  {"regNumber", QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0'))},
                  {"birthDate", QDate(2000, 1, 1).addDays(i)},
                  {"issueDate", QDate(2024, 6, 30)},
                  {"qual", QStringLiteral("2 разряд")},
                  {"hideTotalCountInAdd", 1},
                  {"editDate", QStringLiteral("template's")}};
    if (i % 3 != 0)
        r.frdo = {{"snils", QStringLiteral("112-233-445 9%1").arg(i % 10)}, {"sexIsMale", i % 2}};
    return r;
}

Records plainRecords(int count) {
    Records list;
    for (int i = 1; i <= count; ++i)
        list << record(i);
    return list;
}

// Records whose values test how they are kept: NULLs, quotes, a 1 MB text, a duplicate, numbers
// in text columns and text in number columns.
Records oddRecords() {
    Records list = plainRecords(6);
    list[0].document["fio3"] = QVariant();
    list[0].document["birthDate"] = QVariant(QVariant::Date);
    list[1].document["fio1"] = QStringLiteral("О'Нил \"Кавычкин\" \\ \t{\"a\":[1]}");
    list[1].document["attNumber"] = QStringLiteral("  123456789012 ");
    list[2].document["addInfo"] = QString(1 << 20, QChar(0x0416));
    list[3].document["isDuplicate"] = QStringLiteral("1");
    list[3].document["regNumber"] = 42;
    list[4].document["certificateType"] = QStringLiteral(" 2 ");
    list[4].document["isExcellent"] = QStringLiteral("да");
    list[5].document["showTotalCount"] = true;
    list[5].document["protocolNumber"] = 1.5;
    list[5].frdo = {{"snils", QStringLiteral("не СНИЛС")}, {"sexIsMale", 1}, {"frdo23", QVariant()}};
    return list;
}

// Records of three sets of columns in turn, one set naming a column in capitals: the rows of one
// import need not all give the same columns.
Records recordsInTurn() {
    Records list = plainRecords(12);
    for (int i = 0; i < list.size(); ++i) {
        QVariantMap& document = list[i].document;
        if (i % 3 == 1) {
            document.remove("qual");
            document["isExcellent"] = 1;
        } else if (i % 3 == 2) {
            document["FIO2"] = document.take("fio2");
        }
    }
    return list;
}

// The stored form of the row's own FRDO values, as the FRDO dialog keeps them.
QVariant ownFrdo(const QString& column, const QVariant& value) {
    if (column == QLatin1String("sexIsMale"))
        return value.toInt() > 0 ? 1 : -1;
    QString digits = value.toString();
    digits.remove(QLatin1Char(' ')).remove(QLatin1Char('-'));
    bool number = false;
    digits.toLongLong(&number);
    return number ? QVariant(digits) : value;
}

qint64 makeOneByOne(const ImportRecord& r, qint64 templateId) {
    QVariantMap values = r.document;
    values.remove("editDate");
    QStringList columns = values.keys();
    columns << "editDate"
            << "comment";
    QVariantList bound = values.values();
    bound << "x"
          << "";
    const QSqlQuery insert = sql(QStringLiteral("INSERT INTO ProfDocuments (%1) VALUES (%2);")
                                     .arg(columns.join(","), QString("?,").repeated(columns.size()).chopped(1)),
                                 bound);
    const qint64 id = insert.lastInsertId().toLongLong();
    if (templateId > 0) {
        sql(QStringLiteral("INSERT INTO ProfDetails (profId, name, count, rate) SELECT ?, name, count, rate FROM "
                           "ProfDetails WHERE profId=? ORDER BY detId;"),
            {id, templateId});
        const QString copied = Database::instance()->columns("ProfFrdo", false);
        sql(QStringLiteral("INSERT INTO ProfFrdo (profId, %1) SELECT ?, %1 FROM ProfFrdo WHERE profId=?;").arg(copied),
            {id, templateId});
    }
    QString error;
    if (!DocumentStore::autoFillRow(FrdoAutoFill::rules(), id, &error))
        qWarning() << error;
    for (auto it = r.frdo.constBegin(); it != r.frdo.constEnd(); ++it)
        if (!it.value().isNull())
            sql(QStringLiteral("UPDATE ProfFrdo SET %1=? WHERE profId=?;").arg(it.key()),
                {ownFrdo(it.key(), it.value()), id});
    return id;
}

// Every value a document holds, with its type, but its keys and edit time.
QStringList rowsOf(qint64 id) {
    QStringList rows;
    const auto add = [&](const QString& table, const QString& order) {
        QSqlQuery query = sql(QStringLiteral("SELECT * FROM %1 WHERE profId=? ORDER BY %2").arg(table, order), {id});
        while (query.next()) {
            const QSqlRecord row = query.record();
            for (int i = 0; i < row.count(); ++i) {
                const QString column = row.fieldName(i);
                if (column != "profId" && column != "detId" && column != "editDate")
                    rows << QStringLiteral("%1.%2=%3")
                                .arg(table, column,
                                     scalar(QStringLiteral("SELECT typeof(?) || ':' || quote(?)"),
                                            {row.value(i), row.value(i)})
                                         .toString()
                                         .left(200));
            }
        }
    };
    add("ProfDocuments", "profId");
    add("ProfDetails", "detId");
    add("ProfFrdo", "profId");
    return rows;
}

// A value of an entry and one read back, alike when they are the same JSON.
QString json(const QJsonValue& value) {
    return value.isDouble()   ? QStringLiteral("n:%1").arg(value.toDouble(), 0, 'g', 17)
           : value.isString() ? "s:" + value.toString().left(200)
                              : "null";
}

QString json(const QVariant& value) {
    if (value.isNull())
        return "null";
    if (value.type() == QVariant::LongLong || value.type() == QVariant::Int || value.type() == QVariant::Double)
        return QStringLiteral("n:%1").arg(value.toDouble(), 0, 'g', 17);
    return "s:" + value.toString().left(200);
}

// The entry's changes, one line each: "table.field=value", a subject "+name{hours,grade}".
QStringList entryLines(const QJsonArray& changes) {
    QStringList lines;
    for (const QJsonValue& change : changes) {
        const QJsonObject c = change.toObject();
        if (c.contains("old") || c.contains("row"))
            lines << "unexpected: " + QJsonDocument(c).toJson(QJsonDocument::Compact);
        if (c["table"] == "ProfDetails") {
            const QJsonObject s = c["new"].toObject();
            lines << QStringLiteral("+%1{%2,%3}").arg(c["name"].toString(), json(s["count"]), json(s["rate"]));
        } else {
            lines << c["table"].toString() + "." + c["field"].toString() + "=" + json(c["new"]);
        }
    }
    return lines;
}

// What the entry of a new document must say: every value it holds but its keys and edit time.
QStringList expectedLines(qint64 id) {
    QStringList lines;
    for (const QString& table : {"ProfDocuments", "ProfDetails", "ProfFrdo"}) {
        QSqlQuery query = sql(QStringLiteral("SELECT * FROM %1 WHERE profId=? ORDER BY rowid").arg(table), {id});
        while (query.next()) {
            const QSqlRecord row = query.record();
            if (table == QLatin1String("ProfDetails")) {
                lines << QStringLiteral("+%1{%2,%3}")
                             .arg(row.value("name").toString(), json(row.value("count")), json(row.value("rate")));
                continue;
            }
            for (int i = 0; i < row.count(); ++i)
                if (!row.isNull(i) && row.fieldName(i) != "profId" && row.fieldName(i) != "editDate")
                    lines << table + "." + row.fieldName(i) + "=" + json(row.value(i));
        }
    }
    return lines;
}

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}
} // namespace

class TestImportRows : public QObject {
    Q_OBJECT

    CoreRegistry _registry;

private slots:
    void initTestCase() { _registry.setUp(); }
    void init() { QVERIFY(_registry.open()); }
    void cleanup() { _registry.close(); }

    void sameAsOneByOne_data() {
        QTest::addColumn<qint64>("templateId");
        QTest::addColumn<int>("subjects");
        QTest::addColumn<bool>("templateFrdo");
        QTest::addColumn<qint64>("firstId");  // of a document before the import, so that new ids follow it
        QTest::addColumn<QString>("records"); // "plain", "odd" or "in turn"
        const qint64 big = Q_INT64_C(1) << 33;
        QTest::newRow("12 subjects") << qint64(7) << 12 << true << qint64(5) << "plain";
        QTest::newRow("1 subject") << qint64(7) << 1 << true << qint64(5) << "plain";
        QTest::newRow("no subjects") << qint64(7) << 0 << true << qint64(5) << "plain";
        QTest::newRow("template without FRDO row") << qint64(7) << 12 << false << qint64(5) << "plain";
        QTest::newRow("no template") << qint64(0) << 0 << false << qint64(5) << "plain";
        QTest::newRow("ids above 2^31") << big << 12 << true << big + 10 << "plain";
        QTest::newRow("NULLs, quotes, 1 MB, a duplicate, mixed types") << qint64(7) << 12 << true << qint64(5) << "odd";
        QTest::newRow("odd values without template") << qint64(0) << 0 << false << qint64(5) << "odd";
        QTest::newRow("sets of columns in turn") << qint64(7) << 12 << true << qint64(5) << "in turn";
    }

    // Every value of every imported document, type included, is what the one-by-one way makes.
    void sameAsOneByOne() {
        QFETCH(qint64, templateId);
        QFETCH(int, subjects);
        QFETCH(bool, templateFrdo);
        QFETCH(qint64, firstId);
        QFETCH(QString, records);
        if (templateId > 0)
            makeTemplate(templateId, subjects, templateFrdo);
        sql(QStringLiteral("INSERT INTO ProfDocuments (profId, fio1) VALUES (?, 'Старый');"), {firstId});
        const Records list = records == "odd"       ? oddRecords()
                             : records == "in turn" ? recordsInTurn()
                                                    : plainRecords(30);
        QList<qint64> ids;
        QString error;
        QVERIFY2(ImportStore::write(list, templateId, &ids, &error, {}, nullptr, nullptr, source), qPrintable(error));
        QCOMPARE(ids.size(), list.size());
        QCOMPARE(ids.first(), qMax(firstId, templateId) + 1);
        for (int i = 0; i < list.size(); ++i) {
            const qint64 reference = makeOneByOne(list.at(i), templateId);
            QCOMPARE(rowsOf(ids.at(i)), rowsOf(reference));
        }
    }

    // One entry per document, its kind, file, name and number, and every value it was made with,
    // typed as stored; the appendix's subjects in their order, without keys.
    void entryHoldsWhatWasWritten_data() {
        QTest::addColumn<int>("subjects");
        QTest::addColumn<bool>("odd");
        QTest::newRow("12 subjects") << 12 << false;
        QTest::newRow("no subjects, odd values") << 0 << true;
        QTest::newRow("1 subject, odd values") << 1 << true;
    }

    void entryHoldsWhatWasWritten() {
        QFETCH(int, subjects);
        QFETCH(bool, odd);
        makeTemplate(3, subjects, true);
        const Records list = odd ? oddRecords() : plainRecords(12);
        QList<qint64> ids;
        QString error;
        QVERIFY2(ImportStore::write(list, 3, &ids, &error, {}, nullptr, nullptr, source), qPrintable(error));
        QCOMPARE(scalar("SELECT COUNT(*) FROM DocumentHistory").toInt(), list.size());
        for (qint64 id : qAsConst(ids)) {
            QVector<HistoryJournal::Entry> entries;
            QVERIFY2(HistoryJournal::entriesOf(id, &entries, &error), qPrintable(error));
            QCOMPARE(entries.size(), 1);
            const HistoryJournal::Entry& entry = entries.first();
            QCOMPARE(entry.kind, DocumentHistory::Kind::Imported);
            QCOMPARE(entry.source, QStringLiteral("список «весна».csv"));
            QCOMPARE(entry.attNumber, scalar("SELECT attNumber FROM ProfDocuments WHERE profId=?", {id}).toString());
            QVERIFY(entry.docName.startsWith(
                scalar("SELECT fio1 FROM ProfDocuments WHERE profId=?", {id}).toString().simplified().left(50)));
            const QStringList lines = entryLines(entry.changes);
            const QStringList expected = expectedLines(id);
            QCOMPARE(sorted(lines), sorted(expected));
            // The subjects in the appendix's order.
            QStringList subjectsSaid;
            for (const QString& line : lines)
                if (line.startsWith('+'))
                    subjectsSaid << line;
            QCOMPARE(subjectsSaid, expected.filter(QRegularExpression("^\\+")));
        }
    }

    // The windows' words for an imported document's entry, the journal's text filter, and a
    // deleted imported document brought back from its deletion entry.
    void journalShowsAndRestores() {
        makeTemplate(3, 12, true);
        QList<qint64> ids;
        QString error;
        QVERIFY2(ImportStore::write(plainRecords(3), 3, &ids, &error, {}, nullptr, nullptr, source), qPrintable(error));
        HistoryJournal::Filter filter;
        filter.text = QStringLiteral("фамилия2");
        QVector<HistoryJournal::Entry> found;
        QVERIFY2(HistoryJournal::find(filter, 0, 50, &found, &error), qPrintable(error));
        QCOMPARE(found.size(), 1);
        const HistoryJournal::Entry& entry = found.first();
        QCOMPARE(entry.profId, ids.at(1));
        QCOMPARE(HistoryText::action(entry), QStringLiteral("Импорт (список «весна».csv)"));
        const QVector<HistoryText::Row> rows = HistoryText::rowsOf(entry);
        const auto shows = [&](const QString& what, const QString& change) {
            for (const HistoryText::Row& row : rows)
                if (row.what == what && row.change == change)
                    return true;
            return false;
        };
        QVERIFY(shows("Фамилия", "— → Фамилия2"));
        QVERIFY(shows("Приложение, «Предмет \"1\"»", "— → Часы: 8, Оценка: хорошо"));
        QVERIFY(shows("Приложение, «Предмет \"2\"»", "— → Часы: —, Оценка: зачёт"));
        QVERIFY(shows("ФРДО: СНИЛС", "— → 11223344592"));
        QVERIFY(shows("ФРДО: Количество часов", "— → 608"));
        QVERIFY(HistoryText::summary(entry).contains("Номер свидетельства: — → СВ 100002"));

        const QStringList before = rowsOf(ids.at(1));
        QVERIFY2(DocumentStore::deleteDocuments({ids.at(1)}, &error), qPrintable(error));
        QVERIFY2(HistoryJournal::entriesOf(ids.at(1), &found, &error), qPrintable(error));
        qint64 restored = 0;
        QVERIFY2(HistoryJournal::restoreDocument(found.first().id, &restored, &error), qPrintable(error));
        QCOMPARE(rowsOf(restored), before);
    }
};

ORVANE_TEST(TestImportRows)
#include "tst_importrows.moc"
