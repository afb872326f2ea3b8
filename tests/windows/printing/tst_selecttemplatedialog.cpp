#include "database.h"
#include "documentstable.h"
#include "guifixture.h"
#include "selecttemplatedialog.h"
#include "testregistry.h"

#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QtTest>
#include <memory>

namespace {
const QStringList templateButtons = {QStringLiteral("pushButtonEditTempl"), QStringLiteral("pushButtonCopyTempl"),
                                     QStringLiteral("pushButtonDeleteTempl"),
                                     QStringLiteral("pushButtonCreateWithTemplate")};

// Two templates (3 "Сварщик", 5 "Токарь" with two subjects and a register row), an ordinary
// document 9 the list must not show, and the dialog open over them.
class Templates {
public:
    explicit Templates(bool withList = false) {
        f.db()->execSql(QStringLiteral("INSERT INTO ProfDocuments (profId, fio1, isTemplate) VALUES "
                                       "(3, 'Сварщик', 1), (5, 'Токарь', 1), (9, 'Иванов', 0);"));
        f.db()->execSql(
            QStringLiteral("INSERT INTO ProfDetails (profId, name, count) VALUES (5, 'А', 1), (5, 'Б', 2);"));
        f.db()->execSql(QStringLiteral("INSERT INTO ProfFrdo (profId, studyPeriod) VALUES (5, '1 год');"));
        if (withList)
            table.reset(new DocumentsTable);
        dialog = f.build<SelectTemplateDialog>(nullptr);
        dialog->show();
    }
    template <typename T> T* w(const QString& name) { return dialog->findChild<T*>(name); }
    QListWidget* list() { return w<QListWidget>(QStringLiteral("listWidget")); }
    void click(const QString& name) { QTest::mouseClick(w<QPushButton>(name), Qt::LeftButton); }
    int count(const QString& sql) {
        QSqlQuery q = f.db()->execSql(sql);
        return q.next() ? q.value(0).toInt() : -1;
    }
    bool buttonsEnabled(bool enabled) {
        for (const QString& name : templateButtons)
            if (w<QPushButton>(name)->isEnabled() != enabled)
                return false;
        return true;
    }
    bool closed() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return dialog.isNull();
    }

    GuiFixture f;
    std::unique_ptr<DocumentsTable> table;
    QPointer<SelectTemplateDialog> dialog;
};
} // namespace

