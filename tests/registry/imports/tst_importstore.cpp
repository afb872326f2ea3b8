// The import's write on real registry files: every document with its template's subjects and
// FRDO values, all of them or none.

#include "coreregistry.h"
#include "database.h"
#include "documentrecords.h"
#include "documentstore.h"
#include "edittransaction.h"
#include "frdorecords.h"
#include "importstore.h"
#include "profschema.h"
#include "savepoint.h"
#include "testregistry.h"

#include <QDate>
#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {
const qint64 bigId = Q_INT64_C(1) << 40;
const int subjectCount = 12;

// Every row of every table, the sequence of ids included.
QStringList snapshot() {
    return registrySnapshot(ProfSchema::tables().keys() << QStringLiteral("sqlite_sequence"));
}

// A template with its appendix, its appendix text and an FRDO row.
void makeTemplate(qint64 id) {
    sql(QStringLiteral("INSERT INTO ProfDocuments (profId, isTemplate, fio1, addInfo, hideTotalCountInAdd, comment) "
                       "VALUES (?, 1, 'Шаблон', 'Доп. сведения', 1, 'заметка шаблона');"),
        {id});
    // Inserted in reverse, so that the order of detId and not of names decides.
    for (int i = subjectCount; i >= 1; --i)
        sql(QStringLiteral("INSERT INTO ProfDetails (profId, name, count, rate) VALUES (?, ?, ?, 'хорошо');"),
            {id, QStringLiteral("Предмет %1").arg(i), i * 10});
    sql(QStringLiteral("INSERT INTO ProfFrdo (profId, frdo13, frdo21, studyPeriod, snils, docSerial, sexIsMale) "
                       "VALUES (?, 'Программа', 'очная', '3 мес.', '000-000-000 00', 'XX', 1);"),
        {id});
}

// What the plan hands over for document `i`: a template's copied values, the row's own, dates as dates.
ImportRecord record(int i) {
    ImportRecord r;
    r.document = {{"isTemplate", 0},
                  {"fio1", QStringLiteral("Фамилия%1").arg(i)},
                  {"fio2", QStringLiteral("Имя")},
                  {"fio3", i % 2 ? QStringLiteral("Петровна") : QStringLiteral("Петрович")},
                  {"attNumber", QStringLiteral("СВ %1").arg(100000 + i, 6, 10, QLatin1Char('0'))},
                  {"regNumber", QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0'))},
                  {"birthDate", QDate(2000, 1, 1).addDays(i)},
                  {"issueDate", QDate(2024, 6, 30)},
                  {"startDate", QDate(2024, 3, 1)},
                  {"finishDate", QVariant()},
                  {"qual", QStringLiteral("2 разряд")},
                  {"profession", QStringLiteral("Сварщик")},
                  {"addInfo", QStringLiteral("Доп. сведения")},
                  {"hideTotalCountInAdd", 1},
                  {"editDate", QStringLiteral("template's")},
                  {"comment", QStringLiteral("template's")}};
    if (i % 3 != 0) // every third row gives neither
        r.frdo = {{"snils", QStringLiteral("112-233-445 95")}, {"sexIsMale", i % 2 ? 0 : 1}};
    return r;
}

QVector<ImportRecord> records(int count) {
    QVector<ImportRecord> list;
    for (int i = 1; i <= count; ++i)
        list << record(i);
    return list;
}

} // namespace

class TestImportStore : public QObject {
    Q_OBJECT

    CoreRegistry _registry;

private slots:
    void initTestCase() { _registry.setUp(); }

    void init() {
        QVERIFY(_registry.open());
        // A document before the import, so that new ids follow an old one; its number is none of the records'.
        sql(QStringLiteral("INSERT INTO ProfDocuments (profId, fio1, attNumber) VALUES (5, 'Старый', 'СВ 000001');"));
    }

    void cleanup() { _registry.close(); }

