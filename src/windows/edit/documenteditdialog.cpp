#include "documenteditdialog.h"
#include "dialoggeometry.h"
#include "frdodialog.h"
#include "historydialog.h"
#include "printdialog.h"
#include "ui_documenteditdialog.h"

#include "documentrecords.h"
#include "documentstore.h"
#include "edittransaction.h"
#include "inputhelpers.h"
#include "messagebox.h"
#include "mzlog.h"
#include "nameparts.h"
#include "optionaldateedit.h"
#include "subjectsstore.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDateTime>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <algorithm>

#if __has_include("additionaleditdialog.h")
#include "additionaleditdialog.h"
#define ORVANE_HAS_APPENDIX_DIALOG 1
#endif

namespace {
const QString documentTitle = QStringLiteral("Выдача документа");
const QString templateTitle = QStringLiteral("Реактирование шаблона");
const QString table = QStringLiteral("ProfDocuments");

// Dates are stored as ISO text; an empty date edit stores NULL.
QVariant dateValue(const OptionalDateEdit* edit) {
    const QDate date = edit->optionalDate();
    return date.isValid() ? QVariant(date.toString(Qt::ISODate)) : QVariant(QVariant::String);
}

// A date the file holds unreadably shows as no date.
void showDate(OptionalDateEdit* edit, const QVariant& value) {
    edit->showStoredDate(InputHelpers::dateFromValue(value));
}

const QString changedText = QStringLiteral("Документ изменён другим пользователем после того, как вы его открыли.");
const QString deletedText = QStringLiteral("Документ удалён другим пользователем. Введённые данные сохранены в окне: "
                                           "их можно сохранить как новый документ.");
const QString notUniqueText = QStringLiteral("Номер свидетельства не уникален!\n");
const QString cannotSaveText = QStringLiteral("Невозможно сохранить документ:\n");
// The buttons of the two questions, named for what they do.
constexpr QMessageBox::StandardButton showTheirs = QMessageBox::Open;
constexpr QMessageBox::StandardButton saveMine = QMessageBox::Save;
constexpr QMessageBox::StandardButton saveAsNew = QMessageBox::Save;
const QList<QPair<QMessageBox::StandardButton, QString>> changeChoices = {
    {showTheirs, QStringLiteral("Показать другую версию")},
    {saveMine, QStringLiteral("Сохранить мою")},
    {QMessageBox::Cancel, QStringLiteral("Отмена")}};
const QList<QPair<QMessageBox::StandardButton, QString>> deletionChoices = {
    {saveAsNew, QStringLiteral("Сохранить как новый")},
    {QMessageBox::Cancel, QStringLiteral("Оставить окно открытым")}};

QString shownValue(const QVariant& value) {
    const QString text = value.toString().simplified();
    return text.isEmpty() ? QStringLiteral("(пусто)") : text;
}

int flag(bool checked) {
    return checked ? 1 : 0;
}

// The widget of each column the certificate check may name.
const QList<QPair<const char*, const char*>> markedFields = {{"fio1", "lineEditFio_1"},
                                                             {"fio2", "lineEditFio_2"},
                                                             {"fio3", "lineEditFio_3"},
                                                             {"birthDate", "dateEditBirth"},
                                                             {"startDate", "dateEditStart"},
                                                             {"finishDate", "dateEditFinish"},
                                                             {"certificateType", "radioButtonProf1"},
                                                             {"certificateType", "radioButtonProf2"},
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
                                                             {"showTotalCount", "checkBoxShowTotalCount"},
                                                             {"totalHours", "checkBoxShowTotalCount"},
                                                             {"totalHours", "pushButtonAdditonal"},
                                                             {"hasSubjects", "pushButtonAdditonal"}};
} // namespace

