#include "database.h"
#include "documenthistory.h"
#include "documentrecords.h"
#include "documentstore.h"
#include "edittransaction.h"
#include "frdorecords.h"
#include "importstore.h"
#include "registrybackup.h"
#include "savepoint.h"
#include "subjectsstore.h"
#include "testdatabase.h"
#include "testregistry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QtTest>

namespace {
const QString refuse = QStringLiteral(" BEGIN SELECT RAISE(ABORT, 'отказано'); END");

// The rows of a query, each a list of values: on the open registry through its own connection,
// which keeps the file to itself.
QList<QVariantList> rowsOf(const QString& path, const QString& sql) {
    if (path != Database::filePath() || !Database::hasInstance())
        return queryFile(path, sql);
    QList<QVariantList> rows;
    QSqlQuery query = runSql(sql);
    while (query.next()) {
        QVariantList row;
        for (int i = 0; i < query.record().count(); ++i)
            row << query.value(i);
        rows << row;
    }
    return rows;
}

struct Entry {
    qint64 profId = 0;
    QString kind, source, docName, attNumber, login, osUser, host, changedAt;
    QJsonArray changes;
    QJsonObject snapshot;
};

QList<Entry> entries(const QString& path) {
    QList<Entry> list;
    for (const QVariantList& row :
         rowsOf(path, "SELECT profId, kind, source, docName, attNumber, login, osUser, host, changedAt, changes, "
                      "snapshot FROM DocumentHistory ORDER BY historyId")) {
        Entry e;
        e.profId = row.at(0).toLongLong();
        e.kind = row.at(1).toString();
        e.source = row.at(2).toString();
        e.docName = row.at(3).toString();
        e.attNumber = row.at(4).toString();
        e.login = row.at(5).isNull() ? "NULL" : row.at(5).toString();
        e.osUser = row.at(6).toString();
        e.host = row.at(7).toString();
        e.changedAt = row.at(8).toString();
        e.changes = QJsonDocument::fromJson(row.at(9).toByteArray()).array();
        e.snapshot = QJsonDocument::fromJson(row.at(10).toByteArray()).object();
        list << e;
    }
    return list;
}

QString text(const QJsonValue& value) {
    if (value.isNull() || value.isUndefined())
        return "";
    return value.isDouble() ? QString::number(value.toDouble(), 'g', 17) : value.toString();
}

// "table.field[subject]:old>new"; an added or removed subject as "+table[name]" or "-table[name]".
QStringList summary(const QJsonArray& changes) {
    QStringList lines;
    for (const QJsonValue& value : changes) {
        const QJsonObject c = value.toObject();
        const QString table = c["table"].toString();
        const QString subject = c.contains("name") ? "[" + c["name"].toString() + "]" : QString();
        if (c["field"].toString().isEmpty())
            lines << (c["new"].isObject() ? "+" : "-") + table + subject;
        else
            lines << table + "." + c["field"].toString() + subject + ":" + text(c["old"]) + ">" + text(c["new"]);
    }
    return lines;
}

// Every row of the document tables and the history.
QString committed(const QString& path) {
    QStringList all;
    for (const char* sql : {"SELECT * FROM ProfDocuments ORDER BY profId", "SELECT * FROM ProfDetails ORDER BY detId",
                            "SELECT * FROM ProfFrdo ORDER BY profId", "SELECT * FROM DocumentHistory"})
        for (const QVariantList& row : rowsOf(path, sql)) {
            QStringList cells;
            for (const QVariant& cell : row)
                cells << (cell.isNull() ? "-" : cell.toString());
            all << cells.join('|');
        }
    return all.join('\n');
}

// A document with two appendix subjects and an FRDO row.
void insertFullDocument(qint64 id) {
    runSql("INSERT INTO ProfDocuments (profId, fio1, fio2, qual, attNumber, editDate) "
           "VALUES (?, ' Иванов ', 'Пётр', 'Токарь', '1', '2020-01-01T00:00:00')",
           {id});
    runSql("INSERT INTO ProfDetails (profId, name, count, rate) VALUES (?, 'Охрана труда', 10, '5'), "
           "(?, 'Черчение', NULL, NULL)",
           {id, id});
    runSql("INSERT INTO ProfFrdo (profId, docName, snils) VALUES (?, 'Свидетельство', '12345678900')", {id});
}

// The form's values of the stored document with `changed` put in.
QVariantMap formValues(qint64 id, const QVariantMap& changed) {
    QSqlRecord row;
    DocumentRecords::read(id, &row);
    QVariantMap values;
    const QStringList columns = DocumentRecords::formColumns() << "editDate"
                                                               << "isTemplate";
    for (const QString& column : columns)
        values.insert(column, row.value(column));
    for (auto it = changed.cbegin(); it != changed.cend(); ++it)
        values.insert(it.key(), it.value());
    return values;
}

QVariantMap frdoValues(qint64 id, const QVariantMap& changed) {
    QSqlRecord row;
    FrdoRecords::read(id, &row);
    QVariantMap values;
    for (const QString& column : FrdoRecords::columns())
        values.insert(column, row.value(column));
    for (auto it = changed.cbegin(); it != changed.cend(); ++it)
        values.insert(it.key(), it.value());
    return values;
}

// The edit dialogs' way: a dialog follows its document, writes and saves.
struct Dialog {
    QObject owner;
    explicit Dialog(qint64 id) {
        EditTransaction::begin(&owner);
        EditTransaction::follow(&owner, id);
    }
    ~Dialog() { EditTransaction::release(&owner); }
    bool save(const std::function<bool(QString*)>& write, QString* error) {
        return EditTransaction::save(&owner, write, error);
    }
};

// The subjects grid: the first subject's hours changed, "Физика" added, the second removed, each
// written at once as the grid writes its cells.
bool editGrid(qint64 id, QString* error) {
    QSqlTableModel* model = SubjectsStore::model();
    SubjectsStore::select(model, id);
    if (!model->setData(model->index(0, SubjectsStore::ColCount), 72))
        return false;
    const int row = model->rowCount();
    model->insertRow(row);
    model->setData(model->index(row, SubjectsStore::ColProfId), id);
    model->setData(model->index(row, SubjectsStore::ColName), "Физика");
    model->setData(model->index(row, SubjectsStore::ColCount), 36);
    return SubjectsStore::submit(model, error) && SubjectsStore::remove(model, 1, error);
}

// Runs one of the program's writes on document 1; false with the reason when it failed.
bool act(const QString& action, QString* error) {
    if (action == "form" || action == "form twice") {
        Dialog dialog(1);
        bool saved = dialog.save(
            [](QString* e) {
                return DocumentRecords::update(1, formValues(1, {{"fio1", "Петров"}}), e);
            },
            error);
        if (saved && action == "form twice")
            saved = dialog.save(
                [](QString* e) {
                    return DocumentRecords::update(1, formValues(1, {{"fio1", "Сидоров"}}), e);
                },
                error);
        return saved;
    }
    if (action == "grid" || action == "grid discarded") {
        Dialog dialog(1);
        if (!editGrid(1, error))
            return false;
        if (action == "grid discarded") {
            EditTransaction::rollback();
            EditTransaction::begin(&dialog.owner);
        }
        return dialog.save([](QString* e) { return DocumentRecords::updateAppendixInfo(1, "Итого", false, e); }, error);
    }
    if (action == "frdo") {
        Dialog dialog(1);
        return dialog.save(
            [](QString* e) {
                return FrdoRecords::write(1, frdoValues(1, {{"snils", "11122233344"}}), e);
            },
            error);
    }
    if (action == "unchanged") {
        Dialog dialog(1);
        return dialog.save([](QString* e) { return DocumentRecords::updateAppendixInfo(1, "", false, e); }, error);
    }
    if (action == "new") {
        Dialog dialog(0);
        return dialog.save(
            [&dialog](QString* e) {
                const qint64 id = DocumentRecords::insert(e);
                EditTransaction::followNew(&dialog.owner, id);
                return id > 0 && DocumentRecords::update(id, {{"fio1", "Сидоров"}, {"fio2", "Иван"}}, e);
            },
            error);
    }
    if (action == "copy")
        return DocumentStore::duplicateDocument(1, error) > 0;
    if (action == "list copy")
        return Savepoint::run(
            "copy",
            [&] {
                const qint64 id = DocumentStore::copyDocument(1, error);
                return id > 0 && DocumentStore::copyDependentRows(1, id, error);
            },
            error);
    if (action == "auto-fill")
        return DocumentStore::autoFillFrdo({1}, error);
    if (action == "delete")
        return DocumentStore::deleteDocuments({1, 1, 404}, error);
    if (action == "import") {
        QList<qint64> ids;
        const ImportRecord record{{{"fio1", "Кузнецов"}, {"isDuplicate", "1"}, {"issueDate", QDate(2024, 5, 6)}},
                                  {{"snils", "123-456-789 01"}},
                                  1};
        return ImportStore::write({record}, 1, &ids, error, {}, nullptr, nullptr, "/tmp/группы/список.csv");
    }
    return false;
}
} // namespace

