#include "database.h"
#include "documentrecords.h"
#include "documentstore.h"
#include "frdoautofill.h"
#include "importstore.h"
#include "listchanges.h"
#include "testdatabase.h"
#include "testregistry.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>
#include <limits>

namespace {
// The rows of a query as "a|b;c|d", NULL as "-".
QString rows(const QString& sql, const QVariantList& values = {}) {
    QSqlQuery query = runSql(sql, values);
    QStringList result;
    while (query.next()) {
        QStringList row;
        for (int i = 0; i < query.record().count(); ++i)
            row << (query.isNull(i) ? QStringLiteral("-") : query.value(i).toString());
        result << row.join('|');
    }
    return result.join(';');
}

// Every row of the registry's three tables.
QString registryState() {
    return rows("SELECT * FROM ProfDocuments ORDER BY profId") + "/" +
           rows("SELECT * FROM ProfDetails ORDER BY detId") + "/" + rows("SELECT * FROM ProfFrdo ORDER BY profId");
}

// A document with two appendix subjects and an FRDO row.
void insertFullDocument(qint64 id, const QVariant& surname) {
    runSql("INSERT INTO ProfDocuments (profId, fio1, fio2, qual, attNumber) VALUES (?, ?, 'Пётр', 'Токарь', ?)",
           {id, surname, QString::number(id)});
    runSql("INSERT INTO ProfDetails (profId, name, count, rate) VALUES (?, 'Охрана труда', 10, '5'), "
           "(?, 'Черчение', NULL, NULL)",
           {id, id});
    runSql("INSERT INTO ProfFrdo (profId, docName, snils) VALUES (?, 'Свидетельство', '123-456-789 00')", {id});
}

// A registry in a temporary data folder.
struct Registry {
    Registry() { QVERIFY(data.open()); }
    TestDatabase data;
};

const QString refuse = QStringLiteral("BEGIN SELECT RAISE(ABORT, 'отказано'); END");
} // namespace

class TestDocumentStore : public QObject {
    Q_OBJECT

private slots:
    // The copy is a new document with its subjects and its FRDO row; what is particular to the
    // person (certificate number, SNILS) is not copied.
    void copyWithDependents_data() {
        QTest::addColumn<qint64>("id");
        QTest::addColumn<QVariant>("surname");
        QTest::addColumn<QString>("copied"); // fio1 of the copy
        QTest::newRow("small id") << qint64(1) << QVariant("Иванов") << "КОПИЯ Иванов";
        QTest::newRow("NULL surname") << qint64(1) << QVariant(QVariant::String) << "КОПИЯ ";
        QTest::newRow("64-bit id") << (qint64(1) << 62) << QVariant("Широкий") << "КОПИЯ Широкий";
    }

    void copyWithDependents() {
        QFETCH(qint64, id);
        QFETCH(QVariant, surname);
        QFETCH(QString, copied);
        Registry r;
        insertFullDocument(id, surname);
        QString error;
        const qint64 newId = DocumentStore::duplicateDocument(id, &error);
        QCOMPARE(newId, id + 1);
        QVERIFY(error.isEmpty());
        QCOMPARE(rows("SELECT fio1, fio2, qual, attNumber FROM ProfDocuments WHERE profId = ?", {newId}),
                 copied + "|Пётр|Токарь|-");
        const QString subjects = "SELECT name, count, rate FROM ProfDetails WHERE profId = ? ORDER BY detId";
        QCOMPARE(rows(subjects, {newId}), QStringLiteral("Охрана труда|10|5;Черчение|-|-"));
        QCOMPARE(rows(subjects, {id}), rows(subjects, {newId}));
        QCOMPARE(rows("SELECT docName, snils FROM ProfFrdo WHERE profId = ?", {newId}),
                 QStringLiteral("Свидетельство|-"));
        QCOMPARE(rows("SELECT snils FROM ProfFrdo WHERE profId = ?", {id}), QStringLiteral("123-456-789 00"));
    }

    // No document, or no id left after the largest: nothing is written and the reason is given.
    void copyRefused_data() {
        QTest::addColumn<qint64>("id");
        QTest::addColumn<qint64>("copyOf");
        QTest::addColumn<QString>("reason"); // empty: any reason of the database
        QTest::newRow("no such document") << qint64(1) << qint64(2) << "Документ не найден в базе данных.";
        QTest::newRow("largest id") << std::numeric_limits<qint64>::max() << std::numeric_limits<qint64>::max()
                                    << QString();
    }

