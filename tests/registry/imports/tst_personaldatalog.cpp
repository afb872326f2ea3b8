#include "applog.h"
#include "frdoexport.h"
#include "importplan.h"
#include "importrun.h"
#include "importsource.h"
#include "testdatabase.h"
#include "testregistry.h"
#include "xlsxexport.h"

#include <QSqlQuery>
#include <QtTest>

namespace {
// The people of the group: their SNILS and birth dates in every form the log could show them in.
struct Person {
    QString row;
    QStringList traces;
};
const QList<Person> people{
    {QStringLiteral("Соколова Анна Петровна;17.05.1990;ж;112-233-445 95;01.07.2024"),
     {"112-233-445 95", "11223344595", "17.05.1990", "1990-05-17"}},
    {QStringLiteral("Орлов Пётр Ильич;03.11.1985;м;087-654-303 00;01.07.2024"),
     {"087-654-303 00", "08765430300", "03.11.1985", "1985-11-03"}},
};
} // namespace

// A session that saves, imports and exports documents, with a write the registry refuses among
// them, leaves no SNILS and no birth date in the log.
class TestPersonalDataLog : public QObject {
    Q_OBJECT

    static bool import(const QString& source, QList<qint64>* ids, QString* error) {
        ImportSource reader;
        ImportTable table;
        if (!reader.open(source, error) || !reader.readSheet(0, &table, error))
            return false;
        ImportOptions options;
        options.headerRow = ImportPlan::findHeaderRow(table, nullptr);
        options.columns = ImportRun::columnsOf(table, options.headerRow);
        ImportRun run;
        ImportRun::Unread unread;
        return ImportRun::write(run.build(table, options, &unread), options, -1, ids, error);
    }

private slots:
    void logKeepsNoPersonalData() {
        TestDatabase data;
        AppLog::truncate();
        const QtMessageHandler previous = qInstallMessageHandler(&AppLog::messageHandler);
        auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });
        QVERIFY(data.open() && data.db()->isValid());

        QStringList lines{QStringLiteral("ФИО;Дата рождения;Пол;СНИЛС;Дата выдачи")};
        for (const Person& person : people)
            lines << person.row;
        const QString source = data.env().root() + QStringLiteral("/group.csv");
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(lines.join(QLatin1Char('\n')).toUtf8());
        file.close();

        QList<qint64> ids;
        QString error;
        QVERIFY2(import(source, &ids, &error), qPrintable(error));
        QCOMPARE(ids.size(), people.size());
        const QString workbook = data.env().root() + QStringLiteral("/frdo.xlsx");
        QVERIFY2(XlsxExport::write(FrdoExport::layout(), ids, workbook, &error), qPrintable(error));
        // A document saved again, and a write the registry refuses.
        QVERIFY(runSql(QStringLiteral("UPDATE ProfDocuments SET birthDate = ? WHERE profId = ?"),
                       {QStringLiteral("1990-05-17"), ids.first()})
                    .lastError()
                    .type() == QSqlError::NoError);
        runSql(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON ProfDocuments BEGIN "
                              "SELECT RAISE(ABORT, 'refused'); END"));
        QList<qint64> refused;
        QVERIFY(!import(source, &refused, &error));
        QVERIFY(!error.isEmpty());

        const QByteArray log = readFileBytes(AppLog::filePath());
        QVERIFY2(log.contains("import stopped"), log.constData());
        for (const Person& person : people)
            for (const QString& trace : person.traces)
                QVERIFY2(!log.contains(trace.toUtf8()), qPrintable(trace + QStringLiteral(" in the log:\n") + log));
    }
};

ORVANE_TEST(TestPersonalDataLog)

#include "tst_personaldatalog.moc"