DocumentEditDialog::DocumentEditDialog(QWidget* parent) : AbstractEditDialog(parent), ui(new Ui::DocumentEditDialog) {
    ui->setupUi(this);
    setWindowTitle(documentTitle);
    setNewDocumentDates(false);
    fillUsedValues();
    // Only what the user puts in: a loaded surname that happens to equal the clipboard stays whole.
    connect(ui->lineEditFio_1, &QLineEdit::textEdited, this, &DocumentEditDialog::splitPastedName);
    connect(ui->pushButtonSave, &QPushButton::clicked, this, &AbstractEditDialog::save);
    connect(ui->pushButtonPrint, &QPushButton::clicked, this, &AbstractEditDialog::print);
    connect(ui->pushButtonCancel, &QPushButton::clicked, this, &AbstractEditDialog::close);
    connect(ui->pushButtonHistory, &QPushButton::clicked, this, [this] {
        if (recordId() > 0)
            HistoryDialog::open(recordId(), this);
    });
    setDependentButtonsEnabled(false);
    ui->lineEditFio_1->setFocus();
    DialogGeometry::restore(this);
    markFields();
    FieldMarks::watch(this, [this] { recheck(); });
    recheck();
}

DocumentEditDialog::~DocumentEditDialog() {
    // The children go after this one's members: none of them may call back into it (the check).
    for (QObject* child : findChildren<QObject*>())
        child->disconnect(this);
    DialogGeometry::save(this);
}

namespace {
// Certificate numbers last: a number a document, they take the longest to count.
const QStringList usedValueColumns{QStringLiteral("Profession"), QStringLiteral("profProgName"),
                                   QStringLiteral("PrevEducation"), QStringLiteral("AttNumber")};
} // namespace

// On a server or a large file the lists may still be on their way: the dialog shows the document first.
void DocumentEditDialog::fillUsedValues() {
    QComboBox* const combos[] = {ui->comboBoxProfession, ui->comboBoxEditProfProgramName, ui->comboBoxPrevEducation,
                                 ui->comboBoxAttNumber};
    QList<QPair<QString, QComboBox*>> entries;
    for (int i = 0; i < usedValueColumns.size(); ++i)
        entries.append({usedValueColumns.at(i), combos[i]});
    InputHelpers::fillUsedValuesWhenRead(this, table, entries);
}

void DocumentEditDialog::readUsedValuesAhead() {
    DocumentStore::readUsedValuesAhead(table, usedValueColumns);
}

// Training and issue dates start from today; nobody's birthday is guessed.
void DocumentEditDialog::setNewDocumentDates(bool onlyEmpty) {
    const QDate today = QDate::currentDate();
    for (OptionalDateEdit* edit : {ui->dateEditStart, ui->dateEditFinish, ui->dateEditIssue, ui->dateEditProtocol})
        if (!onlyEmpty || edit->isEmpty())
            edit->setOptionalDate(today);
}

void DocumentEditDialog::setDependentButtonsEnabled(bool enabled) {
    ui->pushButtonAdditonal->setEnabled(enabled);
    ui->pushButtonFrdo->setEnabled(enabled);
    ui->pushButtonHistory->setEnabled(enabled);
}

void DocumentEditDialog::setId(qint64 id) {
    setRecordId(id);
    setDependentButtonsEnabled(id > 0);
    clearForms();
    _stored.clear();
    _loaded.clear();
    _version = 0;
    _dependents = {};
    if (id > 0)
        loadRecord(id);
    else
        setNewDocumentDates(false);
    readAppendixTotal();
}

void DocumentEditDialog::setTemplateId(qint64 templateId) {
    _templateId = templateId;
    clearForms();
    _stored.clear();
    _loaded.clear();
    setDependentButtonsEnabled(false);
    setNewDocumentDates(false);
    if (!DocumentRecords::exists(templateId))
        return;
    loadRecord(templateId);
    // The new document has nothing stored yet: it takes what the form shows, and a date the
    // template does not hold is a new document's.
    _stored.clear();
    _loaded.clear();
    _version = 0;
    _dependents = {}; // the template's own come through the list at the first save
    setNewDocumentDates(true);
    for (QLineEdit* edit : {ui->lineEditFio_1, ui->lineEditFio_2, ui->lineEditFio_3})
        edit->clear();
    readAppendixTotal(); // the template's subjects come with the new document
}

void DocumentEditDialog::setTemplateMode(bool isTemplate) {
    _isTemplate = isTemplate;
    ui->groupBoxFio_2->setVisible(!isTemplate);
    ui->groupBoxFio_3->setVisible(!isTemplate);
    ui->groupBoxFio_1->setTitle(isTemplate ? QStringLiteral("Название шаблона") : QStringLiteral("Фамилия"));
    setWindowTitle(isTemplate ? templateTitle : documentTitle);
    // A template has no number of its own: those fields belong to each document made from it.
    ui->pushButtonPrint->setVisible(!isTemplate);
    recheck();
    for (QWidget* w :
         std::initializer_list<QWidget*>{ui->lineEditRegNumber, ui->groupBoxRegNumber, ui->comboBoxAttNumber,
                                         ui->checkBoxDuplicate, ui->checkBoxIsEcsellent})
        w->setEnabled(!isTemplate);
}

