#include "appkeys.h"
#include "appsettings.h"
#include "database.h"
#include "dialoggeometry.h"
#include "inputhelpers.h"
#include "optionaldateedit.h"
#include "spellchecker.h"
#include "settingsregistry.h"
#include "spellfixture.h"
#include "testdatabase.h"
#include "testregistry.h"

#include <QCalendarWidget>
#include <QComboBox>
#include <QCompleter>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSqlQuery>
#include <QStandardItemModel>
#include <QTextEdit>
#include <QtTest>

namespace {
QStringList modelRows(const QAbstractItemModel& model) {
    QStringList rows;
    for (int r = 0; r < model.rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < model.columnCount(); ++c)
            cells << model.index(r, c).data().toString();
        rows << cells.join(QLatin1Char(' '));
    }
    return rows;
}

QStringList comboItems(const QComboBox& combo) {
    QStringList items;
    for (int i = 0; i < combo.count(); ++i)
        items << combo.itemText(i);
    return items;
}

void insertProfession(Database* db, const QVariant& profession) {
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(QStringLiteral("INSERT INTO ProfDocuments (profession) VALUES (:p)"));
    query.bindValue(QStringLiteral(":p"), profession);
    QVERIFY(db->execPrepared(query));
}
} // namespace

class TestInputHelpers : public QObject {
    Q_OBJECT

private slots:
    void dateFromText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("date");
        QTest::newRow("day number 2020") << QStringLiteral("43831") << QDate(2020, 1, 1);
        QTest::newRow("day number 2023") << QStringLiteral("45000") << QDate(2023, 3, 15);
        QTest::newRow("day number with blanks") << QStringLiteral(" 43831 ") << QDate(2020, 1, 1);
        QTest::newRow("day 1") << QStringLiteral("1") << QDate(1900, 1, 1);
        QTest::newRow("day 59") << QStringLiteral("59") << QDate(1900, 2, 28);
        QTest::newRow("day 60, the nonexistent 29 February 1900") << QStringLiteral("60") << QDate();
        QTest::newRow("day 61") << QStringLiteral("61") << QDate(1900, 3, 1);
        QTest::newRow("day 0") << QStringLiteral("0") << QDate();
        QTest::newRow("negative day") << QStringLiteral("-5") << QDate();
        QTest::newRow("yyyy.MM.dd") << QStringLiteral("2020.02.01") << QDate(2020, 2, 1);
        QTest::newRow("dd.MM.yyyy") << QStringLiteral("01.02.2020") << QDate(2020, 2, 1);
        QTest::newRow("dd/MM/yyyy") << QStringLiteral("31/12/2019") << QDate(2019, 12, 31);
        QTest::newRow("yyyy-MM-dd") << QStringLiteral("2019-12-31") << QDate(2019, 12, 31);
        QTest::newRow("dd-MM-yyyy") << QStringLiteral("31-12-2019") << QDate(2019, 12, 31);
        QTest::newRow("yyyy/MM/dd") << QStringLiteral("2019/12/31") << QDate(2019, 12, 31);
        QTest::newRow("date with blanks") << QStringLiteral(" 01.02.2020\t") << QDate(2020, 2, 1);
        QTest::newRow("empty") << QString() << QDate();
        QTest::newRow("words") << QStringLiteral("вчера") << QDate();
        QTest::newRow("no such day") << QStringLiteral("30.02.2020") << QDate();
        QTest::newRow("no such month") << QStringLiteral("2020.13.01") << QDate();
        QTest::newRow("single-digit day") << QStringLiteral("1.2.2020") << QDate();
        QTest::newRow("two-digit year") << QStringLiteral("01.02.20") << QDate();
        QTest::newRow("date and time") << QStringLiteral("01.02.2020 10:00") << QDate();
        QTest::newRow("fraction") << QStringLiteral("43831.5") << QDate();
    }

    void dateFromText() {
        QFETCH(QString, text);
        QFETCH(QDate, date);
        QCOMPARE(InputHelpers::dateFromText(text), date);
    }

    void dateFromValue_data() {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QDate>("date");
        QTest::newRow("date") << QVariant(QDate(2021, 5, 6)) << QDate(2021, 5, 6);
        QTest::newRow("date and time") << QVariant(QDateTime(QDate(2021, 5, 6), QTime(23, 59))) << QDate(2021, 5, 6);
        QTest::newRow("stored text") << QVariant(QStringLiteral("2021-05-06")) << QDate(2021, 5, 6);
        QTest::newRow("typed text") << QVariant(QStringLiteral("06.05.2021")) << QDate(2021, 5, 6);
        QTest::newRow("day number") << QVariant(43831) << QDate(2020, 1, 1);
        QTest::newRow("day number as real") << QVariant(43831.0) << QDate(2020, 1, 1);
        QTest::newRow("day number as text") << QVariant(QStringLiteral("45000")) << QDate(2023, 3, 15);
        QTest::newRow("null") << QVariant() << QDate();
        QTest::newRow("garbage") << QVariant(QStringLiteral("нет")) << QDate();
    }

    void dateFromValue() {
        QFETCH(QVariant, value);
        QFETCH(QDate, date);
        QCOMPARE(InputHelpers::dateFromValue(value), date);
    }

    void digitsOnly_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("digits");
        QTest::newRow("SNILS with hyphens and blank")
            << QStringLiteral("123-456-789 01") << QStringLiteral("12345678901");
        QTest::newRow("leading and trailing") << QStringLiteral(" №0042. ") << QStringLiteral("0042");
        QTest::newRow("only digits") << QStringLiteral("2020") << QStringLiteral("2020");
        QTest::newRow("no digits") << QStringLiteral("абв") << QString();
        QTest::newRow("empty") << QString() << QString();
    }

    void digitsOnly() {
        QFETCH(QString, text);
        QFETCH(QString, digits);
        QCOMPARE(InputHelpers::digitsOnly(text), digits);
    }

    void exchangeRows_data() {
        QTest::addColumn<int>("a");
        QTest::addColumn<int>("b");
        QTest::addColumn<int>("firstColumn");
        QTest::addColumn<QStringList>("rows");
        const QStringList unchanged{"r0c0 r0c1 r0c2", "r1c0 r1c1 r1c2", "r2c0 r2c1 r2c2"};
        QTest::newRow("first and last from column 1")
            << 0 << 2 << 1 << QStringList{"r0c0 r2c1 r2c2", "r1c0 r1c1 r1c2", "r2c0 r0c1 r0c2"};
        QTest::newRow("down from column 0")
            << 1 << 2 << 0 << QStringList{"r0c0 r0c1 r0c2", "r2c0 r2c1 r2c2", "r1c0 r1c1 r1c2"};
        QTest::newRow("last column only")
            << 1 << 0 << 2 << QStringList{"r0c0 r0c1 r1c2", "r1c0 r1c1 r0c2", "r2c0 r2c1 r2c2"};
        QTest::newRow("with itself") << 1 << 1 << 0 << unchanged;
        QTest::newRow("row past the end") << 0 << 3 << 0 << unchanged;
        QTest::newRow("negative row") << -1 << 0 << 0 << unchanged;
        QTest::newRow("column past the end") << 0 << 1 << 3 << unchanged;
        QTest::newRow("negative column") << 0 << 1 << -1 << unchanged;
    }

    void exchangeRows() {
        QFETCH(int, a);
        QFETCH(int, b);
        QFETCH(int, firstColumn);
        QFETCH(QStringList, rows);
        QStandardItemModel model(3, 3);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                model.setItem(r, c, new QStandardItem(QStringLiteral("r%1c%2").arg(r).arg(c)));
        InputHelpers::exchangeRows(&model, a, b, firstColumn);
        QCOMPARE(modelRows(model), rows);
        InputHelpers::exchangeRows(nullptr, 0, 1, 0);
    }

    // What the user does to a date edit: empty fields show nothing and are filled from today, and a
    // fully selected date is emptied by Delete or Backspace.
    void optionalDateEdit_data() {
        QTest::addColumn<QDate>("start");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QDate>("result");
        const QDate day(2020, 2, 1);
        const QDate today = QDate::currentDate();
        QTest::newRow("empty as built") << QDate() << "" << QDate();
        QTest::newRow("stored before the marker") << QDate(50, 1, 1) << "" << QDate();
        QTest::newRow("stored beyond the edit's range") << QDate(12000, 1, 1) << "" << QDate();
        QTest::newRow("typed into empty") << QDate() << "type 15032021" << QDate(2021, 3, 15);
        QTest::newRow("arrow up on empty") << QDate() << "up" << today;
        QTest::newRow("arrow up on a date") << day << "up" << day.addDays(1);
        QTest::newRow("Delete over the whole text") << day << "select all, Delete" << QDate();
        QTest::newRow("Backspace over the whole text") << day << "select all, Backspace" << QDate();
        QTest::newRow("Delete on empty") << QDate() << "Delete" << QDate();
        QTest::newRow("cleared") << day << "clear" << QDate();
        QTest::newRow("day picked in the pop-up") << QDate() << "calendar" << QDate(2021, 3, 15);
    }

    void optionalDateEdit() {
        QFETCH(QDate, start);
        QFETCH(QString, action);
        QFETCH(QDate, result);
        OptionalDateEdit edit;
        edit.setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
        edit.setCalendarPopup(true);
        edit.showStoredDate(start);
        edit.show();
        QVERIFY(QTest::qWaitForWindowExposed(&edit));
        QVERIFY(!edit.isModified());
        if (action.startsWith(QLatin1String("type ")))
            QTest::keyClicks(&edit, action.mid(5));
        else if (action == QLatin1String("up"))
            QTest::keyClick(&edit, Qt::Key_Up);
        else if (action.startsWith(QLatin1String("select all")))
            QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier);
        if (action.endsWith(QLatin1String("Delete")))
            QTest::keyClick(&edit, Qt::Key_Delete);
        else if (action.endsWith(QLatin1String("Backspace")))
            QTest::keyClick(&edit, Qt::Key_Backspace);
        else if (action == QLatin1String("clear"))
            edit.clear();
        if (action == QLatin1String("calendar")) {
            QTest::mouseClick(&edit, Qt::LeftButton, {}, QPoint(edit.width() - 4, edit.height() / 2));
            QCalendarWidget* calendar = edit.calendarWidget();
            QTRY_VERIFY(calendar->isVisible());
            // The pop-up of an empty field opens on today, and choosing nothing leaves it empty.
            QCOMPARE(calendar->selectedDate(), QDate::currentDate());
            QVERIFY(edit.isEmpty());
            emit calendar->clicked(result);
        }
        QCOMPARE(edit.optionalDate(), result);
        QCOMPARE(edit.isEmpty(), !result.isValid());
        QCOMPARE(edit.text().trimmed().isEmpty(), !result.isValid());
        const bool shown = start > QDate(100, 1, 1) && start.year() <= 9999;
        QCOMPARE(edit.isModified(), result != (shown ? start : QDate()));
    }

    void fillComboBoxUsedValues_data() {
        QTest::addColumn<bool>("alphabetical");
        QTest::addColumn<int>("limit");
        QTest::addColumn<bool>("editable");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("most used first") << false << 0 << true
                                         << QStringList{"Сварщик", "повар", "Электрик", "аппаратчик"};
        QTest::newRow("alphabetically regardless of case")
            << true << 0 << true << QStringList{"аппаратчик", "повар", "Сварщик", "Электрик"};
        QTest::newRow("limited") << false << 2 << true << QStringList{"Сварщик", "повар"};
        QTest::newRow("alphabetically limited") << true << 2 << true << QStringList{"аппаратчик", "повар"};
        QTest::newRow("not editable") << false << 1 << false << QStringList{"Сварщик"};
    }

    void fillComboBoxUsedValues() {
        QFETCH(bool, alphabetical);
        QFETCH(int, limit);
        QFETCH(bool, editable);
        QFETCH(QStringList, items);
        TestDatabase t;
        Database* db = t.open();
        const QVariantList stored{QStringLiteral("Сварщик"),
                                  QStringLiteral("повар"),
                                  QStringLiteral("  Сварщик "),
                                  QStringLiteral("Электрик"),
                                  QStringLiteral("аппаратчик"),
                                  QStringLiteral("повар"),
                                  QStringLiteral("Сварщик"),
                                  QString(),
                                  QVariant(),
                                  QStringLiteral("   "),
                                  QStringLiteral("Электрик"),
                                  QStringLiteral("повар"),
                                  QStringLiteral("Сварщик")};
        for (const QVariant& value : stored)
            insertProfession(db, value);
        QVERIFY(SettingsRegistry::instance()->setValue(Keys::orderComboAlphabetically, alphabetical));

        QComboBox combo;
        combo.setEditable(editable);
        combo.addItem(QStringLiteral("уже было"));
        // Column names are matched without regard to case, as the document dialog spells them.
        InputHelpers::fillComboBoxUsedValues(QStringLiteral("Profession"), QStringLiteral("ProfDocuments"), &combo,
                                             limit);
        QCOMPARE(comboItems(combo), QStringList{"уже было"} + items);
        if (editable) {
            QCOMPARE(combo.currentText(), QString());
            QCOMPARE(combo.completer()->caseSensitivity(), Qt::CaseSensitive);
        }
        InputHelpers::fillComboBoxUsedValues(QStringLiteral("profession"), QStringLiteral("ProfDocuments"), nullptr, 0);
    }

    void geometrySavedAndRestored() {
        TestEnvironment env;
        QDialog first;
        first.setObjectName(QStringLiteral("SampleDialog"));
        first.resize(321, 234);
        // Opened for the first time: the size of the form stays.
        DialogGeometry::restore(&first);
        QCOMPARE(first.size(), QSize(321, 234));
        first.setGeometry(40, 50, 420, 310);
        DialogGeometry::save(&first);
        AppSettings::userSettings()->sync();
        QSettings file(env.userFolder() + QStringLiteral("/settings.ini"), QSettings::IniFormat);
        QVERIFY(!file.value(QStringLiteral("Orvane/SampleDialogGeometry")).toByteArray().isEmpty());

        QDialog again;
        again.setObjectName(QStringLiteral("SampleDialog"));
        again.resize(100, 100);
        DialogGeometry::restore(&again);
        QCOMPARE(again.size(), QSize(420, 310));

        QDialog other;
        other.setObjectName(QStringLiteral("OtherDialog"));
        other.resize(100, 100);
        DialogGeometry::restore(&other);
        QCOMPARE(other.size(), QSize(100, 100));

        // A damaged value leaves the dialog as it is.
        setStored(AppSettings::userSettings(), QStringLiteral("Orvane/OtherDialogGeometry"), QByteArray("garbage"));
        DialogGeometry::restore(&other);
        QCOMPARE(other.size(), QSize(100, 100));
        DialogGeometry::restore(nullptr);
        DialogGeometry::save(nullptr);
    }

    void helpText_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("help");
        QTest::newRow("own") << QStringLiteral("окно") << QStringLiteral("группа") << QStringLiteral("поле")
                             << QStringLiteral("поле");
        QTest::newRow("parent's") << QStringLiteral("окно") << QStringLiteral("группа") << QString()
                                  << QStringLiteral("группа");
        QTest::newRow("nearest ancestor's")
            << QStringLiteral("окно") << QString() << QString() << QStringLiteral("окно");
        QTest::newRow("none") << QString() << QString() << QString() << QString();
    }

    void helpText() {
        QFETCH(QString, window);
        QFETCH(QString, group);
        QFETCH(QString, field);
        QFETCH(QString, help);
        QDialog dialog;
        auto* box = new QGroupBox(&dialog);
        auto* edit = new QLineEdit(box);
        dialog.setWhatsThis(window);
        box->setWhatsThis(group);
        edit->setWhatsThis(field);
        QCOMPARE(InputHelpers::helpText(edit), help);
        QCOMPARE(InputHelpers::helpText(nullptr), QString());
    }

    void spellCheckingInstalledOnTree_data() {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("installations");
        QTest::newRow("installed once") << true << 1;
        QTest::newRow("installed twice") << true << 2;
        QTest::newRow("switched off") << false << 1;
    }

    void spellCheckingInstalledOnTree() {
        QFETCH(bool, enabled);
        QFETCH(int, installations);
        RussianChecker russian;
        QVERIFY(russian.ready);
        QVERIFY(SettingsRegistry::instance()->setValue(Keys::spellCheckerEnabled, enabled));

        QDialog root;
        auto* top = new QLineEdit(&root);
        auto* left = new QLineEdit(&root);
        auto* deep = new QLineEdit(new QGroupBox(new QWidget(&root)));
        auto* rich = new QTextEdit(&root);
        auto* plain = new QPlainTextEdit(&root);
        auto* combo = new QComboBox(&root);
        combo->setEditable(true);
        auto* leftCombo = new QComboBox(&root);
        leftCombo->setEditable(true);
        const QList<QLineEdit*> checked{top, deep, combo->lineEdit()};
        const QList<QLineEdit*> unchecked{left, leftCombo->lineEdit()};
        QList<InputMethodSpy*> spies;
        for (QLineEdit* edit : checked + unchecked)
            spies << new InputMethodSpy(edit);

        for (int i = 0; i < installations; ++i)
            InputHelpers::installSpellChecking(&root, {left, leftCombo});
        for (QLineEdit* edit : checked + unchecked)
            edit->setText(QStringLiteral("мама рмау"));
        rich->setPlainText(QStringLiteral("мама рмау"));
        plain->setPlainText(QStringLiteral("мама рмау"));

        for (int i = 0; i < spies.size(); ++i) {
            const bool expected = enabled && i < checked.size();
            // Each change is checked once, however often the tree was installed.
            QCOMPARE(spies[i]->events.size(), expected ? 1 : 0);
            if (expected)
                QCOMPARE(spies[i]->lastRanges(), QStringList{"-4+4"});
        }
        QCOMPARE(rich->extraSelections().size(), enabled ? 1 : 0);
        QVERIFY(plain->extraSelections().isEmpty());
    }

    void spellCheckingInstalledOnSingleField() {
        RussianChecker russian;
        QVERIFY(russian.ready);
        QLineEdit line;
        InputMethodSpy spy(&line);
        InputHelpers::installSpellChecking(&line);
        line.setText(QStringLiteral("рмау"));
        QCOMPARE(spy.lastRanges(), QStringList{"-4+4"});

        QTextEdit rich;
        InputHelpers::installSpellChecking(&rich);
        rich.setPlainText(QStringLiteral("рмау"));
        QCOMPARE(rich.extraSelections().size(), 1);
        InputHelpers::installSpellChecking(nullptr);
    }
};

ORVANE_TEST(TestInputHelpers)
#include "tst_inputhelpers.moc"
