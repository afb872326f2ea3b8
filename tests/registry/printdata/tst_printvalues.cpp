#include "appkeys.h"
#include "appresources.h"
#include "appsettings.h"
#include "database.h"
#include "printdata.h"
#include "profschema.h"
#include "settingsregistry.h"
#include "testregistry.h"

#include <QSettings>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {
// A fresh registry in a folder of its own, with the settings kept there too.
struct Registry {
    Registry() {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + QStringLiteral("/config")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path() + QStringLiteral("/data")));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path() + QStringLiteral("/config"));
        AppSettings::release();
        Database::setSchema(ProfSchema::tables(), ProfSchema::mainPrimaryKeyName());
        AppSettings::setup();
        db = std::make_unique<Database>(true);
    }
    ~Registry() {
        db->commitAndClose();
        db.reset();
        AppSettings::release();
    }
    bool exec(const QString& sql, const QVariantList& values = {}) {
        QSqlQuery query(QSqlDatabase::database());
        query.prepare(sql);
        for (const QVariant& value : values)
            query.addBindValue(value);
        return db->execPrepared(query);
    }
    qint64 addDocument(const QVariantMap& columns) {
        QStringList marks;
        for (int i = 0; i < columns.size(); ++i)
            marks << QStringLiteral("?");
        QSqlQuery query(QSqlDatabase::database());
        query.prepare(QStringLiteral("INSERT INTO ProfDocuments (%1) VALUES (%2)")
                          .arg(columns.keys().join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
        for (const QVariant& value : columns)
            query.addBindValue(value);
        return db->execPrepared(query) ? query.lastInsertId().toLongLong() : -1;
    }
    bool addSubject(qint64 profId, const QString& name, const QVariant& hours, const QString& grade) {
        return exec(QStringLiteral("INSERT INTO ProfDetails (profId, name, count, rate) VALUES (?, ?, ?, ?)"),
                    {profId, name, hours, grade});
    }
    QTemporaryDir dir;
    std::unique_ptr<Database> db;
};

QString text(const PrintValues& values, const char* name) {
    return values.value(QLatin1String(name)).toString();
}

QStringList rows(const PrintValues& values) {
    QStringList texts;
    for (const QVariantList& row : values.appendixRows) {
        QStringList cells;
        for (const QVariant& cell : row)
            cells << cell.toString();
        texts << cells.join(QLatin1Char('|'));
    }
    return texts;
}
} // namespace

