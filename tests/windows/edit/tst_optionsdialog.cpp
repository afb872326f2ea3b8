#include "bossguidedialog.h"
#include "database.h"
#include "engine.h"
#include "guifixture.h"
#include "optionsdialog.h"
#include "printdata.h"
#include "reportpage.h"
#include "testregistry.h"

#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTableView>
#include <QtTest>

namespace {
using Values = QMap<QString, QString>;

// Stored value, its widget and the print variable that carries it ("" for none).
struct Field {
    QString variable, widget, printed;
};
const QList<Field> fields = {{"Data/OrgName_1", "plainTextEditOrgName_1", "Org_Name"},
                             {"Data/OrgName_2", "plainTextEditOrgName_2", "Org_Name_short"},
                             {"Data/City", "lineEditCity", "City"},
                             {"Data/Date", "lineEditDate", ""},
                             {"Data/Boss", "lineEditBoss", "Boss"},
                             {"Data/Boss_2", "lineEditBoss_2", "Boss2"},
                             {"Data/Boss_3", "lineEditBoss_3", "Boss3"}};

const Values previous = {{"Data/OrgName_1", "ГБПОУ «Старый колледж»"},
                         {"Data/OrgName_2", "Старый колледж"},
                         {"Data/City", "г. Тверь"},
                         {"Data/Date", "2020-01-02 03:04:05"},
                         {"Data/Boss", "Кузнецова Анна Сергеевна"},
                         {"Data/Boss_2", "Орлов Олег Олегович"},
                         {"Data/Boss_3", "Лебедева Л. Л."}};

QString html(const QString& text) {
    return QStringLiteral("<html><head/><body><p>%1</p></body></html>").arg(text);
}

Values stored() {
    Values values;
    QSqlQuery q = runSql(QStringLiteral("SELECT Name, Value FROM Variables;"));
    while (q.next())
        values[q.value(0).toString()] = q.value(1).toString();
    return values;
}

// The organisation dialog over a fresh database holding `values` and one chairman and secretary.
struct Options {
    explicit Options(const Values& values = {}) {
        for (auto it = values.constBegin(); it != values.constEnd(); ++it)
            insertRow(QStringLiteral("Variables"), {{"Name", it.key()}, {"Value", it.value()}});
        insertRow(QStringLiteral("Bosses"), {{"bossType", 1}, {"name", "Председателев П. П."}});
        insertRow(QStringLiteral("Bosses"), {{"bossType", 2}, {"name", "Секретарёва С. С."}});
        dialog = f.build<OptionsDialog>();
    }
    ~Options() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    template <typename T> T* w(const QString& name) { return dialog->findChild<T*>(name); }
    QString text(const QString& name) {
        auto* plain = w<QPlainTextEdit>(name);
        return plain ? plain->toPlainText() : w<QLineEdit>(name)->text();
    }
    void type(const QString& name, const QString& value) {
        if (auto* plain = w<QPlainTextEdit>(name))
            plain->setPlainText(value);
        else
            w<QLineEdit>(name)->setText(value);
    }
    void click(const QString& name) { QTest::mouseClick(w<QPushButton>(name), Qt::LeftButton); }
    bool closed() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return dialog.isNull();
    }

    GuiFixture f;
    QPointer<OptionsDialog> dialog;
};
} // namespace

class TestOptionsDialog : public QObject {
    Q_OBJECT

private slots:
    // One value stored, the rest never were: those show empty.
    void load_data() {
        QTest::addColumn<QString>("variable");
        for (const Field& field : fields)
            QTest::newRow(qPrintable(field.variable)) << field.variable;
    }
    void load() {
        QFETCH(QString, variable);
        const QString value = QStringLiteral("Д'Артаньян\nвторая строка");
        Options o({{variable, value}});
        for (const Field& field : fields)
            QCOMPARE(o.text(field.widget), field.variable == variable ? value : QString());
    }