class TestHistory : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { EditTransaction::rollback(); }

    void entryOfEachChange_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("count");    // entries written
        QTest::addColumn<QString>("kind"); // of the last one
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("docName");
        QTest::addColumn<QStringList>("changes"); // the whole list, or those it must hold
        QTest::addColumn<bool>("whole");
        const QString copied = "из документа 1";
        QTest::newRow("form") << "form" << 1 << "edit"
                              << ""
                              << "Петров Пётр" << QStringList{"ProfDocuments.fio1: Иванов >Петров"} << true;
        QTest::newRow("each save its own")
            << "form twice" << 2 << "edit"
            << ""
            << "Сидоров Пётр" << QStringList{"ProfDocuments.fio1:Петров>Сидоров"} << true;
        QTest::newRow("subjects grid and appendix, one entry")
            << "grid" << 1 << "edit"
            << ""
            << "Иванов Пётр"
            << QStringList{"ProfDocuments.addInfo:>Итого", "ProfDocuments.hideTotalCountInAdd:>0",
                           "ProfDetails.count[Охрана труда]:10>72", "+ProfDetails[Физика]", "-ProfDetails[Черчение]"}
            << true;
        QTest::newRow("discarded grid is not listed")
            << "grid discarded" << 1 << "edit"
            << ""
            << "Иванов Пётр" << QStringList{"ProfDocuments.addInfo:>Итого", "ProfDocuments.hideTotalCountInAdd:>0"}
            << true;
        QTest::newRow("FRDO row") << "frdo" << 1 << "edit"
                                  << ""
                                  << "Иванов Пётр" << QStringList{"ProfFrdo.snils:12345678900>11122233344"} << true;
        QTest::newRow("nothing changed") << "unchanged" << 1 << "edit"
                                         << ""
                                         << "Иванов Пётр"
                                         << QStringList{"ProfDocuments.addInfo:>",
                                                        "ProfDocuments.hideTotalCountInAdd:>0"}
                                         << true;
        QTest::newRow("new document") << "new" << 1 << "create"
                                      << ""
                                      << "Сидоров Иван"
                                      << QStringList{"ProfDocuments.fio1:>Сидоров", "ProfDocuments.fio2:>Иван"}
                                      << false;
        QTest::newRow("copy") << "copy" << 1 << "copy" << copied << "КОПИЯ Иванов Пётр"
                              << QStringList{"ProfDocuments.fio1:>КОПИЯ  Иванов ", "+ProfDetails[Охрана труда]",
                                             "+ProfDetails[Черчение]", "ProfFrdo.docName:>Свидетельство"}
                              << false;
        QTest::newRow("copy as the list makes it")
            << "list copy" << 1 << "copy" << copied << "КОПИЯ Иванов Пётр"
            << QStringList{"+ProfDetails[Охрана труда]", "ProfFrdo.docName:>Свидетельство"} << false;
        QTest::newRow("auto-fill") << "auto-fill" << 1 << "edit"
                                   << ""
                                   << "Иванов Пётр" << QStringList{"ProfFrdo.studyCount:>10"} << false;
        QTest::newRow("delete") << "delete" << 1 << "delete"
                                << ""
                                << "Иванов Пётр"
                                << QStringList{"ProfDocuments.fio1: Иванов >", "-ProfDetails[Охрана труда]"} << false;
        QTest::newRow("import") << "import" << 1 << "import"
                                << "список.csv"
                                << "Кузнецов"
                                << QStringList{"ProfDocuments.fio1:>Кузнецов", "ProfDocuments.isDuplicate:>1",
                                               "ProfDocuments.issueDate:>2024-05-06", "+ProfDetails[Черчение]",
                                               "ProfFrdo.snils:>12345678901"}
                                << false;
    }

    // What each way of writing a document leaves in the history: the kind, the name after the
    // change, and the changed values with their old and new values; never a key or the edit time.
    void entryOfEachChange() {
        QFETCH(QString, action);
        QFETCH(int, count);
        QFETCH(QString, kind);
        QFETCH(QString, source);
        QFETCH(QString, docName);
        QFETCH(QStringList, changes);
        QFETCH(bool, whole);
        TestDatabase data;
        QVERIFY(data.open());
        insertFullDocument(1);
        QString error;
        QVERIFY2(act(action, &error), qPrintable(error));
        EditTransaction::rollback();
        const QList<Entry> written = entries(data.filePath());
        if (action == "unchanged") {
            // The appendix text went from NULL to "": a change; saved again as it is, none.
            QVERIFY2(act(action, &error), qPrintable(error));
            QCOMPARE(entries(data.filePath()).size(), written.size());
        }
        QCOMPARE(written.size(), count);
        const Entry& last = written.last();
        QCOMPARE(last.kind, kind);
        QCOMPARE(last.source, source);
        QCOMPARE(last.docName, docName);
        QCOMPARE(last.login, QString("NULL"));
        QCOMPARE(last.osUser, DocumentHistory::osUser());
        QCOMPARE(last.host, DocumentHistory::hostName());
        QVERIFY(QDateTime::fromString(last.changedAt, "yyyy-MM-ddTHH:mm:ss").isValid());
        const QStringList found = summary(last.changes);
        if (whole)
            QCOMPARE(found, changes);
        for (const QString& change : changes)
            QVERIFY2(found.contains(change), qPrintable(change + " not in " + found.join(", ")));
        for (const QString& line : found)
            QVERIFY2(!line.contains(QRegularExpression("\\.(profId|detId|editDate)\\b",
                                                       QRegularExpression::CaseInsensitiveOption)),
                     qPrintable(line));
        QCOMPARE(last.snapshot.isEmpty(), kind != "delete");
        if (kind == "delete") {
            QCOMPARE(last.attNumber, QString("1"));
            QCOMPARE(last.snapshot["ProfDocuments"].toObject()["qual"].toString(), QString("Токарь"));
            QCOMPARE(last.snapshot["ProfDetails"].toArray().size(), 2);
            QCOMPARE(last.snapshot["ProfFrdo"].toObject()["snils"].toString(), QString("12345678900"));
            QVERIFY(!last.snapshot["ProfDocuments"].toObject().contains("profId"));
        }
        if (kind == "import") {
            // Built from what the import wrote: the same as the document read back would give.
            DocumentHistory::State state;
            QVERIFY(DocumentHistory::readState(QSqlDatabase::database(), last.profId, &state, &error));
            for (auto it = state.document.cbegin(); it != state.document.cend(); ++it)
                if (!it.value().isNull() && it.key() != "profId" && it.key() != "editDate")
                    QVERIFY2(found.contains("ProfDocuments." + it.key() + ":>" + it.value().toString()),
                             qPrintable(it.key()));
        }
    }

    void failedWriteLeavesNothing_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("trigger");
        const QString history = "CREATE TRIGGER t BEFORE INSERT ON DocumentHistory" + refuse;
        QTest::newRow("form, document refused") << "form"
                                                << "CREATE TRIGGER t BEFORE UPDATE ON ProfDocuments" + refuse;
        QTest::newRow("form, entry refused") << "form" << history;
        QTest::newRow("grid, entry refused") << "grid" << history;
        QTest::newRow("FRDO, entry refused") << "frdo" << history;
        QTest::newRow("new, entry refused") << "new" << history;
        QTest::newRow("copy, subjects refused") << "copy"
                                                << "CREATE TRIGGER t BEFORE INSERT ON ProfDetails" + refuse;
        QTest::newRow("copy, entry refused") << "copy" << history;
        QTest::newRow("auto-fill, entry refused") << "auto-fill" << history;
        QTest::newRow("delete, document refused") << "delete"
                                                  << "CREATE TRIGGER t BEFORE DELETE ON ProfDocuments" + refuse;
        QTest::newRow("delete, entry refused") << "delete" << history;
        QTest::newRow("import, entry refused") << "import" << history;
    }

    // No change without its entry, no entry without its change, and the caller learns why.
    void failedWriteLeavesNothing() {
        QFETCH(QString, action);
        QFETCH(QString, trigger);
        TestDatabase data;
        QVERIFY(data.open());
        insertFullDocument(1);
        runSql(trigger);
        const QString before = committed(data.filePath());
        QString error;
        QVERIFY(!act(action, &error));
        QVERIFY2(error.contains("отказано"), qPrintable(error));
        QCOMPARE(committed(data.filePath()), before);
        EditTransaction::rollback();
        runSql("DROP TRIGGER t");
        // What was refused can be written once the refusal is gone.
        QVERIFY2(act(action, &error), qPrintable(error));
        QVERIFY(!entries(data.filePath()).isEmpty());
    }

    void valuesKeptWhole_data() {
        QTest::addColumn<qint64>("id");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QVariant>("value");
        const qint64 wide = (qint64(1) << 31) + 5;
        QTest::newRow("NULL") << qint64(7) << "qual" << QVariant(QVariant::String);
        QTest::newRow("1 MB text") << wide << "qual" << QVariant(QString(1 << 20, QChar(0x416)));
        QTest::newRow("quotes and control characters")
            << qint64(7) << "qual" << QVariant(QString("\"Токарь\"\n\t',\\u0041}") + QChar(1) + QChar(0x1f));
        QTest::newRow("number above 2^31") << wide << "certificateType" << QVariant(wide + 2);
        QTest::newRow("number beyond a double") << qint64(7) << "certificateType" << QVariant((qint64(1) << 60) + 1);
    }

    // Values go into the entries as the file holds them and read back unchanged.
    void valuesKeptWhole() {
        QFETCH(qint64, id);
        QFETCH(QString, column);
        QFETCH(QVariant, value);
        TestDatabase data;
        QVERIFY(data.open());
        insertFullDocument(id);
        runSql(QString("UPDATE ProfDocuments SET %1 = ? WHERE profId = ?").arg(column), {value, id});
        QString error;
        QVERIFY2(DocumentStore::deleteDocuments({id}, &error), qPrintable(error));
        const QList<Entry> written = entries(data.filePath());
        QCOMPARE(written.size(), 1);
        QCOMPARE(written.first().profId, id);
        const QJsonValue kept = written.first().snapshot["ProfDocuments"].toObject()[column];
        if (value.isNull())
            QVERIFY(kept.isNull());
        else if (value.type() == QVariant::String)
            QCOMPARE(kept.toString(), value.toString());
        else if (value.toLongLong() < (qint64(1) << 53))
            QCOMPARE(qint64(kept.toDouble()), value.toLongLong());
        else
            QCOMPARE(kept.toString(), QString::number(value.toLongLong()));
    }

    // An older registry gets an empty history and its indexes through the structure check; the
    // tools read it before that, since they do not read the history.
    void olderFileGetsEmptyHistory() {
        TestDatabase data;
        QVERIFY(data.open());
        insertFullDocument(1);
        data.close();
        QCOMPARE(execOnFile(data.filePath(), {"DROP TABLE DocumentHistory"}), QString());
        QProcess tool;
        tool.start(binaryPath("orvane-export"), {"--db", data.filePath(), "--book", data.env().root() + "/book.xlsx"});
        QVERIFY(tool.waitForFinished(60000));
        QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
        QVERIFY(QFile::exists(data.env().root() + "/book.xlsx"));
        QVERIFY(data.open());
        QCOMPARE(rowsOf(data.filePath(), "SELECT COUNT(*) FROM DocumentHistory").value(0).value(0).toInt(), 0);
        QCOMPARE(rowsOf(data.filePath(), "SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = "
                                         "'DocumentHistory' AND sql IS NOT NULL ORDER BY name"),
                 (QList<QVariantList>{{"DocumentHistory_changedAt"}, {"DocumentHistory_profId"}}));
        QString error;
        QVERIFY2(DocumentStore::deleteDocuments({1}, &error), qPrintable(error));
        QCOMPARE(entries(data.filePath()).size(), 1);
    }

    // A backup holds the history, and a restore brings it back with the documents; a backup made
    // before the history existed restores too, with an empty one.
    void backupCarriesHistory_data() {
        QTest::addColumn<bool>("older");
        QTest::newRow("with history") << false;
        QTest::newRow("from before the history") << true;
    }

    void backupCarriesHistory() {
        QFETCH(bool, older);
        TestDatabase data;
        QVERIFY(data.open());
        insertFullDocument(1);
        insertFullDocument(2);
        QString error;
        QVERIFY2(DocumentStore::deleteDocuments({2}, &error), qPrintable(error));
        const QString copy = data.env().root() + "/copy.db";
        QVERIFY2(RegistryBackup(*data.db()).backup(copy, &error), qPrintable(error));
        const QList<Entry> kept = entries(copy);
        QCOMPARE(kept.size(), 1);
        if (older)
            QCOMPARE(execOnFile(copy, {"DROP TABLE DocumentHistory"}), QString());
        QVERIFY2(DocumentStore::deleteDocuments({1}, &error), qPrintable(error));
        QVERIFY2(RegistryBackup(*data.db()).restore(copy, &error), qPrintable(error));
        const QList<Entry> restored = entries(data.filePath());
        QCOMPARE(restored.size(), older ? 0 : 1);
        if (!older) {
            QCOMPARE(restored.first().profId, kept.first().profId);
            QCOMPARE(restored.first().snapshot, kept.first().snapshot);
        }
        QCOMPARE(rowsOf(data.filePath(), "SELECT COUNT(*) FROM ProfDocuments").value(0).value(0).toInt(), 1);
    }
};

ORVANE_TEST(TestHistory)

#include "tst_history.moc"
