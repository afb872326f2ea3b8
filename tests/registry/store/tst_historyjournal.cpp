#include "historyentries.h"
#include "historyjournal.h"
#include "historytext.h"
#include "pgtestserver.h"
#include "testdatabase.h"
#include "testregistry.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>
#include <memory>

using namespace historyentries;

namespace {
using Kind = DocumentHistory::Kind;
using Kinds = QSet<Kind>;
using Ids = QList<qint64>;

// Five entries of three documents over five years, ids 1 to 5.
void addJournal() {
    Entry e;
    e.changedAt = "2020-03-01T10:00:00", e.kind = "create", e.osUser = "petrova", e.host = "pc1";
    e.docName = "Иванов Иван Иванович", e.attNumber = "А-100";
    add(e);
    e.changedAt = "2024-05-10T09:00:00", e.kind = "edit", e.login = "admin";
    add(e);
    e = Entry();
    e.profId = 2, e.changedAt = "2024-05-10T23:59:59", e.kind = "import", e.osUser = "sidorov";
    e.docName = "Ёлкина Анна", e.attNumber = "Б-200", e.source = "группа.xlsx";
    add(e);
    e = Entry();
    e.profId = 3, e.changedAt = "2025-01-01T00:00:00", e.kind = "delete", e.login = "clerk";
    e.docName = "Петров Пётр", e.attNumber = "В-300";
    add(e);
    e = Entry();
    e.profId = 4, e.changedAt = "2025-06-01T12:00:00", e.kind = "copy", e.osUser = "sidorov";
    e.docName = "ЁЛКИНА АННА", e.attNumber = "Б-201";
    add(e);
}

Ids idsOf(const QVector<HistoryJournal::Entry>& entries) {
    Ids ids;
    for (const HistoryJournal::Entry& entry : entries)
        ids << entry.id;
    return ids;
}

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

// Every row of the document's three tables.
QString documentState(qint64 profId) {
    return rows("SELECT fio1, fio2, fio3, qual, attNumber, certificateType, issueDate, comment FROM ProfDocuments "
                "WHERE profId = ?",
                {profId}) +
           "/" + rows("SELECT name, count, rate FROM ProfDetails WHERE profId = ? ORDER BY detId", {profId}) + "/" +
           rows("SELECT snils, docName, studyCount FROM ProfFrdo WHERE profId = ?", {profId});
}

const QString restoredState = QStringLiteral("Сидоров|Пётр|Ильич|Сварщик|А-17|1|2024-03-01|-/"
                                             "Охрана труда|72|5;Черчение|-|4/112-233-445 95|Свидетельство|144");

struct Registry {
    Registry() { QVERIFY(data.open()); }
    TestDatabase data;
};

// A registry file, or a registry on a throwaway server as the program's connection.
struct Store {
    explicit Store(bool onServer) : server(onServer) {
        if (!server) {
            file.reset(new TestDatabase);
            QVERIFY(file->open());
            return;
        }
        QString error;
        PgTestServer* pg = PgTestServer::shared(&error);
        QVERIFY2(pg, qPrintable(error));
        QVERIFY2(!pg->createRegistryAsProgram(&error).isEmpty(), qPrintable(error));
    }
    ~Store() {
        if (!server)
            return;
        QSqlDatabase::database().close();
        QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    }
    bool server;
    std::unique_ptr<TestDatabase> file;
};
} // namespace

Q_DECLARE_METATYPE(Kinds)

