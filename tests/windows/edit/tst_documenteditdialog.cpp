#include "armedprobe.h"
#include "documenteditdialog.h"
#include "documentsmodel.h"
#include "documentstable.h"
#include "guifixture.h"
#include "testregistry.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>
#include <functional>

#include "inputhelpers.h"
#include "optionaldateedit.h"

namespace {
QVariant scalar(const QString& sql, const QVariantList& values = {}) {
    QSqlQuery query = runSql(sql, values);
    return query.next() ? query.value(0) : QVariant();
}

using Rows = std::function<QList<QVariantList>(const QString& sql)>;

// The rows of a statement on the program's own connection.
QList<QVariantList> ownRows(const QString& sql) {
    QSqlQuery query = runSql(sql);
    QList<QVariantList> rows;
    while (query.next()) {
        QVariantList row;
        for (int i = 0; i < query.record().count(); ++i)
            row << query.value(i);
        rows << row;
    }
    return rows;
}

// Every column of a document's row as SQLite writes it back (type included), but those left out.
QStringList quotedRow(const Rows& rows, qint64 id, const QStringList& leftOut) {
    QStringList quoted;
    for (const QVariantList& column : rows(QStringLiteral("SELECT name FROM pragma_table_info('ProfDocuments');")))
        if (!leftOut.contains(column.value(0).toString()))
            quoted << QStringLiteral("'%1=' || quote(%1)").arg(column.value(0).toString());
    QStringList values;
    const QString sql = QStringLiteral("SELECT %1 FROM ProfDocuments WHERE profId=%2").arg(quoted.join(", ")).arg(id);
    for (const QVariant& value : rows(sql).value(0))
        values << value.toString();
    return values;
}

const QList<QPair<QString, QString>> dateColumns = {{"birthDate", "dateEditBirth"},
                                                    {"startDate", "dateEditStart"},
                                                    {"finishDate", "dateEditFinish"},
                                                    {"protocolDate", "dateEditProtocol"},
                                                    {"issueDate", "dateEditIssue"}};

// The stored row as column -> value.
QVariantMap storedRow(qint64 id) {
    QSqlQuery query = runSql(QStringLiteral("SELECT * FROM ProfDocuments WHERE profId=?"), {id});
    QVariantMap row;
    if (query.next())
        for (int i = 0; i < query.record().count(); ++i)
            row[query.record().fieldName(i)] = query.value(i);
    return row;
}

// Records which dependent dialog was asked for, instead of opening it.
class ProbeDialog : public DocumentEditDialog {
public:
    using DocumentEditDialog::DocumentEditDialog;
    QStringList opened;

protected:
    void openAppendix(qint64 id) override { opened << QStringLiteral("appendix %1").arg(id); }
    void openFrdo(qint64 id) override { opened << QStringLiteral("frdo %1").arg(id); }
};

// The widget of each column; certificateType is the pair of radio buttons.
const QList<QPair<const char*, const char*>> fields = {{"fio1", "lineEditFio_1"},
                                                       {"fio2", "lineEditFio_2"},
                                                       {"fio3", "lineEditFio_3"},
                                                       {"birthDate", "dateEditBirth"},
                                                       {"startDate", "dateEditStart"},
                                                       {"finishDate", "dateEditFinish"},
                                                       {"profession", "comboBoxProfession"},
                                                       {"qual", "plainTextEditQual"},
                                                       {"profProgName", "comboBoxEditProfProgramName"},
                                                       {"prevEducation", "comboBoxPrevEducation"},
                                                       {"protocolNumber", "lineEditProtocolNumber"},
                                                       {"attNumber", "comboBoxAttNumber"},
                                                       {"regNumber", "lineEditRegNumber"},
                                                       {"protocolDate", "dateEditProtocol"},
                                                       {"issueDate", "dateEditIssue"},
                                                       {"isDuplicate", "checkBoxDuplicate"},
                                                       {"isExcellent", "checkBoxIsEcsellent"},
                                                       {"showTotalCount", "checkBoxShowTotalCount"}};

struct Form {
    DocumentEditDialog* d;
    template <typename T> T* w(const char* name) { return d->findChild<T*>(QLatin1String(name)); }

    void fill(const QVariantMap& v) {
        for (const auto& field : fields) {
            const QVariant value = v[field.first];
            QWidget* widget = w<QWidget>(field.second);
            if (auto* e = qobject_cast<QLineEdit*>(widget))
                e->setText(value.toString());
            else if (auto* e = qobject_cast<QDateEdit*>(widget))
                e->setDate(value.toDate());
            else if (auto* e = qobject_cast<QComboBox*>(widget))
                e->setEditText(value.toString());
            else if (auto* e = qobject_cast<QPlainTextEdit*>(widget))
                e->setPlainText(value.toString());
            else if (auto* e = qobject_cast<QCheckBox*>(widget))
                e->setChecked(value.toInt());
        }
        w<QRadioButton>(v["certificateType"].toInt() == 2 ? "radioButtonProf2" : "radioButtonProf1")->setChecked(true);
    }

