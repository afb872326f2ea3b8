#include "additionaleditdialog.h"
#include "armedprobe.h"
#include "documenteditdialog.h"
#include "frdodialog.h"
#include "messagebox.h"
#include "testdatabase.h"
#include "testregistry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedPointer>
#include <QSqlQuery>
#include <QtTest>

namespace {
// "kind table.field:new" of each entry, oldest first.
QStringList entries() {
    QStringList list;
    QSqlQuery query = runSql("SELECT profId, kind, changes FROM DocumentHistory ORDER BY historyId");
    while (query.next()) {
        QStringList fields;
        for (const QJsonValue& change : QJsonDocument::fromJson(query.value(2).toByteArray()).array()) {
            const QJsonObject c = change.toObject();
            fields << c["table"].toString() + "." + c["field"].toString() + ":" + c["new"].toVariant().toString();
        }
        list << query.value(0).toString() + " " + query.value(1).toString() + " " + fields.join(", ");
    }
    return list;
}
} // namespace

class TestDialogHistory : public QObject {
    Q_OBJECT

private slots:
    void saveRecordsTheChange_data() {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("field"); // the line or text edit typed into
        QTest::addColumn<QString>("entry");
        QTest::newRow("document") << "document"
                                  << "lineEditRegNumber"
                                  << "ProfDocuments.regNumber:Р-15";
        QTest::newRow("appendix text") << "appendix"
                                       << "plainTextEdit"
                                       << "ProfDocuments.addInfo:Р-15";
        QTest::newRow("FRDO") << "frdo"
                              << "lineEditDocNameOrig"
                              << "ProfFrdo.docNameOrig:Р-15";
    }

    // A dialog's save leaves one entry with what it changed; saved again unchanged, none.
    void saveRecordsTheChange() {
        QFETCH(QString, dialog);
        QFETCH(QString, field);
        QFETCH(QString, entry);
        TestDatabase t;
        // "Сохранить всё равно?" for what the certificate still lacks.
        MessageBox::setAutoAnswer(QMessageBox::Yes);
        QVERIFY(t.open());
        runSql("INSERT INTO ProfDocuments (profId, fio1, fio2, qual, addInfo, hideTotalCountInAdd) "
               "VALUES (7, 'Иванов', 'Иван', 'слесарь', 'старое', 0)");
        runSql("INSERT INTO ProfFrdo (profId, DocNameOrig) VALUES (7, 'старый')");
        QScopedPointer<AbstractEditDialog> edit;
        if (dialog == "document") {
            auto* d = new DocumentEditDialog;
            d->setId(7);
            edit.reset(d);
        } else if (dialog == "appendix") {
            auto* d = new AdditionalEditDialog;
            d->setId(7);
            edit.reset(d);
        } else {
            auto* d = new FrdoDialog;
            d->setDocId(7);
            edit.reset(d);
        }
        edit->show();
        waitUntilArmed(edit.data());
        if (auto* line = edit->findChild<QLineEdit*>(field))
            line->setText("Р-15");
        else
            edit->findChild<QPlainTextEdit*>(field)->setPlainText("Р-15");
        edit->setEdited();
        QVERIFY(edit->save());
        const QStringList written = entries();
        QCOMPARE(written.size(), 1);
        QVERIFY2(written.first().startsWith("7 edit ") && written.first().contains(entry), qPrintable(written.first()));
        edit->setEdited();
        QVERIFY(edit->save());
        QCOMPARE(entries(), written);
    }

    void cleanup() { MessageBox::setAutoAnswer(QMessageBox::NoButton); }
};

ORVANE_TEST(TestDialogHistory)

#include "tst_dialoghistory.moc"