class TestHistoryJournal : public QObject {
    Q_OBJECT

private slots:
    void find_data() {
        QTest::addColumn<bool>("server");
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QDate>("to");
        QTest::addColumn<QString>("user");
        QTest::addColumn<Kinds>("kinds");
        QTest::addColumn<QString>("text");
        QTest::addColumn<Ids>("expected");
        const QDate open;
        const QDate may10(2024, 5, 10);
        // Each case on the file and on the server.
        for (bool server : {false, true}) {
            const auto row = [server](const char* name) -> QTestData& {
                return QTest::newRow(qPrintable(QString::fromUtf8(name) + (server ? " (server)" : ""))) << server;
            };
            row("everything, newest first") << open << open << "" << Kinds() << "" << Ids{5, 4, 3, 2, 1};
            row("from a day, its first second") << may10 << open << "" << Kinds() << "" << Ids{5, 4, 3, 2};
            row("to a day, its last second") << open << may10 << "" << Kinds() << "" << Ids{3, 2, 1};
            row("one day") << may10 << may10 << "" << Kinds() << "" << Ids{3, 2};
            row("a year with nothing") << QDate(2021, 1, 1) << QDate(2021, 12, 31) << "" << Kinds() << "" << Ids{};
            row("user by login") << open << open << "admin" << Kinds() << "" << Ids{2};
            row("user by computer user") << open << open << "petrova" << Kinds() << "" << Ids{2, 1};
            row("user exactly, not a part") << open << open << "admi" << Kinds() << "" << Ids{};
            row("two kinds") << open << open << "" << Kinds{Kind::Deleted, Kind::Copied} << "" << Ids{5, 4};
            row("Cyrillic in any case, ё") << open << open << "" << Kinds() << "ёлкина" << Ids{5, 3};
            row("part of a number") << open << open << "" << Kinds() << "-10" << Ids{2, 1};
            row("text trimmed") << open << open << "" << Kinds() << "  петров  " << Ids{4};
            row("all at once") << open << QDate(2024, 12, 31) << "sidorov" << Kinds{Kind::Imported} << "анна" << Ids{3};
            row("quote") << open << open << "" << Kinds() << "'" << Ids{};
            row("LIKE's wildcards are letters") << open << open << "" << Kinds() << "%" << Ids{};
            row("user with a quote") << open << open << "o'neil" << Kinds() << "" << Ids{};
        }
    }

    void find() {
        QFETCH(bool, server);
        QFETCH(QDate, from);
        QFETCH(QDate, to);
        QFETCH(QString, user);
        QFETCH(Kinds, kinds);
        QFETCH(QString, text);
        QFETCH(Ids, expected);
        Store store(server);
        addJournal();
        HistoryJournal::Filter filter;
        filter.from = from;
        filter.to = to;
        filter.user = user;
        filter.kinds = kinds;
        filter.text = text;
        QVector<HistoryJournal::Entry> entries;
        QString error;
        QVERIFY2(HistoryJournal::find(filter, 0, 100, &entries, &error), qPrintable(error));
        QCOMPARE(idsOf(entries), expected);
        // The same entries a page of two at a time.
        Ids paged;
        qint64 below = 0;
        do {
            QVERIFY(HistoryJournal::find(filter, below, 2, &entries, &error));
            paged += idsOf(entries);
            if (!entries.isEmpty())
                below = entries.constLast().id;
        } while (entries.size() == 2);
        QCOMPARE(paged, expected);
    }

    // An entry as stored comes back whole: who, when, what, the changes; damaged changes read as none.
    void entriesOfOneDocument() {
        Registry r;
        addJournal();
        Entry e;
        e.changedAt = "2025-02-02T08:07:06", e.login = "clerk", e.osUser = "petrova", e.host = "pc1";
        e.changes = {change("ProfDocuments", "fio1", "Иванов", "Петров")};
        const qint64 id = add(e);
        runSql("INSERT INTO DocumentHistory (profId, changedAt, kind, changes) VALUES (1, '2025-03-01T00:00:00', "
               "'someday', '[{broken')");
        QVector<HistoryJournal::Entry> entries;
        QString error;
        QVERIFY2(HistoryJournal::entriesOf(1, &entries, &error), qPrintable(error));
        QCOMPARE(idsOf(entries), (Ids{id + 1, id, 2, 1}));
        QCOMPARE(entries.at(0).kindCode, QString("someday"));
        QCOMPARE(entries.at(0).changes.size(), 0);
        const HistoryJournal::Entry& edit = entries.at(1);
        QCOMPARE(edit.changedAt, QDateTime(QDate(2025, 2, 2), QTime(8, 7, 6)));
        QCOMPARE(HistoryText::who(edit), QString("clerk (petrova@pc1)"));
        QCOMPARE(HistoryText::summary(edit), QString("Фамилия: Иванов → Петров"));
        QCOMPARE(HistoryText::action(entries.at(0)), QString("someday"));
    }