    QVariantMap read() {
        QVariantMap v;
        for (const auto& field : fields) {
            QWidget* widget = w<QWidget>(field.second);
            if (auto* e = qobject_cast<QLineEdit*>(widget))
                v[field.first] = e->text();
            else if (auto* e = qobject_cast<QDateEdit*>(widget))
                v[field.first] = e->date();
            else if (auto* e = qobject_cast<QComboBox*>(widget))
                v[field.first] = e->currentText();
            else if (auto* e = qobject_cast<QPlainTextEdit*>(widget))
                v[field.first] = e->toPlainText();
            else if (auto* e = qobject_cast<QCheckBox*>(widget))
                v[field.first] = int(e->isChecked());
        }
        v["certificateType"] = w<QRadioButton>("radioButtonProf2")->isChecked() ? 2 : 1;
        return v;
    }
};

QVariantMap sample(int type, int flags) {
    return {{"fio1", "Петров"},
            {"fio2", "Пётр"},
            {"fio3", "Петрович"},
            {"birthDate", QDate(1990, 5, 17)},
            {"startDate", QDate(2021, 1, 11)},
            {"finishDate", QDate(2021, 2, 28)},
            {"certificateType", type},
            {"profession", "Электросварщик ручной сварки"},
            {"qual", "3 разряд\nсо второй строкой"},
            {"profProgName", "Программа «Сварка»"},
            {"prevEducation", "Аттестат 123"},
            {"protocolNumber", "12-п"},
            {"attNumber", "АБ 000123"},
            {"regNumber", "77"},
            {"protocolDate", QDate(2021, 3, 1)},
            {"issueDate", QDate(2021, 3, 4)},
            {"isDuplicate", flags},
            {"isExcellent", flags},
            {"showTotalCount", 1 - flags}};
}
} // namespace

class TestDocumentEditDialog : public QObject {
    Q_OBJECT

    // A dialog on the record, armed.
    template <typename D = DocumentEditDialog> static D* openDialog(GuiFixture& f, int id) {
        auto* dialog = f.build<D>();
        dialog->setId(id);
        waitUntilArmed(dialog); // change tracking is armed
        return dialog;
    }

    // A document the certificate check finds wrong is saved once the question is answered Yes.
    static void answerCheckQuestion(DocumentEditDialog* dialog) {
        const QString status = dialog->findChild<QLabel*>("labelCheckStatus")->text();
        // A new document's appendix is not asked about.
        const bool onlyAppendix = dialog->recordId() <= 0 &&
                                  status == QStringLiteral("Проблем: 1 — Печатается итог часов, а в приложении их 0");
        if (!status.isEmpty() && !onlyAppendix)
            MessageBox::setNextAnswer(QMessageBox::Yes);
    }