class TestPrintValues : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initAppResources(); }

    void documentValues_data() {
        QTest::addColumn<bool>("hideZero");
        QTest::newRow("leading zero") << false;
        QTest::newRow("HideZeroInDate") << true;
    }

    // What the forms print of one document, as the page showed it when it was filled directly.
    void documentValues() {
        QFETCH(bool, hideZero);
        Registry r;
        QVERIFY(SettingsRegistry::instance()->setValue(Keys::hideZeroInDate, hideZero));
        QVERIFY(r.db->setVariable(QStringLiteral("Data/Boss"), QStringLiteral("Кузнецова Анна Сергеевна")));
        QVERIFY(r.db->setVariable(QStringLiteral("Data/City"), QStringLiteral("г. Тверь")));
        const qint64 id = r.addDocument({{"fio1", "Иванов"},
                                         {"fio2", "Иван"},
                                         {"fio3", "Иванович"},
                                         {"birthDate", "1991-01-05"},
                                         {"regNumber", "0457"},
                                         {"isExcellent", 1},
                                         {"certificateType", 2},
                                         {"showTotalCount", 1},
                                         {"startDate", "09.01.2024"},
                                         {"profProgName", "Сварщик ручной сварки"}});
        QVERIFY(r.addSubject(id, QStringLiteral("Охрана труда"), 20, QStringLiteral("зачтено")));
        QVERIFY(r.addSubject(id, QStringLiteral("Практика"), QVariant(), QStringLiteral("5")));
        QVERIFY(r.addSubject(id, QStringLiteral("Черчение"), 2, QStringLiteral("4")));

        PrintValues values;
        QString error;
        QVERIFY(PrintData::read(id, true, &values, &error));
        QVERIFY(error.isEmpty());
        QVERIFY(values.found);
        const QString day = hideZero ? QStringLiteral("5") : QStringLiteral("05");
        QCOMPARE(text(values, "Full_Name_short"), QStringLiteral("Иванов И.И."));
        QCOMPARE(text(values, "birth"), day + QStringLiteral(" января 1991"));
        QCOMPARE(text(values, "birth_day"), day);
        QCOMPARE(text(values, "birth_digit"), QStringLiteral("05.01.1991"));
        QCOMPARE(text(values, "startDate"),
                 (hideZero ? QStringLiteral("9") : QStringLiteral("09")) + QStringLiteral(" января 2024"));
        QCOMPARE(text(values, "REG_NUMBER"), QStringLiteral("0457")); // names compare without case
        QCOMPARE(text(values, "is_excellent"), QStringLiteral("с отличием"));
        QCOMPARE(text(values, "Certificate_type"), QStringLiteral("по должности служащего"));
        QCOMPARE(text(values, "total_count"), QStringLiteral("в объёме:<br>22 академических часа"));
        QCOMPARE(text(values, "Boss_short"), QStringLiteral("Кузнецова А.С."));
        QCOMPARE(text(values, "City"), QStringLiteral("г. Тверь"));
        QCOMPARE(text(values, "Boss3"), QString());
        QCOMPARE(text(values, "prof_Prog_Name"), QStringLiteral("Сварщик ручной сварки"));
        // Only the total is markup: record data must print as typed.
        for (const PrintValues::Variable& variable : values.variables)
            QCOMPARE(variable.markup, variable.name == QLatin1String("total_count"));

        QCOMPARE(values.appendixColumns, (QStringList{"profId", "col1", "col2", "col3"}));
        const QString p = QString::number(id);
        QCOMPARE(rows(values), (QStringList{p + "|Охрана труда|20|зачтено", p + "|Практика||5", p + "|Черчение|2|4",
                                            p + "|ВСЕГО:|22|"}));
    }

    // A missing document is no failure; the designer's sample is the first row, or empty values.
    void missingDocumentAndSample() {
        Registry r;
        PrintValues values;
        QString error;
        QVERIFY(PrintData::read(4242, true, &values, &error));
        QVERIFY(!values.found);
        QVERIFY(values.variables.isEmpty());
        QVERIFY(values.appendixColumns.isEmpty());

        QVERIFY(PrintData::read(0, false, &values, &error));
        QVERIFY(!values.found);
        QCOMPARE(text(values, "Full_Name"), QStringLiteral("  "));
        QVERIFY(values.value(QStringLiteral("Org_Name")).isValid());
        QCOMPARE(values.appendixColumns.size(), 4);

        const qint64 first = r.addDocument({{"isTemplate", 1}, {"fio1", "Шаблон"}});
        r.addDocument({{"fio1", "Петров"}});
        QVERIFY(r.addSubject(first, QStringLiteral("Черчение"), 4, QStringLiteral("5")));
        QVERIFY(PrintData::read(0, false, &values, &error));
        QVERIFY(values.found);
        QCOMPARE(text(values, "Last_Name"), QStringLiteral("Шаблон"));
        QVERIFY(values.appendixRows.isEmpty()); // the sample's appendix is asked for id 0
    }

    // Values at the edges of what the file may hold.
    void extremeValues() {
        Registry r;
        const qint64 huge = Q_INT64_C(1) << 62;
        QCOMPARE(r.addDocument({{"profId", huge},
                                {"birthDate", "не дата"},
                                {"startDate", QVariant()},
                                {"showTotalCount", "много"},
                                {"fio1", QString(5000, QChar(0x042F))}}),
                 huge);
        QVERIFY(r.addSubject(huge, QStringLiteral("Предмет"), QStringLiteral("abc"), QString()));
        PrintValues values;
        QString error;
        QVERIFY2(PrintData::read(huge, true, &values, &error), qPrintable(error));
        QVERIFY(values.found);
        QCOMPARE(text(values, "birth"), QString());
        QCOMPARE(text(values, "startDate_year"), QString());
        QCOMPARE(text(values, "total_count"), QString());
        QCOMPARE(text(values, "Last_Name").size(), 5000);
        QCOMPARE(values.appendixRows.size(), 2);
    }

    void failingRead_data() {
        QTest::addColumn<QStringList>("damage");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("reason");
        QTest::newRow("documents table gone")
            << QStringList{"PRAGMA foreign_keys=OFF", "DROP TABLE ProfDocuments"} << false << "ProfDocuments";
        QTest::newRow("appendix table gone")
            << QStringList{"PRAGMA foreign_keys=OFF", "DROP TABLE ProfDetails"} << true << "ProfDetails";
        // The data store's own reading of a value gives no better reason than a parameter mismatch.
        QTest::newRow("organisation table gone") << QStringList{"DROP TABLE Variables"} << true << "";
        // SQLite stops a sum that leaves 64 bits instead of wrapping it.
        QTest::newRow("hours overflow") << QStringList{"UPDATE ProfDetails SET count = 9223372036854775807"} << true
                                        << "overflow";
    }

    // A statement that fails is a failure with SQLite's reason, never a form with empty values.
    void failingRead() {
        QFETCH(QStringList, damage);
        QFETCH(bool, found);
        QFETCH(QString, reason);
        Registry r;
        const qint64 id = r.addDocument({{"fio1", "Иванов"}, {"showTotalCount", 1}});
        QVERIFY(r.addSubject(id, QStringLiteral("А"), 1, QString()));
        QVERIFY(r.addSubject(id, QStringLiteral("Б"), 1, QString()));
        for (const QString& sql : damage)
            QVERIFY2(r.exec(sql), qPrintable(sql));
        PrintValues values;
        QString error;
        QVERIFY(!PrintData::read(id, true, &values, &error));
        QCOMPARE(values.found, found);
        QVERIFY2(error.contains(reason, Qt::CaseInsensitive), qPrintable(error));
        // SQLite's own words, without the driver's.
        QVERIFY2(!error.contains(QStringLiteral("Unable to")), qPrintable(error));
    }
};

ORVANE_TEST(TestPrintValues)
#include "tst_printvalues.moc"