    // Every value is stored, the date always, and a printed certificate carries them.
    void save_data() {
        QTest::addColumn<Values>("before");
        QTest::addColumn<Values>("typed");
        const Values typed = {{"plainTextEditOrgName_1", "ГБПОУ «Колледж\nсервиса»"},
                              {"lineEditCity", "с. Д'Аргунь"},
                              {"lineEditBoss", "Иванов Иван Иванович"},
                              {"lineEditBoss_3", ""}};
        QTest::newRow("typed into an empty registry") << Values() << typed;
        QTest::newRow("typed over stored values") << previous << typed;
        QTest::newRow("unchanged") << previous << Values();
    }
    void save() {
        QFETCH(Values, before);
        QFETCH(Values, typed);
        Options o(before);
        const int id = insertRow(QStringLiteral("ProfDocuments"), {{"fio1", "Ученик"}});
        QSignalSpy updated(o.dialog.data(), &OptionsDialog::updateOptions);
        for (auto it = typed.constBegin(); it != typed.constEnd(); ++it)
            o.type(it.key(), it.value());
        const QDateTime from = QDateTime::currentDateTime().addSecs(-1);
        o.click("pushButtonSave");
        const QDateTime to = QDateTime::currentDateTime();
        QCOMPARE(updated.count(), 1);
        QVERIFY(o.closed());

        const Values after = stored();
        QCOMPARE(after.size(), fields.size());
        const QDateTime date = QDateTime::fromString(after["Data/Date"], QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QVERIFY2(date >= from && date <= to, qPrintable(after["Data/Date"]));
        ReportPage page;
        QVERIFY(Engine::fillPage(&page, id, true, nullptr));
        for (const Field& field : fields) {
            if (field.printed.isEmpty())
                continue;
            const QString expected = typed.contains(field.widget) ? typed[field.widget] : before[field.variable];
            QCOMPARE(after[field.variable], expected);
            QCOMPARE(page.variable(field.printed).toString(), expected);
        }
    }

    // A name chosen in a directory goes into the field of its kind and is stored only on Save.
    void directory_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("choose");
        QTest::addColumn<QString>("finish");
        QTest::addColumn<QString>("chairman");
        QTest::addColumn<QString>("secretary");
        const QString chairman = previous["Data/Boss_2"], secretary = previous["Data/Boss_3"];
        QTest::newRow("chairman saved") << "pushButtonGuide1" << true << "pushButtonSave"
                                        << "Председателев П. П." << secretary;
        QTest::newRow("secretary saved") << "pushButtonGuide2" << true << "pushButtonSave" << chairman
                                         << "Секретарёва С. С.";
        QTest::newRow("chairman cancelled")
            << "pushButtonGuide1" << true << "pushButtonCancel" << chairman << secretary;
        QTest::newRow("directory closed") << "pushButtonGuide1" << false << "pushButtonSave" << chairman << secretary;
    }
    void directory() {
        QFETCH(QString, button);
        QFETCH(bool, choose);
        QFETCH(QString, finish);
        QFETCH(QString, chairman);
        QFETCH(QString, secretary);
        Options o(previous);
        QSignalSpy updated(o.dialog.data(), &OptionsDialog::updateOptions);
        o.click(button);
        QPointer<BossGuideDialog> directory = o.dialog->findChild<BossGuideDialog*>();
        QVERIFY(directory && directory->isVisible());
        auto* view = directory->findChild<QTableView*>(QStringLiteral("tableView"));
        const QPoint cell = view->visualRect(view->model()->index(0, 2)).center();
        if (choose) {
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell);
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell);
        } else {
            QTest::mouseClick(directory->findChild<QPushButton*>(QStringLiteral("pushButtonClose")), Qt::LeftButton);
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(directory.isNull());
        const bool cancelled = finish == QLatin1String("pushButtonCancel");
        if (!cancelled) {
            QCOMPARE(o.text(QStringLiteral("lineEditBoss_2")), chairman);
            QCOMPARE(o.text(QStringLiteral("lineEditBoss_3")), secretary);
        }
        o.click(finish);
        QVERIFY(o.closed());
        QCOMPARE(updated.count(), cancelled ? 0 : 1);
        QCOMPARE(stored().value("Data/Boss_2"), chairman);
        QCOMPARE(stored().value("Data/Boss_3"), secretary);
        if (cancelled)
            QCOMPARE(stored(), previous);
    }

    void help_data() {
        QTest::addColumn<QString>("widget");
        QTest::addColumn<bool>("inner");
        QTest::addColumn<QString>("help");
        const QString pick = QStringLiteral("Выбор фамилии %1. Формат ввода: Фамилия Имя Отчество или Фамилия И. О.");
        const QString shortName = html("Сокращённое название организации (в иминительном падеже)");
        const QList<QPair<QString, QString>> own = {
            {"plainTextEditOrgName_1", html("Полное официальное наименование организации в соответствии с уставом "
                                            "(в иминительном падеже)")},
            {"plainTextEditOrgName_2", shortName},
            {"lineEditBoss", html(pick.arg("руководителя образовательной организации"))},
            {"lineEditDate", html("Дата и время последнего редактирования настроек")},
            {"lineEditBoss_2", html(pick.arg("председателя аттестационной комиссии"))},
            {"lineEditBoss_3", html(pick.arg("секретаря"))},
            {"lineEditCity", html("Название места нахождения организации")}};
        for (const auto& w : own)
            QTest::newRow(qPrintable(w.first)) << w.first << false << w.second;
        QTest::newRow("inside the short name") << "plainTextEditOrgName_2" << true << shortName;
        QTest::newRow("button: the dialog's empty help") << "pushButtonSave" << false << html("<br/>");
        QTest::newRow("directory button") << "pushButtonGuide2" << false << html("<br/>");
    }
    void help() {
        QFETCH(QString, widget);
        QFETCH(bool, inner);
        QFETCH(QString, help);
        Options o;
        auto* label = o.w<QLabel>("labelHelp");
        QApplication::setActiveWindow(o.dialog);
        QVERIFY(QTest::qWaitForWindowActive(o.dialog));
        // Focus starts elsewhere, so that a stale text cannot pass for the expected one.
        auto* start = o.w<QWidget>(widget == QLatin1String("lineEditCity") ? "lineEditDate" : "lineEditCity");
        start->setFocus();
        QTRY_VERIFY(start->hasFocus());
        label->setText(QStringLiteral("-"));
        QWidget* target = o.w<QWidget>(widget);
        // The viewport takes no focus itself; it stands for any inner part of a field.
        if (inner)
            o.dialog->onFocusChanged(start, static_cast<QPlainTextEdit*>(target)->viewport());
        else
            target->setFocus();
        QTRY_COMPARE(label->text(), help);
    }

    // A refused value leaves every stored value as it was and the dialog open with what was typed.
    void saveFailure_data() {
        QTest::addColumn<QString>("refused");
        QTest::addColumn<QString>("reason");
        QTest::newRow("first value") << "Data/OrgName_1"
                                     << "refused";
        QTest::newRow("last value") << "Data/Boss_3"
                                    << "refused";
        QTest::newRow("read-only connection") << ""
                                              << "attempt to write a readonly database";
        // Every value taken, the commit refused: a row left behind breaks a deferred key.
        QTest::newRow("commit refused") << "commit"
                                        << "FOREIGN KEY constraint failed";
    }
    void saveFailure() {
        QFETCH(QString, refused);
        QFETCH(QString, reason);
        Options o(previous);
        if (refused.isEmpty()) {
            runSql(QStringLiteral("PRAGMA query_only = 1;"));
        } else if (refused == QLatin1String("commit")) {
            runSql(QStringLiteral("PRAGMA foreign_keys = ON;"));
            runSql(QStringLiteral("CREATE TABLE Orphans (profId INTEGER REFERENCES ProfDocuments(profId) "
                                  "DEFERRABLE INITIALLY DEFERRED);"));
            runSql(QStringLiteral("CREATE TRIGGER orphan AFTER INSERT ON Variables BEGIN INSERT INTO Orphans "
                                  "VALUES (-1); END;"));
        } else
            runSql(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON Variables WHEN NEW.Name = '%1' "
                                  "BEGIN SELECT RAISE(ABORT, 'refused'); END;")
                       .arg(refused));
        QSignalSpy updated(o.dialog.data(), &OptionsDialog::updateOptions);
        QSignalSpy framesBox(Database::instance(), &Database::writeFailed);
        o.type(QStringLiteral("lineEditCity"), QStringLiteral("г. Новый"));
        o.click("pushButtonSave");
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Ошибка"));
        QCOMPARE(MessageBox::lastShown().text, QStringLiteral("Не удалось сохранить данные организации.\n") + reason);
        QCOMPARE(MessageBox::shown().size(), 1);
        // One channel: the main window is not told as well.
        QCOMPARE(framesBox.count(), 0);
        QVERIFY(!o.closed());
        QCOMPARE(updated.count(), 0);
        QCOMPARE(o.text(QStringLiteral("lineEditCity")), QStringLiteral("г. Новый"));
        runSql(QStringLiteral("PRAGMA query_only = 0;"));
        QCOMPARE(stored(), previous);
    }
};

ORVANE_TEST(TestOptionsDialog)
#include "tst_optionsdialog.moc"
