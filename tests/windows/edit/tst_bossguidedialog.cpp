#include "guifixture.h"
#include "bossguidedialog.h"
#include "testregistry.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTableView>
#include <QtTest>

namespace {
// A directory of one kind over a registry holding chairmen and secretaries.
struct Directory {
    Directory(int kind, const QStringList& chairmen, const QStringList& secretaries) {
        for (const QString& name : chairmen)
            insertRow(QStringLiteral("Bosses"), {{"bossType", 1}, {"name", name}});
        for (const QString& name : secretaries)
            insertRow(QStringLiteral("Bosses"), {{"bossType", 2}, {"name", name}});
        dialog = f.build<BossGuideDialog>(kind);
        view = w<QTableView>("tableView");
    }
    ~Directory() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    template <typename T> T* w(const char* name) { return dialog->findChild<T*>(QLatin1String(name)); }
    void click(const char* name) { QTest::mouseClick(w<QPushButton>(name), Qt::LeftButton); }
    void add(const QString& name) {
        w<QLineEdit>("lineEdit")->setText(name);
        click("pushButtonAdd");
    }
    QStringList shown() const {
        QStringList names;
        for (int row = 0; row < view->model()->rowCount(); ++row)
            names << view->model()->index(row, 2).data().toString();
        return names;
    }
    QPoint cellCentre(int row) const { return view->visualRect(view->model()->index(row, 2)).center(); }
    bool deleteEnabled() { return w<QPushButton>("pushButtonDelete")->isEnabled(); }
    bool closed() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return dialog.isNull();
    }

    GuiFixture f;
    QPointer<BossGuideDialog> dialog;
    QTableView* view = nullptr;
};

// The stored names of one kind, in the order they were added.
QStringList stored(int kind) {
    QStringList names;
    QSqlQuery q = runSql(QStringLiteral("SELECT name FROM Bosses WHERE bossType = ? ORDER BY bossId;"), {kind});
    while (q.next())
        names << q.value(0).toString();
    return names;
}

const QStringList chairmen = {"Орлов О. О.", "Соколов С. С."};
const QStringList secretaries = {"Лебедева Л. Л."};
} // namespace

