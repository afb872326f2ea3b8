#include "additionaleditdialog.h"
#include "armedprobe.h"
#include "documenteditdialog.h"
#include "frdodialog.h"
#include "messagebox.h"
#include "scratchfilesystem.h"
#include "testdatabase.h"
#include "testregistry.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSqlQuery>
#include <QtTest>

namespace {
const qint64 docId = 7;
const qint64 bigId = Q_INT64_C(4611686018427387904); // 2^62

// A registry on a small file system of its own, holding one document with a subject and FRDO data,
// and one edit dialog on it.
struct Registry {
    explicit Registry(qint64 id = docId) : disk(t.env().defaultDataFolder(), 16 << 20), id(id) {
        MessageBox::clearShown();
        MessageBox::setAutoAnswer(QMessageBox::Cancel);
        t.open();
        runSql(QStringLiteral("INSERT INTO ProfDocuments (profId, fio1, qual, addInfo) VALUES (1, 'Первый', 'токарь', "
                              "'первое');"));
        runSql(QStringLiteral("INSERT INTO ProfDocuments (profId, fio1, fio2, fio3, qual, addInfo, "
                              "hideTotalCountInAdd) VALUES (?, 'Иванов', 'Иван', 'Иванович', 'слесарь', 'старое', 0);"),
               {QVariant(id)});
        runSql(QStringLiteral("INSERT INTO ProfDetails (profId, name, count) VALUES (?, 'Черчение', 10);"),
               {QVariant(id)});
        runSql(QStringLiteral("INSERT INTO ProfFrdo (profId, RegNumberFrdo, DocNameOrig) VALUES (?, '1', 'старый');"),
               {QVariant(id)});
        // The file as seeded, for comparison once the program has let go of it.
        t.close();
        seeded = t.env().root() + QStringLiteral("/seeded.db");
        QFile::copy(t.filePath(), seeded);
        t.open();
    }
    ~Registry() {
        delete dialog.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        t.close(); // before the file system goes
        MessageBox::clearShown();
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
    }

    // Opens the dialog of that kind on the document, armed; its save headline.
    QString open(const QString& kind) {
        if (kind == QLatin1String("document")) {
            auto* d = new DocumentEditDialog;
            d->setId(id);
            dialog = d;
        } else if (kind == QLatin1String("appendix")) {
            auto* d = new AdditionalEditDialog;
            d->setId(id);
            dialog = d;
        } else {
            auto* d = new FrdoDialog;
            d->setDocId(id);
            dialog = d;
        }
        dialog->show();
        waitUntilArmed(dialog); // change tracking is armed
        return kind == QLatin1String("document") ? QStringLiteral("Не удалось сохранить документ.")
               : kind == QLatin1String("appendix") ? QStringLiteral("Не удалось сохранить приложение к свидетельству.")
                                                   : QStringLiteral("Не удалось сохранить данные ФРДО.");
    }
    // Types a text large enough to need new pages in the file; the column it goes to.
    QString typeLarge(const QString& kind, const QString& text) {
        if (kind == QLatin1String("frdo")) {
            // A line edit takes 32767 characters; several of them make the text large.
            for (const char* name : {"lineEditDocNameOrig", "lineEditFio1orig", "lineEditFio2orig", "lineEditFio3orig",
                                     "lineEditDocSerial", "lineEditDocNumber", "lineEditFrdo21"})
                dialog->findChild<QLineEdit*>(QLatin1String(name))->setText(text.left(30000));
            dialog->setEdited();
            return QStringLiteral("ProfFrdo.DocNameOrig");
        }
        const char* edit = kind == QLatin1String("document") ? "plainTextEditQual" : "plainTextEdit";
        dialog->findChild<QPlainTextEdit*>(QLatin1String(edit))->setPlainText(text);
        // Marked here too: on a busy machine the dialog may not have begun to watch its fields yet.
        dialog->setEdited();
        return kind == QLatin1String("document") ? QStringLiteral("ProfDocuments.qual")
                                                 : QStringLiteral("ProfDocuments.addInfo");
    }
    QString typed(const QString& kind) const {
        if (kind == QLatin1String("frdo"))
            return dialog->findChild<QLineEdit*>(QStringLiteral("lineEditDocNameOrig"))->text();
        const char* edit = kind == QLatin1String("document") ? "plainTextEditQual" : "plainTextEdit";
        return dialog->findChild<QPlainTextEdit*>(QLatin1String(edit))->toPlainText();
    }
    void clickSave() { dialog->findChild<QPushButton*>(QStringLiteral("pushButtonSave"))->click(); }