void DocumentEditDialog::splitPastedName(const QString& text) {
    // A template's name is one text, and its name fields are hidden.
    if (_isTemplate)
        return;
    const QString simplified = text.simplified();
    const QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard || simplified != clipboard->text().simplified() || !ui->lineEditFio_2->text().isEmpty() ||
        !ui->lineEditFio_3->text().isEmpty())
        return;
    const NameParts parts = NameParts::split(simplified);
    if (!parts.patronymic.isEmpty())
        ui->lineEditFio_3->setText(parts.patronymic);
    if (!parts.name.isEmpty())
        ui->lineEditFio_2->setText(parts.name);
    ui->lineEditFio_1->setText(parts.surname);
}

void DocumentEditDialog::loadRecord(qint64 id) {
    QSqlRecord r;
    if (!DocumentRecords::read(id, &r))
        return;
    const auto value = [&](const char* column) { return r.value(QLatin1String(column)); };
    const auto text = [&](const char* column) { return value(column).toString(); };
    ui->lineEditFio_1->setText(text("fio1"));
    ui->lineEditFio_2->setText(text("fio2"));
    ui->lineEditFio_3->setText(text("fio3"));
    showDate(ui->dateEditBirth, value("birthDate"));
    showDate(ui->dateEditStart, value("startDate"));
    showDate(ui->dateEditFinish, value("finishDate"));
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
    showDate(ui->dateEditProtocol, value("protocolDate"));
    showDate(ui->dateEditIssue, value("issueDate"));
    ui->lineEditDate->setText(
        QDateTime::fromString(text("editDate"), Qt::ISODate).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")));
    ui->checkBoxDuplicate->setChecked(value("isDuplicate").toInt() > 0);
    ui->checkBoxIsEcsellent->setChecked(value("isExcellent").toInt() > 0);
    ui->checkBoxShowTotalCount->setChecked(value("showTotalCount").toInt() > 0);
    _stored.clear();
    for (const QString& column : DocumentRecords::formColumns())
        _stored.insert(column, r.value(column));
    _stored.insert(QStringLiteral("isTemplate"), value("isTemplate"));
    _loaded = formValues();
    // From the same read as the values: a save in between would otherwise go unnoticed.
    _version = DocumentRecords::versionOf(r);
    readDependents(r);
    // The marks followed each value as it was set, while the stored values were still the old ones.
    recheck();
}

QVariantMap DocumentEditDialog::formValues() const {
    return {{QStringLiteral("fio1"), ui->lineEditFio_1->text()},
            {QStringLiteral("fio2"), ui->lineEditFio_2->text()},
            {QStringLiteral("fio3"), ui->lineEditFio_3->text()},
            {QStringLiteral("certificateType"), certificateType()},
            {QStringLiteral("profession"), ui->comboBoxProfession->currentText()},
            {QStringLiteral("protocolDate"), dateValue(ui->dateEditProtocol)},
            {QStringLiteral("protocolNumber"), ui->lineEditProtocolNumber->text()},
            {QStringLiteral("regNumber"), ui->lineEditRegNumber->text()},
            {QStringLiteral("issueDate"), dateValue(ui->dateEditIssue)},
            {QStringLiteral("isDuplicate"), flag(ui->checkBoxDuplicate->isChecked())},
            {QStringLiteral("isExcellent"), flag(ui->checkBoxIsEcsellent->isChecked())},
            {QStringLiteral("attNumber"), ui->comboBoxAttNumber->currentText()},
            {QStringLiteral("qual"), ui->plainTextEditQual->toPlainText()},
            {QStringLiteral("prevEducation"), ui->comboBoxPrevEducation->currentText()},
            {QStringLiteral("birthDate"), dateValue(ui->dateEditBirth)},
            {QStringLiteral("showTotalCount"), flag(ui->checkBoxShowTotalCount->isChecked())},
            {QStringLiteral("profProgName"), ui->comboBoxEditProfProgramName->currentText()},
            {QStringLiteral("startDate"), dateValue(ui->dateEditStart)},
            {QStringLiteral("finishDate"), dateValue(ui->dateEditFinish)}};
}

// A value the user did not touch goes back as the file held it: NULL stays NULL, and a text the
// form cannot show (a date like "2016-02-30") is not replaced by what the form made of it.
QVariant DocumentEditDialog::valueToWrite(const QString& column, const QVariantMap& now) const {
    if (!_stored.contains(column))
        return now.value(column);
    const QHash<QString, const OptionalDateEdit*> dates = {{QStringLiteral("birthDate"), ui->dateEditBirth},
                                                           {QStringLiteral("startDate"), ui->dateEditStart},
                                                           {QStringLiteral("finishDate"), ui->dateEditFinish},
                                                           {QStringLiteral("protocolDate"), ui->dateEditProtocol},
                                                           {QStringLiteral("issueDate"), ui->dateEditIssue}};
    // A date changed and changed back counts as touched: that is how a user clears an unreadable one.
    const OptionalDateEdit* date = dates.value(column);
    const bool touched = date ? date->isModified() : now.value(column) != _loaded.value(column);
    return touched ? now.value(column) : _stored.value(column);
}

int DocumentEditDialog::certificateType() const {
    if (ui->radioButtonProf1->isChecked())
        return 1;
    return ui->radioButtonProf2->isChecked() ? 2 : 0;
}

bool DocumentEditDialog::checkForms() {
    QString error;
    const QString attNumber = ui->comboBoxAttNumber->currentText().trimmed();
    if (!ui->checkBoxDuplicate->isChecked() && !attNumber.isEmpty() &&
        DocumentRecords::attNumberTaken(attNumber, recordId()))
        error += notUniqueText;
    if (!error.isEmpty()) {
        MessageBox::warning(this, MessageBox::attentionTitle(), cannotSaveText + error);
        return false;
    }
    // The clerk may not have every value yet: a wrong certificate is saved when asked for. What
    // cannot be mended in this dialog yet stays marked but is not asked about.
    QVector<FrdoProblem> problems = certificateProblems();
    problems.erase(std::remove_if(problems.begin(), problems.end(),
                                  [this](const FrdoProblem& problem) { return !mendableHere(problem); }),
                   problems.end());
    if (problems.isEmpty())
        return true;
    const QString question =
        QStringLiteral("В документе есть ошибки:\n%1\n\nСохранить всё равно?").arg(FieldMarks::listText(problems));
    return MessageBox::question(this, MessageBox::attentionTitle(), question, QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::No) == QMessageBox::Yes;
}

bool DocumentEditDialog::updateRecord() {
    const bool overwrite = _overwrite;
    _overwrite = false;
    return writeValues(overwrite ? 0 : _version);
}

bool DocumentEditDialog::writeValues(qint64 expectedVersion) {
    _conflict = Conflict::None;
    // Checked again inside the save: another program may have saved the number since checkForms().
    const QString attNumber = ui->comboBoxAttNumber->currentText().trimmed();
    bool taken = false;
    QString error;
    if (!ui->checkBoxDuplicate->isChecked() && !attNumber.isEmpty() &&
        (!DocumentRecords::claimAttNumber(attNumber, recordId(), &taken, &error) || taken)) {
        _conflict = taken ? Conflict::NumberTaken : Conflict::None;
        setWriteError(taken ? notUniqueText.trimmed() : error);
        return false;
    }
    const QVariantMap now = formValues();
    QVariantMap values;
    for (const QString& column : DocumentRecords::formColumns())
        values.insert(column, valueToWrite(column, now));
    // Whole seconds: the form shows the stored value back to the second.
    values.insert(QStringLiteral("editDate"), QDateTime::currentDateTime().toString(Qt::ISODate));
    // A stored flag that already says what the mode says stays as it is (NULL is "not a template").
    const QVariant storedTemplate = _stored.value(QStringLiteral("isTemplate"));
    const bool sameMode =
        _stored.contains(QStringLiteral("isTemplate")) && (storedTemplate.toInt() != 0) == _isTemplate;
    values.insert(QStringLiteral("isTemplate"), sameMode ? storedTemplate : QVariant(flag(_isTemplate)));
    switch (DocumentRecords::update(recordId(), values, expectedVersion, &error)) {
    case DocumentRecords::SaveOutcome::Saved:
        return true;
    case DocumentRecords::SaveOutcome::Changed:
        _conflict = Conflict::Changed;
        setWriteError(changedText);
        return false;
    case DocumentRecords::SaveOutcome::Deleted:
        _conflict = Conflict::Deleted;
        setWriteError(deletedText);
        return false;
    case DocumentRecords::SaveOutcome::Failed:
        break;
    }
    setWriteError(error);
    return false;
}

bool DocumentEditDialog::insertRecord() {
    QString error;
    const qint64 newId = DocumentRecords::insert(&error);
    if (newId <= 0) {
        setWriteError(error);
        return false;
    }
    EditTransaction::followNew(this, newId);
    setRecordId(newId);
    if (!writeValues(0))
        return false;
    if (_savingAsNew) {
        // The deleted document's appendix and FRDO data go with what was typed.
        _savingAsNew = false;
        if (!DocumentRecords::writeDependents(newId, _dependents, &error)) {
            setWriteError(error);
            return false;
        }
    } else if (_templateId > 0) {
        // The template's subjects and FRDO values come with it, or the save fails as a whole.
        if (!DocumentStore::copyDependentRows(_templateId, newId, &error) ||
            !DocumentRecords::copyAppendixInfo(_templateId, newId, &error)) {
            setWriteError(error);
            return false;
        }
    }
    setDependentButtonsEnabled(true);
    return true;
}

QString DocumentEditDialog::saveFailureText() const {
    return QStringLiteral("Не удалось сохранить документ.");
}

// The new row went with the undone save: the document is new again.
void DocumentEditDialog::saveFailed() {
    _savingAsNew = false;
    setDependentButtonsEnabled(recordId() > 0);
}

bool DocumentEditDialog::settleFailedSave(const QString& reason) {
    const Conflict conflict = _conflict;
    _conflict = Conflict::None;
    switch (conflict) {
    case Conflict::NumberTaken:
        MessageBox::warning(this, MessageBox::attentionTitle(), cannotSaveText + notUniqueText);
        return false;
    case Conflict::Changed:
        return askAboutChange();
    case Conflict::Deleted:
        return askAboutDeletion();
    case Conflict::None:
        break;
    }
    return AbstractEditDialog::settleFailedSave(reason);
}

// Nothing of the other save is overwritten unless the user says so.
bool DocumentEditDialog::askAboutChange() {
    for (;;) {
        const auto answer = MessageBox::ask(this, changedText, QString(), showTheirs | saveMine | QMessageBox::Cancel,
                                            QMessageBox::Cancel, changeChoices);
        if (answer == showTheirs) {
            MessageBox::information(this, QStringLiteral("Информация"), differencesText());
            continue;
        }
        _overwrite = answer == saveMine;
        return _overwrite;
    }
}

bool DocumentEditDialog::askAboutDeletion() {
    if (MessageBox::ask(this, deletedText, QString(), saveAsNew | QMessageBox::Cancel, QMessageBox::Cancel,
                        deletionChoices) != saveAsNew)
        return false;
    // The next write inserts a new row with what the form holds; a failure puts the old id back.
    setRecordId(-1);
    _version = 0;
    _savingAsNew = true;
    return true;
}

QString DocumentEditDialog::differencesText() const {
    QSqlRecord row;
    if (!DocumentRecords::read(recordId(), &row))
        return deletedText;
    const QVariantMap now = formValues();
    QStringList lines;
    for (const QString& column : DocumentRecords::formColumns()) {
        const QString theirs = shownValue(row.value(column));
        const QString mine = shownValue(valueToWrite(column, now));
        if (theirs != mine)
            lines << QStringLiteral("%1: %2 / %3").arg(caption(column), theirs, mine);
    }
    if (lines.isEmpty())
        return QStringLiteral("Поля документа совпадают с введёнными: изменены приложение или данные ФРДО.");
    return QStringLiteral("Сохранённые значения, отличные от введённых (другая версия / ваша):\n") +
           lines.join(QLatin1Char('\n'));
}

// A flag's own text, the title of the group box holding any other field, or the column's name.
QString DocumentEditDialog::caption(const QString& column) const {
    QHash<QString, const char*> widgets = {{QStringLiteral("isExcellent"), "checkBoxIsEcsellent"}};
    for (const auto& field : markedFields)
        if (!widgets.contains(QLatin1String(field.first)))
            widgets.insert(QLatin1String(field.first), field.second);
    const QWidget* widget = findChild<QWidget*>(QLatin1String(widgets.value(column, "")));
    if (const auto* check = qobject_cast<const QCheckBox*>(widget))
        return check->text();
    for (const QWidget* w = widget; w; w = w->parentWidget())
        if (const auto* group = qobject_cast<const QGroupBox*>(w))
            if (!group->title().isEmpty())
                return group->title();
    return column;
}

// The document's own appendix and FRDO dialogs raise its version too.
void DocumentEditDialog::rememberStored() {
    QSqlRecord row;
    if (recordId() <= 0 || !DocumentRecords::read(recordId(), &row))
        return;
    _version = DocumentRecords::versionOf(row);
    readDependents(row);
}

// A failed read keeps what was read before: it is logged, and the form goes on.
void DocumentEditDialog::readDependents(const QSqlRecord& row) {
    DocumentRecords::Dependents held;
    if (DocumentRecords::readDependents(row, &held))
        _dependents = held;
}

void DocumentEditDialog::markFields() {
    for (const auto& field : markedFields)
        _marks.add(QLatin1String(field.first), findChild<QWidget*>(QLatin1String(field.second)));
}

void DocumentEditDialog::readAppendixTotal() {
    // No rows sum to NULL: a document without subjects.
    const QString total = SubjectsStore::totalHours(recordId() > 0 ? recordId() : _templateId);
    _hasSubjects = !total.isEmpty();
    _totalHours = _hasSubjects ? QVariant(total.toInt()) : QVariant();
    recheck();
}

QVariantMap DocumentEditDialog::checkedRow() const {
    const QVariantMap now = formValues();
    QVariantMap row;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        const QVariant value = valueToWrite(it.key(), now);
        // An empty field is as good as none.
        row.insert(it.key().toLower(), value.toString().trimmed().isEmpty() ? QVariant() : value);
    }
    row.insert(QStringLiteral("totalhours"), _totalHours);
    row.insert(QStringLiteral("hassubjects"), _hasSubjects);
    return row;
}

