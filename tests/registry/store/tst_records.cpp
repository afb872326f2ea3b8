// The registry's record stores on real registry files, without any window: what the edit dialogs
// read and write goes through them.

#include "coreregistry.h"
#include "database.h"
#include "documentrecords.h"
#include "edittransaction.h"
#include "frdorecords.h"
#include "organisationdata.h"
#include "profschema.h"
#include "signatorystore.h"
#include "subjectsstore.h"
#include "testregistry.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {
const qint64 bigId = Q_INT64_C(1) << 62;
const QString megabyte = QString(1 << 20, QChar(0x0416));
const QString nullText = QString();

// The ways a write fails: a trigger that refuses it, a connection that may only read, or a commit
// refused at the end (a trigger leaves a row behind that breaks a deferred key).
enum class Failure { Trigger, QueryOnly, Commit };

void makeWritesFail(Failure failure, const QString& table,
                    const QStringList& events = {QStringLiteral("INSERT"), QStringLiteral("UPDATE"),
                                                 QStringLiteral("DELETE")}) {
    if (failure == Failure::QueryOnly) {
        sql(QStringLiteral("PRAGMA query_only = 1;"));
        return;
    }
    if (failure == Failure::Commit) {
        // Outside a transaction only: the setting is ignored inside one.
        sql(QStringLiteral("PRAGMA foreign_keys = ON;"));
        sql(QStringLiteral("CREATE TABLE IF NOT EXISTS Orphans (profId INTEGER REFERENCES ProfDocuments(profId) "
                           "DEFERRABLE INITIALLY DEFERRED);"));
        for (const QString& event : events)
            sql(QStringLiteral("CREATE TRIGGER orphan_%1_%2 AFTER %2 ON %1 BEGIN INSERT INTO Orphans VALUES (-1); END;")
                    .arg(table, event));
        return;
    }
    for (const QString& event : events)
        sql(QStringLiteral("CREATE TRIGGER refuse_%1_%2 BEFORE %2 ON %1 BEGIN SELECT RAISE(ABORT, 'отказано'); END;")
                .arg(table, event));
}

QString expectedReason(Failure failure) {
    switch (failure) {
    case Failure::Trigger:
        return QStringLiteral("отказано");
    case Failure::QueryOnly:
        return QStringLiteral("attempt to write a readonly database");
    case Failure::Commit:
        break;
    }
    return QStringLiteral("FOREIGN KEY constraint failed");
}

QVariantMap documentValues(const QString& text, const QVariant& date) {
    QVariantMap values;
    for (const QString& column : DocumentRecords::formColumns())
        values.insert(column, text);
    for (const char* column : {"birthDate", "startDate", "finishDate", "protocolDate", "issueDate"})
        values.insert(QLatin1String(column), date);
    for (const char* column : {"certificateType", "isDuplicate", "isExcellent", "showTotalCount"})
        values.insert(QLatin1String(column), 1);
    values.insert(QStringLiteral("editDate"), QStringLiteral("2024-05-06T07:08:09"));
    values.insert(QStringLiteral("isTemplate"), QVariant());
    return values;
}

QVariantMap frdoValues(const QString& text, const QVariant& date) {
    QVariantMap values;
    for (const QString& column : FrdoRecords::columns())
        values.insert(column, text);
    for (const char* column : {"issueDateOrig", "birthDateFrdo", "beginDate", "endDate", "issueDateFrdo"})
        values.insert(QLatin1String(column), date);
    values.insert(QStringLiteral("studyCount"), 72);
    values.insert(QStringLiteral("StateDuplicate"), 1);
    values.insert(QStringLiteral("SexIsMale"), -1);
    return values;
}

} // namespace

class TestRecords : public QObject {
    Q_OBJECT

    CoreRegistry _registry;

    void openRegistry() {
        QVERIFY(_registry.open());
        QVERIFY(QSqlDatabase::database().isOpen());
    }

