#include "abstracteditdialog.h"
#include "armedprobe.h"
#include "guifixture.h"
#include "testregistry.h"

#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>

namespace {
// Reports a report type as the print dialog does.
class ChoiceDialog : public QDialog {
    Q_OBJECT
public:
    using QDialog::QDialog;
signals:
    void reportTypeSelected(ReportList::ReportType type, bool printBackground, bool showPreview);
};

// A record of one text, kept in memory: what the framework does around it is under test.
class TextDialog : public AbstractEditDialog {
    Q_OBJECT
public:
    explicit TextDialog(QWidget* parent = nullptr) : AbstractEditDialog(parent), edit(new QLineEdit(this)) {
        setWindowTitle(QStringLiteral("Запись"));
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(edit);
        edit->setText(QStringLiteral("из конструктора"));
    }
    void open(qint64 id) {
        setRecordId(id);
        loadRecord(id);
    }
    QLineEdit* edit;
    static inline QMap<qint64, QString> stored;
    int updates = 0;
    bool valid = true;
    QPointer<ChoiceDialog> printDialog;

protected:
    void loadRecord(qint64 id) override {
        if (stored.contains(id))
            edit->setText(stored.value(id));
    }
    bool updateRecord() override {
        ++updates;
        stored[recordId()] = edit->text();
        return true;
    }
    bool insertRecord() override {
        setRecordId(stored.isEmpty() ? 1 : stored.lastKey() + 1);
        return updateRecord();
    }
    bool checkForms() override {
        if (!valid)
            MessageBox::warning(this, QStringLiteral("Внимание!"), QStringLiteral("Неверно"));
        return valid;
    }
    QDialog* createPrintDialog() override { return printDialog = new ChoiceDialog(this); }
};

const QString question = QStringLiteral("Данные изменен.");
} // namespace

class TestAbstractEditDialog : public QObject {
    Q_OBJECT