    void writeAndReadBack_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<qint64>("templateId");
        QTest::addColumn<bool>("extreme");
        QTest::newRow("1,000 with a 12-subject template") << 1000 << qint64(7) << false;
        QTest::newRow("template id above 2^31") << 3 << bigId << false;
        QTest::newRow("no template") << 3 << qint64(0) << false;
        QTest::newRow("no records") << 0 << qint64(7) << false;
        QTest::newRow("1 MB name, years 1 and 9999") << 2 << qint64(7) << true;
    }

    void writeAndReadBack() {
        QFETCH(int, count);
        QFETCH(qint64, templateId);
        QFETCH(bool, extreme);
        if (templateId > 0)
            makeTemplate(templateId);
        QVector<ImportRecord> list = records(count);
        if (extreme) {
            list[0].document[QStringLiteral("fio1")] = QString(1 << 20, QChar(0x0416));
            list[0].document[QStringLiteral("birthDate")] = QDate(1, 1, 1);
            list[0].document[QStringLiteral("issueDate")] = QDate(9999, 12, 31);
        }
        QList<qint64> ids;
        QString error;
        int lastDone = -1;
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        QVERIFY2(ImportStore::write(list, templateId, &ids, &error,
                                    [&](int done, int total) { return (lastDone = done) <= total; }),
                 qPrintable(error));
        QCOMPARE(lastDone, count);
        QCOMPARE(ids.size(), count);
        const int templateSubjects = templateId > 0 ? subjectCount : 0;
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM ProfDetails")).toInt(), templateSubjects * (count + 1));
        qint64 previous = templateId > 0 ? templateId : 5;
        for (int i = 0; i < count; ++i) {
            const qint64 id = ids.at(i);
            QCOMPARE(id, previous + 1);
            previous = id;
            QSqlRecord document;
            QVERIFY(DocumentRecords::read(id, &document, &error));
            const QVariantMap& given = list.at(i).document;
            for (const QString& column : {"fio1", "fio3", "attNumber", "regNumber", "birthDate", "issueDate",
                                          "finishDate", "addInfo", "hideTotalCountInAdd", "isTemplate"})
                QCOMPARE(stored(document, column).toString(), given.value(column).toString());
            QVERIFY(document.isNull(QStringLiteral("finishDate")));
            QCOMPARE(stored(document, QStringLiteral("comment")), QVariant(QStringLiteral("")));
            const QDateTime edited = QDateTime::fromString(document.value("editDate").toString(), Qt::ISODate);
            QVERIFY(edited >= before && edited <= QDateTime::currentDateTime());

            QSqlQuery subjects = sql(QStringLiteral("SELECT name, count, rate FROM ProfDetails WHERE profId=? "
                                                    "ORDER BY detId"),
                                     {id});
            for (int s = subjectCount; s > subjectCount - templateSubjects; --s) {
                QVERIFY(subjects.next());
                QCOMPARE(subjects.value(0).toString(), QStringLiteral("Предмет %1").arg(s));
                QCOMPARE(subjects.value(1).toInt(), s * 10);
            }
            QVERIFY(!subjects.next());

            QSqlRecord frdo;
            QVERIFY(FrdoRecords::read(id, &frdo, &error));
            // The template's copyable values, not its own numbers or SNILS.
            QCOMPARE(stored(frdo, "frdo21").toString(), templateId > 0 ? QStringLiteral("очная") : QString());
            QCOMPARE(stored(frdo, "studyPeriod").toString(), templateId > 0 ? QStringLiteral("3 мес.") : QString());
            // The auto-fill from the document.
            QCOMPARE(stored(frdo, "issueDateFrdo").toString(), given.value("issueDate").toString());
            QCOMPARE(stored(frdo, "RegNumberFrdo").toString(), given.value("regNumber").toString());
            QCOMPARE(stored(frdo, "docSerial").toString(), QStringLiteral("СВ"));
            QCOMPARE(stored(frdo, "docNumber").toString(), given.value("attNumber").toString().mid(3));
            QCOMPARE(stored(frdo, "frdo18").toString(), QStringLiteral("Нет"));
            QCOMPARE(stored(frdo, "studyCount").toInt(), templateId > 0 ? 780 : 0);
            // The row's own: SNILS as digits, the sex as the FRDO dialog stores it; a row that
            // gives neither keeps what the auto-fill found in the patronymic.
            const bool own = !list.at(i).frdo.isEmpty();
            QCOMPARE(stored(frdo, "snils").toString(), own ? QStringLiteral("11223344595") : QString());
            QCOMPARE(stored(frdo, "sexIsMale").toInt(), (i + 1) % 2 ? -1 : 1);
        }
    }

    void failureLeavesRegistryAsItWas_data() {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<int>("cancelAt");
        QTest::addColumn<QString>("reason");
        const QString refuse = QStringLiteral("BEGIN SELECT RAISE(ABORT, 'отказано'); END;");
        QTest::newRow("cancelled at 500") << QString() << 500 << QString();
        QTest::newRow("cancelled at the end") << QString() << 1000 << QString();
        QTest::newRow("700th document refused")
            << QStringLiteral("BEFORE INSERT ON ProfDocuments WHEN (SELECT COUNT(*) FROM ProfDocuments) >= 701 ") +
                   refuse
            << 0 << QStringLiteral("Строка 700: отказано");
        QTest::newRow("subjects refused")
            << QStringLiteral("BEFORE INSERT ON ProfDetails WHEN NEW.profId > 500 ") + refuse << 0
            << QStringLiteral("Строка 495: отказано");
        // The FRDO row is written whole, the row's own values with it.
        QTest::newRow("row's SNILS refused")
            << QStringLiteral("BEFORE INSERT ON ProfFrdo WHEN NEW.snils IS NOT NULL ") + refuse << 0
            << QStringLiteral("Строка 1: отказано");
        // 12 subjects a document: the 5,000th imported one is the 417th document's.
        QTest::newRow("5,000th subject refused")
            << QStringLiteral("BEFORE INSERT ON ProfDetails WHEN (SELECT COUNT(*) FROM ProfDetails) >= 12 + 4999 ") +
                   refuse
            << 0 << QStringLiteral("Строка 417: отказано");
        QTest::newRow("300th entry refused")
            << QStringLiteral("BEFORE INSERT ON DocumentHistory WHEN (SELECT COUNT(*) FROM DocumentHistory) >= 299 ") +
                   refuse
            << 0 << QStringLiteral("Строка 300: отказано");
        QTest::newRow("FRDO row refused") << QStringLiteral("BEFORE INSERT ON ProfFrdo WHEN NEW.profId > 7 ") + refuse
                                          << 0 << QStringLiteral("Строка 2: отказано");
        QTest::newRow("read-only connection")
            << QStringLiteral("query_only") << 0 << QStringLiteral("Строка 1: attempt to write a readonly database");
        // Every row taken, the commit refused: a row left behind breaks a deferred key.
        QTest::newRow("commit refused")
            << QStringLiteral("AFTER INSERT ON ProfDocuments WHEN NEW.fio1 = 'Фамилия900' BEGIN INSERT INTO "
                              "Orphans VALUES (-1); END;")
            << 0 << QStringLiteral("FOREIGN KEY constraint failed");
    }

    void failureLeavesRegistryAsItWas() {
        QFETCH(QString, trigger);
        QFETCH(int, cancelAt);
        QFETCH(QString, reason);
        makeTemplate(6);
        if (trigger == QLatin1String("query_only"))
            sql(QStringLiteral("PRAGMA query_only = 1;"));
        if (trigger.contains(QLatin1String("Orphans"))) {
            sql(QStringLiteral("PRAGMA foreign_keys = ON;"));
            sql(QStringLiteral("CREATE TABLE Orphans (profId INTEGER REFERENCES ProfDocuments(profId) "
                               "DEFERRABLE INITIALLY DEFERRED);"));
        }
        if (!trigger.isEmpty() && trigger != QLatin1String("query_only"))
            sql(QStringLiteral("CREATE TRIGGER refuse ") + trigger);
        const QStringList before = snapshot();
        QList<qint64> ids = {1};
        QString error;
        bool cancelled = false;
        const bool written = ImportStore::write(
            records(1000), 6, &ids, &error, [&](int done, int) { return cancelAt == 0 || done < cancelAt; },
            &cancelled);
        QVERIFY(!written);
        QCOMPARE(cancelled, cancelAt > 0);
        QCOMPARE(error, reason);
        QVERIFY(ids.isEmpty());
        sql(QStringLiteral("PRAGMA query_only = 0;"));
        QCOMPARE(snapshot(), before);
        // Nothing is left open: the next write works and commits.
        sql(QStringLiteral("DROP TRIGGER IF EXISTS refuse;"));
        QVERIFY2(ImportStore::write(records(2), 6, &ids, &error), qPrintable(error));
        QCOMPARE(ids, (QList<qint64>{7, 8}));
    }

    // A record whose columns are not the registry's is refused before anything is written.
    void unknownColumnRefused() {
        QVector<ImportRecord> list = records(3);
        list[2].document.insert(QStringLiteral("fio1; DROP TABLE ProfDetails"), QStringLiteral("x"));
        const QStringList before = snapshot();
        QList<qint64> ids;
        QString error;
        QVERIFY(!ImportStore::write(list, 0, &ids, &error));
        QCOMPARE(error, QStringLiteral("Строка 3: нет столбца ProfDocuments.fio1; DROP TABLE ProfDetails"));
        QCOMPARE(snapshot(), before);
    }

    // Within an edit dialog's transaction a failed import takes back its own rows only.
    // Work that could not be undone is not begun.
    void noSavepointNoWork() {
        bool ran = false;
        QString error;
        QVERIFY(!Savepoint::write(
            QStringLiteral("not a name"), [&ran] { return ran = true; }, &error));
        QVERIFY(!ran);
        QVERIFY(!error.isEmpty());
    }

    void insideEditTransaction() {
        QObject dialog;
        EditTransaction::begin(&dialog);
        QString error;
        const qint64 dialogsRow = DocumentRecords::insert(&error);
        QVERIFY(dialogsRow > 0);
        sql(QStringLiteral("CREATE TEMP TRIGGER refuse BEFORE INSERT ON ProfDocuments WHEN NEW.fio1 = 'Фамилия3' "
                           "BEGIN SELECT RAISE(ABORT, 'отказано'); END;"));
        QList<qint64> ids;
        QVERIFY(!ImportStore::write(records(3), 0, &ids, &error));
        QCOMPARE(error, QStringLiteral("Строка 3: отказано"));
        QVERIFY(EditTransaction::isOwnedBy(&dialog));
        QVERIFY(DocumentRecords::exists(dialogsRow));
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM ProfDocuments")).toInt(), 2);
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM ProfFrdo")).toInt(), 0);
        EditTransaction::rollback();
        QVERIFY(!DocumentRecords::exists(dialogsRow));
    }

    // A number the registry's documents hold now, saved since the preview read them, stops the whole
    // write inside its transaction; a template's or a duplicate's number, or a duplicate record's, does not.
    void numbersTakenSinceThePreview_data() {
        QTest::addColumn<QVariantList>("holder"); // attNumber, isTemplate, isDuplicate
        QTest::addColumn<bool>("duplicateRecord");
        QTest::addColumn<QStringList>("taken");
        QTest::newRow("a document") << QVariantList{"СВ 100002", 0, 0} << false << QStringList{"СВ 100002"};
        QTest::newRow("a template") << QVariantList{"СВ 100002", 1, 0} << false << QStringList();
        QTest::newRow("a duplicate") << QVariantList{"СВ 100002", 0, 1} << false << QStringList();
        QTest::newRow("a duplicate record") << QVariantList{"СВ 100002", 0, 0} << true << QStringList();
    }

    void numbersTakenSinceThePreview() {
        QFETCH(QVariantList, holder);
        QFETCH(bool, duplicateRecord);
        QFETCH(QStringList, taken);
        sql(QStringLiteral("INSERT INTO ProfDocuments (attNumber, isTemplate, isDuplicate) VALUES (?, ?, ?);"), holder);
        QVector<ImportRecord> list = records(3);
        list[1].document[QStringLiteral("attNumber")] = QStringLiteral(" СВ 100002 ");
        list[1].document[QStringLiteral("isDuplicate")] = duplicateRecord ? 1 : 0;
        const QStringList before = snapshot();
        QList<qint64> ids;
        QString error;
        QStringList found = {QStringLiteral("stale")};
        const bool written = ImportStore::write(list, 0, &ids, &error, {}, nullptr, &found);
        QCOMPARE(found, taken);
        QCOMPARE(written, taken.isEmpty());
        QCOMPARE(ids.size(), written ? 3 : 0);
        if (!written) {
            QCOMPARE(error, QStringLiteral("номера уже есть в реестре: СВ 100002"));
            QCOMPARE(snapshot(), before);
        }
    }

    void takenNumbers_data() {
        QTest::addColumn<QVariantList>("row"); // attNumber, isTemplate, isDuplicate
        QTest::addColumn<bool>("taken");
        QTest::newRow("plain, trimmed") << QVariantList{" \tСВ 1 ", 0, 0} << true;
        QTest::newRow("flags NULL") << QVariantList{"СВ 1", QVariant(), QVariant()} << true;
        QTest::newRow("template") << QVariantList{"СВ 1", 1, 0} << false;
        QTest::newRow("duplicate") << QVariantList{"СВ 1", 0, 1} << false;
        QTest::newRow("blank") << QVariantList{"  ", 0, 0} << false;
        QTest::newRow("NULL") << QVariantList{QVariant(), 0, 0} << false;
    }

    void takenNumbers() {
        QFETCH(QVariantList, row);
        QFETCH(bool, taken);
        sql(QStringLiteral("DELETE FROM ProfDocuments;"));
        sql(QStringLiteral("INSERT INTO ProfDocuments (attNumber, isTemplate, isDuplicate) VALUES (?, ?, ?);"), row);
        QSet<QString> numbers = {QStringLiteral("stale")};
        QString error;
        QVERIFY(ImportStore::takenNumbers(&numbers, &error));
        QCOMPARE(numbers, taken ? QSet<QString>{QStringLiteral("СВ 1")} : QSet<QString>());
        sql(QStringLiteral("DROP TABLE ProfDocuments;"));
        QVERIFY(!ImportStore::takenNumbers(&numbers, &error));
        QVERIFY(error.contains(QStringLiteral("no such table")));
    }

    void templateRow() {
        makeTemplate(bigId);
        QVariantMap row;
        QString error;
        QVERIFY(ImportStore::templateRow(bigId, &row, &error));
        QCOMPARE(row.value(QStringLiteral("profId")).toLongLong(), bigId);
        QCOMPARE(row.value(QStringLiteral("addInfo")).toString(), QStringLiteral("Доп. сведения"));
        QVERIFY(row.contains(QStringLiteral("qual")) && row.value(QStringLiteral("qual")).isNull());
        QVERIFY(!ImportStore::templateRow(0, &row, &error));
        QVERIFY(!ImportStore::templateRow(bigId + 1, &row, &error));
        QVERIFY(row.isEmpty() && error.isEmpty());
    }
};

ORVANE_TEST(TestImportStore)
#include "tst_importstore.moc"
