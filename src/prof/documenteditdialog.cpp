#include "documenteditdialog.h"
#include "dialoggeometry.h"
#include "frdodialog.h"
#include "printdialog.h"
#include "ui_documenteditdialog.h"

#include "database.h"
#include "messagebox.h"
#include "modules/DocumentsTableAbstract/documentstableabstract.h"
#include "mzlog.h"
#include "services/inputhelpers.h"

#include <QClipboard>
#include <QDateTime>
#include <QGuiApplication>
#include <QSqlQuery>
#include <QSqlRecord>

#if __has_include("additionaleditdialog.h")
#include "additionaleditdialog.h"
#define ORVANE_HAS_APPENDIX_DIALOG 1
#endif

namespace {
const QString documentTitle = QStringLiteral("Выдача документа");
const QString templateTitle = QStringLiteral("Реактирование шаблона");
const QString table = QStringLiteral("ProfDocuments");
const QString selectSql = QStringLiteral("SELECT * FROM ProfDocuments WHERE profId=%1;");

// Dates are stored as ISO text; a date the form does not hold is stored as NULL.
QVariant dateValue(const QDate& date) {
    return date.isValid() ? QVariant(date.toString(Qt::ISODate)) : QVariant(QVariant::String);
}

void setDate(QDateEdit* edit, const QVariant& value) {
    const QDate date = InputHelpers::dateFromValue(value);
    if (date.isValid())
        edit->setDate(date);
}

int flag(bool checked) {
    return checked ? 1 : 0;
}
} // namespace

DocumentEditDialog::DocumentEditDialog(QWidget* parent) : AbstractEditDialog(parent), ui(new Ui::DocumentEditDialog) {
    ui->setupUi(this);
    setWindowTitle(documentTitle);
    const QDate today = QDate::currentDate();
    for (QDateEdit* edit : {ui->dateEditStart, ui->dateEditFinish, ui->dateEditIssue, ui->dateEditProtocol})
        edit->setDate(today);
    fillUsedValues();
    connect(ui->lineEditFio_1, &QLineEdit::textChanged, this, &DocumentEditDialog::splitPastedName);
    connect(ui->pushButtonSave, &QPushButton::clicked, this, &AbstractEditDialog::save);
    connect(ui->pushButtonPrint, &QPushButton::clicked, this, &AbstractEditDialog::print);
    connect(ui->pushButtonCancel, &QPushButton::clicked, this, &AbstractEditDialog::close);
    setDependentButtonsEnabled(false);
    ui->lineEditFio_1->setFocus();
    DialogGeometry::restore(this);
}

DocumentEditDialog::~DocumentEditDialog() {
    DialogGeometry::save(this);
}

void DocumentEditDialog::fillUsedValues() {
    InputHelpers::fillComboBoxUsedValues(QStringLiteral("AttNumber"), table, ui->comboBoxAttNumber, 0);
    InputHelpers::fillComboBoxUsedValues(QStringLiteral("PrevEducation"), table, ui->comboBoxPrevEducation, 0);
    InputHelpers::fillComboBoxUsedValues(QStringLiteral("Profession"), table, ui->comboBoxProfession, 0);
    InputHelpers::fillComboBoxUsedValues(QStringLiteral("profProgName"), table, ui->comboBoxEditProfProgramName, 0);
}

void DocumentEditDialog::setDependentButtonsEnabled(bool enabled) {
    ui->pushButtonAdditonal->setEnabled(enabled);
    ui->pushButtonFrdo->setEnabled(enabled);
}

void DocumentEditDialog::setId(int id) {
    setRecordId(id);
    setDependentButtonsEnabled(id > 0);
    clearForms();
    if (id > 0)
        loadRecord(id);
}

void DocumentEditDialog::setTemplateId(int templateId) {
    _templateId = templateId;
    clearForms();
    setDependentButtonsEnabled(false);
    if (templateId <= 0 || !Database::instance()->execSql(selectSql.arg(templateId)).next())
        return;
    loadRecord(templateId);
    for (QLineEdit* edit : {ui->lineEditFio_1, ui->lineEditFio_2, ui->lineEditFio_3})
        edit->clear();
}