    TestDatabase t;
    ScratchFileSystem disk;
    qint64 id;
    QString seeded;
    QPointer<AbstractEditDialog> dialog;
};

const QStringList tables = {"ProfDocuments", "ProfDetails", "ProfFrdo"};

// Every row of the three tables, each value with its SQLite type, but `except` (table.column, or
// table.* for a whole table) and the edit date, which every save sets.
QStringList dump(const QString& path, const QString& except) {
    QStringList rows;
    for (const QString& table : tables) {
        if (except == table + QStringLiteral(".*"))
            continue;
        const QString columns = queryFile(path, QStringLiteral("SELECT group_concat('quote(' || name || ')', ' || "
                                                               "''|'' || ') FROM pragma_table_info('%1') WHERE "
                                                               "'%1.' || name NOT IN ('%2', 'ProfDocuments.editDate');")
                                                    .arg(table, except))
                                    .value(0)
                                    .value(0)
                                    .toString();
        for (const QVariantList& row :
             queryFile(path, QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid;").arg(columns, table)))
            rows << table + QLatin1Char(' ') + row.value(0).toString();
    }
    return rows;
}

QString fileValue(const QString& path, const QString& column, qint64 id) {
    const QStringList parts = column.split(QLatin1Char('.'));
    return queryFile(path, QStringLiteral("SELECT %1 FROM %2 WHERE profId = %3;").arg(parts[1], parts[0]).arg(id))
        .value(0)
        .value(0)
        .toString();
}
} // namespace

class TestEditDialogWrites : public QObject {
    Q_OBJECT

private slots:
    void failedSaveKeepsTyping_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("reason");
        for (const char* kind : {"document", "appendix", "frdo"}) {
            QTest::addRow("%s, trigger", kind) << kind << "trigger"
                                               << "refused";
            QTest::addRow("%s, query_only", kind) << kind << "query_only"
                                                  << "attempt to write a readonly database";
            QTest::addRow("%s, full disk", kind) << kind << "full disk"
                                                 << "database or disk is full";
        }
    }

    // A refused save keeps the form as typed, marked, says why, and leaves nothing of itself in the
    // file; once the cause is gone the same dialog saves, in the transaction it still has.
    void failedSaveKeepsTyping() {
        QFETCH(QString, kind);
        QFETCH(QString, failure);
        QFETCH(QString, reason);
        Registry r;
        if (failure == QLatin1String("full disk") && !r.disk.isMounted())
            QSKIP("no small file system to fill here");
        const QString headline = r.open(kind);
        const QString text = QStringLiteral("очень длинная квалификация ").repeated(12000);
        const QString column = r.typeLarge(kind, text);
        const QString path = r.t.filePath();
        const QString table =
            kind == QLatin1String("frdo") ? QStringLiteral("ProfFrdo") : QStringLiteral("ProfDocuments");
        if (failure == QLatin1String("trigger"))
            runSql(
                QStringLiteral("CREATE TRIGGER refuse BEFORE UPDATE ON %1 BEGIN SELECT RAISE(ABORT, 'refused'); END;")
                    .arg(table));
        else if (failure == QLatin1String("query_only"))
            runSql(QStringLiteral("PRAGMA query_only = 1;"));
        else
            QVERIFY(r.disk.fill(0));

        QVERIFY(!r.dialog->save());
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Ошибка"));
        QCOMPARE(MessageBox::lastShown().icon, QMessageBox::Critical);
        QCOMPARE(MessageBox::lastShown().text, headline + QLatin1Char('\n') + reason);
        QVERIFY(r.dialog->isEdited());
        QVERIFY(r.dialog->windowTitle().endsWith(QStringLiteral(" *")));
        QCOMPARE(r.typed(kind).left(30000), text.left(30000));
        QCOMPARE(r.dialog->recordId(), docId);
        // Closing asks again, and a Save that fails again keeps the dialog open.
        MessageBox::clearShown();
        MessageBox::setNextAnswer(QMessageBox::Save);
        r.dialog->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(r.dialog && r.dialog->isVisible());
        QCOMPARE(MessageBox::shown().size(), 2);

        if (failure == QLatin1String("trigger"))
            runSql(QStringLiteral("DROP TRIGGER refuse;"));
        else if (failure == QLatin1String("query_only"))
            runSql(QStringLiteral("PRAGMA query_only = 0;"));
        else
            QVERIFY(QFile::remove(r.disk.path() + QStringLiteral("/filler")));
        r.clickSave();
        QVERIFY(!r.dialog->isEdited());
        QCOMPARE(MessageBox::shown().size(), 2);
        delete r.dialog.data();
        r.t.close();

        // The retry wrote the typed text and nothing that the failed attempts had begun.
        QCOMPARE(fileValue(path, column, docId).left(30000), text.left(30000));
        // The FRDO dialog writes its whole row from the form.
        const QString unchecked = kind == QLatin1String("frdo") ? QStringLiteral("ProfFrdo.*") : column;
        const QStringList expected = dump(r.seeded, unchecked);
        QCOMPARE(dump(path, unchecked), expected);
    }

    void hugeId_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("document") << "document";
        QTest::newRow("appendix") << "appendix";
        QTest::newRow("frdo") << "frdo";
    }

