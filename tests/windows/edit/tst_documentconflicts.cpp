// The document dialog on a server registry while another program (a second connection) saves the
// same document: it asks before overwriting, keeps what was typed, and tells a number saved by
// the other program at the same moment.
#include "armedprobe.h"
#include "database.h"
#include "documenteditdialog.h"
#include "documentrecords.h"
#include "frdodialog.h"
#include "messagebox.h"
#include "pgtestserver.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSemaphore>
#include <QThread>
#include <QtTest>

namespace {
const QString clerkB = QStringLiteral("otherProgram");
const QString changed = QStringLiteral("Документ изменён другим пользователем после того, как вы его открыли.");
const QString deleted = QStringLiteral("Документ удалён другим пользователем. Введённые данные сохранены в окне: их "
                                       "можно сохранить как новый документ.");

QVariant scalar(const QString& statement, const QVariantList& values = {}) {
    QSqlQuery query = PgTestServer::run(QSqlDatabase::database(clerkB), statement, values);
    return query.next() ? query.value(0) : QVariant();
}

// The boxes a save showed, but the question about the certificate's own gaps, which is answered Yes.
QStringList shownTexts() {
    QStringList texts;
    for (const MessageBox::Shown& box : MessageBox::shown())
        if (!box.text.startsWith(QStringLiteral("В документе есть ошибки")))
            texts << box.text;
    return texts;
}
} // namespace

class TestDocumentConflicts : public QObject {
    Q_OBJECT

    TestEnvironment _env;
    PgTestServer* _server = nullptr;
    QString _database;
    QPointer<DocumentEditDialog> _dialog;
    qint64 _id = 0;

    // The dialog on the document, armed, with the surname retyped.
    void openAndType(const QString& surname) {
        _dialog = new DocumentEditDialog;
        _dialog->setId(_id);
        _dialog->show();
        waitUntilArmed(_dialog);
        retype(surname);
        QVERIFY(_dialog->isEdited());
    }
    QString typed() const { return _dialog->findChild<QLineEdit*>(QStringLiteral("lineEditFio_1"))->text(); }
    // Saves with the boxes after the certificate check answered so; the boxes shown.
    QStringList save(const QList<QMessageBox::StandardButton>& answers = {}) {
        MessageBox::clearShown();
        MessageBox::setNextAnswer(QMessageBox::Yes);
        for (const QMessageBox::StandardButton answer : answers)
            MessageBox::setNextAnswer(answer);
        _dialog->findChild<QPushButton*>(QStringLiteral("pushButtonSave"))->click();
        return shownTexts();
    }
    // As typing does (the test keyboard knows no Cyrillic keys).
    void retype(const QString& surname) {
        _dialog->findChild<QLineEdit*>(QStringLiteral("lineEditFio_1"))->setText(surname);
        _dialog->setEdited();
    }
    // The rest of a document's row, its subjects and its FRDO row, without their keys.
    QString heldText(qint64 id) {
        return scalar("SELECT concat_ws(' | ', d.addInfo, d.hideTotalCountInAdd, d.comment, "
                      "(SELECT jsonb_agg(to_jsonb(s) - 'detid' - 'profid' ORDER BY s.detId) FROM ProfDetails s "
                      "WHERE s.profId = d.profId), "
                      "(SELECT to_jsonb(f) - 'profid' FROM ProfFrdo f WHERE f.profId = d.profId)) "
                      "FROM ProfDocuments d WHERE d.profId = ?",
                      {id})
            .toString();
    }
    void giveDependents(qint64 id) {
        scalar("UPDATE ProfDocuments SET addInfo = 'Сверх программы', hideTotalCountInAdd = 1, comment = 'гр. 12' "
               "WHERE profId = ?",
               {id});
        scalar("INSERT INTO ProfDetails (profId, name, count, rate) VALUES (?, 'Черчение', 20, '4'), "
               "(?, 'Охрана труда', 10, '5')",
               {id, id});
        scalar("INSERT INTO ProfFrdo (profId, sexIsMale, snils, docNumber, studyCount, birthDateFrdo, frdo15) "
               "VALUES (?, 1, '112-233-445 95', '000101', 72, '1990-05-17', 'Сварщик')",
               {id});
    }
    // As the other program's list deletes a document: its dependent rows with it.
    void deleteAsOtherProgram(qint64 id) {
        for (const char* table : {"ProfDetails", "ProfFrdo", "ProfDocuments"})
            scalar(QStringLiteral("DELETE FROM %1 WHERE profId = ?").arg(table), {id});
    }
    // The dialog's own FRDO window, opened before anything is typed, saves a SNILS.
    void saveInFrdoWindow(const QString& snils) {
        _dialog->findChild<QPushButton*>(QStringLiteral("pushButtonFrdo"))->click();
        QPointer<FrdoDialog> frdo = _dialog->findChild<FrdoDialog*>();
        QVERIFY(frdo);
        waitUntilArmed(frdo);
        frdo->findChild<QLineEdit*>(QStringLiteral("lineEditSnils"))->setText(snils);
        frdo->setEdited();
        frdo->findChild<QPushButton*>(QStringLiteral("pushButtonSave"))->click();
        QVERIFY(!frdo->isEdited());
        frdo->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!frdo);
    }
    QString stored(qint64 id) { return scalar("SELECT fio1 FROM ProfDocuments WHERE profId = ?", {id}).toString(); }

