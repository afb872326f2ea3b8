// The registry's writes on a file and on a throwaway server: a document's save, its appendix,
// deleting, the organisation's data, an import and the values printed from them give the same rows
// on both, and a write either store refuses leaves the registry as it was and says it failed.
#include "appresources.h"
#include "appsettings.h"
#include "database.h"
#include "documentrecords.h"
#include "documentstore.h"
#include "edittransaction.h"
#include "importstore.h"
#include "organisationdata.h"
#include "pgtestserver.h"
#include "printdata.h"
#include "profschema.h"
#include "subjectsstore.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QtTest>

namespace {
const QString refusedText = QStringLiteral("refused");
const qint64 above31 = (Q_INT64_C(1) << 31) + 5;
const qint64 above32 = (Q_INT64_C(1) << 32) + 7;

QSqlQuery sql(const QString& statement, const QVariantList& values = {}) {
    return PgTestServer::run(QSqlDatabase::database(), statement, values);
}

QString cell(const QVariant& value) {
    return value.isNull() ? QStringLiteral("NULL") : value.toString();
}

// The rows of the document tables in key order, without what only one store has (the server's row
// version) or what the clock decides (editDate).
QStringList documentRows() {
    QStringList rows;
    for (const QString& name : {"ProfDocuments", "ProfDetails", "ProfFrdo"}) {
        const DBTable table = ProfSchema::tables().value(name);
        QStringList columns;
        for (const DBColumn& column : table.columns)
            if (column.name != QLatin1String("editDate"))
                columns << column.name;
        QSqlQuery query = sql(QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
                                  .arg(columns.join(QLatin1Char(',')), table.name, table.sequence_col));
        while (query.next()) {
            QStringList cells;
            for (int i = 0; i < columns.size(); ++i)
                cells << cell(query.value(i));
            rows << name + QLatin1Char(':') + cells.join(QLatin1Char('|'));
        }
    }
    return rows;
}

// What the document dialog writes: every form column, NULL unless given.
QVariantMap formValues(const QVariantMap& given) {
    QVariantMap values;
    for (const QString& column : DocumentRecords::formColumns())
        values.insert(column, given.value(column));
    values.insert(QStringLiteral("editDate"), QStringLiteral("2024-06-30T10:00:00"));
    values.insert(QStringLiteral("isTemplate"), given.value(QStringLiteral("isTemplate"), 0));
    return values;
}

struct Subject {
    QString name;
    QVariant hours;
    QString grade;
};
const QList<Subject> subjects = {{QStringLiteral("Охрана труда «ОТ»"), 40, QStringLiteral("зачтено")},
                                 {QStringLiteral("Практика"), QVariant(), QStringLiteral("5")},
                                 {QStringLiteral("O'Neil's \"метод\""), 2, QStringLiteral("хорошо")}};

// A document with two subjects and an FRDO row, made as a moved registry holds it.
void addDocument(qint64 id) {
    sql(QStringLiteral("INSERT INTO ProfDocuments (profId, fio1) VALUES (?, ?)"),
        {id, QStringLiteral("Док %1").arg(id)});
    for (const char* name : {"Черчение", "Сварка"})
        sql(QStringLiteral("INSERT INTO ProfDetails (profId, name, count) VALUES (?, ?, 10)"), {id, name});
    sql(QStringLiteral("INSERT INTO ProfFrdo (profId, snils) VALUES (?, '112-233-445 95')"), {id});
}

ImportRecord importRecord(int i) {
    ImportRecord r;
    r.document = {{"isTemplate", 0},
                  {"fio1", QStringLiteral("Фамилия%1 'О'").arg(i)},
                  {"attNumber", QStringLiteral("СВ %1").arg(100000 + i)},
                  {"birthDate", QDate(2000, 1, 1).addDays(i)},
                  {"issueDate", QDate(2024, 6, 30)},
                  {"finishDate", QVariant()},
                  {"addInfo", QStringLiteral("Доп. сведения")},
                  {"hideTotalCountInAdd", 1}};
    if (i % 2)
        r.frdo = {{"snils", QStringLiteral("112-233-445 95")}, {"sexIsMale", 1}};
    return r;
}
} // namespace

class TestServerWrites : public QObject {
    Q_OBJECT

