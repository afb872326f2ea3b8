#include "database.h"
#include "armedprobe.h"
#include "guifixture.h"
#include "additionaleditdialog.h"
#include "testregistry.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableView>
#include <QtTest>

namespace {
const int docId = 7;

// One document with the given subjects (name, hours; null hours for none), and its dialog open.
class Appendix {
public:
    explicit Appendix(const QList<QPair<QString, QVariant>>& subjects = {}) {
        f.db()->execSql(
            QStringLiteral("INSERT INTO ProfDocuments (profId, addInfo) VALUES (%1, 'старое');").arg(docId));
        for (const auto& s : subjects) {
            QSqlQuery q;
            q.prepare(QStringLiteral("INSERT INTO ProfDetails (profId, name, count) VALUES (?, ?, ?);"));
            q.addBindValue(docId);
            q.addBindValue(s.first);
            q.addBindValue(s.second);
            f.db()->execPrepared(q);
        }
        dialog = new AdditionalEditDialog;
        dialog->setId(docId);
        dialog->show();
        QTRY_VERIFY(isArmed(dialog)); // change tracking is armed
    }
    ~Appendix() {
        delete dialog;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    template <typename T> T* w(const char* name) { return dialog->findChild<T*>(QLatin1String(name)); }
    void click(const char* name) { QTest::mouseClick(w<QPushButton>(name), Qt::LeftButton); }
    void add(const QString& name, const QString& hours, int grade) {
        w<QComboBox>("comboBoxDiscipline")->setEditText(name);
        w<QLineEdit>("lineEditCount")->setText(hours);
        w<QComboBox>("comboBoxRate")->setCurrentIndex(grade);
        click("pushButtonAddDisp");
    }
    void closeAnswering(MessageBox::Button answer) {
        MessageBox::setNextAnswer(answer);
        dialog->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(dialog.isNull());
    }
    QStringList stored(const QString& column) {
        QStringList values;
        QSqlQuery q = f.db()->execSql(
            QStringLiteral("SELECT %1 FROM ProfDetails WHERE profId=%2 ORDER BY detId;").arg(column).arg(docId));
        while (q.next())
            values << q.value(0).toString();
        return values;
    }
    QString total() { return w<QLineEdit>("lineEditTotalCount")->text(); }
    bool edited() { return dialog->windowTitle().endsWith(AbstractEditDialog::editedMark()); }

    GuiFixture f;
    QPointer<AdditionalEditDialog> dialog;
};

const QList<QPair<QString, QVariant>> abc = {
    {QStringLiteral("А"), 1}, {QStringLiteral("Б"), 2}, {QStringLiteral("В"), 3}};
} // namespace

class TestAppendixDialog : public QObject {
    Q_OBJECT

private slots:
    void add_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("hours");
        QTest::addColumn<int>("grade");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("total");
        QTest::newRow("simplified") << "  Охрана \t труда "
                                    << "12" << 2 << "Охрана труда"
                                    << "хорошо"
                                    << "12";
        QTest::newRow("no hours") << "Черчение"
                                  << "" << 6 << "Черчение"
                                  << "аттестован"
                                  << "0";
        QTest::newRow("blank name") << "   "
                                    << "5" << 1 << ""
                                    << ""
                                    << "";
    }
    void add() {
        QFETCH(QString, typed);
        QFETCH(QString, hours);
        QFETCH(int, grade);
        QFETCH(QString, name);
        QFETCH(QString, rate);
        QFETCH(QString, total);
        Appendix a;
        a.add(typed, hours, grade);
        QCOMPARE(a.stored("name"), name.isEmpty() ? QStringList() : QStringList{name});
        QCOMPARE(a.stored("IFNULL(rate, '')"), rate.isEmpty() && name.isEmpty() ? QStringList() : QStringList{rate});
        QCOMPARE(a.total(), total);
        QCOMPARE(a.edited(), !name.isEmpty());
        // A blank name does nothing: the entry keeps what was typed.
        QCOMPARE(a.w<QComboBox>("comboBoxDiscipline")->currentText(), name.isEmpty() ? typed : QString());
    }