private slots:
    void initTestCase() {
        QString error;
        _server = PgTestServer::shared(&error);
        QVERIFY2(_server, qPrintable(error));
        // The program's store comes up on a file of the test's own first; each case then points
        // its connection at a server registry (until the store can start on a server itself).
        QVERIFY(Database::instance()->isValid());
    }
    void cleanupTestCase() { Database::shutdown(); }

    // Each case on a registry of its own, the program's connection the default one.
    void init() {
        QString error;
        _database = _server->createRegistryAsProgram(&error);
        QVERIFY2(!_database.isEmpty(), qPrintable(error));
        QVERIFY2(_server->connect(clerkB, _database, &error).isOpen(), qPrintable(error));
        _id = scalar("INSERT INTO ProfDocuments (fio1, fio2, attNumber) VALUES ('Иванов', 'Иван', 'СВ 1') "
                     "RETURNING profId")
                  .toLongLong();
        MessageBox::clearShown();
        MessageBox::setAutoAnswer(QMessageBox::Cancel);
    }
    void cleanup() {
        delete _dialog.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        MessageBox::clearShown();
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
        QSqlDatabase::removeDatabase(clerkB);
        QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    }

    // Another program saved the document (its row or a subject) after the dialog read it: nothing
    // is written until the user chooses; "Отмена" keeps the typing, the other version shows what
    // differs, "Сохранить мою" writes and the next save goes without asking.
    void changedMeanwhile_data() {
        QTest::addColumn<QString>("byOther");
        QTest::addColumn<QString>("mine");
        QTest::addColumn<QString>("difference");
        QTest::newRow("row") << "UPDATE ProfDocuments SET fio1 = 'Петров' WHERE profId = ?"
                             << "Сидоров"
                             << "Фамилия: Петров / Сидоров";
        QTest::newRow("subject") << "INSERT INTO ProfDetails (profId, name) VALUES (?, 'Черчение')"
                                 << "Сидоров"
                                 << "Фамилия: Иванов / Сидоров";
        QTest::newRow("FRDO, fields alike") << "INSERT INTO ProfFrdo (profId) VALUES (?)"
                                            << "Иванов"
                                            << "изменены приложение или данные ФРДО";
    }
    void changedMeanwhile() {
        QFETCH(QString, byOther);
        QFETCH(QString, mine);
        QFETCH(QString, difference);
        openAndType(mine);
        PgTestServer::run(QSqlDatabase::database(clerkB), byOther, {_id});
        const QString theirs = stored(_id);
        QCOMPARE(save({QMessageBox::Cancel}), QStringList{changed});
        // The choices are named for what they do.
        QStringList labels;
        for (const auto& label : MessageBox::lastShown().labels)
            labels << label.second;
        QCOMPARE(labels, (QStringList{"Показать другую версию", "Сохранить мою", "Отмена"}));
        QCOMPARE(stored(_id), theirs);
        QCOMPARE(typed(), mine);
        QVERIFY(_dialog->isEdited());

        const QStringList texts = save({QMessageBox::Open, QMessageBox::Ok, QMessageBox::Save});
        QCOMPARE(texts.size(), 3);
        QVERIFY2(texts.value(1).contains(difference), qPrintable(texts.value(1)));
        QCOMPARE(texts.value(2), changed);
        QCOMPARE(stored(_id), mine);
        QVERIFY(!_dialog->isEdited());

        retype(QStringLiteral("Кузнецов"));
        QCOMPARE(save(), QStringList());
        QCOMPARE(stored(_id), QStringLiteral("Кузнецов"));
    }

    // Another program deleted the document: the typing stays, and on request it becomes a new one
    // with everything the dialog held: its other columns, appendix subjects and FRDO row, also
    // those its own FRDO window saved after it opened.
    void deletedMeanwhile_data() {
        QTest::addColumn<bool>("dependents");
        QTest::addColumn<QString>("ownFrdo");
        QTest::newRow("fields only") << false << "";
        QTest::newRow("appendix and FRDO data") << true << "";
        QTest::newRow("FRDO saved in its own window") << false << "11223344595";
    }
    void deletedMeanwhile() {
        QFETCH(bool, dependents);
        QFETCH(QString, ownFrdo);
        if (dependents)
            giveDependents(_id);
        const QString before = heldText(_id);
        _dialog = new DocumentEditDialog;
        _dialog->setId(_id);
        _dialog->show();
        waitUntilArmed(_dialog);
        if (!ownFrdo.isEmpty())
            saveInFrdoWindow(ownFrdo);
        retype(QStringLiteral("Сидоров"));
        deleteAsOtherProgram(_id);
        QCOMPARE(save({QMessageBox::Cancel}), QStringList{deleted});
        QCOMPARE(typed(), QStringLiteral("Сидоров"));
        QCOMPARE(_dialog->recordId(), _id);
        QCOMPARE(scalar("SELECT count(*) FROM ProfDocuments").toInt(), 0);

        QCOMPARE(save({QMessageBox::Save}), QStringList{deleted});
        const qint64 id = _dialog->recordId();
        QVERIFY(id > _id);
        QCOMPARE(stored(id), QStringLiteral("Сидоров"));
        QCOMPARE(scalar("SELECT fio2 FROM ProfDocuments").toString(), QStringLiteral("Иван"));
        QVERIFY(!_dialog->isEdited());
        if (ownFrdo.isEmpty())
            QCOMPARE(heldText(id), before);
        else
            QCOMPARE(scalar("SELECT snils FROM ProfFrdo WHERE profId = ?", {id}).toString(), ownFrdo);
        // One document, its rows with it.
        QCOMPARE(scalar("SELECT count(*) FROM ProfDetails WHERE profId <> ?", {id}).toInt(), 0);
        QCOMPARE(scalar("SELECT count(*) FROM ProfFrdo WHERE profId <> ?", {id}).toInt(), 0);
    }

    // A dependent row the server refuses on "Сохранить как новый": nothing of the new document
    // is left, the failure is said and the typing is kept.
    void dependentRefusedAsNew_data() {
        QTest::addColumn<QString>("table");
        QTest::newRow("subject") << "ProfDetails";
        QTest::newRow("FRDO row") << "ProfFrdo";
    }
    void dependentRefusedAsNew() {
        QFETCH(QString, table);
        giveDependents(_id);
        openAndType(QStringLiteral("Сидоров"));
        deleteAsOtherProgram(_id);
        PgTestServer::run(QSqlDatabase::database(clerkB),
                          "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ "
                          "BEGIN RAISE EXCEPTION 'запись запрещена'; END $$");
        PgTestServer::run(
            QSqlDatabase::database(clerkB),
            QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON %1 FOR EACH ROW EXECUTE FUNCTION refuse()")
                .arg(table));
        const QStringList texts = save({QMessageBox::Save});
        QCOMPARE(texts.size(), 2);
        QCOMPARE(texts[0], deleted);
        QVERIFY2(texts[1].startsWith(QStringLiteral("Не удалось сохранить документ.\n")), qPrintable(texts[1]));
        QVERIFY2(texts[1].contains(QStringLiteral("запись запрещена")), qPrintable(texts[1]));
        QCOMPARE(_dialog->recordId(), _id);
        QCOMPARE(typed(), QStringLiteral("Сидоров"));
        QVERIFY(_dialog->isEdited());
        for (const char* counted : {"ProfDocuments", "ProfDetails", "ProfFrdo"})
            QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM %1").arg(counted)).toInt(), 0);
    }

    // The other program saves the same number a moment after this dialog's check: the save waits
    // for it, then refuses with the designed message and writes nothing.
    void numberSavedMeanwhile() {
        openAndType(QStringLiteral("Сидоров"));
        _dialog->findChild<QComboBox*>(QStringLiteral("comboBoxAttNumber"))->setEditText(QStringLiteral("СВ 2"));
        const qint64 other = scalar("INSERT INTO ProfDocuments (fio1) VALUES ('Другой') RETURNING profId").toLongLong();
        QSemaphore holding;
        QString otherError;
        QThread* thread = QThread::create([&] {
            const QString name = QStringLiteral("otherProgramThread");
            {
                QSqlDatabase db = _server->connect(name, _database, &otherError);
                bool taken = false;
                const bool ok = db.transaction() &&
                                DocumentRecords::claimAttNumber(db, QStringLiteral("СВ 2"), other, &taken, &otherError);
                PgTestServer::run(db, "UPDATE ProfDocuments SET attNumber = 'СВ 2' WHERE profId = ?", {other});
                holding.release();
                QThread::msleep(500);
                if (!ok || taken || !db.commit())
                    otherError += QStringLiteral(" not saved");
                db.close();
            }
            QSqlDatabase::removeDatabase(name);
        });
        thread->start();
        QVERIFY(holding.tryAcquire(1, 10000));
        const QStringList texts = save();
        QVERIFY(thread->wait(10000));
        delete thread;
        QVERIFY2(otherError.isEmpty(), qPrintable(otherError));
        QCOMPARE(texts, QStringList{"Невозможно сохранить документ:\nНомер свидетельства не уникален!\n"});
        QCOMPARE(stored(_id), QStringLiteral("Иванов"));
        QVERIFY(_dialog->isEdited());
    }

    // The write after the question ("Сохранить мою", "Сохранить как новый") refused by the server:
    // the failure is said, the typing and the document as the other program left it are kept.
    void refusedAfterQuestion_data() {
        QTest::addColumn<QString>("byOther");
        QTest::addColumn<QString>("refused");
        QTest::addColumn<QString>("question");
        QTest::newRow("mine") << "UPDATE ProfDocuments SET fio1 = 'Петров' WHERE profId = ?"
                              << "UPDATE" << changed;
        QTest::newRow("as new") << "DELETE FROM ProfDocuments WHERE profId = ?"
                                << "INSERT" << deleted;
    }
    void refusedAfterQuestion() {
        QFETCH(QString, byOther);
        QFETCH(QString, refused);
        QFETCH(QString, question);
        PgTestServer::run(QSqlDatabase::database(clerkB),
                          "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                          "IF NEW.fio1 = 'Сидоров' OR TG_OP = 'INSERT' THEN RAISE EXCEPTION 'запись запрещена'; "
                          "END IF; RETURN NEW; END $$");
        PgTestServer::run(QSqlDatabase::database(clerkB),
                          QStringLiteral("CREATE TRIGGER refuse BEFORE %1 ON ProfDocuments FOR EACH ROW EXECUTE "
                                         "FUNCTION refuse()")
                              .arg(refused));
        openAndType(QStringLiteral("Сидоров"));
        PgTestServer::run(QSqlDatabase::database(clerkB), byOther, {_id});
        const QStringList texts = save({QMessageBox::Save});
        QCOMPARE(texts.size(), 2);
        QCOMPARE(texts[0], question);
        QVERIFY2(texts[1].startsWith(QStringLiteral("Не удалось сохранить документ.\n")), qPrintable(texts[1]));
        QVERIFY2(texts[1].contains(QStringLiteral("запись запрещена")), qPrintable(texts[1]));
        QCOMPARE(_dialog->recordId(), _id);
        QCOMPARE(typed(), QStringLiteral("Сидоров"));
        QVERIFY(_dialog->isEdited());
        QCOMPARE(scalar("SELECT coalesce(string_agg(fio1, ','), '') FROM ProfDocuments").toString(),
                 refused == QLatin1String("UPDATE") ? QStringLiteral("Петров") : QString());
    }

    // A write the server refuses is reported as such; nothing is said saved and nothing asked.
    void refusedWrite() {
        PgTestServer::run(QSqlDatabase::database(clerkB),
                          "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ "
                          "BEGIN RAISE EXCEPTION 'запись запрещена'; END $$");
        PgTestServer::run(
            QSqlDatabase::database(clerkB),
            "CREATE TRIGGER refuse BEFORE UPDATE ON ProfDocuments FOR EACH ROW EXECUTE FUNCTION refuse()");
        openAndType(QStringLiteral("Сидоров"));
        const QStringList texts = save();
        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts[0].startsWith(QStringLiteral("Не удалось сохранить документ.\n")), qPrintable(texts[0]));
        QVERIFY2(texts[0].contains(QStringLiteral("запись запрещена")), qPrintable(texts[0]));
        QCOMPARE(stored(_id), QStringLiteral("Иванов"));
        QVERIFY(_dialog->isEdited());
    }
};

ORVANE_TEST(TestDocumentConflicts)
#include "tst_documentconflicts.moc"
