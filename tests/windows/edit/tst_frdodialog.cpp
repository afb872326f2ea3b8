#include "armedprobe.h"
#include "documenteditdialog.h"
#include "documentstable.h"
#include "frdodialog.h"
#include "guifixture.h"
#include "optionaldateedit.h"
#include "testregistry.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTabWidget>
#include <QtTest>

namespace {
const QVariantMap document = {
    {"fio1", "Иванова"},         {"fio2", "Мария"},           {"fio3", "Петровна"},
    {"attNumber", "АБ 000123"},  {"regNumber", "77"},         {"issueDate", "2021-03-04"},
    {"birthDate", "1990-05-17"}, {"startDate", "2021-01-11"}, {"finishDate", "2021-02-28"},
    {"profession", "Швея"},      {"qual", "2 разряд"},        {"profProgName", "Программа «Шитьё»"},
    {"isDuplicate", 0}};

// Every column of ProfFrdo but the key, each holding a value the form can show.
const QVariantMap fullRow = {{"SexIsMale", -1},
                             {"snils", "12345678901"},
                             {"studyPeriod", "2 мес."},
                             {"DocSerial", "АБ 000"},
                             {"DocNumber", "123"},
                             {"RegNumberFrdo", "77-р"},
                             {"docName", "Свидетельство"},
                             {"DocType", "Справка об обучении"},
                             {"educationLevel", "среднее"},
                             {"StateDuplicate", 1},
                             {"DocNameOrig", "Свидетельство о профессии"},
                             {"issueDateOrig", "2019-06-30"},
                             {"DocSerialOrig", "ВГ"},
                             {"DocNumberOrig", "456789"},
                             {"RegNumberOrig", "15"},
                             {"fio1orig", "Сидорова"},
                             {"fio2orig", "Мария"},
                             {"fio3orig", "Петровна"},
                             {"studyCount", 144},
                             {"frdo13", "Программа переподготовки рабочих, служащих"},
                             {"frdo14", "Программа «Шитьё»"},
                             {"frdo15", "Швея"},
                             {"frdo16", "2 разряд"},
                             {"frdo18", "Объявление в газете"},
                             {"frdo19", "Обмен по причине порчи"},
                             {"frdo20", "Да"},
                             {"birthDateFrdo", "1990-05-17"},
                             {"beginDate", "2021-01-11"},
                             {"endDate", "2021-02-28"},
                             {"issueDateFrdo", "2021-03-04"},
                             {"frdo21", "643"},
                             {"frdo22", "Очно-заочная (вечерняя)"},
                             {"frdo23", "Платное обучение"},
                             {"frdo24", "вне образовательной организации"}};

// One stored document, optionally with its FRDO row, and the FRDO dialog on it.
struct Frdo {
    explicit Frdo(const QVariantMap& frdo = {}, const QVariantMap& doc = document) {
        id = insertRow(QStringLiteral("ProfDocuments"), doc);
        if (!frdo.isEmpty()) {
            QVariantMap row = frdo;
            row[QStringLiteral("profId")] = id;
            insertRow(QStringLiteral("ProfFrdo"), row);
        }
    }
    FrdoDialog* open() {
        dialog = f.build<FrdoDialog>();
        dialog->setDocId(id);
        waitUntilArmed(dialog); // change tracking is armed
        return dialog;
    }
    template <typename T> T* w(const char* name) { return f.widget<T>(QLatin1String(name)); }
    void save() {
        dialog->setEdited();
        w<QPushButton>("pushButtonSave")->click();
    }
    void closeAnswering(MessageBox::Button answer) {
        f.answerNextBox(answer);
        w<QPushButton>("pushButtonCancel")->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    // The stored row as "column=value" lines; empty when there is none.
    QStringList stored() const {
        QSqlQuery q = runSql(QStringLiteral("SELECT * FROM ProfFrdo WHERE profId=?"), {id});
        QStringList row;
        if (q.next())
            for (int i = 0; i < q.record().count(); ++i)
                row << q.record().fieldName(i).toLower() + '=' + q.value(i).toString();
        return row;
    }
    QString stored(const QString& column) const {
        QSqlQuery q = runSql(QStringLiteral("SELECT %1 FROM ProfFrdo WHERE profId=?").arg(column), {id});
        return q.next() ? q.value(0).toString() : QStringLiteral("<no row>");
    }

    GuiFixture f;
    int id = 0;
    QPointer<FrdoDialog> dialog;
};

QStringList itemsOf(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}
} // namespace

class TestFrdoDialog : public QObject {
    Q_OBJECT

private slots:
    void labels_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        const QList<QPair<const char*, const char*>> labels = {
            {"FrdoDialog", "ФРДО"},
            {"groupBoxRegNumber", "Рег. номер    "},
            {"groupBoxFio2orig", "Имя (оригинала) "},
            {"groupBoxFrdo24", "Форма получения обр-я на момент прекращения обр-ных отн."},
            {"groupBoxOriginalInfo", "Информация об оригинале"},
            {"radioButtonStateDuplicate", "Дубликат"},
            {"pushButtonAutoFill", "Автоматическое \nзаполнение"},
            {"pushButtonCancel", "Закрыть"}};
        for (const auto& label : labels)
            QTest::newRow(label.first) << QString::fromLatin1(label.first) << QString::fromUtf8(label.second);
    }
    void labels() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        Frdo d;
        QWidget* dialog = d.open();
        QWidget* widget = name == dialog->objectName() ? dialog : dialog->findChild<QWidget*>(name);
        QVERIFY(widget);
        const char* property = widget->inherits("QGroupBox") ? "title"
                               : widget->inherits("QDialog") ? "windowTitle"
                                                             : "text";
        QCOMPARE(widget->property(property).toString(), text);
        auto* tabs = d.w<QTabWidget>("tabWidget");
        QCOMPARE(tabs->tabText(tabs->currentIndex()), QStringLiteral("ФРДО"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("Статус документа"));
    }