void DocumentEditDialog::setTemplateMode(bool isTemplate) {
    _isTemplate = isTemplate;
    ui->groupBoxFio_2->setVisible(!isTemplate);
    ui->groupBoxFio_3->setVisible(!isTemplate);
    ui->groupBoxFio_1->setTitle(isTemplate ? QStringLiteral("Название шаблона") : QStringLiteral("Фамилия"));
    setWindowTitle(isTemplate ? templateTitle : documentTitle);
    // A template has no number of its own: those fields belong to each document made from it.
    ui->pushButtonPrint->setVisible(!isTemplate);
    for (QWidget* w :
         std::initializer_list<QWidget*>{ui->lineEditRegNumber, ui->groupBoxRegNumber, ui->comboBoxAttNumber,
                                         ui->checkBoxDuplicate, ui->checkBoxIsEcsellent})
        w->setEnabled(!isTemplate);
}

void DocumentEditDialog::splitPastedName(const QString& text) {
    const QString simplified = text.simplified();
    const QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard || simplified != clipboard->text().simplified() || !ui->lineEditFio_2->text().isEmpty() ||
        !ui->lineEditFio_3->text().isEmpty())
        return;
    QStringList parts = simplified.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const int count = parts.size();
    if (count > 2)
        ui->lineEditFio_3->setText(parts.takeLast());
    if (count >= 2)
        ui->lineEditFio_2->setText(parts.takeLast());
    ui->lineEditFio_1->setText(parts.join(QLatin1Char(' ')));
}