    // A document id beyond 32 bits opens and saves in every dialog; document 1 stays as it was, and
    // a new document gets a row of its own.
    void hugeId() {
        QFETCH(QString, kind);
        Registry r(bigId);
        r.open(kind);
        QCOMPARE(r.dialog->recordId(), bigId);
        QCOMPARE(r.typed(kind), kind == QLatin1String("document")   ? QStringLiteral("слесарь")
                                : kind == QLatin1String("appendix") ? QStringLiteral("старое")
                                                                    : QStringLiteral("старый"));
        const QString column = r.typeLarge(kind, QStringLiteral("новое"));
        QVERIFY(r.dialog->save());
        const QString table = column.section(QLatin1Char('.'), 0, 0);
        const QString name = column.section(QLatin1Char('.'), 1);
        QSqlQuery q = runSql(QStringLiteral("SELECT %1 FROM %2 WHERE profId = ?;").arg(name, table), {QVariant(bigId)});
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("новое"));
        if (kind == QLatin1String("document")) {
            auto* created = new DocumentEditDialog;
            QPointer<AbstractEditDialog> guard(created);
            created->setId(-1);
            created->show();
            QTRY_VERIFY(isArmed(created)); // change tracking is armed
            created->findChild<QLineEdit*>(QStringLiteral("lineEditFio_1"))->setText(QStringLiteral("Новый"));
            created->setEdited();
            // The new document has no name yet: the certificate check asks before it saves.
            if (!created->findChild<QLabel*>(QStringLiteral("labelCheckStatus"))->text().isEmpty())
                MessageBox::setNextAnswer(QMessageBox::Yes);
            QVERIFY(created->save());
            QCOMPARE(created->recordId(), bigId + 1);
            delete guard.data();
            QSqlQuery added =
                runSql(QStringLiteral("SELECT fio1 FROM ProfDocuments WHERE profId = ?;"), {QVariant(bigId + 1)});
            QVERIFY(added.next());
            QCOMPARE(added.value(0).toString(), QStringLiteral("Новый"));
        }
        QSqlQuery first = runSql(QStringLiteral("SELECT fio1, qual, addInfo FROM ProfDocuments WHERE profId = 1;"));
        QVERIFY(first.next());
        QCOMPARE(QStringList({first.value(0).toString(), first.value(1).toString(), first.value(2).toString()}),
                 QStringList({"Первый", "токарь", "первое"}));
        QSqlQuery count =
            runSql(QStringLiteral("SELECT COUNT(*) FROM ProfDetails WHERE profId = ?;"), {QVariant(bigId)});
        QVERIFY(count.next());
        QCOMPARE(count.value(0).toInt(), 1);
    }
};

ORVANE_TEST(TestEditDialogWrites)
#include "tst_editdialogwrites.moc"