    qint64 newDocument(qint64 id = 0) {
        if (id > 0) {
            sql(QStringLiteral("INSERT INTO ProfDocuments (profId, fio1) VALUES (?, 'Петров');"), {id});
            return id;
        }
        QString error;
        return DocumentRecords::insert(&error);
    }

private slots:
    void initTestCase() { _registry.setUp(); }
    void init() { openRegistry(); }
    void cleanup() { _registry.close(); }

    void documentRoundTrip_data() {
        QTest::addColumn<qint64>("id");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("date");
        QTest::newRow("plain") << qint64(0) << QStringLiteral("Сидоров") << QVariant(QStringLiteral("2016-02-29"));
        QTest::newRow("null") << qint64(0) << nullText << QVariant();
        QTest::newRow("unreadable date") << qint64(0) << QStringLiteral("x") << QVariant(QStringLiteral("2016-02-30"));
        QTest::newRow("1 MB text") << qint64(0) << megabyte << QVariant(QStringLiteral("1900-01-01"));
        QTest::newRow("2^62 id") << bigId << QStringLiteral("Иванов") << QVariant(QStringLiteral("2016-02-30"));
    }

    void documentRoundTrip() {
        QFETCH(qint64, id);
        QFETCH(QString, text);
        QFETCH(QVariant, date);
        id = newDocument(id);
        QVERIFY(id > 0);
        const QVariantMap values = documentValues(text, date);
        QString error;
        QVERIFY2(DocumentRecords::update(id, values, &error), qPrintable(error));
        QSqlRecord row;
        QVERIFY(DocumentRecords::read(id, &row, &error));
        QCOMPARE(row.value(QStringLiteral("profId")).toLongLong(), id);
        for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
            const QVariant expected = it.value().isNull() ? QVariant() : it.value();
            QCOMPARE(stored(row, it.key()).toString(), expected.toString());
            QCOMPARE(row.isNull(it.key()), expected.isNull());
        }
        QString name;
        QVERIFY(DocumentRecords::readName(id, &name));
        QCOMPARE(name, QStringLiteral("%1 %1 %1").arg(text));
        // A new row after the largest id gets the next one, whole.
        QCOMPARE(DocumentRecords::insert(&error), id == bigId ? bigId + 1 : id + 1);
        QVERIFY(!DocumentRecords::read(bigId + 7, &row, &error));
        QVERIFY(error.isEmpty());
    }

    // The appendix text, its flag, the certificate check and the template copy.
    void documentDetails() {
        const qint64 templateId = newDocument(bigId);
        const qint64 other = newDocument(bigId - 1);
        QString error;
        QVERIFY(DocumentRecords::updateAppendixInfo(templateId, megabyte, true, &error));
        QString addInfo;
        bool hide = false;
        QVERIFY(DocumentRecords::readAppendixInfo(templateId, &addInfo, &hide));
        QCOMPARE(addInfo, megabyte);
        QVERIFY(hide);
        QVERIFY(DocumentRecords::copyAppendixInfo(templateId, other, &error));
        QVERIFY(DocumentRecords::readAppendixInfo(other, &addInfo, &hide));
        QCOMPARE(addInfo.size(), megabyte.size());
        QVERIFY(hide);
        // NULL in the file reads as none.
        sql(QStringLiteral("UPDATE ProfDocuments SET addInfo = NULL, hideTotalCountInAdd = NULL, attNumber = ?"
                           " WHERE profId = ?;"),
            {QStringLiteral("000123"), templateId});
        QVERIFY(DocumentRecords::readAppendixInfo(templateId, &addInfo, &hide));
        QVERIFY(addInfo.isEmpty());
        QVERIFY(!hide);
        QVERIFY(DocumentRecords::attNumberTaken(QStringLiteral("000123"), other));
        QVERIFY(!DocumentRecords::attNumberTaken(QStringLiteral("000123"), templateId));
        QVERIFY(!DocumentRecords::attNumberTaken(QStringLiteral("123"), other));
        QVERIFY(!DocumentRecords::readAppendixInfo(12345, &addInfo, &hide));
    }

    void frdoRoundTrip_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("date");
        QTest::newRow("plain") << QStringLiteral("000123") << QVariant(QStringLiteral("2016-02-29"));
        QTest::newRow("null") << nullText << QVariant();
        QTest::newRow("unreadable date") << QStringLiteral("x") << QVariant(QStringLiteral("2016-02-30"));
        QTest::newRow("1 MB text") << megabyte << QVariant(QStringLiteral("9999-12-31"));
    }

    void frdoRoundTrip() {
        QFETCH(QString, text);
        QFETCH(QVariant, date);
        const qint64 id = newDocument(bigId);
        QSqlRecord row;
        QVERIFY(!FrdoRecords::read(id, &row));
        const QVariantMap values = frdoValues(text, date);
        QString error;
        QVERIFY2(FrdoRecords::write(id, values, &error), qPrintable(error));
        QVERIFY(FrdoRecords::read(id, &row, &error));
        QCOMPARE(row.value(QStringLiteral("profId")).toLongLong(), bigId);
        // The schema spells some columns in another case; SQLite and the record do not mind.
        for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
            QCOMPARE(stored(row, it.key()).toString(), it.value().toString());
            QCOMPARE(row.isNull(it.key()), it.value().isNull());
        }
        // Writing again changes the one row; making sure it exists leaves it as it is.
        QVERIFY(FrdoRecords::ensureRow(id, &error));
        QVERIFY(FrdoRecords::write(id, frdoValues(QStringLiteral("b"), date), &error));
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) || docNumber FROM ProfFrdo;")).toString(),
                 QStringLiteral("1b"));
    }

    void subjects() {
        const qint64 id = newDocument(bigId);
        const qint64 other = newDocument();
        sql(QStringLiteral("INSERT INTO ProfDetails (profId, name, count, rate) VALUES (?, 'Чужой', 5, '5');"),
            {other});
        QSqlTableModel* model = SubjectsStore::model();
        QVERIFY(model);
        SubjectsStore::select(model, id);
        QCOMPARE(model->rowCount(), 0);
        QCOMPARE(SubjectsStore::totalHours(id), QString());
        const QVariantList hours = {QVariant(), 40, Q_INT64_C(4000000000)};
        for (const QVariant& count : hours) {
            const int row = model->rowCount();
            QVERIFY(model->insertRow(row));
            model->setData(model->index(row, SubjectsStore::ColProfId), id);
            model->setData(model->index(row, SubjectsStore::ColName), QStringLiteral(" Охрана труда "));
            model->setData(model->index(row, SubjectsStore::ColCount), count);
            QString error;
            QVERIFY2(SubjectsStore::submit(model, &error), qPrintable(error));
        }
        SubjectsStore::select(model, id);
        QCOMPARE(model->rowCount(), 3);
        QCOMPARE(SubjectsStore::totalHours(id), QStringLiteral("4000000040"));
        QVERIFY(SubjectsStore::contains(id, QStringLiteral(" Охрана труда ")));
        QVERIFY(!SubjectsStore::contains(other, QStringLiteral(" Охрана труда ")));
        // The used names are counted in chunks, trimmed, until a chunk comes back short.
        QMap<QString, int> counts;
        qint64 after = 0;
        QCOMPARE(SubjectsStore::countNames(&after, 2, &counts), 2);
        QCOMPARE(SubjectsStore::countNames(&after, 2, &counts), 2);
        QCOMPARE(SubjectsStore::countNames(&after, 2, &counts), 0);
        QCOMPARE(counts.value(QStringLiteral("Охрана труда")), 3);
        QCOMPARE(counts.value(QStringLiteral("Чужой")), 1);
        QString error;
        QVERIFY(SubjectsStore::remove(model, 0, &error));
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM ProfDetails WHERE profId = ?;"), {id}).toInt(), 2);
    }

    // A failed write gives false and SQLite's reason, and leaves the file as it was.
    void failingWrites_data() {
        QTest::addColumn<int>("failure");
        QTest::addColumn<QString>("table");
        QTest::addColumn<int>("write");
        QTest::addColumn<QStringList>("events");
        const QList<QPair<const char*, QString>> writes = {
            {"document update", QStringLiteral("ProfDocuments")}, {"document insert", QStringLiteral("ProfDocuments")},
            {"appendix text", QStringLiteral("ProfDocuments")},   {"frdo row", QStringLiteral("ProfFrdo")},
            {"subject", QStringLiteral("ProfDetails")},           {"signatory", QStringLiteral("Bosses")},
            {"organisation", QStringLiteral("Variables")},        {"frdo update", QStringLiteral("ProfFrdo")}};
        const char* const failureNames[] = {"trigger", "query_only", "refused commit"};
        for (const Failure failure : {Failure::Trigger, Failure::QueryOnly, Failure::Commit})
            for (int i = 0; i < writes.size(); ++i)
                QTest::addRow("%s, %s", writes[i].first, failureNames[int(failure)])
                    << int(failure) << writes[i].second << i
                    << (i == 7 ? QStringList{QStringLiteral("UPDATE")} : QStringList{});
    }

    void failingWrites() {
        QFETCH(int, failure);
        QFETCH(QString, table);
        QFETCH(int, write);
        QFETCH(QStringList, events);
        const qint64 id = newDocument(bigId);
        const QStringList before = registrySnapshot();
        if (events.isEmpty())
            makeWritesFail(Failure(failure), table);
        else
            makeWritesFail(Failure(failure), table, events);
        QSqlTableModel* subjects = SubjectsStore::model();
        SubjectsStore::select(subjects, id);
        QSqlTableModel* bosses = SignatoryStore::model(1);
        SignatoryStore::select(bosses);
        QString error;
        bool written = true;
        switch (write) {
        case 0:
            written = DocumentRecords::update(id, documentValues(QStringLiteral("b"), QVariant()), &error);
            break;
        case 1:
            written = DocumentRecords::insert(&error) > 0;
            break;
        case 2:
            written = DocumentRecords::updateAppendixInfo(id, QStringLiteral("b"), true, &error);
            break;
        case 3:
        case 7:
            // The row made for the update goes with it.
            written = FrdoRecords::write(id, frdoValues(QStringLiteral("b"), QVariant()), &error);
            break;
        case 4:
            QVERIFY(subjects->insertRow(0));
            subjects->setData(subjects->index(0, SubjectsStore::ColProfId), id);
            written = SubjectsStore::submit(subjects, &error);
            subjects->revertAll();
            break;
        case 5:
            written = SignatoryStore::add(bosses, 1, QStringLiteral("Иванов"), &error);
            QCOMPARE(bosses->rowCount(), 0);
            break;
        case 6:
            written = OrganisationData::write({{OrganisationData::city, QStringLiteral("Тверь")}}, &error);
            break;
        }
        QVERIFY(!written);
        QVERIFY2(error.contains(expectedReason(Failure(failure))), qPrintable(error));
        sql(QStringLiteral("PRAGMA query_only = 0;"));
        QCOMPARE(registrySnapshot(), before);
    }

    // The document dialog's save runs while the appendix dialog, opened from it, shares its
    // transaction: each save keeps its own writes, a failed one undoes its own only.
    void nestedSaves() {
        QObject documentDialog;
        QObject appendixDialog;
        const qint64 id = newDocument(bigId);
        EditTransaction::begin(&documentDialog);
        EditTransaction::begin(&appendixDialog);
        QVERIFY(EditTransaction::isOwnedBy(&documentDialog));
        QVERIFY(!EditTransaction::isOwnedBy(&appendixDialog));
        QString error;
        // The appendix save writes its text; inside it a pair of writes fails as a whole.
        QVERIFY(EditTransaction::save(
            &appendixDialog,
            [&](QString* reason) {
                if (!DocumentRecords::updateAppendixInfo(id, QStringLiteral("приложение"), false, reason))
                    return false;
                // The pair's first write goes through, its second is refused.
                const bool pair = EditTransaction::atomically([&] { return !FrdoRecords::ensureRow(id, reason); });
                return !pair;
            },
            &error));
        // Saved means committed: what was not saved goes with a rollback, the saved text stays.
        QVERIFY(EditTransaction::isOwnedBy(&appendixDialog));
        EditTransaction::rollback();
        QString text;
        bool hide = true;
        QVERIFY(DocumentRecords::readAppendixInfo(id, &text, &hide));
        QCOMPARE(text, QStringLiteral("приложение"));
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM ProfFrdo;")).toInt(), 0);

        // A document save that fails undoes its own writes, not the unsaved ones before it.
        EditTransaction::begin(&documentDialog);
        QVERIFY(DocumentRecords::updateAppendixInfo(id, QStringLiteral("не сохранено"), true, &error));
        makeWritesFail(Failure::Trigger, QStringLiteral("ProfFrdo"));
        error.clear();
        QVERIFY(!EditTransaction::save(
            &documentDialog,
            [&](QString* reason) {
                return DocumentRecords::update(id, documentValues(QStringLiteral("новое"), QVariant()), reason) &&
                       FrdoRecords::write(id, frdoValues(QStringLiteral("новое"), QVariant()), reason);
            },
            &error));
        QCOMPARE(error, QStringLiteral("отказано"));
        QCOMPARE(scalar(QStringLiteral("SELECT fio1 FROM ProfDocuments WHERE profId = ?;"), {id}).toString(),
                 QStringLiteral("Петров"));
        QVERIFY(DocumentRecords::readAppendixInfo(id, &text, &hide));
        QCOMPARE(text, QStringLiteral("не сохранено"));
        // Its owner's end rolls back what was left unsaved; another's end does not.
        EditTransaction::release(&appendixDialog);
        QVERIFY(EditTransaction::isOwnedBy(&documentDialog));
        EditTransaction::release(&documentDialog);
        QVERIFY(DocumentRecords::readAppendixInfo(id, &text, &hide));
        QCOMPARE(text, QStringLiteral("приложение"));
    }

    // A dialog's save that fails, at its writes or at the commit, undoes its own writes only: what
    // the dialogs wrote before it stays open, and the next save goes through.
    void failedSaveUndoesItsOwn_data() {
        QTest::addColumn<int>("failure");
        QTest::newRow("trigger") << int(Failure::Trigger);
        QTest::newRow("query_only") << int(Failure::QueryOnly);
        QTest::newRow("refused commit") << int(Failure::Commit);
    }

    void failedSaveUndoesItsOwn() {
        QFETCH(int, failure);
        QObject dialog;
        const qint64 id = newDocument(bigId);
        // The key's setting takes effect outside a transaction only; query_only anywhere.
        const bool readOnly = Failure(failure) == Failure::QueryOnly;
        if (!readOnly)
            makeWritesFail(Failure(failure), QStringLiteral("ProfFrdo"));
        EditTransaction::begin(&dialog);
        QString error;
        QVERIFY(DocumentRecords::updateAppendixInfo(id, QStringLiteral("не сохранено"), true, &error));
        if (readOnly)
            makeWritesFail(Failure::QueryOnly, QString());
        const auto saveFrdo = [&] {
            return EditTransaction::save(
                &dialog,
                [&](QString* reason) {
                    return FrdoRecords::write(id, frdoValues(QStringLiteral("новое"), QVariant()), reason);
                },
                &error);
        };
        QVERIFY(!saveFrdo());
        QCOMPARE(error, expectedReason(Failure(failure)));
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM ProfFrdo;")).toInt(), 0);
        QString text;
        bool hide = false;
        QVERIFY(DocumentRecords::readAppendixInfo(id, &text, &hide));
        QCOMPARE(text, QStringLiteral("не сохранено"));
        QVERIFY(EditTransaction::isOwnedBy(&dialog));

        // Nothing of the failed save is left to break the next one.
        sql(QStringLiteral("PRAGMA query_only = 0;"));
        for (const char* event : {"INSERT", "UPDATE", "DELETE"}) {
            sql(QStringLiteral("DROP TRIGGER IF EXISTS refuse_ProfFrdo_%1;").arg(QLatin1String(event)));
            sql(QStringLiteral("DROP TRIGGER IF EXISTS orphan_ProfFrdo_%1;").arg(QLatin1String(event)));
        }
        error.clear();
        QVERIFY2(saveFrdo(), qPrintable(error));
        EditTransaction::release(&dialog);
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM ProfFrdo;")).toInt(), 1);
        QVERIFY(DocumentRecords::readAppendixInfo(id, &text, &hide));
        QCOMPARE(text, QStringLiteral("не сохранено"));
    }

    void signatories() {
        QSqlTableModel* chairmen = SignatoryStore::model(1);
        SignatoryStore::select(chairmen);
        QString error;
        QVERIFY(SignatoryStore::add(chairmen, 1, QStringLiteral("Иванов И.И."), &error));
        QVERIFY(SignatoryStore::add(chairmen, 1, megabyte, &error));
        QSqlTableModel* secretaries = SignatoryStore::model(2);
        SignatoryStore::select(secretaries);
        QCOMPARE(secretaries->rowCount(), 0);
        QVERIFY(SignatoryStore::add(secretaries, 2, QStringLiteral("Петрова П.П."), &error));
        SignatoryStore::select(secretaries);
        QCOMPARE(secretaries->rowCount(), 1);
        QCOMPARE(secretaries->index(0, SignatoryStore::ColName).data().toString(), QStringLiteral("Петрова П.П."));
        SignatoryStore::select(SignatoryStore::model(1));
        QCOMPARE(chairmen->rowCount(), 2);
        QCOMPARE(chairmen->index(1, SignatoryStore::ColName).data().toString().size(), megabyte.size());
        // A corrected name the file refuses is dropped from the model and told.
        makeWritesFail(Failure::Trigger, QStringLiteral("Bosses"));
        chairmen->setData(chairmen->index(0, SignatoryStore::ColName), QStringLiteral("Сидоров"));
        QVERIFY(!SignatoryStore::checkStored(chairmen, &error));
        QCOMPARE(error, QStringLiteral("отказано"));
        QVERIFY(!chairmen->isDirty());
        error.clear();
        QVERIFY(!SignatoryStore::remove(chairmen, 0, &error));
        QCOMPARE(error, QStringLiteral("отказано"));
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM Bosses WHERE bossType = 1;")).toInt(), 2);
        sql(QStringLiteral("DROP TRIGGER refuse_Bosses_DELETE;"));
        QVERIFY(SignatoryStore::remove(chairmen, 0, &error));
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM Bosses;")).toInt(), 2);
    }

    void organisation() {
        using namespace OrganisationData;
        QString error;
        QCOMPARE(value(city, &error), QString());
        QVERIFY(error.isEmpty());
        QVERIFY(write({{orgName1, megabyte}, {city, QStringLiteral("Тверь")}, {boss2, QString()}}, &error));
        QCOMPARE(value(orgName1), megabyte);
        QCOMPARE(value(city), QStringLiteral("Тверь"));
        sql(QStringLiteral("UPDATE Variables SET Value = NULL WHERE Name = ?;"), {city});
        QCOMPARE(value(city), QString());
        // All or none: a refused last value takes the earlier ones of the set with it.
        sql(QStringLiteral("CREATE TRIGGER refuse_boss BEFORE INSERT ON Variables WHEN NEW.Name = 'Data/Boss_3' "
                           "BEGIN SELECT RAISE(ABORT, 'отказано'); END;"));
        const QStringList before = registrySnapshot();
        QVERIFY(!write({{city, QStringLiteral("Москва")}, {boss3, QStringLiteral("Сидоров")}}, &error));
        QCOMPARE(error, QStringLiteral("отказано"));
        QCOMPARE(registrySnapshot(), before);
    }
};

ORVANE_TEST(TestRecords)
#include "tst_records.moc"