void DocumentEditDialog::loadRecord(int id) {
    QSqlQuery query = Database::instance()->execSql(selectSql.arg(id));
    if (!query.next())
        return;
    const QSqlRecord r = query.record();
    const auto value = [&](const char* column) { return r.value(QLatin1String(column)); };
    const auto text = [&](const char* column) { return value(column).toString(); };
    ui->lineEditFio_1->setText(text("fio1"));
    ui->lineEditFio_2->setText(text("fio2"));
    ui->lineEditFio_3->setText(text("fio3"));
    setDate(ui->dateEditBirth, value("birthDate"));
    setDate(ui->dateEditStart, value("startDate"));
    setDate(ui->dateEditFinish, value("finishDate"));
    // 0 leaves the exclusive pair as it is: one of them stays checked.
    const int type = value("certificateType").toInt();
    if (type == 1)
        ui->radioButtonProf1->setChecked(true);
    else if (type == 2)
        ui->radioButtonProf2->setChecked(true);
    ui->comboBoxProfession->setEditText(text("profession"));
    ui->plainTextEditQual->setPlainText(text("qual"));
    ui->comboBoxEditProfProgramName->setEditText(text("profProgName"));
    ui->comboBoxPrevEducation->setEditText(text("prevEducation"));
    ui->lineEditProtocolNumber->setText(text("protocolNumber"));
    ui->comboBoxAttNumber->setEditText(text("attNumber"));
    ui->lineEditRegNumber->setText(text("regNumber"));
    setDate(ui->dateEditProtocol, value("protocolDate"));
    setDate(ui->dateEditIssue, value("issueDate"));
    ui->lineEditDate->setText(
        QDateTime::fromString(text("editDate"), Qt::ISODate).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")));
    ui->checkBoxDuplicate->setChecked(value("isDuplicate").toInt() > 0);
    ui->checkBoxIsEcsellent->setChecked(value("isExcellent").toInt() > 0);
    ui->checkBoxShowTotalCount->setChecked(value("showTotalCount").toInt() > 0);
}

int DocumentEditDialog::certificateType() const {
    if (ui->radioButtonProf1->isChecked())
        return 1;
    return ui->radioButtonProf2->isChecked() ? 2 : 0;
}

bool DocumentEditDialog::checkForms() {
    QString error;
    const QString attNumber = ui->comboBoxAttNumber->currentText().trimmed();
    if (!ui->checkBoxDuplicate->isChecked() && !attNumber.isEmpty()) {
        QSqlQuery query(QSqlDatabase::database());
        query.prepare(
            QStringLiteral("SELECT COUNT(1) FROM ProfDocuments WHERE attNumber=:attNumber AND profId!=:profId;"));
        query.bindValue(QStringLiteral(":attNumber"), attNumber);
        query.bindValue(QStringLiteral(":profId"), recordId());
        if (Database::instance()->execPrepared(query) && query.next() && query.value(0).toInt() > 0)
            error += QStringLiteral("Номер свидетельства не уникален!\n");
    }
    if (error.isEmpty())
        return true;
    MessageBox::warning(this, QStringLiteral("Внимание!"), QStringLiteral("Невозможно сохранить документ:\n") + error);
    return false;
}

bool DocumentEditDialog::updateRecord() {
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(QStringLiteral(
        "UPDATE ProfDocuments SET fio1=:fio1, fio2=:fio2, fio3=:fio3, certificateType=:certificateType, "
        "profession=:profession, protocolDate=:protocolDate,  protocolNumber=:protocolNumber, regNumber=:regNumber, "
        "issueDate=:issueDate, editDate=:editDate, isDuplicate=:isDuplicate, isExcellent=:isExcellent, "
        "isTemplate=:isTemplate, attNumber=:attNumber, qual=:qual, prevEducation=:prevEducation, "
        "birthDate=:birthDate, showTotalCount=:showTotalCount,  profProgName=:profProgName, startDate=:startDate, "
        "finishDate=:finishDate  WHERE profId=:profId;"));
    const auto bind = [&](const char* name, const QVariant& value) { query.bindValue(QLatin1String(name), value); };
    bind(":fio1", ui->lineEditFio_1->text());
    bind(":fio2", ui->lineEditFio_2->text());
    bind(":fio3", ui->lineEditFio_3->text());
    bind(":certificateType", certificateType());
    bind(":profession", ui->comboBoxProfession->currentText());
    bind(":protocolDate", dateValue(ui->dateEditProtocol->date()));
    bind(":protocolNumber", ui->lineEditProtocolNumber->text());
    bind(":regNumber", ui->lineEditRegNumber->text());
    bind(":issueDate", dateValue(ui->dateEditIssue->date()));
    // Whole seconds: the form shows the stored value back to the second.
    bind(":editDate", QDateTime::currentDateTime().toString(Qt::ISODate));
    bind(":isDuplicate", flag(ui->checkBoxDuplicate->isChecked()));
    bind(":isExcellent", flag(ui->checkBoxIsEcsellent->isChecked()));
    bind(":isTemplate", flag(_isTemplate));
    bind(":attNumber", ui->comboBoxAttNumber->currentText());
    bind(":qual", ui->plainTextEditQual->toPlainText());
    bind(":prevEducation", ui->comboBoxPrevEducation->currentText());
    bind(":birthDate", dateValue(ui->dateEditBirth->date()));
    bind(":showTotalCount", flag(ui->checkBoxShowTotalCount->isChecked()));
    bind(":profProgName", ui->comboBoxEditProfProgramName->currentText());
    bind(":startDate", dateValue(ui->dateEditStart->date()));
    bind(":finishDate", dateValue(ui->dateEditFinish->date()));
    bind(":profId", recordId());
    setUnedited();
    return Database::instance()->execPrepared(query);
}

bool DocumentEditDialog::insertRecord() {
    Database* db = Database::instance();
    const QSqlQuery insert = db->execSql(QStringLiteral("INSERT OR IGNORE INTO ProfDocuments (comment) VALUES ('');"));
    const int newId = insert.lastInsertId().toInt();
    setRecordId(newId);
    const bool ok = updateRecord();
    if (_templateId > 0 && newId > 0) {
        if (DocumentsTableAbstract* list = DocumentsTableAbstract::instance())
            list->copyAdditionalRecords(_templateId, newId);
        QSqlQuery query(QSqlDatabase::database());
        query.prepare(QStringLiteral(
            "UPDATE ProfDocuments SET addInfo=(SELECT addInfo FROM ProfDocuments WHERE profId=:profId2), "
            "hideTotalCountInAdd=(SELECT hideTotalCountInAdd FROM ProfDocuments WHERE profId=:profId2) WHERE "
            "profId=:profId1;"));
        query.bindValue(QStringLiteral(":profId1"), newId);
        query.bindValue(QStringLiteral(":profId2"), _templateId);
        db->execPrepared(query);
    }
    setDependentButtonsEnabled(newId > 0);
    return ok && newId > 0;
}

void DocumentEditDialog::on_pushButtonAdditonal_clicked() {
    // Both dialogs need a stored document; a discarded new one has none.
    if (maybeSave() && recordId() > 0)
        openAppendix(recordId());
}

void DocumentEditDialog::on_pushButtonFrdo_clicked() {
    if (maybeSave() && recordId() > 0)
        openFrdo(recordId());
}

void DocumentEditDialog::openAppendix(int id) {
#ifdef ORVANE_HAS_APPENDIX_DIALOG
    auto* dialog = new AdditionalEditDialog(this);
    dialog->setId(id);
    dialog->show();
#else
    Q_UNUSED(id)
    MZ_LOG() << "appendix dialog not available";
#endif
}

void DocumentEditDialog::openFrdo(int id) {
    auto* dialog = new FrdoDialog(this);
    dialog->setDocId(id);
    dialog->show();
}

QDialog* DocumentEditDialog::createPrintDialog() {
    return new PrintDialog(this);
}