class TestSelectTemplateDialog : public QObject {
    Q_OBJECT

private slots:
    void requests_data() {
        QTest::addColumn<QString>("button"); // empty: double click on the row
        QTest::addColumn<int>("row");
        QTest::addColumn<QByteArray>("signal");
        QTest::addColumn<QVariantList>("arguments");
        QTest::newRow("empty document") << "pushButtonCreateEmpty" << -1 << QByteArray(SIGNAL(sqlIdSelected(qint64)))
                                        << QVariantList{0};
        QTest::newRow("from template") << "pushButtonCreateWithTemplate" << 1
                                       << QByteArray(SIGNAL(sqlIdSelected(qint64))) << QVariantList{5};
        QTest::newRow("double click") << "" << 0 << QByteArray(SIGNAL(sqlIdSelected(qint64))) << QVariantList{3};
        QTest::newRow("new template") << "pushButtonNewTempl" << -1 << QByteArray(SIGNAL(newTemplate()))
                                      << QVariantList{};
        QTest::newRow("edit template") << "pushButtonEditTempl" << 0 << QByteArray(SIGNAL(editTemplate(qint64)))
                                       << QVariantList{3};
    }
    void requests() {
        QFETCH(QString, button);
        QFETCH(int, row);
        QFETCH(QByteArray, signal);
        QFETCH(QVariantList, arguments);
        Templates t;
        QCOMPARE(t.list()->count(), 2);
        QSignalSpy spy(t.dialog.data(), signal.constData());
        QSignalSpy selected(t.dialog.data(), SIGNAL(sqlIdSelected(qint64)));
        t.list()->setCurrentRow(row);
        if (button.isEmpty()) {
            QListWidget* list = t.list();
            const QPoint at = list->visualItemRect(list->item(row)).center();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        } else {
            t.click(button);
        }
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.first(), arguments);
        if (signal != QByteArray(SIGNAL(sqlIdSelected(qint64))))
            QCOMPARE(selected.count(), 0);
        QVERIFY(t.closed());
    }

    void copy_data() {
        QTest::addColumn<bool>("withList");
        QTest::newRow("through the list") << true;
        QTest::newRow("without a list") << false;
    }
    void copy() {
        QFETCH(bool, withList);
        Templates t(withList);
        t.list()->setCurrentRow(1);
        t.click(QStringLiteral("pushButtonCopyTempl"));
        QVERIFY(!t.closed());
        QCOMPARE(t.list()->count(), 3);
        QCOMPARE(t.list()->currentRow(), 2);
        QCOMPARE(t.list()->currentItem()->text(), QStringLiteral("КОПИЯ Токарь"));
        const qint64 copyId = t.list()->currentItem()->data(Qt::UserRole).toLongLong();
        QVERIFY(copyId != 5 && copyId > 0);
        QCOMPARE(t.count(QStringLiteral("SELECT COUNT(*) FROM ProfDocuments WHERE fio1='КОПИЯ Токарь' AND "
                                        "isTemplate=1 AND profId=%1;")
                             .arg(copyId)),
                 1);
        QCOMPARE(t.count(QStringLiteral("SELECT COUNT(*) FROM ProfDetails WHERE profId=%1;").arg(copyId)), 2);
        QCOMPARE(
            t.count(
                QStringLiteral("SELECT COUNT(*) FROM ProfFrdo WHERE profId=%1 AND studyPeriod='1 год';").arg(copyId)),
            1);
        QVERIFY(t.buttonsEnabled(true));
    }

    void remove_data() {
        QTest::addColumn<bool>("withList");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("left"); // rows of template 5 left in each of the three tables
        QTest::newRow("through the list") << true << int(QMessageBox::Ok) << 0;
        QTest::newRow("without a list") << false << int(QMessageBox::Ok) << 0;
        QTest::newRow("cancelled") << false << int(QMessageBox::Cancel) << 1;
    }
    void remove() {
        QFETCH(bool, withList);
        QFETCH(int, answer);
        QFETCH(int, left);
        Templates t(withList);
        t.list()->setCurrentRow(1);
        MessageBox::clearShown();
        MessageBox::setNextAnswer(MessageBox::Button(answer));
        t.click(QStringLiteral("pushButtonDeleteTempl"));
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Внимание!"));
        QCOMPARE(MessageBox::lastShown().text, QStringLiteral("Вы уверены, что хотите удалить шаблон \"Токарь\"?"));
        QVERIFY(!t.closed());
        QCOMPARE(t.count(QStringLiteral("SELECT COUNT(*) FROM ProfDocuments WHERE profId=5;")), left);
        QCOMPARE(t.count(QStringLiteral("SELECT COUNT(*) FROM ProfDetails WHERE profId=5;")), 2 * left);
        QCOMPARE(t.count(QStringLiteral("SELECT COUNT(*) FROM ProfFrdo WHERE profId=5;")), left);
        QCOMPARE(t.count(QStringLiteral("SELECT COUNT(*) FROM ProfDocuments WHERE profId IN (3, 9);")), 2);
        QCOMPARE(t.list()->count(), 1 + left);
        QVERIFY(t.buttonsEnabled(left == 1));
    }

    // A template id beyond 32 bits is copied and chosen as itself.
    void wideTemplateId() {
        Templates t(true);
        const qint64 wide = qint64(1) << 62;
        t.f.db()->execSql(QStringLiteral("UPDATE ProfDocuments SET profId=%1 WHERE profId=3;").arg(wide));
        t.dialog->fillListWidget();
        const auto selectId = [&t](qint64 id) {
            for (int row = 0; row < t.list()->count(); ++row)
                if (t.list()->item(row)->data(Qt::UserRole).toLongLong() == id)
                    t.list()->setCurrentRow(row);
        };
        selectId(wide);
        t.click(QStringLiteral("pushButtonCopyTempl"));
        QCOMPARE(t.list()->currentItem()->data(Qt::UserRole).toLongLong(), wide + 1);
        QCOMPARE(t.list()->currentItem()->text(), QStringLiteral("КОПИЯ Сварщик"));
        QSignalSpy selected(t.dialog.data(), SIGNAL(sqlIdSelected(qint64)));
        selectId(wide);
        t.click(QStringLiteral("pushButtonCreateWithTemplate"));
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.first().first().toLongLong(), wide);
    }

    // A copy or a deletion that the database refuses halfway leaves the templates as they were.
    void refusedWrites_data() {
        QTest::addColumn<bool>("withList");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<QString>("message");
        const QString refuse = QStringLiteral(" BEGIN SELECT RAISE(ABORT, 'отказано'); END");
        const QString copy = QStringLiteral("Не удалось создать копию шаблона.\n");
        const QString remove = QStringLiteral("Не удалось удалить шаблон.\n");
        for (bool withList : {true, false}) {
            const char* how = withList ? "through the list" : "without a list";
            QTest::addRow("copy %s", how) << withList << "pushButtonCopyTempl"
                                          << "BEFORE INSERT ON ProfFrdo" + refuse << copy;
            QTest::addRow("delete %s", how) << withList << "pushButtonDeleteTempl"
                                            << "BEFORE DELETE ON ProfDocuments" + refuse << remove;
        }
    }
    void refusedWrites() {
        QFETCH(bool, withList);
        QFETCH(QString, button);
        QFETCH(QString, trigger);
        QFETCH(QString, message);
        Templates t(withList);
        t.f.db()->execSql(QStringLiteral("CREATE TRIGGER refuse ") + trigger);
        const auto state = [&t] {
            return t.count(QStringLiteral("SELECT COUNT(*) FROM ProfDocuments")) * 100 +
                   t.count(QStringLiteral("SELECT COUNT(*) FROM ProfDetails")) * 10 +
                   t.count(QStringLiteral("SELECT COUNT(*) FROM ProfFrdo"));
        };
        QCOMPARE(state(), 321);
        t.list()->setCurrentRow(1);
        MessageBox::clearShown();
        MessageBox::setNextAnswer(QMessageBox::Ok);
        t.click(button);
        QCOMPARE(state(), 321);
        QCOMPARE(t.list()->count(), 2);
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Ошибка"));
        QVERIFY(MessageBox::lastShown().text.startsWith(message));
        QVERIFY(MessageBox::lastShown().text.contains(QStringLiteral("отказано")));
    }

    void enabling_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("none") << -1 << false;
        QTest::newRow("first") << 0 << true;
        QTest::newRow("second") << 1 << true;
    }
    void enabling() {
        QFETCH(int, row);
        QFETCH(bool, enabled);
        Templates t;
        QVERIFY(t.buttonsEnabled(false)); // nothing is current on opening
        t.list()->setCurrentRow(1 - row); // a different state first, so the change is real
        t.list()->setCurrentRow(row);
        QVERIFY(t.buttonsEnabled(enabled));
        QVERIFY(t.w<QPushButton>(QStringLiteral("pushButtonCreateEmpty"))->isEnabled());
        QVERIFY(t.w<QPushButton>(QStringLiteral("pushButtonNewTempl"))->isEnabled());
    }
};

ORVANE_TEST(TestSelectTemplateDialog)
#include "tst_selecttemplatedialog.moc"