class TestBossGuideDialog : public QObject {
    Q_OBJECT

private slots:
    void kinds_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("chairmen") << 1 << "Справочник председателей"
                                  << "Добавление председателя" << chairmen;
        QTest::newRow("secretaries") << 2 << "Справочник секретарей"
                                     << "Добавление секретаря" << secretaries;
    }
    void kinds() {
        QFETCH(int, kind);
        QFETCH(QString, title);
        QFETCH(QString, group);
        QFETCH(QStringList, names);
        Directory d(kind, chairmen, secretaries);
        QCOMPARE(d.dialog->windowTitle(), title);
        QCOMPARE(d.w<QGroupBox>("groupBox")->title(), group);
        QCOMPARE(d.shown(), names);
        QVERIFY(d.view->isColumnHidden(0));
        QVERIFY(d.view->isColumnHidden(1));
        QCOMPARE(d.view->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("   ФИО   "));
        QVERIFY(!d.deleteEnabled());
    }

    // Names of one kind go to that kind only; the same name twice is two signatories.
    void add_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QStringList>("added");
        QTest::newRow("chairman twice") << 1 << QStringList{"Петров П. П.", "Петров П. П."}
                                        << QStringList{"Петров П. П.", "Петров П. П."};
        QTest::newRow("secretary with an apostrophe") << 2 << QStringList{"Д'Арк Ж. "} << QStringList{"Д'Арк Ж."};
        QTest::newRow("empty and blank") << 1 << QStringList{"", "   "} << QStringList{};
    }
    void add() {
        QFETCH(int, kind);
        QFETCH(QStringList, typed);
        QFETCH(QStringList, added);
        Directory d(kind, chairmen, secretaries);
        QSignalSpy updated(d.dialog.data(), &BossGuideDialog::bossesUpdated);
        for (const QString& name : typed)
            d.add(name);
        const QStringList before = kind == 1 ? chairmen : secretaries;
        QCOMPARE(stored(kind), before + added);
        QCOMPARE(stored(3 - kind), kind == 1 ? secretaries : chairmen);
        QCOMPARE(d.shown(), before + added);
        QCOMPARE(updated.count(), added.size());
        // The new name is the current cell, ready to be deleted again; a blank entry stays as typed.
        QCOMPARE(d.deleteEnabled(), !added.isEmpty());
        QCOMPARE(d.w<QLineEdit>("lineEdit")->text(), added.isEmpty() ? typed.last() : QString());
    }

    void remove_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("confirmed") << chairmen << 0 << int(QMessageBox::Ok) << QStringList{chairmen[1]};
        QTest::newRow("cancelled") << chairmen << 1 << int(QMessageBox::Cancel) << chairmen;
        QTest::newRow("the last row") << QStringList{chairmen[0]} << 0 << int(QMessageBox::Ok) << QStringList{};
    }
    void remove() {
        QFETCH(QStringList, names);
        QFETCH(int, row);
        QFETCH(int, answer);
        QFETCH(QStringList, left);
        Directory d(1, names, secretaries);
        QSignalSpy updated(d.dialog.data(), &BossGuideDialog::bossesUpdated);
        QTest::mouseClick(d.view->viewport(), Qt::LeftButton, {}, d.cellCentre(row));
        QVERIFY(d.deleteEnabled());
        d.f.answerNextBox(MessageBox::Button(answer));
        d.click("pushButtonDelete");
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Внимание!"));
        QCOMPARE(MessageBox::lastShown().text, QStringLiteral("Вы уверены, что хотите удалить выделенную строку?"));
        QCOMPARE(stored(1), left);
        QCOMPARE(d.shown(), left);
        QCOMPARE(stored(2), secretaries);
        const bool removed = answer == QMessageBox::Ok;
        QCOMPARE(updated.count(), removed ? 1 : 0);
        QCOMPARE(d.deleteEnabled(), !removed);
    }

    // Double-clicking hands the name over and closes; the close button only closes.
    void choose_data() {
        QTest::addColumn<bool>("doubleClick");
        QTest::addColumn<QStringList>("selected");
        QTest::newRow("double click") << true << QStringList{chairmen[1]};
        QTest::newRow("close button") << false << QStringList{};
    }
    void choose() {
        QFETCH(bool, doubleClick);
        QFETCH(QStringList, selected);
        Directory d(1, chairmen, secretaries);
        QSignalSpy spy(d.dialog.data(), &BossGuideDialog::bossSelected);
        if (doubleClick) {
            QTest::mouseClick(d.view->viewport(), Qt::LeftButton, {}, d.cellCentre(1));
            QTest::mouseDClick(d.view->viewport(), Qt::LeftButton, {}, d.cellCentre(1));
        } else {
            d.click("pushButtonClose");
        }
        QStringList names;
        for (const QList<QVariant>& args : spy)
            names << args.at(0).toString();
        QCOMPARE(names, selected);
        QVERIFY(d.closed());
        QCOMPARE(stored(1), chairmen);
    }

    // A name the database refuses is told with the reason; the stored names stay, and a refused
    // new name stays in the entry for another try.
    void refusedWrite_data() {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("headline");
        QTest::newRow("add") << "BEFORE INSERT ON Bosses"
                             << "add"
                             << "Не удалось добавить запись в справочник.";
        QTest::newRow("delete") << "BEFORE DELETE ON Bosses"
                                << "delete"
                                << "Не удалось удалить запись из справочника.";
        QTest::newRow("rename in place") << "BEFORE UPDATE ON Bosses"
                                         << "rename"
                                         << "Не удалось изменить запись справочника.";
    }
    void refusedWrite() {
        QFETCH(QString, trigger);
        QFETCH(QString, action);
        QFETCH(QString, headline);
        Directory d(1, chairmen, secretaries);
        runSql(QStringLiteral("CREATE TRIGGER refuse %1 BEGIN SELECT RAISE(ABORT, 'refused'); END;").arg(trigger));
        QSignalSpy updated(d.dialog.data(), &BossGuideDialog::bossesUpdated);
        if (action == QLatin1String("add")) {
            d.add(QStringLiteral("Новиков Н. Н."));
        } else if (action == QLatin1String("delete")) {
            QTest::mouseClick(d.view->viewport(), Qt::LeftButton, {}, d.cellCentre(0));
            d.f.answerNextBox(QMessageBox::Ok);
            d.click("pushButtonDelete");
        } else {
            QTest::mouseClick(d.view->viewport(), Qt::LeftButton, {}, d.cellCentre(0));
            QTest::keyClick(d.view, Qt::Key_F2);
            auto* editor = d.view->findChild<QLineEdit*>();
            QVERIFY(editor);
            editor->setText(QStringLiteral("Другой Д. Д."));
            QTest::keyClick(editor, Qt::Key_Return);
            // The editor hands its value over from the event loop.
            QTRY_COMPARE(MessageBox::shown().size(), 1);
        }
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Ошибка"));
        QCOMPARE(MessageBox::lastShown().text, headline + QStringLiteral("\nrefused"));
        QCOMPARE(stored(1), chairmen);
        QCOMPARE(d.shown(), chairmen);
        QCOMPARE(updated.count(), 0);
        QCOMPARE(d.w<QLineEdit>("lineEdit")->text(),
                 action == QLatin1String("add") ? QStringLiteral("Новиков Н. Н.") : QString());
    }
};

ORVANE_TEST(TestBossGuideDialog)
#include "tst_bossguidedialog.moc"