    static void saveEdited(DocumentEditDialog* dialog) {
        answerCheckQuestion(dialog);
        dialog->setEdited();
        dialog->findChild<QPushButton*>("pushButtonSave")->click();
    }

private slots:
    void labels_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        const QList<QPair<const char*, const char*>> labels = {
            {"groupBoxFio_1", "Фамилия"},
            {"groupBoxFio_2", "Имя"},
            {"groupBoxFio_3", "Отчество"},
            {"groupBoxRegNumber", "Регистрационный номер"},
            {"radioButtonProf1", "о профессии рабочего"},
            {"radioButtonProf2", "о должности служащего"},
            {"checkBoxShowTotalCount", "Указывать объём обучения в свидетельстве"},
            {"pushButtonAdditonal", "Приложение\nк свидетельству"},
            {"pushButtonFrdo", "ФРДО"},
            {"pushButtonCancel", "Закрыть"}};
        for (const auto& label : labels)
            QTest::newRow(label.first) << QString::fromLatin1(label.first) << QString::fromUtf8(label.second);
    }

    void labels() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        GuiFixture f;
        QObject* widget = f.build<DocumentEditDialog>()->findChild<QObject*>(name);
        QVERIFY(widget);
        QCOMPARE(widget->property(widget->inherits("QGroupBox") ? "title" : "text").toString(), text);
    }

    void tabOrderAndGeometry() {
        GuiFixture f;
        auto* dialog = f.build<DocumentEditDialog>();
        const QStringList order =
            QStringLiteral(
                "lineEditFio_1 lineEditFio_2 lineEditFio_3 dateEditBirth dateEditStart dateEditFinish radioButtonProf1 "
                "radioButtonProf2 comboBoxProfession plainTextEditQual comboBoxEditProfProgramName "
                "comboBoxPrevEducation "
                "lineEditProtocolNumber comboBoxAttNumber lineEditRegNumber dateEditProtocol dateEditIssue "
                "lineEditDate "
                "checkBoxDuplicate checkBoxIsEcsellent checkBoxShowTotalCount pushButtonSave pushButtonCancel "
                "pushButtonAdditonal pushButtonFrdo")
                .split(' ');
        QStringList chain;
        QWidget* w = dialog->findChild<QWidget*>(order.first());
        for (int i = 0; i < 200 && chain.size() < order.size(); ++i, w = w->nextInFocusChain())
            if (order.contains(w->objectName()) && !chain.contains(w->objectName()))
                chain << w->objectName();
        QCOMPARE(chain, order);

        dialog->resize(1301, 677);
        f.adopt<QWidget>(nullptr);
        QCOMPARE(f.build<DocumentEditDialog>()->size(), QSize(1301, 677));
    }

    void fieldsRoundTrip_data() {
        QTest::addColumn<QVariantMap>("values");
        QTest::newRow("type 1, flags off") << sample(1, 0);
        QTest::newRow("type 2, flags on") << sample(2, 1);
    }

    // Every field comes back after save and reload; dates are stored in the form the list reads.
    void fieldsRoundTrip() {
        QFETCH(QVariantMap, values);
        GuiFixture f;
        auto* dialog = openDialog(f, -1);
        QVERIFY(!dialog->findChild<QPushButton*>("pushButtonAdditonal")->isEnabled());
        Form{dialog}.fill(values);
        saveEdited(dialog);
        const int id = dialog->recordId();
        QVERIFY(id > 0);
        QVERIFY(dialog->findChild<QPushButton*>("pushButtonFrdo")->isEnabled());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Выдача документа"));

        auto* reopened = openDialog(f, id);
        QCOMPARE(Form{reopened}.read(), values);
        QVERIFY(reopened->findChild<QComboBox*>("comboBoxProfession")->findText(values["profession"].toString()) >= 0);
        const QVariantMap row = storedRow(id);
        QCOMPARE(row["issueDate"].toString(), QStringLiteral("2021-03-04"));
        QCOMPARE(row["birthDate"].toString(), QStringLiteral("1990-05-17"));
        QCOMPARE(row["isTemplate"].toInt(), 0);
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$")
                    .match(row["editDate"].toString())
                    .hasMatch());
        QSqlQuery view =
            runSql(QStringLiteral("SELECT issueDate, editDate FROM ViewProfDocuments WHERE profId=?"), {id});
        QVERIFY(view.next());
        QCOMPARE(DocumentsModel::dayNumber(view.value(0).toString()), int(QDate(2021, 3, 4).toJulianDay()));
        QCOMPARE(DocumentsModel::dayNumber(view.value(1).toString()), int(QDate::currentDate().toJulianDay()));
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(1) FROM ViewProfDocuments WHERE date(substr(editDate,1,10)) = ? "
                                       "AND date(issueDate) = '2021-03-04'"),
                        {QDate::currentDate().toString(Qt::ISODate)})
                     .toInt(),
                 1);
    }

    void uniqueness_data() {
        QTest::addColumn<QString>("existing");
        QTest::addColumn<QString>("entered");
        QTest::addColumn<bool>("duplicate");
        QTest::addColumn<bool>("self");
        QTest::addColumn<bool>("saved");
        QTest::newRow("empty twice") << ""
                                     << "  " << false << false << true;
        QTest::newRow("duplicate repeats") << "АБ 1"
                                           << "АБ 1" << true << false << true;
        QTest::newRow("own number") << "АБ 1"
                                    << "АБ 1" << false << true << true;
        QTest::newRow("other number") << "АБ 1"
                                      << "АБ 2" << false << false << true;
        QTest::newRow("clash") << "АБ 1"
                               << " АБ 1 " << false << false << false;
    }

    void uniqueness() {
        QFETCH(QString, existing);
        QFETCH(QString, entered);
        QFETCH(bool, duplicate);
        QFETCH(bool, self);
        QFETCH(bool, saved);
        GuiFixture f;
        const int other = insertRow("ProfDocuments", {{"fio1", "Другой"}, {"attNumber", existing}});
        auto* dialog = openDialog(f, self ? other : -1);
        Form form{dialog};
        form.w<QComboBox>("comboBoxAttNumber")->setEditText(entered);
        form.w<QCheckBox>("checkBoxDuplicate")->setChecked(duplicate);
        saveEdited(dialog);
        QCOMPARE(dialog->isEdited(), !saved);
        QCOMPARE(scalar("SELECT COUNT(1) FROM ProfDocuments").toInt(), saved && !self ? 2 : 1);
        if (saved) {
            // No box but the certificate check's question about the empty form.
            for (const MessageBox::Shown& box : MessageBox::shown())
                QVERIFY2(box.text.endsWith(QStringLiteral("Сохранить всё равно?")), qPrintable(box.text));
            return;
        }
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Внимание!"));
        QCOMPARE(MessageBox::lastShown().text,
                 QStringLiteral("Невозможно сохранить документ:\nНомер свидетельства не уникален!\n"));
        QCOMPARE(dialog->recordId(), -1);
    }

    // Values but the names come from the template; the template's appendix rows come through the list.
    void newDocumentFromTemplate() {
        GuiFixture f;
        const int templateId = insertRow("ProfDocuments", {{"fio1", "Сварщики"},
                                                           {"fio2", "x"},
                                                           {"isTemplate", 1},
                                                           {"profession", "Сварщик"},
                                                           {"qual", "3 разряд"},
                                                           {"certificateType", 2},
                                                           {"issueDate", "2020-06-01"},
                                                           {"addInfo", "Дополнительно"},
                                                           {"hideTotalCountInAdd", 1}});
        insertRow("ProfDetails", {{"profId", templateId}, {"name", "Охрана труда"}, {"count", 10}});
        insertRow("ProfDetails", {{"profId", templateId}, {"name", "Черчение"}, {"count", 20}});
        DocumentsTable list;
        auto* dialog = f.build<DocumentEditDialog>();
        dialog->setTemplateId(templateId);
        QTRY_VERIFY(isArmed(dialog)); // change tracking is armed
        Form form{dialog};
        QCOMPARE(form.w<QLineEdit>("lineEditFio_1")->text(), QString());
        QCOMPARE(form.w<QLineEdit>("lineEditFio_2")->text(), QString());
        QCOMPARE(form.w<QComboBox>("comboBoxProfession")->currentText(), QStringLiteral("Сварщик"));
        QVERIFY(form.w<QRadioButton>("radioButtonProf2")->isChecked());
        QVERIFY(!form.w<QPushButton>("pushButtonAdditonal")->isEnabled());
        form.w<QLineEdit>("lineEditFio_1")->setText("Иванов");
        saveEdited(dialog);
        const int id = dialog->recordId();
        QVERIFY(id > templateId);
        const QVariantMap row = storedRow(id);
        QCOMPARE(row["fio1"].toString(), QStringLiteral("Иванов"));
        QCOMPARE(row["profession"].toString(), QStringLiteral("Сварщик"));
        QCOMPARE(row["issueDate"].toString(), QStringLiteral("2020-06-01"));
        QCOMPARE(row["addInfo"].toString(), QStringLiteral("Дополнительно"));
        QCOMPARE(row["hideTotalCountInAdd"].toInt(), 1);
        QCOMPARE(row["isTemplate"].toInt(), 0);
        QCOMPARE(scalar("SELECT group_concat(name || count, ';') FROM ProfDetails WHERE profId=?", {id}).toString(),
                 QStringLiteral("Охрана труда10;Черчение20"));
        QCOMPARE(storedRow(templateId)["fio1"].toString(), QStringLiteral("Сварщики"));
        QVERIFY(form.w<QPushButton>("pushButtonAdditonal")->isEnabled());
    }

    // A missing record leaves the form cleared and its save writes nothing; a missing template
    // gives a document from scratch.
    void missingIds() {
        GuiFixture f;
        auto* missing = openDialog(f, 999);
        QCOMPARE(missing->findChild<QLineEdit*>("lineEditFio_1")->text(), QString());
        missing->findChild<QLineEdit*>("lineEditFio_1")->setText("Потерянный");
        saveEdited(missing);
        QCOMPARE(scalar("SELECT COUNT(1) FROM ProfDocuments").toInt(), 0);

        auto* dialog = f.build<DocumentEditDialog>();
        dialog->setTemplateId(998);
        dialog->findChild<QLineEdit*>("lineEditFio_1")->setText("Новый");
        saveEdited(dialog);
        QCOMPARE(storedRow(dialog->recordId())["fio1"].toString(), QStringLiteral("Новый"));
        QCOMPARE(storedRow(dialog->recordId())["isTemplate"].toInt(), 0);
    }

    void templateMode() {
        GuiFixture f;
        auto* dialog = openDialog(f, -1);
        dialog->setTemplateMode(true);
        Form form{dialog};
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Реактирование шаблона"));
        QCOMPARE(form.w<QGroupBox>("groupBoxFio_1")->title(), QStringLiteral("Название шаблона"));
        for (const char* name : {"groupBoxFio_2", "groupBoxFio_3", "pushButtonPrint"})
            QVERIFY2(!form.w<QWidget>(name)->isVisible(), name);
        for (const char* name : {"lineEditRegNumber", "groupBoxRegNumber", "comboBoxAttNumber", "checkBoxDuplicate",
                                 "checkBoxIsEcsellent"})
            QVERIFY2(!form.w<QWidget>(name)->isEnabled(), name);
        form.w<QLineEdit>("lineEditFio_1")->setText("Шаблон");
        saveEdited(dialog);
        QCOMPARE(storedRow(dialog->recordId())["isTemplate"].toInt(), 1);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Реактирование шаблона"));
        dialog->setTemplateMode(false);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Выдача документа"));
        QCOMPARE(form.w<QGroupBox>("groupBoxFio_1")->title(), QStringLiteral("Фамилия"));
        QVERIFY(form.w<QWidget>("pushButtonPrint")->isVisible() && form.w<QWidget>("comboBoxAttNumber")->isEnabled());
    }

    // A paste splits a full name; typing, loading a document and a template's name do not.
    void pasteSplitsNames_data() {
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("three words") << " Иванов  Иван Иванович"
                                     << "paste" << QStringList{"Иванов", "Иван", "Иванович"};
        QTest::newRow("four words") << "Оглы Мамедов Али Рза"
                                    << "paste" << QStringList{"Оглы Мамедов", "Али", "Рза"};
        QTest::newRow("оглы") << "Мамедов Эльдар Рашид оглы"
                              << "paste" << QStringList{"Мамедов", "Эльдар", "Рашид оглы"};
        QTest::newRow("two words") << "Петров Пётр"
                                   << "paste" << QStringList{"Петров", "Пётр", ""};
        QTest::newRow("one word") << "Петров"
                                  << "paste" << QStringList{"Петров", "", ""};
        QTest::newRow("typed") << "Другое"
                               << "type Иванов Иван Иванович" << QStringList{"Иванов Иван Иванович", "", ""};
        QTest::newRow("document opened") << "Петров Пётр"
                                         << "open document" << QStringList{"Петров Пётр", "", ""};
        QTest::newRow("new template") << "Сварщики, группа 12"
                                      << "new template" << QStringList{"Сварщики, группа 12", "", ""};
        QTest::newRow("template opened") << "Сварщики, группа 12"
                                         << "open template" << QStringList{"Сварщики, группа 12", "", ""};
    }

    void pasteSplitsNames() {
        QFETCH(QString, clipboard);
        QFETCH(QString, action);
        QFETCH(QStringList, names);
        GuiFixture f;
        QGuiApplication::clipboard()->setText(clipboard);
        // As the main window opens the dialog for each use.
        const bool opened = action.startsWith("open");
        const int id =
            opened ? insertRow("ProfDocuments", {{"fio1", clipboard}, {"isTemplate", int(action.endsWith("template"))}})
                   : -1;
        auto* dialog = f.build<DocumentEditDialog>();
        dialog->setId(id);
        dialog->setTemplateMode(action.endsWith("template"));
        dialog->show();
        waitUntilArmed(dialog);
        Form form{dialog};
        auto* surname = form.w<QLineEdit>("lineEditFio_1");
        if (action.startsWith("type "))
            surname->insert(action.mid(5));
        else if (!opened)
            QTest::keyClick(surname, Qt::Key_V, Qt::ControlModifier);
        const QStringList shown = {surname->text(), form.w<QLineEdit>("lineEditFio_2")->text(),
                                   form.w<QLineEdit>("lineEditFio_3")->text()};
        QCOMPARE(shown.mid(1), names.mid(1));
        QCOMPARE(shown.first().simplified(), names.first());
        if (!dialog->isTemplateMode())
            return;
        saveEdited(dialog);
        const QVariantMap row = storedRow(dialog->recordId());
        QCOMPARE(QStringList({row["fio1"].toString(), row["fio2"].toString(), row["fio3"].toString()}), names);
    }

    // 0 changes neither button, so the form keeps its choice; unless the user picks one, 0 stays.
    void certificateTypeZeroKeepsChoice() {
        GuiFixture f;
        const int id = insertRow("ProfDocuments", {{"fio1", "Ноль"}, {"certificateType", 0}});
        auto* dialog = openDialog(f, id);
        QVERIFY(dialog->findChild<QRadioButton*>("radioButtonProf1")->isChecked());
        saveEdited(dialog);
        QCOMPARE(storedRow(id)["certificateType"].toInt(), 0);
        dialog->findChild<QRadioButton*>("radioButtonProf2")->click();
        saveEdited(dialog);
        QCOMPARE(storedRow(id)["certificateType"].toInt(), 2);
    }

    // What the user did not touch goes back as the file held it, whatever the form made of it.
    void untouchedValuesKept_data() {
        QTest::addColumn<QVariantMap>("row");
        const QVariant null;
        QTest::newRow("nulls") << QVariantMap{
            {"fio1", "Пустой"},    {"fio2", null},         {"birthDate", null},      {"startDate", null},
            {"finishDate", null},  {"protocolDate", null}, {"issueDate", null},      {"certificateType", null},
            {"isDuplicate", null}, {"isExcellent", null},  {"showTotalCount", null}, {"qual", null},
            {"profession", null},  {"attNumber", null},    {"isTemplate", null}};
        QTest::newRow("unreadable") << QVariantMap{
            {"fio1", "Кривой"},       {"birthDate", "2016-02-30"}, {"startDate", "abc"},
            {"finishDate", 1e30},     {"protocolDate", ""},        {"issueDate", "31.02.2020"},
            {"certificateType", "x"}, {"isDuplicate", "да"},       {"regNumber", 42}};
        QTest::newRow("extreme") << QVariantMap{{"fio1", "Крайний"},
                                                {"birthDate", Q_INT64_C(9223372036854775807)},
                                                {"startDate", -1},
                                                {"issueDate", 2147483647}, // a day number far beyond 9999
                                                {"finishDate", "9999-12-31"},
                                                {"certificateType", Q_INT64_C(-9223372036854775807)},
                                                {"isExcellent", -1},
                                                {"qual", QString(5000, QLatin1Char('q'))}};
    }

    void untouchedValuesKept() {
        QFETCH(QVariantMap, row);
        GuiFixture f;
        const int id = insertRow("ProfDocuments", row);
        const QStringList leftOut = {"fio1", "editDate"};
        const QStringList before = quotedRow(ownRows, id, leftOut);
        QCOMPARE(before.size(), 23);
        auto* dialog = openDialog(f, id);
        // A date the file does not hold readably shows as none, not as a made-up day.
        for (const auto& date : dateColumns) {
            auto* edit = dialog->findChild<OptionalDateEdit*>(date.second);
            QDate readable = InputHelpers::dateFromValue(row.value(date.first));
            if (readable.year() > 9999)
                readable = QDate();
            QCOMPARE(edit->optionalDate(), readable);
            QCOMPARE(edit->text().trimmed().isEmpty(), !readable.isValid());
        }
        QTest::keyClicks(dialog->findChild<QLineEdit*>("lineEditFio_1"), QStringLiteral("a"));
        saveEdited(dialog);
        QVERIFY(!dialog->isEdited());
        f.adopt<QWidget>(nullptr);
        // What the file holds once the program has let go of it.
        f.db()->commitAndClose();
        const Rows inFile = [](const QString& sql) { return queryFile(Database::filePath(), sql); };
        QCOMPARE(inFile(QStringLiteral("SELECT fio1 FROM ProfDocuments WHERE profId=%1").arg(id)).value(0).value(0),
                 QVariant(row["fio1"].toString() + QStringLiteral("a")));
        QCOMPARE(quotedRow(inFile, id, leftOut), before);
    }

    // Dates the user changes are stored as dates; an emptied one as NULL.
    void datesEdited_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QVariant>("saved");
        QTest::newRow("readable date emptied") << QVariant("1990-05-17") << "empty" << QVariant();
        QTest::newRow("unreadable date replaced") << QVariant("abc") << "type 17051990" << QVariant("1990-05-17");
        QTest::newRow("unreadable date set and emptied") << QVariant("2016-02-30") << "set, empty" << QVariant();
        QTest::newRow("null date typed") << QVariant() << "type 01022003" << QVariant("2003-02-01");
    }

    void datesEdited() {
        QFETCH(QVariant, stored);
        QFETCH(QString, action);
        QFETCH(QVariant, saved);
        GuiFixture f;
        const int id = insertRow("ProfDocuments", {{"fio1", "Датов"}, {"birthDate", stored}});
        auto* dialog = openDialog(f, id);
        auto* edit = dialog->findChild<OptionalDateEdit*>("dateEditBirth");
        if (action.startsWith("set"))
            edit->setOptionalDate(QDate(2001, 1, 1));
        if (action.startsWith("type "))
            QTest::keyClicks(edit, action.mid(5));
        if (action.endsWith("empty")) {
            QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(edit, Qt::Key_Delete);
        }
        saveEdited(dialog);
        const QVariant birth = storedRow(id)["birthDate"];
        QCOMPARE(birth.isNull(), saved.isNull());
        QCOMPARE(birth.toString(), saved.toString());
        QCOMPARE(edit->optionalDate(), QDate::fromString(saved.toString(), Qt::ISODate));
    }

    // A new document starts its training and issue dates today and guesses no birthday, also when
    // made from a template that holds no dates.
    void newDocumentDates_data() {
        QTest::addColumn<bool>("fromTemplate");
        QTest::newRow("new") << false;
        QTest::newRow("from a template without dates") << true;
    }

    void newDocumentDates() {
        QFETCH(bool, fromTemplate);
        GuiFixture f;
        auto* dialog = f.build<DocumentEditDialog>();
        if (fromTemplate)
            dialog->setTemplateId(insertRow("ProfDocuments", {{"fio1", "Шаблон"}, {"isTemplate", 1}}));
        else
            dialog->setId(-1);
        QTRY_VERIFY(isArmed(dialog)); // change tracking is armed
        QVERIFY(dialog->findChild<OptionalDateEdit*>("dateEditBirth")->isEmpty());
        QTest::keyClicks(dialog->findChild<QLineEdit*>("lineEditFio_1"), QStringLiteral("Novikov"));
        saveEdited(dialog);
        const QVariantMap row = storedRow(dialog->recordId());
        const QString today = QDate::currentDate().toString(Qt::ISODate);
        for (const char* column : {"startDate", "finishDate", "protocolDate", "issueDate"})
            QCOMPARE(row[column].toString(), today);
        QVERIFY(row["birthDate"].isNull());
        QCOMPARE(row["certificateType"].toInt(), 1);
        QCOMPARE(row["isTemplate"].toInt(), 0);
    }

    // Every write of a save counts: when one is refused, the rows written before it go too, the
    // document stays new, and the same dialog saves once the cause is gone.
    void refusedWrite_data() {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<bool>("fromTemplate");
        QTest::newRow("new row refused") << "BEFORE INSERT ON ProfDocuments" << false;
        QTest::newRow("new row's fields refused") << "BEFORE UPDATE ON ProfDocuments" << false;
        QTest::newRow("template's appendix text refused") << "BEFORE UPDATE OF addInfo ON ProfDocuments" << true;
    }

    void refusedWrite() {
        QFETCH(QString, trigger);
        QFETCH(bool, fromTemplate);
        GuiFixture f;
        DocumentsTable list;
        const int templateId =
            insertRow("ProfDocuments", {{"fio1", "Шаблон"}, {"isTemplate", 1}, {"addInfo", "Дополнительно"}});
        insertRow("ProfDetails", {{"profId", templateId}, {"name", "Охрана труда"}});
        auto* dialog = f.build<DocumentEditDialog>();
        if (fromTemplate)
            dialog->setTemplateId(templateId);
        else
            dialog->setId(-1);
        QTRY_VERIFY(isArmed(dialog)); // change tracking is armed
        runSql(QStringLiteral("CREATE TRIGGER refuse %1 BEGIN SELECT RAISE(ABORT, 'refused'); END;").arg(trigger));
        QTest::keyClicks(dialog->findChild<QLineEdit*>("lineEditFio_1"), QStringLiteral("Otkazov"));
        saveEdited(dialog);
        QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Ошибка"));
        QCOMPARE(MessageBox::lastShown().text, QStringLiteral("Не удалось сохранить документ.\nrefused"));
        QCOMPARE(dialog->recordId(), -1);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Выдача документа *"));
        QCOMPARE(dialog->findChild<QLineEdit*>("lineEditFio_1")->text(), QStringLiteral("Otkazov"));
        QVERIFY(!dialog->findChild<QPushButton*>("pushButtonFrdo")->isEnabled());
        QCOMPARE(scalar("SELECT COUNT(1) FROM ProfDocuments").toInt(), 1);
        QCOMPARE(scalar("SELECT COUNT(1) FROM ProfDetails").toInt(), 1);

        runSql(QStringLiteral("DROP TRIGGER refuse;"));
        answerCheckQuestion(dialog);
        dialog->findChild<QPushButton*>("pushButtonSave")->click();
        const qint64 id = dialog->recordId();
        QVERIFY(id > templateId);
        QCOMPARE(storedRow(id)["fio1"].toString(), QStringLiteral("Otkazov"));
        QCOMPARE(scalar("SELECT COUNT(1) FROM ProfDocuments").toInt(), 2);
        QCOMPARE(scalar("SELECT COUNT(1) FROM ProfDetails WHERE profId=?", {id}).toInt(), fromTemplate ? 1 : 0);
        QVERIFY(dialog->findChild<QPushButton*>("pushButtonFrdo")->isEnabled());
    }

    void editDateShowsSaveTime() {
        GuiFixture f;
        const int id = insertRow("ProfDocuments", {{"fio1", "Время"}, {"editDate", "2001-01-01T10:00:00"}});
        auto* dialog = openDialog(f, id);
        const QString format = QStringLiteral("dd.MM.yyyy hh:mm:ss");
        QCOMPARE(dialog->findChild<QLineEdit*>("lineEditDate")->text(), QStringLiteral("01.01.2001 10:00:00"));
        const QDateTime before = QDateTime::fromString(QDateTime::currentDateTime().toString(format), format);
        saveEdited(dialog);
        const QDateTime after = QDateTime::currentDateTime();
        const QDateTime shown = QDateTime::fromString(dialog->findChild<QLineEdit*>("lineEditDate")->text(), format);
        QVERIFY2(shown >= before && shown <= after, qPrintable(shown.toString(format)));
    }

    // Only what the clerk can mend in the dialog is asked about before a save: the appendix of a
    // document never saved cannot be filled yet, so its total is marked but not asked about.
    void saveQuestion_data() {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<QString>("qual");
        QTest::addColumn<QString>("asked");
        QTest::newRow("new, name pasted, qualification typed") << false << "3 разряд"
                                                               << "";
        QTest::newRow("new, no qualification") << false << ""
                                               << "• Не указана квалификация";
        QTest::newRow("stored, appendix without hours") << true << "3 разряд"
                                                        << "• Печатается итог часов, а в приложении их 0";
    }

    void saveQuestion() {
        QFETCH(bool, stored);
        QFETCH(QString, qual);
        QFETCH(QString, asked);
        GuiFixture f;
        const int id = stored ? insertRow("ProfDocuments", {{"fio1", "Старый"}, {"showTotalCount", 1}}) : -1;
        auto* dialog = openDialog(f, id);
        QVERIFY(dialog->findChild<QCheckBox*>("checkBoxShowTotalCount")->isChecked());
        QGuiApplication::clipboard()->setText(QStringLiteral("Иванов Иван Иванович"));
        auto* surname = dialog->findChild<QLineEdit*>("lineEditFio_1");
        QTest::keyClick(surname, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(surname, Qt::Key_V, Qt::ControlModifier);
        dialog->findChild<QPlainTextEdit*>("plainTextEditQual")->insertPlainText(qual);
        QVERIFY(dialog->isEdited());
        const QString hours = QStringLiteral("Печатается итог часов, а в приложении их 0");
        QVERIFY(dialog->findChild<QLabel*>("labelCheckStatus")->text().contains(hours));
        f.answerNextBox(QMessageBox::No);
        dialog->findChild<QPushButton*>("pushButtonSave")->click();
        if (!asked.isEmpty()) {
            QCOMPARE(MessageBox::shown().size(), 1);
            QCOMPARE(MessageBox::lastShown().text,
                     QStringLiteral("В документе есть ошибки:\n%1\n\nСохранить всё равно?").arg(asked));
            QCOMPARE(MessageBox::lastShown().defaultButton, QMessageBox::No);
            QVERIFY(dialog->isEdited());
            QCOMPARE(scalar("SELECT COUNT(1) FROM ProfDocuments WHERE fio2 = 'Иван'").toInt(), 0);
            return;
        }
        QCOMPARE(MessageBox::shown().size(), 0);
        QVERIFY(!dialog->isEdited());
        const QVariantMap row = storedRow(dialog->recordId());
        QCOMPARE(QStringList(
                     {row["fio1"].toString(), row["fio2"].toString(), row["fio3"].toString(), row["qual"].toString()}),
                 QStringList({"Иванов", "Иван", "Иванович", qual}));
        // Stored now, the document's appendix can be filled: the total is still marked.
        QCOMPARE(dialog->findChild<QLabel*>("labelCheckStatus")->text(), QStringLiteral("Проблем: 1 — ") + hours);
        QCOMPARE(dialog->findChild<QCheckBox*>("checkBoxShowTotalCount")->toolTip(), hours);
    }

    // The marks and the status line show the stored state after a save the clerk let through.
    void marksStayAfterSave_data() {
        QTest::addColumn<bool>("stored");
        QTest::newRow("new") << false;
        QTest::newRow("stored") << true;
    }

    void marksStayAfterSave() {
        QFETCH(bool, stored);
        GuiFixture f;
        QVariantMap values = sample(1, 0);
        values["showTotalCount"] = 0;
        int id = -1;
        if (stored) {
            QVariantMap row = values;
            for (const auto& date : dateColumns)
                row[date.first] = row[date.first].toDate().toString(Qt::ISODate);
            id = insertRow("ProfDocuments", row);
        }
        auto* dialog = openDialog(f, id);
        if (!stored)
            Form{dialog}.fill(values);
        QCOMPARE(dialog->findChild<QLabel*>("labelCheckStatus")->text(), QString());
        auto* start = dialog->findChild<OptionalDateEdit*>("dateEditStart");
        start->setOptionalDate(QDate(2021, 3, 1));
        dialog->setEdited();
        const QString problem = QStringLiteral("Обучение заканчивается раньше, чем начинается");
        f.answerNextBox(QMessageBox::Yes);
        dialog->findChild<QPushButton*>("pushButtonSave")->click();
        QCOMPARE(MessageBox::lastShown().text,
                 QStringLiteral("В документе есть ошибки:\n• %1\n\nСохранить всё равно?").arg(problem));
        QVERIFY(!dialog->isEdited());
        QCOMPARE(storedRow(dialog->recordId())["startDate"].toString(), QStringLiteral("2021-03-01"));
        QCOMPARE(dialog->findChild<QLabel*>("labelCheckStatus")->text(), QStringLiteral("Проблем: 1 — ") + problem);
        for (const char* name : {"dateEditStart", "dateEditFinish"}) {
            const QWidget* edit = dialog->findChild<QWidget*>(name);
            QCOMPARE(edit->toolTip(), problem);
            QVERIFY2(edit->styleSheet().contains("background-color"), name);
        }
    }

    // The dependent dialogs get the stored id, after the question saved the new document.
    void dependentDialogsGetStoredId() {
        GuiFixture f;
        auto* dialog = openDialog<ProbeDialog>(f, -1);
        dialog->findChild<QLineEdit*>("lineEditFio_1")->setText("Зависимый");
        saveEdited(dialog);
        QTest::keyClick(dialog->findChild<QLineEdit*>("lineEditFio_2"), Qt::Key_A);
        f.answerNextBox(QMessageBox::Save);
        answerCheckQuestion(dialog);
        dialog->findChild<QPushButton*>("pushButtonAdditonal")->click();
        dialog->findChild<QPushButton*>("pushButtonFrdo")->click();
        const int id = dialog->recordId();
        QCOMPARE(dialog->opened,
                 QStringList({QStringLiteral("appendix %1").arg(id), QStringLiteral("frdo %1").arg(id)}));
        QCOMPARE(storedRow(id)["fio2"].toString(), QStringLiteral("a"));
    }
};

ORVANE_TEST(TestDocumentEditDialog)
#include "tst_documenteditdialog.moc"