    // A search a slice of ids at a time: the lowest id searched bounds it from below.
    void findFromId() {
        Registry r;
        addJournal();
        HistoryJournal::Filter filter;
        filter.fromId = 3;
        QVector<HistoryJournal::Entry> entries;
        QString error;
        QVERIFY2(HistoryJournal::find(filter, 5, 10, &entries, &error), qPrintable(error));
        QCOMPARE(idsOf(entries), (Ids{4, 3}));
    }

    void users() {
        Registry r;
        addJournal();
        QStringList users;
        QString error;
        QVERIFY2(HistoryJournal::users(&users, &error), qPrintable(error));
        QCOMPARE(users, (QStringList{"admin", "clerk", "petrova", "sidorov"}));
        QVERIFY2(HistoryJournal::usersBetween(2, 3, &users, &error), qPrintable(error));
        QCOMPARE(users, (QStringList{"admin", "petrova", "sidorov"}));
    }

    // How a change reads in the windows and the export.
    void changeText_data() {
        QTest::addColumn<QJsonObject>("change");
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("text");
        QTest::newRow("field set") << change("ProfDocuments", "qual", QJsonValue::Null, "Токарь") << "Квалификация"
                                   << "— → Токарь";
        QTest::newRow("field emptied") << change("ProfDocuments", "comment", "текст", "") << "Комментарий"
                                       << "текст → —";
        QTest::newRow("flag") << change("ProfDocuments", "isExcellent", 0, 1) << "С отличием"
                              << "нет → да";
        QTest::newRow("number with a fraction") << change("ProfDetails", "count", 72, 7.5) << "Приложение, «»: Часы"
                                                << "72 → 7.5";
        QJsonObject subject = change("ProfDetails", "count", 72, 80);
        subject.insert("name", "Охрана труда");
        QTest::newRow("subject's field") << subject << "Приложение, «Охрана труда»: Часы"
                                         << "72 → 80";
        QJsonObject added = change("ProfDetails", "", QJsonValue::Null, QJsonObject{{"name", "Физика"}, {"count", 72}});
        added.insert("name", "Физика");
        QTest::newRow("subject added") << added << "Приложение, «Физика»"
                                       << "— → Часы: 72";
        QTest::newRow("FRDO field") << change("ProfFrdo", "snils", QJsonValue::Null, "112") << "ФРДО: СНИЛС"
                                    << "— → 112";
        QTest::newRow("FRDO numbered column") << change("ProfFrdo", "frdo21", "1", "2") << "ФРДО: графа 21"
                                              << "1 → 2";
        QTest::newRow("unknown column by its name") << change("ProfDocuments", "newColumn", 1, 2) << "newColumn"
                                                    << "1 → 2";
    }