    PgTestServer* _server = nullptr;
    std::unique_ptr<TestEnvironment> _env;
    bool _onServer = false;
    QStringList _drops;
    // What each case gave on the file, for the server's row of it to compare with.
    QHash<QString, QStringList> _onFile;

    static void addStoreRows(const QStringList& cases) {
        QTest::addColumn<QString>("store");
        QTest::addColumn<QString>("which");
        for (const char* store : {"file", "server"})
            for (const QString& which : cases)
                QTest::newRow(qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(store), which))) << store << which;
    }

    // The process-wide store on a new registry file or server database, as the program opens it.
    bool open() {
        QFETCH(QString, store);
        _onServer = store == QLatin1String("server");
        if (_onServer) {
            QString error;
            Database::useServer(_server->addressOf(_server->createDatabase(&error)));
        } else {
            Database::useFile(_env->root() + QStringLiteral("/registry.db"));
        }
        return Database::instance()->isValid();
    }

    // Same rows on the server as on the file for the same case.
    bool agrees(const QString& key, const QStringList& rows) {
        QFETCH(QString, which);
        const QString name = key + QLatin1Char('/') + which;
        if (!_onServer)
            _onFile.insert(name, rows);
        else if (_onFile.contains(name) && _onFile.value(name) != rows) {
            const QStringList file = _onFile.value(name);
            for (int n = 0; n < qMax(file.size(), rows.size()); ++n)
                if (file.value(n) != rows.value(n))
                    qWarning().noquote() << "file:" << file.value(n).left(300) << "server:" << rows.value(n).left(300);
            return false;
        }
        return !rows.isEmpty();
    }

    // Every one of `events` on `table` fails from now on, until cleanup() drops the triggers.
    bool refuse(const QString& table, const QStringList& events) {
        if (_onServer) {
            _drops << QStringLiteral("DROP TRIGGER IF EXISTS refuse ON ") + table;
            return sql(QStringLiteral("CREATE OR REPLACE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
                                      "$$ BEGIN RAISE EXCEPTION '%1'; END $$")
                           .arg(refusedText))
                       .isActive() &&
                   sql(QStringLiteral("CREATE TRIGGER refuse BEFORE %1 ON %2 FOR EACH ROW EXECUTE FUNCTION refuse()")
                           .arg(events.join(QStringLiteral(" OR ")), table))
                       .isActive();
        }
        for (const QString& event : events) {
            _drops << QStringLiteral("DROP TRIGGER IF EXISTS refuse_") + event;
            if (!sql(QStringLiteral("CREATE TRIGGER refuse_%1 BEFORE %1 ON %2 BEGIN SELECT RAISE(ABORT, '%3'); END")
                         .arg(event, table, refusedText))
                     .isActive())
                return false;
        }
        return true;
    }