QVector<FrdoProblem> DocumentEditDialog::certificateProblems() const {
    // A template is no certificate: it has no name and its dates are only a start.
    if (_isTemplate)
        return {};
    return FrdoCheck::problems(checkedRow(), FrdoCheck::certificateRules());
}

// The appendix can be filled only once the document is stored.
bool DocumentEditDialog::mendableHere(const FrdoProblem& problem) const {
    if (recordId() > 0)
        return true;
    const auto readsAppendix = [&problem](const char* column) {
        return problem.columns.contains(QLatin1String(column), Qt::CaseInsensitive);
    };
    return !readsAppendix("totalhours") && !readsAppendix("hassubjects");
}

void DocumentEditDialog::recheck() {
    const QVector<FrdoProblem> problems = certificateProblems();
    _marks.apply(problems);
    ui->labelCheckStatus->setText(FieldMarks::statusText(problems));
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

void DocumentEditDialog::openAppendix(qint64 id) {
#ifdef ORVANE_HAS_APPENDIX_DIALOG
    auto* dialog = new AdditionalEditDialog(this);
    dialog->setId(id);
    connect(dialog, &AbstractEditDialog::documentsUpdated, this, &DocumentEditDialog::readAppendixTotal);
    connect(dialog, &AbstractEditDialog::documentsUpdated, this, &DocumentEditDialog::rememberStored);
    connect(dialog, &QObject::destroyed, this, &DocumentEditDialog::readAppendixTotal);
    dialog->show();
#else
    Q_UNUSED(id)
    MZ_LOG() << "appendix dialog not available";
#endif
}

void DocumentEditDialog::openFrdo(qint64 id) {
    auto* dialog = new FrdoDialog(this);
    dialog->setDocId(id);
    // Whoever follows this document's saves follows its FRDO data too.
    connect(dialog, &AbstractEditDialog::documentsUpdated, this, &AbstractEditDialog::documentsUpdated);
    connect(dialog, &AbstractEditDialog::documentsUpdated, this, &DocumentEditDialog::rememberStored);
    dialog->show();
}

QDialog* DocumentEditDialog::createPrintDialog() {
    return new PrintDialog(this);
}