    void changeText() {
        QFETCH(QJsonObject, change);
        QFETCH(QString, what);
        QFETCH(QString, text);
        HistoryJournal::Entry entry;
        entry.kindCode = "edit";
        entry.changes = {change};
        const QVector<HistoryText::Row> rows = HistoryText::rowsOf(entry);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.at(0).what, what);
        QCOMPARE(rows.at(0).change, text);
    }

    // The document comes back whole, under its old id while that is free, else under a new one.
    void restoreDocument_data() {
        QTest::addColumn<bool>("server");
        QTest::addColumn<bool>("oldIdTaken");
        QTest::newRow("old id free") << false << false;
        QTest::newRow("old id taken") << false << true;
        QTest::newRow("old id free (server)") << true << false;
        QTest::newRow("old id taken (server)") << true << true;
    }

    void restoreDocument() {
        QFETCH(bool, server);
        QFETCH(bool, oldIdTaken);
        Store store(server);
        runSql("INSERT INTO ProfDocuments (profId, fio1) VALUES (9, 'Другой')");
        if (oldIdTaken)
            runSql("INSERT INTO ProfDocuments (profId, fio1) VALUES (7, 'Занял')");
        const qint64 deletion = addDeletion(7, text(fullSnapshot()));
        qint64 profId = 0;
        QString error;
        QVERIFY2(HistoryJournal::restoreDocument(deletion, &profId, &error), qPrintable(error));
        // A new id is the store's own next one.
        QVERIFY2(oldIdTaken ? profId > 0 && profId != 7 && profId != 9 : profId == 7,
                 qPrintable(QString::number(profId)));
        QCOMPARE(documentState(profId), restoredState);
        QCOMPARE(rows("SELECT fio1 FROM ProfDocuments WHERE profId IN (7, 9) ORDER BY profId"),
                 oldIdTaken ? QString("Занял;Другой") : QString("Сидоров;Другой"));
        // Once back, the same deletion is not brought back twice.
        Entry restore;
        restore.profId = profId, restore.kind = "restore",
        restore.source = "из записи журнала " + QString::number(deletion);
        add(restore);
        qint64 again = 0;
        QVERIFY(!HistoryJournal::restoreDocument(deletion, &again, &error));
        QCOMPARE(error, QString("Документ из этой записи журнала уже восстановлен под кодом %1.").arg(profId));
    }

    // What cannot be brought back is refused with the reason, and nothing is written.
    void restoreRefused_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QVariant>("snapshot");
        QTest::addColumn<QString>("reason");
        const QString damaged = "Сохранённая в журнале копия документа повреждена: документ нельзя восстановить.";
        const QString notDeletion =
            "Восстановить можно только удалённый документ: эта запись журнала о другом действии.";
        QTest::newRow("an edit") << "edit" << QVariant(text(fullSnapshot())) << notDeletion;
        QTest::newRow("a kind unknown") << "purge" << QVariant(text(fullSnapshot())) << notDeletion;
        QTest::newRow("no snapshot") << "delete" << QVariant(QVariant::String) << damaged;
        QTest::newRow("cut JSON") << "delete" << QVariant(text(fullSnapshot()).left(40)) << damaged;
        QTest::newRow("an array") << "delete" << QVariant("[1, 2]") << damaged;
        QTest::newRow("no document") << "delete" << QVariant(R"({"ProfDetails": []})") << damaged;
        QTest::newRow("subjects not a list")
            << "delete" << QVariant(R"({"ProfDocuments": {"fio1": "А"}, "ProfDetails": 5})") << damaged;
        QTest::newRow("a subject not an object")
            << "delete" << QVariant(R"({"ProfDocuments": {"fio1": "А"}, "ProfDetails": ["x"]})") << damaged;
    }

    void restoreRefused() {
        QFETCH(QString, kind);
        QFETCH(QVariant, snapshot);
        QFETCH(QString, reason);
        Registry r;
        Entry e;
        e.profId = 7, e.kind = kind, e.snapshot = snapshot;
        const qint64 id = add(e);
        const QString before =
            rows("SELECT COUNT(*) FROM ProfDocuments") + rows("SELECT COUNT(*) FROM DocumentHistory");
        qint64 profId = -1;
        QString error;
        QVERIFY(!HistoryJournal::restoreDocument(id, &profId, &error));
        QCOMPARE(error, reason);
        QCOMPARE(profId, qint64(-1));
        QCOMPARE(rows("SELECT COUNT(*) FROM ProfDocuments") + rows("SELECT COUNT(*) FROM DocumentHistory"), before);
        QVERIFY(!HistoryJournal::restoreDocument(id + 100, &profId, &error));
    }

    // A snapshot is data from the file: a column the table does not have is left out, never
    // pasted into the statement.
    void restoreHostileColumn() {
        Registry r;
        QJsonObject snapshot = fullSnapshot();
        QJsonObject document = snapshot.value("ProfDocuments").toObject();
        document.insert("fio1) VALUES ('x'); DROP TABLE ProfFrdo; --", "y");
        document.insert("profId", 555);
        snapshot.insert("ProfDocuments", document);
        const qint64 id = addDeletion(7, text(snapshot));
        qint64 profId = 0;
        QString error;
        QVERIFY2(HistoryJournal::restoreDocument(id, &profId, &error), qPrintable(error));
        QCOMPARE(profId, qint64(7));
        QCOMPARE(documentState(7), restoredState);
    }

    // A write the file refuses half-way keeps nothing of the document.
    void restoreWriteFails() {
        Registry r;
        runSql("CREATE TRIGGER refuse BEFORE INSERT ON ProfFrdo BEGIN SELECT RAISE(ABORT, 'отказано'); END");
        const qint64 id = addDeletion(7, text(fullSnapshot()));
        qint64 profId = 0;
        QString error;
        QVERIFY(!HistoryJournal::restoreDocument(id, &profId, &error));
        QVERIFY2(error.contains("отказано"), qPrintable(error));
        QCOMPARE(profId, qint64(0));
        QCOMPARE(rows("SELECT COUNT(*) FROM ProfDocuments") + rows("SELECT COUNT(*) FROM ProfDetails"), QString("00"));
        QCOMPARE(rows("SELECT COUNT(*) FROM DocumentHistory"), QString("1"));
    }

    // Entries older than the years counted from today go; the others stay.
    void dropOlderThan_data() {
        QTest::addColumn<int>("years");
        QTest::addColumn<qint64>("count");
        QTest::newRow("one year") << 1 << qint64(2);
        QTest::newRow("three years") << 3 << qint64(1);
        QTest::newRow("ten years") << 10 << qint64(0);
    }

    void dropOlderThan() {
        QFETCH(int, years);
        QFETCH(qint64, count);
        Registry r;
        const QDate today = QDate::currentDate();
        for (const QDate& day : {today.addYears(-5), today.addYears(-2), today.addMonths(-6), today}) {
            Entry e;
            e.changedAt = day.toString("yyyy-MM-dd") + "T12:00:00";
            add(e);
        }
        qint64 counted = -1;
        qint64 dropped = -1;
        QString error;
        QVERIFY2(HistoryJournal::countOlderThan(years, &counted, &error), qPrintable(error));
        QCOMPARE(counted, count);
        QVERIFY2(HistoryJournal::dropOlderThan(years, &dropped, &error), qPrintable(error));
        QCOMPARE(dropped, count);
        QCOMPARE(rows("SELECT COUNT(*) FROM DocumentHistory").toLongLong(), 4 - count);
        QVERIFY(!HistoryJournal::countOlderThan(0, &counted, &error));
    }

    void dropWriteFails() {
        Registry r;
        Entry e;
        e.changedAt = "2001-01-01T00:00:00";
        add(e);
        runSql("PRAGMA query_only = 1");
        qint64 dropped = -1;
        QString error;
        QVERIFY(!HistoryJournal::dropOlderThan(1, &dropped, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(dropped, qint64(-1));
        runSql("PRAGMA query_only = 0");
        QCOMPARE(rows("SELECT COUNT(*) FROM DocumentHistory"), QString("1"));
    }
};

ORVANE_TEST(TestHistoryJournal)
#include "tst_historyjournal.moc"