    void duplicate_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("yes") << int(QMessageBox::Yes) << QStringList{"А", "Б", "В", "Б"};
        QTest::newRow("no") << int(QMessageBox::No) << QStringList{"А", "Б", "В"};
    }
    void duplicate() {
        QFETCH(int, answer);
        QFETCH(QStringList, names);
        Appendix a(abc);
        MessageBox::setNextAnswer(MessageBox::Button(answer));
        a.add(QStringLiteral("Б"), QStringLiteral("4"), 1);
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Внимание!"));
        QCOMPARE(MessageBox::lastShown().text,
                 QStringLiteral("Данный учебный предмет уже есть в списке предметов.\nПродолжить?"));
        QCOMPARE(a.stored("name"), names);
        QCOMPARE(a.w<QComboBox>("comboBoxDiscipline")->currentText(), QString());
    }

    void move_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("upEnabled");
        QTest::addColumn<bool>("downEnabled");
        QTest::newRow("middle up") << 1 << "pushButtonUp" << QStringList{"Б", "А", "В"} << false << true;
        QTest::newRow("middle down") << 1 << "pushButtonDown" << QStringList{"А", "В", "Б"} << true << false;
        QTest::newRow("first down") << 0 << "pushButtonDown" << QStringList{"Б", "А", "В"} << true << true;
    }
    void move() {
        QFETCH(int, row);
        QFETCH(QString, button);
        QFETCH(QStringList, names);
        QFETCH(bool, upEnabled);
        QFETCH(bool, downEnabled);
        Appendix a(abc);
        const QStringList ids = a.stored("detId");
        auto* view = a.w<QTableView>("tableView");
        view->selectRow(row);
        a.dialog->onRowActivated(view->currentIndex());
        a.click(qPrintable(button));
        QCOMPARE(a.stored("name"), names);
        QCOMPARE(a.stored("detId"), ids);
        QCOMPARE(a.total(), QStringLiteral("6"));
        QCOMPARE(a.w<QPushButton>("pushButtonUp")->isEnabled(), upEnabled);
        QCOMPARE(a.w<QPushButton>("pushButtonDown")->isEnabled(), downEnabled);
        QVERIFY(a.edited());
    }

    void edgesDisabled() {
        Appendix a(abc);
        auto* view = a.w<QTableView>("tableView");
        a.dialog->onRowActivated(view->model()->index(0, 2));
        QVERIFY(!a.w<QPushButton>("pushButtonUp")->isEnabled());
        a.dialog->onRowActivated(view->model()->index(2, 2));
        QVERIFY(!a.w<QPushButton>("pushButtonDown")->isEnabled());
        QVERIFY(a.w<QPushButton>("pushButtonDelete")->isEnabled());
    }

    void remove_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<QString>("total");
        QTest::newRow("one") << "pushButtonDelete"
                             << "Вы уверены, что хотите удалить выделенный учебный предмет?" << QStringList{"А", "В"}
                             << "4";
        QTest::newRow("all") << "pushButtonDeleteAll"
                             << "Вы уверены, что точно хотите удалить ВСЕ учебные предметы?" << QStringList{} << "";
    }
    void remove() {
        QFETCH(QString, button);
        QFETCH(QString, question);
        QFETCH(QStringList, left);
        QFETCH(QString, total);
        Appendix a(abc);
        auto* view = a.w<QTableView>("tableView");
        view->selectRow(1);
        a.dialog->onRowActivated(view->currentIndex());
        MessageBox::setNextAnswer(QMessageBox::Ok);
        a.click(qPrintable(button));
        QCOMPARE(MessageBox::lastShown().text, question);
        QCOMPARE(a.stored("name"), left);
        QCOMPARE(view->model()->rowCount(), left.size());
        QCOMPARE(a.total(), total);
        QVERIFY(a.edited());
        QVERIFY(!a.w<QPushButton>("pushButtonDelete")->isEnabled());
        MessageBox::clearShown();
        a.closeAnswering(QMessageBox::Discard);
        QCOMPARE(MessageBox::shown().size(), 1);
        QCOMPARE(a.stored("name"), (QStringList{"А", "Б", "В"}));
    }

    void deleteAllEmpty() {
        Appendix a;
        MessageBox::setNextAnswer(QMessageBox::Ok);
        a.click("pushButtonDeleteAll");
        QCOMPARE(MessageBox::shown().size(), 1);
        QVERIFY(!a.edited());
    }

    void total_data() {
        QTest::addColumn<QVariantList>("hours");
        QTest::addColumn<QString>("total");
        QTest::newRow("no subjects") << QVariantList{} << "";
        QTest::newRow("missing hours") << QVariantList{5, QVariant(), 7} << "12";
    }
    void total() {
        QFETCH(QVariantList, hours);
        QFETCH(QString, total);
        QList<QPair<QString, QVariant>> subjects;
        for (const QVariant& h : hours)
            subjects << qMakePair(QStringLiteral("П%1").arg(subjects.size()), h);
        Appendix a(subjects);
        QCOMPARE(a.total(), total);
    }

    void showTotal_data() {
        QTest::addColumn<bool>("show");
        QTest::newRow("shown") << true;
        QTest::newRow("hidden") << false;
    }
    void showTotal() {
        QFETCH(bool, show);
        Appendix a(abc);
        QVERIFY(a.w<QCheckBox>("checkBoxShowTotal")->isChecked());
        a.w<QCheckBox>("checkBoxShowTotal")->setChecked(show);
        a.w<QCheckBox>("checkBoxShowTotal")->setChecked(!show);
        a.w<QCheckBox>("checkBoxShowTotal")->setChecked(show);
        a.click("pushButtonSave");
        QVERIFY(!a.edited());
        QSqlQuery q = a.f.db()->execSql(
            QStringLiteral("SELECT COUNT(1) FROM ViewProfDetails WHERE profId=%1 AND col1='ВСЕГО:';").arg(docId));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), show ? 1 : 0);
    }

    void keepOrDiscard_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("addInfo");
        QTest::newRow("save") << int(QMessageBox::Save) << QStringList{"Новый"} << "новое";
        QTest::newRow("discard") << int(QMessageBox::Discard) << QStringList{} << "старое";
    }
    void keepOrDiscard() {
        QFETCH(int, answer);
        QFETCH(QStringList, names);
        QFETCH(QString, addInfo);
        Appendix a;
        QCOMPARE(a.w<QPlainTextEdit>("plainTextEdit")->toPlainText(), QStringLiteral("старое"));
        a.add(QStringLiteral("Новый"), QStringLiteral("3"), 1);
        a.w<QPlainTextEdit>("plainTextEdit")->setPlainText(QStringLiteral("новое"));
        a.closeAnswering(MessageBox::Button(answer));
        QCOMPARE(MessageBox::lastShown().informativeText, QStringLiteral("Сохранить изменения?"));
        QCOMPARE(a.stored("name"), names);
        QSqlQuery q =
            a.f.db()->execSql(QStringLiteral("SELECT addInfo FROM ProfDocuments WHERE profId=%1;").arg(docId));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toString(), addInfo);
    }

    // A subject write the database refuses is told at once with the reason, and nothing of it stays
    // in the file: an exchange half done is undone. A refused cell keeps its value for the save,
    // which then tells.
    void refusedRowWrite_data() {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("headline");
        QTest::addColumn<bool>("edited");
        QTest::newRow("add") << "BEFORE INSERT ON ProfDetails"
                             << "add"
                             << "Не удалось добавить учебный предмет." << false;
        QTest::newRow("move, half way") << "BEFORE UPDATE ON ProfDetails WHEN NEW.name = 'А'"
                                        << "pushButtonDown"
                                        << "Не удалось переместить учебный предмет." << false;
        QTest::newRow("delete") << "BEFORE DELETE ON ProfDetails"
                                << "pushButtonDelete"
                                << "Не удалось удалить учебный предмет." << false;
        QTest::newRow("delete all") << "BEFORE DELETE ON ProfDetails"
                                    << "pushButtonDeleteAll"
                                    << "Не удалось удалить учебный предмет." << false;
        QTest::newRow("grade chosen") << "BEFORE UPDATE ON ProfDetails"
                                      << "grade"
                                      << "Не удалось изменить учебный предмет." << true;
        QTest::newRow("hours, then save") << "BEFORE UPDATE ON ProfDetails"
                                          << "hours"
                                          << "Не удалось сохранить приложение к свидетельству." << true;
    }
    void refusedRowWrite() {
        QFETCH(QString, trigger);
        QFETCH(QString, action);
        QFETCH(QString, headline);
        QFETCH(bool, edited);
        Appendix a(abc);
        a.f.db()->execSql(
            QStringLiteral("CREATE TRIGGER refuse %1 BEGIN SELECT RAISE(ABORT, 'refused'); END;").arg(trigger));
        auto* view = a.w<QTableView>("tableView");
        view->selectRow(0);
        a.dialog->onRowActivated(view->currentIndex());
        if (action == QLatin1String("add")) {
            a.add(QStringLiteral("Г"), QStringLiteral("4"), 1);
        } else if (action == QLatin1String("grade")) {
            auto* grade = qobject_cast<QComboBox*>(view->indexWidget(view->model()->index(0, 4)));
            QVERIFY(grade);
            grade->setCurrentIndex(2);
            emit grade->activated(2);
        } else if (action == QLatin1String("hours")) {
            // As the cell's editor hands the value over.
            QVERIFY(!view->model()->setData(view->model()->index(0, 3), 9));
            QVERIFY(MessageBox::shown().isEmpty());
            a.click("pushButtonSave");
        } else {
            MessageBox::setNextAnswer(QMessageBox::Ok);
            a.click(qPrintable(action));
        }
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Ошибка"));
        QCOMPARE(MessageBox::lastShown().text, headline + QStringLiteral("\nrefused"));
        QCOMPARE(a.stored("name"), (QStringList{"А", "Б", "В"}));
        QCOMPARE(a.stored("count"), (QStringList{"1", "2", "3"}));
        QCOMPARE(a.edited(), edited);
        if (action == QLatin1String("add"))
            QCOMPARE(a.w<QComboBox>("comboBoxDiscipline")->currentText(), QStringLiteral("Г"));
        if (action == QLatin1String("hours"))
            QCOMPARE(view->model()->index(0, 3).data().toInt(), 9);
        else if (action == QLatin1String("grade"))
            QCOMPARE(view->model()->index(0, 4).data().toString(), QStringLiteral("хорошо"));
        else
            QCOMPARE(view->model()->rowCount(), 3);
    }
};

ORVANE_TEST(TestAppendixDialog)
#include "tst_additionaleditdialog.moc"