    void copyRefused() {
        QFETCH(qint64, id);
        QFETCH(qint64, copyOf);
        QFETCH(QString, reason);
        Registry r;
        insertFullDocument(id, "Иванов");
        const QString before = registryState();
        QString error;
        QCOMPARE(DocumentStore::duplicateDocument(copyOf, &error), qint64(0));
        QCOMPARE(registryState(), before);
        QVERIFY(!error.isEmpty());
        if (!reason.isEmpty())
            QCOMPARE(error, reason);
    }

    void deleteWithDependents() {
        Registry r;
        for (qint64 id : {qint64(1), qint64(2), qint64(1) << 40})
            insertFullDocument(id, "Иванов");
        QString error;
        QVERIFY(DocumentStore::deleteDocuments({}, &error));
        QVERIFY(DocumentStore::deleteDocuments({1, qint64(1) << 40, 77}, &error));
        QVERIFY(error.isEmpty());
        QCOMPARE(rows("SELECT (SELECT group_concat(profId) FROM ProfDocuments), (SELECT group_concat(DISTINCT profId) "
                      "FROM ProfDetails), (SELECT group_concat(profId) FROM ProfFrdo)"),
                 QStringLiteral("2|2|2"));
    }

    // A statement refused halfway through leaves every row as it was and gives the reason.
    void failedWritesChangeNothing_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("failure"); // a trigger, "query_only" or a statement run before
        QTest::addColumn<QString>("reason");
        const QString denied = "отказано", readOnly = "readonly";
        QTest::newRow("copy, subjects refused") << "copy"
                                                << "CREATE TRIGGER t BEFORE INSERT ON ProfDetails " + refuse << denied;
        QTest::newRow("copy, FRDO row refused") << "copy"
                                                << "CREATE TRIGGER t BEFORE INSERT ON ProfFrdo " + refuse << denied;
        QTest::newRow("copy, FRDO table gone") << "copy"
                                               << "DROP TABLE ProfFrdo"
                                               << "ProfFrdo";
        QTest::newRow("copy, read only") << "copy"
                                         << "PRAGMA query_only = 1" << readOnly;
        QTest::newRow("delete, document refused after its rows")
            << "delete"
            << "CREATE TRIGGER t BEFORE DELETE ON ProfDocuments " + refuse << denied;
        QTest::newRow("delete, read only") << "delete"
                                           << "PRAGMA query_only = 1" << readOnly;
        QTest::newRow("auto-fill, second document refused")
            << "fill"
            << "CREATE TRIGGER t BEFORE UPDATE ON ProfFrdo WHEN OLD.profId = 3 " + refuse << denied;
        QTest::newRow("auto-fill, new row refused") << "fill"
                                                    << "CREATE TRIGGER t BEFORE INSERT ON ProfFrdo " + refuse << denied;
        QTest::newRow("auto-fill, read only") << "fill"
                                              << "PRAGMA query_only = 1" << readOnly;
    }

    void failedWritesChangeNothing() {
        QFETCH(QString, operation);
        QFETCH(QString, failure);
        QFETCH(QString, reason);
        Registry r;
        for (qint64 id : {1, 2, 3})
            insertFullDocument(id, "Документ");
        runSql("INSERT INTO ProfDocuments (profId, fio1) VALUES (4, 'Без ФРДО')");
        runSql(failure);
        const QString before = registryState();
        QString error;
        bool done = false;
        if (operation == "copy")
            done = DocumentStore::duplicateDocument(2, &error) > 0;
        else if (operation == "delete")
            done = DocumentStore::deleteDocuments({1, 3, 4}, &error);
        else
            done = DocumentStore::autoFillFrdo({1, 4, 3}, &error);
        runSql("PRAGMA query_only = 0");
        QVERIFY(!done);
        QCOMPARE(registryState(), before);
        QVERIFY2(error.contains(reason), qPrintable(error));
    }

    void frdoAutoFill_data() {
        QTest::addColumn<QVariant>("patronymic");
        QTest::addColumn<QVariant>("isDuplicate");
        QTest::addColumn<bool>("stored"); // an FRDO row exists before the fill
        // SexIsMale, fio1..3orig, frdo18..20, StateDuplicate
        QTest::addColumn<QString>("expected");
        const QVariant null(QVariant::String);
        QTest::newRow("original, -на") << QVariant("Ивановна") << QVariant(0) << true
                                       << "-1|Старая|Анна|Ивановна|Нет|Нет|Нет|0";
        QTest::newRow("original, no FRDO row yet")
            << QVariant("Иванович") << QVariant() << false << "1|-|-|-|Нет|Нет|Нет|-";
        QTest::newRow("duplicate, NULL patronymic") << null << QVariant(1) << true << "1|Петрова|Мария|-|Да|-|Да|1";
        QTest::newRow("duplicate, capitals and a blank")
            << QVariant("ПЕТРОВНА ") << QVariant(2) << true << "-1|Петрова|Мария|ПЕТРОВНА |Да|-|Да|2";
        QTest::newRow("duplicate without FRDO row")
            << QVariant("Петровна") << QVariant(1) << false << "-1|Петрова|Мария|Петровна|-|-|-|1";
    }

    void frdoAutoFill() {
        QFETCH(QVariant, patronymic);
        QFETCH(QVariant, isDuplicate);
        QFETCH(bool, stored);
        QFETCH(QString, expected);
        Registry r;
        const qint64 id = qint64(1) << 33;
        runSql("INSERT INTO ProfDocuments (profId, fio1, fio2, fio3, attNumber, isDuplicate, issueDate, regNumber, "
               "birthDate, startDate, finishDate, profession, profProgName, qual) VALUES (?, 'Петрова', 'Мария', ?, "
               "'2926 000101', ?, '2020-06-30', 'СВ 7', NULL, '2020-01-10', '2020-06-20', 'Повар', 'Программа', "
               "'Повар 3 разряда')",
               {id, patronymic, isDuplicate});
        runSql("INSERT INTO ProfDetails (profId, count) VALUES (?, 30), (?, NULL), (?, 12)", {id, id, id});
        if (stored)
            runSql("INSERT INTO ProfFrdo (profId, fio1orig, fio2orig, fio3orig, frdo18, frdo20, snils, DocType) VALUES "
                   "(?, 'Старая', 'Анна', 'Ивановна', 'Да', 'Да', '111', 'Справка об обучении')",
                   {id});
        QString error;
        // A document that does not exist gets no row and fails nothing.
        QVERIFY(DocumentStore::autoFillFrdo({id, 99}, &error));
        QVERIFY(error.isEmpty());
        QCOMPARE(rows("SELECT profId FROM ProfFrdo"), QString::number(id));
        QCOMPARE(rows("SELECT sexIsMale, fio1orig, fio2orig, fio3orig, frdo18, frdo19, frdo20, StateDuplicate FROM "
                      "ProfFrdo"),
                 expected);
        QCOMPARE(
            rows("SELECT issueDateFrdo, RegNumberFrdo, birthDateFrdo, beginDate, endDate, frdo15, studyCount, "
                 "frdo14, frdo16, DocSerial, DocNumber, DocType, snils FROM ProfFrdo"),
            QStringLiteral("2020-06-30|СВ 7|-|2020-01-10|2020-06-20|Повар|42|Программа|Повар 3 разряда|2926|"
                           "000101|") +
                // A kind the clerk chose stays.
                (stored ? "Справка об обучении|111" : "Свидетельство о профессии рабочего, должности служащего|-"));
    }

    void attNumberParts_data() {
        QTest::addColumn<QVariant>("attNumber");
        QTest::addColumn<QString>("parts"); // series|number, NULL as "-"
        QTest::newRow("series, blank, number") << QVariant("2926 000101") << "2926|000101";
        QTest::newRow("twelve digits") << QVariant("123456789012") << "123456|789012";
        QTest::newRow("blanks around and between") << QVariant("  2926   000101 ") << "2926|000101";
        QTest::newRow("a blank inside the number") << QVariant("АБ 12 345") << "АБ|12 345";
        QTest::newRow("blanks only") << QVariant("   ") << "|";
        QTest::newRow("digits alone, short") << QVariant("12345") << "|12345";
        QTest::newRow("six digits") << QVariant("000101") << "|000101";
        QTest::newRow("seven digits") << QVariant("0001012") << "000101|2";
        QTest::newRow("letters, then digits") << QVariant("СВ100051") << "СВ|100051";
        QTest::newRow("long letters, then digits") << QVariant("АБВГДЕЖ12") << "АБВГДЕЖ|12";
        QTest::newRow("letters only") << QVariant("АБВГДЕЖ") << "АБВГДЕ|Ж";
        QTest::newRow("letters, digits, a letter") << QVariant("СВ100051А") << "СВ1000|51А";
        QTest::newRow("a number, not a text") << QVariant(qint64(123456789012)) << "123456|789012";
        QTest::newRow("NULL") << QVariant(QVariant::String) << "-|-";
        QTest::newRow("long") << QVariant(QString(100000, 'x')) << "xxxxxx|" + QString(99994, 'x');
    }

    void attNumberParts() {
        QFETCH(QVariant, attNumber);
        QFETCH(QString, parts);
        const auto split = FrdoAutoFill::attNumberParts(attNumber);
        const auto text = [](const QVariant& v) { return v.isNull() ? QStringLiteral("-") : v.toString(); };
        QCOMPARE(text(split.first) + "|" + text(split.second), parts);
    }

    // Only records marked 1 are templates, whatever their id or name.
    void templates() {
        Registry r;
        runSql("INSERT INTO ProfDocuments (profId, fio1, isTemplate) VALUES (3, 'Сварщик', 1), (4, 'Иванов', 0), "
               "(5, 'Петров', NULL), (6, 'Два', 2), (?, NULL, '1')",
               {qint64(1) << 62});
        QVector<DocumentStore::TemplateEntry> entries;
        QString error;
        QVERIFY(DocumentStore::templates(&entries, &error));
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0].id, qint64(3));
        QCOMPARE(entries[0].name, QStringLiteral("Сварщик"));
        QCOMPARE(entries[1].id, qint64(1) << 62);
        QCOMPARE(entries[1].name, QString());

        runSql("DROP TABLE ProfDocuments");
        QVERIFY(!DocumentStore::templates(&entries, &error));
        QVERIFY(entries.isEmpty());
        QVERIFY2(error.contains(QStringLiteral("ProfDocuments")), qPrintable(error));
    }

    void usedValues_data() {
        QTest::addColumn<QString>("column");
        QTest::addColumn<int>("limit");
        QTest::addColumn<bool>("alphabetical");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<bool>("known");
        QTest::newRow("most frequent first")
            << "profession" << 0 << false << QStringList{"токарь", "Повар", "Сварщик"} << true;
        QTest::newRow("alphabetical") << "profession" << 0 << true << QStringList{"Повар", "Сварщик", "токарь"} << true;
        QTest::newRow("limited") << "profession" << 1 << false << QStringList{"токарь"} << true;
        QTest::newRow("column name in other case")
            << "PROFESSION" << 2 << true << QStringList{"Повар", "Сварщик"} << true;
        QTest::newRow("unknown column") << "profession FROM ProfDocuments; --" << 0 << false << QStringList() << false;
    }

    void usedValues() {
        QFETCH(QString, column);
        QFETCH(int, limit);
        QFETCH(bool, alphabetical);
        QFETCH(QStringList, values);
        QFETCH(bool, known);
        Registry r;
        // Blank and NULL values are no choice; a value with blanks around it counts as itself.
        runSql("INSERT INTO ProfDocuments (profession) VALUES ('Повар'), (' Повар '), ('Повар'), ('Сварщик'), "
               "('Сварщик'), ('токарь'), ('токарь'), ('токарь'), ('токарь'), (NULL), ('  '), ('')");
        QString error;
        QCOMPARE(DocumentStore::usedValues("ProfDocuments", column, limit, alphabetical, &error), values);
        QCOMPARE(error.isEmpty(), known);
    }

    // The list reads every document but the templates, NULL apart from an empty text.
    // The list learns which documents the program wrote: at first, and after the registry was
    // opened again, everything; then each document written (once, in id order), a rolled-back
    // transaction's documents again, and nothing for the other tables.
    void listChanges() {
        Registry registry;
        insertFullDocument(1, "Первый");
        insertFullDocument(2, "Второй");
        ListChanges changes;
        QVERIFY(changes.take().all);
        const auto taken = [&changes] {
            const ListChanges::Changes c = changes.take();
            return c.all ? QVector<qint64>{-1} : c.ids;
        };
        QCOMPARE(taken(), QVector<qint64>{});
        const qint64 far = Q_INT64_C(5000000000);
        runSql("UPDATE ProfDocuments SET fio1 = 'Иной' WHERE profId = 2");
        runSql("INSERT INTO ProfDocuments (profId, fio1) VALUES (?, 'Дальний')", {far});
        runSql("UPDATE ProfDocuments SET qual = 'Слесарь' WHERE profId = 2");
        runSql("UPDATE ProfDetails SET count = 12");
        QCOMPARE(taken(), (QVector<qint64>{2, far}));
        QVERIFY(runSql("BEGIN").isActive());
        runSql("DELETE FROM ProfDocuments WHERE profId = 1");
        QCOMPARE(taken(), QVector<qint64>{1});
        QVERIFY(runSql("ROLLBACK").isActive());
        QCOMPARE(taken(), QVector<qint64>{1});
        // A write the file refuses changes nothing to read again.
        runSql("CREATE TRIGGER refuse BEFORE UPDATE ON ProfDocuments " + refuse);
        runSql("UPDATE ProfDocuments SET fio1 = 'Нет' WHERE profId = 1");
        QCOMPARE(taken(), QVector<qint64>{});
        registry.data.close();
        QVERIFY(registry.data.open());
        QVERIFY(changes.take().all);
        QCOMPARE(taken(), QVector<qint64>{});
    }

    void listRows() {
        Registry r;
        const qint64 wide = std::numeric_limits<qint64>::max();
        runSql("INSERT INTO ProfDocuments (profId, fio1, fio2, fio3, qual, attNumber, regNumber, issueDate, editDate, "
               "isTemplate) VALUES (1, 'Иванов', 'Иван', NULL, 'Сварщик', '', NULL, '2016-04-08', NULL, 0), "
               "(2, 'Шаблон', NULL, NULL, NULL, NULL, NULL, NULL, NULL, 1), "
               "(?, 'Ёжиков', NULL, NULL, 'a\nb', '1', 'СВ', NULL, '2017-01-01 10:00:00', NULL)",
               {wide});
        QStringList seen;
        QString error;
        const auto sink = [&seen](qint64 id, const DocumentStore::ListText* texts) {
            QStringList row{QString::number(id)};
            for (int c = 0; c < DocumentStore::listColumnCount - 1; ++c)
                row << (texts[c].utf8 ? QString::fromUtf8(texts[c].utf8, texts[c].size) : QStringLiteral("-"));
            seen << row.join('|');
        };
        QVERIFY(DocumentStore::readListRows(sink, &error));
        QVERIFY(error.isEmpty());
        seen.sort();
        QCOMPARE(seen, QStringList({"1|Иванов Иван |Сварщик||-|2016-04-08|-",
                                    QString::number(wide) + "|Ёжиков  |a b|1|СВ|-|2017-01-01 10:00:00"}));

        seen.clear();
        runSql("DROP VIEW ViewProfDocuments");
        QVERIFY(!DocumentStore::readListRows(sink, &error));
        QVERIFY(seen.isEmpty());
        QVERIFY2(error.contains(QStringLiteral("ViewProfDocuments")), qPrintable(error));
    }

    // A text holding U+0000 is written and read back whole by the import's write and the dialog's
    // save, and by the list's reading.
    void textWithNulKeptWhole_data() {
        QTest::addColumn<QString>("write");
        QTest::newRow("import") << "import";
        QTest::newRow("dialog save") << "dialog";
    }

    void textWithNulKeptWhole() {
        QFETCH(QString, write);
        Registry r;
        const QString surname = QStringLiteral("Ива") + QChar(0) + QStringLiteral("нов");
        const QString qual = QStringLiteral("Сварщик") + QChar(0) + QStringLiteral("\n3 разряд");
        QString error;
        qint64 id = 0;
        if (write == "import") {
            QList<qint64> ids;
            const ImportRecord record{{{"fio1", surname}, {"qual", qual}, {"isTemplate", 0}}, {}, 1};
            QVERIFY2(ImportStore::write({record}, 0, &ids, &error), qPrintable(error));
            QCOMPARE(ids.size(), 1);
            id = ids.first();
        } else {
            id = DocumentRecords::insert(&error);
            QVERIFY2(id > 0, qPrintable(error));
            QVERIFY2(DocumentRecords::update(id, {{"fio1", surname}, {"qual", qual}}, &error), qPrintable(error));
        }
        QSqlRecord row;
        QVERIFY2(DocumentRecords::read(id, &row, &error), qPrintable(error));
        QCOMPARE(row.value("fio1").toString(), surname);
        QCOMPARE(row.value("qual").toString(), qual);
        QCOMPARE(
            rows("SELECT length(CAST(fio1 AS BLOB)), length(CAST(qual AS BLOB)) FROM ProfDocuments WHERE profId = ?",
                 {id}),
            QStringLiteral("%1|%2").arg(surname.toUtf8().size()).arg(qual.toUtf8().size()));
        QStringList listed;
        QVERIFY(DocumentStore::readListRows(
            [&listed](qint64, const DocumentStore::ListText* texts) {
                listed << QString::fromUtf8(texts[0].utf8, texts[0].size);
            },
            &error));
        QCOMPARE(listed, QStringList{surname + "  "});
    }
};

ORVANE_TEST(TestDocumentStore)

#include "tst_documentstore.moc"