    // A dialog on record 1 ("сохранено"), armed and shown.
    static TextDialog* openDialog(GuiFixture& f) {
        TextDialog::stored = {{1, QStringLiteral("сохранено")}};
        auto* dialog = f.build<TextDialog>();
        dialog->open(1);
        waitUntilArmed(dialog); // change tracking is armed
        return dialog;
    }

private slots:
    void closingAsks_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("asks");
        QTest::newRow("nothing typed") << QString() << false;
        QTest::newRow("typed") << QStringLiteral("x") << true;
        QTest::newRow("typed and cleared") << QStringLiteral("x\b") << true;
    }

    // Values of the constructor and of loadRecord are not edits; typing is, even when undone.
    void closingAsks() {
        QFETCH(QString, typed);
        QFETCH(bool, asks);
        GuiFixture f;
        QPointer<TextDialog> dialog = openDialog(f);
        QCOMPARE(dialog->edit->text(), QStringLiteral("сохранено"));
        for (const QChar c : typed)
            QTest::keyClick(dialog->edit, c == '\b' ? Qt::Key_Backspace : Qt::Key_X);
        QCOMPARE(dialog->isEdited(), asks);
        if (asks)
            f.answerNextBox(QMessageBox::Cancel);
        dialog->close();
        QCOMPARE(MessageBox::shown().size(), asks ? 1 : 0);
        if (asks) {
            QCOMPARE(MessageBox::lastShown().text, question);
            QCOMPARE(MessageBox::lastShown().informativeText, QStringLiteral("Сохранить изменения?"));
            QCOMPARE(MessageBox::lastShown().defaultButton, QMessageBox::Save);
            QVERIFY(dialog && dialog->isVisible());
        } else {
            QTRY_VERIFY(!dialog);
        }
        f.adopt<QWidget>(nullptr);
    }

    void escapeAndCloseButton() {
        GuiFixture f;
        QPointer<TextDialog> dialog = openDialog(f);
        QTest::keyClick(dialog->edit, Qt::Key_X);
        QTest::keyClick(dialog, Qt::Key_Escape);
        QVERIFY(dialog->isVisible() && MessageBox::shown().isEmpty());
        f.answerNextBox(QMessageBox::Cancel);
        QCloseEvent event;
        QApplication::sendEvent(dialog, &event);
        QVERIFY(!event.isAccepted());
        QCOMPARE(MessageBox::shown().size(), 1);
        QVERIFY(dialog->isVisible());
    }

    void saving_data() {
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("answer");
        QTest::newRow("refused by the check") << false << int(QMessageBox::Save);
        QTest::newRow("saved from the question") << true << int(QMessageBox::Save);
        QTest::newRow("discarded") << true << int(QMessageBox::Discard);
    }

    // The title carries one mark; a refused save keeps everything; Discard shows the stored record.
    void saving() {
        QFETCH(bool, valid);
        QFETCH(int, answer);
        GuiFixture f;
        QPointer<TextDialog> dialog = openDialog(f);
        dialog->valid = valid;
        QSignalSpy updated(dialog.data(), &AbstractEditDialog::documentsUpdated);
        QTest::keyClick(dialog->edit, Qt::Key_X);
        QTest::keyClick(dialog->edit, Qt::Key_Y);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Запись *"));
        f.answerNextBox(MessageBox::Button(answer));
        if (!valid)
            f.answerNextBox(QMessageBox::Ok);
        QCOMPARE(dialog->maybeSave(), valid);
        const bool saved = valid && answer == QMessageBox::Save;
        QCOMPARE(updated.count(), saved ? 1 : 0);
        QCOMPARE(dialog->isEdited(), !valid);
        QCOMPARE(dialog->windowTitle(), valid ? QStringLiteral("Запись") : QStringLiteral("Запись *"));
        QCOMPARE(dialog->edit->text(),
                 answer == QMessageBox::Discard ? QStringLiteral("сохранено") : QStringLiteral("сохраненоxy"));
        QCOMPARE(dialog->save(), valid); // a second save writes nothing more
        QCOMPARE(dialog->updates, saved ? 1 : 0);
        f.adopt<QWidget>(nullptr);
    }

    // The print request carries the record id as it is: -1 for a record never saved (answered
    // Discard), and ids beyond 32 bits whole.
    void printRequestCarriesId_data() {
        QTest::addColumn<qint64>("id");
        QTest::newRow("never saved") << qint64(-1);
        QTest::newRow("beyond 32 bits") << Q_INT64_C(4611686018427387904);
    }

    void printRequestCarriesId() {
        QFETCH(qint64, id);
        GuiFixture f;
        TextDialog::stored = {{id, QStringLiteral("запись")}};
        auto* dialog = f.build<TextDialog>();
        dialog->open(id);
        QTRY_VERIFY(isArmed(dialog)); // change tracking is armed
        QTest::keyClick(dialog->edit, Qt::Key_X);
        dialog->setEdited();
        QSignalSpy requests(dialog, &AbstractEditDialog::documentPrint);
        QSignalSpy pdfs(dialog, &AbstractEditDialog::documentsSavePdf);
        f.answerNextBox(QMessageBox::Discard);
        dialog->print();
        QVERIFY(dialog->printDialog);
        emit dialog->printDialog->reportTypeSelected(ReportList::CertificateAny, true, false);
        QMetaObject::invokeMethod(dialog, "requestPdf", Q_ARG(ReportList::ReportType, ReportList::CertificateAny),
                                  Q_ARG(bool, false));
        QCOMPARE(requests.count(), 1);
        QCOMPARE(requests.first().at(1).toLongLong(), id);
        QCOMPARE(requests.first().at(2).toBool(), true);
        QCOMPARE(pdfs.count(), 1);
        QCOMPARE(pdfs.first().at(1).value<QList<qint64>>(), QList<qint64>{id});
        f.adopt<QWidget>(nullptr);
    }
};

ORVANE_TEST(TestAbstractEditDialog)
#include "tst_abstracteditdialog.moc"