private slots:
    void initTestCase() {
        setUpAsTheProgram();
        QString error;
        _server = PgTestServer::shared(&error);
        if (!_server)
            QSKIP(qPrintable(QStringLiteral("no test server: ") + error));
    }

    void init() {
        _env = std::make_unique<TestEnvironment>();
        AppSettings::setup();
    }

    void cleanup() {
        EditTransaction::rollback();
        for (const QString& drop : qAsConst(_drops))
            sql(drop);
        _drops.clear();
        Database::shutdown();
        Database::useFile(_env->root() + QStringLiteral("/unused.db"));
        _env.reset();
    }

    // The document dialog's save, read back as the dialog reads it; a refused save keeps the row.
    void documentSave_data() {
        QTest::addColumn<QString>("store");
        QTest::addColumn<QString>("which");
        QTest::addColumn<qint64>("givenId"); // 0: a new row, numbered by the store
        QTest::addColumn<QVariantMap>("values");
        const auto add = [](const char* store, const char* which, qint64 id, const QVariantMap& values) {
            QTest::addRow("%s: %s", store, which) << store << which << id << values;
        };
        for (const char* store : {"file", "server"}) {
            add(store, "ordinary", 0, {{"fio1", "Иванов"}, {"issueDate", "2024-06-30"}, {"isExcellent", 1}});
            add(store, "NULLs and empty texts", 0, {{"fio1", ""}, {"qual", QVariant()}, {"isDuplicate", QVariant()}});
            add(store, "1 MB text", 0, {{"qual", QString(1 << 20, QChar(0x044F))}});
            add(store, "id above 2^31", above31, {{"fio1", "Петров"}, {"regNumber", "0457"}});
            add(store, "id above 2^32", above32, {{"fio1", "Сидоров"}, {"attNumber", "СВ 000001"}});
            add(store, "impossible date kept", 0, {{"issueDate", "2016-02-30"}, {"birthDate", "не дата"}});
            add(store, "Cyrillic with quotes", 0,
                {{"fio1", "О'Нил \"Ёж\""}, {"profession", "Сварщик «ручной»"}, {"profProgName", "\\ % _ ;--"}});
        }
    }
    void documentSave() {
        QFETCH(qint64, givenId);
        QFETCH(QVariantMap, values);
        QVERIFY(open());
        QString error;
        qint64 id = givenId;
        if (id > 0)
            QVERIFY(sql(QStringLiteral("INSERT INTO ProfDocuments (profId) VALUES (?)"), {id}).isActive());
        QObject dialog;
        EditTransaction::begin(&dialog);
        const auto save = [&](const QVariantMap& values) {
            return EditTransaction::save(
                &dialog,
                [&](QString* why) {
                    if (id == 0 && (id = DocumentRecords::insert(why)) == 0)
                        return false;
                    return DocumentRecords::update(id, formValues(values), DocumentRecords::version(id), why) ==
                           DocumentRecords::SaveOutcome::Saved;
                },
                &error);
        };
        QVERIFY2(save(values), qPrintable(error));
        QVERIFY(refuse(QStringLiteral("ProfDocuments"), {QStringLiteral("UPDATE")}));
        QVERIFY(!save({{"fio1", "Не сохранится"}}));
        QVERIFY2(error.contains(refusedText), qPrintable(error));
        EditTransaction::release(&dialog);

        QSqlRecord row;
        QVERIFY2(DocumentRecords::read(id, &row, &error), qPrintable(error));
        QStringList cells{QString::number(id)};
        for (const QString& column : DocumentRecords::formColumns()) {
            const QVariant given = values.value(column);
            const QString stored = row.isNull(column) ? cell(QVariant()) : row.value(column).toString();
            QCOMPARE(stored, cell(given));
            cells << stored;
        }
        QVERIFY(agrees(QStringLiteral("document"), cells));
    }

    // The appendix dialog's subjects, written through the shared model, come back in the order
    // given, with their hours and grades; a refused subject leaves the appendix as it was.
    void appendixSave_data() { addStoreRows({QStringLiteral("subjects")}); }
    void appendixSave() {
        QVERIFY(open());
        QString error;
        const qint64 id = DocumentRecords::insert(&error);
        QVERIFY2(id > 0, qPrintable(error));
        QObject dialog;
        EditTransaction::begin(&dialog);
        QSqlTableModel* model = SubjectsStore::model();
        const auto add = [&](const Subject& s, QString* why) {
            SubjectsStore::select(model, id);
            const int row = model->rowCount();
            model->insertRow(row);
            model->setData(model->index(row, SubjectsStore::ColProfId), id);
            model->setData(model->index(row, SubjectsStore::ColName), s.name);
            model->setData(model->index(row, SubjectsStore::ColCount), s.hours);
            model->setData(model->index(row, SubjectsStore::ColRate), s.grade);
            if (SubjectsStore::submit(model, why))
                return true;
            model->revertAll();
            return false;
        };
        QVERIFY2(EditTransaction::save(
                     &dialog,
                     [&](QString* why) {
                         for (const Subject& s : subjects)
                             if (!add(s, why))
                                 return false;
                         return DocumentRecords::updateAppendixInfo(id, QStringLiteral("Доп. «сведения»"), true, why);
                     },
                     &error),
                 qPrintable(error));
        QVERIFY(refuse(QStringLiteral("ProfDetails"), {QStringLiteral("INSERT")}));
        QVERIFY(!EditTransaction::save(
            &dialog,
            [&](QString* why) {
                return add({QStringLiteral("Лишний"), 1, QString()}, why);
            },
            &error));
        QVERIFY2(error.contains(refusedText), qPrintable(error));
        EditTransaction::release(&dialog);
        // A row written again lands elsewhere in the server's table: the order is still the order of entry.
        for (const char* statement :
             {"CREATE TEMPORARY TABLE moved AS SELECT * FROM ProfDetails WHERE rate = 'зачтено'",
              "DELETE FROM ProfDetails WHERE rate = 'зачтено'", "INSERT INTO ProfDetails SELECT * FROM moved",
              "DROP TABLE moved"})
            QVERIFY(sql(QString::fromUtf8(statement)).isActive());

        SubjectsStore::select(model, id);
        QStringList rows;
        for (int row = 0; row < model->rowCount(); ++row)
            rows << QStringLiteral("%1|%2|%3")
                        .arg(model->index(row, SubjectsStore::ColName).data().toString(),
                             cell(model->index(row, SubjectsStore::ColCount).data()),
                             model->index(row, SubjectsStore::ColRate).data().toString());
        QCOMPARE(rows, (QStringList{"Охрана труда «ОТ»|40|зачтено", "Практика|NULL|5", "O'Neil's \"метод\"|2|хорошо"}));
        QCOMPARE(SubjectsStore::totalHours(id), QStringLiteral("42"));
        QString addInfo;
        bool hideTotal = false;
        QVERIFY(DocumentRecords::readAppendixInfo(id, &addInfo, &hideTotal));
        QCOMPARE(addInfo, QStringLiteral("Доп. «сведения»"));
        QVERIFY(hideTotal);
        QVERIFY(agrees(QStringLiteral("appendix"), documentRows()));
    }

    // Deleting takes the documents with their subjects and FRDO rows; a refusal on any of the
    // tables keeps every row and is a failure with the reason.
    void deleteDocuments_data() {
        addStoreRows({QStringLiteral("deleted"), QStringLiteral("ProfDetails refuses"),
                      QStringLiteral("ProfFrdo refuses"), QStringLiteral("ProfDocuments refuses")});
    }
    void deleteDocuments() {
        QFETCH(QString, which);
        QVERIFY(open());
        for (const qint64 id : {Q_INT64_C(3), above31, above32})
            addDocument(id);
        const QStringList before = documentRows();
        const bool refused = which.endsWith(QLatin1String("refuses"));
        if (refused)
            QVERIFY(refuse(which.section(QLatin1Char(' '), 0, 0), {QStringLiteral("DELETE")}));
        QString error;
        QCOMPARE(DocumentStore::deleteDocuments({3, above32}, &error), !refused);
        if (refused) {
            QVERIFY2(error.contains(refusedText), qPrintable(error));
            QCOMPARE(documentRows(), before);
            return;
        }
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const QStringList rows = documentRows();
        QCOMPARE(rows.size(), 4); // one document, two subjects, one FRDO row
        QVERIFY(rows.filter(QStringLiteral("|3|")).isEmpty());
        QVERIFY(agrees(QStringLiteral("delete"), rows));
    }

    // The organisation's data is written and read back alike; a refused write keeps the old values.
    void organisationData_data() { addStoreRows({QStringLiteral("written"), QStringLiteral("refused")}); }
    void organisationData() {
        QFETCH(QString, which);
        QVERIFY(open());
        using namespace OrganisationData;
        const QVector<QPair<QString, QString>> first = {{orgName1, QStringLiteral("Колледж «Север»")},
                                                        {orgName2, QStringLiteral("им. О'Нила \"Ёжика\"")},
                                                        {city, QStringLiteral("г. Тверь")},
                                                        {date, QStringLiteral("2016-02-30")},
                                                        {boss, QString()},
                                                        {boss2, QString(70000, QChar(0x0416))},
                                                        {boss3, QStringLiteral("Кузнецова А.С.")}};
        QString error;
        QVERIFY2(write(first, &error), qPrintable(error));
        QVector<QPair<QString, QString>> expected = first;
        if (which == QLatin1String("refused")) {
            QVERIFY(refuse(QStringLiteral("Variables"), {QStringLiteral("INSERT"), QStringLiteral("UPDATE")}));
            QVERIFY(!write({{city, QStringLiteral("г. Псков")}, {boss, QStringLiteral("Новый")}}, &error));
            QVERIFY2(error.contains(refusedText), qPrintable(error));
        } else {
            QVERIFY2(write({{city, QStringLiteral("г. Псков")}}, &error), qPrintable(error));
            expected[2].second = QStringLiteral("г. Псков");
        }
        QStringList values;
        for (const auto& pair : expected) {
            QCOMPARE(value(pair.first, &error), pair.second);
            values << pair.second.left(100);
        }
        QVERIFY(agrees(QStringLiteral("organisation"), values));
    }
    // An import makes the same documents with the template's subjects and FRDO values on both
    // stores; a refused FRDO row leaves none of them behind.
    void importDocuments_data() { addStoreRows({QStringLiteral("imported"), QStringLiteral("refused")}); }
    void importDocuments() {
        QFETCH(QString, which);
        QVERIFY(open());
        QString error;
        const qint64 templateId = DocumentRecords::insert(&error);
        QVERIFY2(templateId > 0, qPrintable(error));
        QVERIFY(sql(QStringLiteral("UPDATE ProfDocuments SET isTemplate = 1, fio1 = 'Шаблон', qual = 'Сварщик' "
                                   "WHERE profId = ?"),
                    {templateId})
                    .isActive());
        for (const Subject& s : subjects)
            sql(QStringLiteral("INSERT INTO ProfDetails (profId, name, count, rate) VALUES (?, ?, ?, ?)"),
                {templateId, s.name, s.hours, s.grade});
        sql(QStringLiteral("INSERT INTO ProfFrdo (profId, frdo13, studyPeriod) VALUES (?, 'Программа', '3 мес.')"),
            {templateId});
        const QStringList before = documentRows();
        const bool refused = which == QLatin1String("refused");
        if (refused)
            QVERIFY(refuse(QStringLiteral("ProfFrdo"), {QStringLiteral("INSERT")}));
        QVector<ImportRecord> records;
        for (int i = 1; i <= 3; ++i)
            records << importRecord(i);
        QList<qint64> ids;
        QCOMPARE(ImportStore::write(records, templateId, &ids, &error), !refused);
        if (refused) {
            QVERIFY2(error.contains(refusedText), qPrintable(error));
            QCOMPARE(documentRows(), before);
            return;
        }
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(ids, (QList<qint64>{templateId + 1, templateId + 2, templateId + 3}));
        const QStringList rows = documentRows();
        QCOMPARE(rows.filter(QStringLiteral("ProfDetails:")).size(), 4 * subjects.size());
        QVERIFY(agrees(QStringLiteral("import"), rows));
    }

    // The values a form prints of a saved document, its appendix and the organisation's data.
    void printValues_data() { addStoreRows({QStringLiteral("printed")}); }
    void printValues() {
        QVERIFY(open());
        QString error;
        QVERIFY(sql(QStringLiteral("INSERT INTO ProfDocuments (profId) VALUES (?)"), {above32}).isActive());
        QVERIFY2(DocumentRecords::update(above32,
                                         formValues({{"fio1", "Иванов"},
                                                     {"fio2", "Иван"},
                                                     {"fio3", "Иванович"},
                                                     {"birthDate", "1991-01-05"},
                                                     {"issueDate", "2016-02-30"},
                                                     {"startDate", "09.01.2024"},
                                                     {"showTotalCount", 1},
                                                     {"certificateType", 2},
                                                     {"profession", "Сварщик «ручной»"}}),
                                         &error),
                 qPrintable(error));
        for (const Subject& s : subjects)
            sql(QStringLiteral("INSERT INTO ProfDetails (profId, name, count, rate) VALUES (?, ?, ?, ?)"),
                {above32, s.name, s.hours, s.grade});
        QVERIFY2(
            OrganisationData::write({{OrganisationData::boss, QStringLiteral("Кузнецова Анна Сергеевна")}}, &error),
            qPrintable(error));
        PrintValues values;
        QVERIFY2(PrintData::read(above32, true, &values, &error), qPrintable(error));
        QVERIFY(values.found);
        QCOMPARE(values.value(QStringLiteral("Full_Name_short")).toString(), QStringLiteral("Иванов И.И."));
        QCOMPARE(values.value(QStringLiteral("total_count")).toString(),
                 QStringLiteral("в объёме:<br>42 академических часа"));
        QStringList printed;
        for (const PrintValues::Variable& v : values.variables)
            printed << v.name + QLatin1Char('=') + cell(v.value) + (v.markup ? QStringLiteral(" (markup)") : QString());
        QCOMPARE(values.appendixColumns, (QStringList{"profId", "col1", "col2", "col3"}));
        for (const QVariantList& row : values.appendixRows) {
            QStringList cells;
            for (const QVariant& value : row)
                cells << cell(value);
            printed << cells.join(QLatin1Char('|'));
        }
        QVERIFY(agrees(QStringLiteral("print"), printed));
    }
};

ORVANE_TEST(TestServerWrites)
#include "tst_serverwrites.moc"