    void fixedItems_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("frdo22") << "comboBoxFrdo22" << QStringList{"", "Очная", "Очно-заочная (вечерняя)", "Заочная"};
        QTest::newRow("frdo20") << "comboBoxFrdo20" << QStringList{"", "Да", "Нет"};
        QTest::newRow("frdo23") << "comboBoxFrdo23"
                                << QStringList{"", "Федеральный бюджет", "Региональный бюджет", "Местный бюджет",
                                               "Платное обучение"};
    }
    void fixedItems() {
        QFETCH(QString, name);
        QFETCH(QStringList, items);
        Frdo d;
        d.open();
        auto* combo = d.w<QComboBox>(qPrintable(name));
        QCOMPARE(itemsOf(combo), items);
        QVERIFY(!combo->isEditable());
    }

    // The editable lists offer what other documents already hold.
    void usedValues() {
        Frdo d;
        const int other = insertRow(QStringLiteral("ProfDocuments"), document);
        insertRow(QStringLiteral("ProfFrdo"), {{"profId", other}, {"frdo15", "Швея"}});
        d.open();
        QVERIFY(itemsOf(d.w<QComboBox>("comboBoxFrdo15")).contains(QStringLiteral("Швея")));
        QCOMPARE(d.w<QComboBox>("comboBoxFrdo15")->currentText(), QString());
    }

    void snils_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("saved");
        QTest::newRow("eleven digits") << "12345678901" << QString() << "123-456-789 01"
                                       << "12345678901";
        QTest::newRow("stored with separators") << "123-456-789 01" << QString() << "123-456-789 01"
                                                << "12345678901";
        QTest::newRow("eight digits") << "12345678" << QString() << "123-456-78"
                                      << "12345678";
        QTest::newRow("three digits") << "123" << QString() << "123"
                                      << "123";
        QTest::newRow("typed") << ""
                               << "123 456-78901"
                               << "123 456-78901"
                               << "12345678901";
    }
    void snils() {
        QFETCH(QString, stored);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(QString, saved);
        Frdo d({{"snils", stored}});
        d.open();
        auto* edit = d.w<QLineEdit>("lineEditSnils");
        if (!typed.isEmpty()) {
            edit->clear();
            QTest::keyClicks(edit, typed);
        }
        QCOMPARE(edit->text(), shown);
        d.save();
        QCOMPARE(d.stored("snils"), saved);
        QCOMPARE(edit->text(), FrdoDialog::formatSnils(saved));
    }

    void studyCount_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved");
        QTest::newRow("number") << "72"
                                << "72";
        QTest::newRow("letters") << "two months"
                                 << "0";
        QTest::newRow("number with letters") << "72 h"
                                             << "0";
        QTest::newRow("empty") << ""
                               << "0";
    }
    void studyCount() {
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        Frdo d({{"studyCount", 5}});
        d.open();
        auto* edit = d.w<QLineEdit>("lineEditCount");
        QCOMPARE(edit->text(), QStringLiteral("5"));
        edit->clear();
        QTest::keyClicks(edit, typed);
        d.save();
        QCOMPARE(d.stored("studyCount"), saved);
        QCOMPARE(edit->text(), saved);
    }

    void sex_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("male");
        QTest::addColumn<bool>("female");
        QTest::addColumn<QString>("saved");
        QTest::newRow("male") << QVariant(1) << true << false << "1";
        QTest::newRow("female") << QVariant(-1) << false << true << "-1";
        QTest::newRow("no answer keeps Муж.") << QVariant(0) << true << false << "1";
        QTest::newRow("null keeps Муж.") << QVariant() << true << false << "1";
    }
    void sex() {
        QFETCH(QVariant, stored);
        QFETCH(bool, male);
        QFETCH(bool, female);
        QFETCH(QString, saved);
        Frdo d({{"SexIsMale", stored}});
        d.open();
        QCOMPARE(d.w<QRadioButton>("radioButtonMale")->isChecked(), male);
        QCOMPARE(d.w<QRadioButton>("radioButtonFemale")->isChecked(), female);
        d.save();
        QCOMPARE(d.stored("SexIsMale"), saved);
    }

    // A stored text none of the fixed items has is not shown and is replaced by the shown item.
    void unknownFixedItem_data() {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("combo");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("saved");
        QTest::newRow("DocType unknown") << "DocType"
                                         << "comboBoxDocType"
                                         << "Диплом"
                                         << "";
        QTest::newRow("frdo22 unknown") << "frdo22"
                                        << "comboBoxFrdo22"
                                        << "Дистанционная"
                                        << "";
        QTest::newRow("frdo22 other case") << "frdo22"
                                           << "comboBoxFrdo22"
                                           << "очная"
                                           << "";
        QTest::newRow("frdo22 known") << "frdo22"
                                      << "comboBoxFrdo22"
                                      << "Заочная"
                                      << "Заочная";
    }
    void unknownFixedItem() {
        QFETCH(QString, column);
        QFETCH(QString, combo);
        QFETCH(QString, value);
        QFETCH(QString, saved);
        Frdo d({{column, value}});
        d.open();
        QCOMPARE(d.w<QComboBox>(qPrintable(combo))->currentText(), saved);
        d.save();
        QCOMPARE(d.stored(column), saved);
    }

    void originalGroup() {
        Frdo d({{"StateDuplicate", 1}, {"fio1orig", "Старая"}});
        d.open();
        auto* group = d.w<QGroupBox>("groupBoxOriginalInfo");
        auto* tabs = d.w<QTabWidget>("tabWidget");
        tabs->setCurrentIndex(1);
        QVERIFY(group->isVisible());
        QCOMPARE(d.w<QLineEdit>("lineEditFio1orig")->text(), QStringLiteral("Старая"));
        d.w<QRadioButton>("radioButtonStateOrig")->click();
        QVERIFY(!group->isVisible());
        QVERIFY(d.dialog->isEdited());
        // Still stored while hidden.
        d.w<QLineEdit>("lineEditFio1orig")->setText(QStringLiteral("Новая"));
        d.w<QComboBox>("comboBoxFrdo20")->setCurrentText(QStringLiteral("Нет"));
        d.save();
        QCOMPARE(d.stored("StateDuplicate"), QStringLiteral("0"));
        QCOMPARE(d.stored("fio1orig"), QStringLiteral("Новая"));
        QCOMPARE(d.stored("frdo20"), QStringLiteral("Нет"));
        QVERIFY(!group->isVisible());
        d.w<QRadioButton>("radioButtonStateDuplicate")->click();
        QVERIFY(group->isVisible());
    }

    // Neither status is chosen on a document without FRDO data; its first save creates the row.
    void firstSave() {
        Frdo d;
        d.open();
        QVERIFY(!d.w<QRadioButton>("radioButtonStateDuplicate")->isChecked());
        QVERIFY(!d.w<QRadioButton>("radioButtonStateOrig")->isChecked());
        QVERIFY(!d.w<QGroupBox>("groupBoxOriginalInfo")->isVisibleTo(d.dialog));
        QCOMPARE(d.stored("profId"), QStringLiteral("<no row>"));
        QTest::keyClicks(d.w<QLineEdit>("lineEditRegNumber"), QStringLiteral("12"));
        d.save();
        QCOMPARE(d.stored("RegNumberFrdo"), QStringLiteral("12"));
        QCOMPARE(d.stored("StateDuplicate"), QStringLiteral("0"));
        QCOMPARE(d.stored("SexIsMale"), QStringLiteral("1"));
        // Dates nobody set are stored as none, not as a made-up day.
        QCOMPARE(d.stored("quote(birthDateFrdo) || quote(beginDate) || quote(endDate) || quote(issueDateFrdo) || "
                          "quote(issueDateOrig)"),
                 QStringLiteral("NULLNULLNULLNULLNULL"));
    }

    // A date the user leaves alone is written back as stored; one the user sets or empties is not.
    void dates_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("saved");
        QTest::newRow("null kept") << QVariant() << ""
                                   << "NULL";
        QTest::newRow("unreadable kept") << QVariant("2016-02-30") << ""
                                         << "'2016-02-30'";
        // The column's affinity stores the number as text.
        QTest::newRow("number kept") << QVariant(1e30) << ""
                                     << "'1.0e+30'";
        QTest::newRow("readable kept") << QVariant("2021-01-11") << ""
                                       << "'2021-01-11'";
        QTest::newRow("null typed") << QVariant() << "type 02032021"
                                    << "'2021-03-02'";
        QTest::newRow("unreadable typed") << QVariant("abc") << "set"
                                          << "'2020-05-06'";
        QTest::newRow("readable emptied") << QVariant("2021-01-11") << "empty"
                                          << "NULL";
    }
    void dates() {
        QFETCH(QVariant, stored);
        QFETCH(QString, action);
        QFETCH(QString, saved);
        Frdo d({{"beginDate", stored}, {"RegNumberFrdo", "1"}});
        d.open();
        auto* edit = d.w<OptionalDateEdit>("dateEditBegin");
        QCOMPARE(edit->optionalDate(), QDate::fromString(stored.toString(), Qt::ISODate));
        if (action.startsWith("type ")) {
            QTest::keyClicks(edit, action.mid(5));
        } else if (action == "set") {
            edit->setOptionalDate(QDate(2020, 5, 6));
        } else if (action == "empty") {
            QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(edit, Qt::Key_Delete);
        }
        d.save();
        QCOMPARE(d.stored("quote(beginDate)"), saved);
        QCOMPARE(d.stored("quote(endDate)"), QStringLiteral("NULL"));
    }

    void roundTrip() {
        Frdo d(fullRow);
        const QStringList before = d.stored();
        d.open();
        d.save();
        QVERIFY(!d.dialog->isEdited());
        QCOMPARE(d.stored(), before);
        QCOMPARE(d.w<QDateEdit>("dateEditIssueOrig")->date(), QDate(2019, 6, 30));
        QCOMPARE(d.w<QComboBox>("comboBoxFrdo14")->currentText(), QStringLiteral("Программа «Шитьё»"));
    }

    void autoFill_data() {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("withList");
        QTest::addColumn<int>("answer");
        QTest::newRow("discard, no list") << true << false << int(QMessageBox::Discard);
        QTest::newRow("discard, with list") << true << true << int(QMessageBox::Discard);
        QTest::newRow("discard, no row before") << false << false << int(QMessageBox::Discard);
        QTest::newRow("save, no list") << true << false << int(QMessageBox::Save);
        QTest::newRow("save, with list") << true << true << int(QMessageBox::Save);
    }
    void autoFill() {
        QFETCH(bool, stored);
        QFETCH(bool, withList);
        QFETCH(int, answer);
        Frdo d(stored ? fullRow : QVariantMap());
        QScopedPointer<DocumentsTable> list(withList ? new DocumentsTable : nullptr);
        const QStringList before = d.stored();
        d.open();
        QTest::mouseClick(d.w<QPushButton>("pushButtonAutoFill"), Qt::LeftButton);
        QVERIFY(d.dialog->isEdited());
        QCOMPARE(d.w<QLineEdit>("lineEditRegNumber")->text(), QStringLiteral("77"));
        QCOMPARE(d.w<QLineEdit>("lineEditDocNumber")->text(), QStringLiteral("000123"));
        QVERIFY(d.w<QRadioButton>("radioButtonFemale")->isChecked());
        QCOMPARE(d.w<QComboBox>("comboBoxFrdo16")->currentText(), QStringLiteral("2 разряд"));
        QCOMPARE(d.stored("RegNumberFrdo"), QStringLiteral("77")); // written, not yet committed
        d.closeAnswering(MessageBox::Button(answer));
        QVERIFY(!d.dialog);
        if (answer == QMessageBox::Discard) {
            QCOMPARE(d.stored(), before);
        } else {
            QCOMPARE(d.stored("RegNumberFrdo"), QStringLiteral("77"));
            QCOMPARE(d.stored("DocSerial"), QStringLiteral("АБ"));
            QCOMPARE(d.stored("SexIsMale"), QStringLiteral("-1"));
            QCOMPARE(d.stored("frdo15"), QStringLiteral("Швея"));
            QCOMPARE(d.stored("beginDate"), QStringLiteral("2021-01-11"));
            QCOMPARE(d.stored("snils"), QStringLiteral("12345678901")); // not a filled column
        }
    }

    // A discarded fill leaves no filled values on show either.
    void autoFillDiscardShowsStored() {
        Frdo d;
        d.open();
        QTest::mouseClick(d.w<QPushButton>("pushButtonAutoFill"), Qt::LeftButton);
        d.f.answerNextBox(QMessageBox::Discard);
        QVERIFY(d.dialog->maybeSave());
        QCOMPARE(d.stored("profId"), QStringLiteral("<no row>"));
        QCOMPARE(d.w<QLineEdit>("lineEditRegNumber")->text(), QString());
        QVERIFY(d.w<QRadioButton>("radioButtonMale")->isChecked());
        QVERIFY(d.w<OptionalDateEdit>("dateEditBegin")->isEmpty());
        QVERIFY(!d.dialog->isEdited());
    }

    void openFromDocumentDialog_data() {
        QTest::addColumn<QString>("fio2");
        QTest::addColumn<QString>("fio3");
        QTest::addColumn<QString>("shown");
        QTest::newRow("full name") << "Мария"
                                   << "Петровна"
                                   << "Иванова Мария Петровна";
        QTest::newRow("no first name") << ""
                                       << "Петровна"
                                       << "Иванова  Петровна";
        QTest::newRow("no patronymic") << "Мария"
                                       << ""
                                       << "Иванова Мария ";
    }
    void openFromDocumentDialog() {
        QFETCH(QString, fio2);
        QFETCH(QString, fio3);
        QFETCH(QString, shown);
        QVariantMap doc = document;
        doc["fio2"] = fio2;
        doc["fio3"] = fio3;
        Frdo d({{"RegNumberFrdo", "5-р"}}, doc);
        auto* owner = d.f.build<DocumentEditDialog>();
        owner->setId(d.id);
        QTRY_VERIFY(isArmed(owner)); // change tracking is armed
        d.w<QPushButton>("pushButtonFrdo")->click();
        FrdoDialog* frdo = nullptr;
        QTRY_VERIFY((frdo = owner->findChild<FrdoDialog*>()));
        QVERIFY(frdo->isVisible());
        QCOMPARE(frdo->recordId(), d.id);
        QCOMPARE(frdo->findChild<QLineEdit*>("lineEditFio")->text(), shown);
        QVERIFY(frdo->findChild<QLineEdit*>("lineEditFio")->isReadOnly());
        QCOMPARE(frdo->findChild<QLineEdit*>("lineEditRegNumber")->text(), QStringLiteral("5-р"));
    }

    // Opened from the document dialog, the two share one transaction: a refused FRDO save undoes
    // only its own writes, and the document dialog goes on saving afterwards.
    void refusedInsideDocumentDialog() {
        Frdo d({{"RegNumberFrdo", "5-р"}});
        auto* owner = d.f.build<DocumentEditDialog>();
        owner->setId(d.id);
        QTRY_VERIFY(isArmed(owner)); // change tracking is armed
        d.w<QLineEdit>("lineEditFio_2")->setText(QStringLiteral("Анна"));
        owner->setEdited();
        QVERIFY(owner->save());
        d.w<QPushButton>("pushButtonFrdo")->click();
        FrdoDialog* frdo = nullptr;
        QTRY_VERIFY((frdo = owner->findChild<FrdoDialog*>()));
        QPointer<FrdoDialog> guard(frdo);
        runSql(QStringLiteral(
            "CREATE TRIGGER refuse BEFORE UPDATE ON ProfFrdo BEGIN SELECT RAISE(ABORT, 'refused'); END;"));
        frdo->findChild<QLineEdit*>("lineEditRegNumber")->setText(QStringLiteral("6-р"));
        frdo->setEdited();
        QVERIFY(!frdo->save());
        QCOMPARE(MessageBox::lastShown().text, QStringLiteral("Не удалось сохранить данные ФРДО.\nrefused"));
        QCOMPARE(frdo->findChild<QLineEdit*>("lineEditRegNumber")->text(), QStringLiteral("6-р"));
        d.f.answerNextBox(QMessageBox::Discard);
        frdo->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!guard);
        d.w<QLineEdit>("lineEditFio_3")->setText(QStringLiteral("Ивановна"));
        owner->setEdited();
        QVERIFY(owner->save());
        QSqlQuery q = runSql(QStringLiteral("SELECT fio2, fio3 FROM ProfDocuments WHERE profId=?"), {d.id});
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toString() + ' ' + q.value(1).toString(), QStringLiteral("Анна Ивановна"));
        QCOMPARE(d.stored("RegNumberFrdo"), QStringLiteral("5-р"));
        // The trigger went with the discarded work: the FRDO row takes a change again.
        runSql(QStringLiteral("UPDATE ProfFrdo SET RegNumberFrdo='7-р' WHERE profId=?"), {d.id});
        QCOMPARE(d.stored("RegNumberFrdo"), QStringLiteral("7-р"));
    }
};

ORVANE_TEST(TestFrdoDialog)
#include "tst_frdodialog.moc"
