#include "frdodialog.h"

#include "messagebox.h"
#include "ui_frdodialog.h"
#include "writeaccess.h"

#include "dialoggeometry.h"
#include "documentrecords.h"
#include "documentstore.h"
#include "frdorecords.h"
#include "inputhelpers.h"
#include "optionaldateedit.h"
#include "subjectsstore.h"

#include <QRegularExpression>
#include <QStyle>

namespace {
const QString dateFormat = QStringLiteral("yyyy-MM-dd");
const QString frdoTable = QStringLiteral("ProfFrdo");
// The tallest a dialog opens: a 1366×768 screen less a taskbar and the title bar.
constexpr int defaultHeightLimit = 690;
const QStringList usedValueColumns{QStringLiteral("Frdo14"), QStringLiteral("Frdo15"), QStringLiteral("Frdo16")};

// Columns shown and stored as they are, with the widget of each.
struct Field {
    const char* column;
    const char* widget;
};
const Field fields[] = {
    {"DocNumber", "lineEditDocNumber"},
    {"DocSerial", "lineEditDocSerial"},
    {"RegNumberFrdo", "lineEditRegNumber"},
    {"DocNameOrig", "lineEditDocNameOrig"},
    {"DocNumberOrig", "lineEditDocNumberOrig"},
    {"DocSerialOrig", "lineEditDocSerialOrig"},
    {"RegNumberOrig", "lineEditRegNumberOrig"},
    {"DocType", "comboBoxDocType"},
    {"issueDateOrig", "dateEditIssueOrig"},
    {"fio1orig", "lineEditFio1orig"},
    {"fio2orig", "lineEditFio2orig"},
    {"fio3orig", "lineEditFio3orig"},
    {"frdo13", "comboBoxFrdo13"},
    {"frdo14", "comboBoxFrdo14"},
    {"frdo15", "comboBoxFrdo15"},
    {"frdo16", "comboBoxFrdo16"},
    {"frdo18", "comboBoxFrdo18"},
    {"frdo19", "comboBoxFrdo19"},
    {"frdo20", "comboBoxFrdo20"},
    {"frdo21", "lineEditFrdo21"},
    {"frdo22", "comboBoxFrdo22"},
    {"frdo23", "comboBoxFrdo23"},
    {"frdo24", "comboBoxFrdo24"},
    {"birthDateFrdo", "dateEditBirth"},
    {"beginDate", "dateEditBegin"},
    {"endDate", "dateEditEnd"},
    {"issueDateFrdo", "dateEditIssue"},
};

// A fixed list keeps its current item when the stored text is none of its items.
void showValue(QWidget* widget, const QVariant& value) {
    const QString text = value.toString();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(text);
    } else if (auto* edit = qobject_cast<OptionalDateEdit*>(widget)) {
        // A text that is no date shows as none; it is kept unless the user sets a date.
        edit->showStoredDate(QDate::fromString(text, dateFormat));
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        if (combo->isEditable()) {
            combo->setEditText(text);
        } else {
            const int index = combo->findText(text);
            if (index >= 0)
                combo->setCurrentIndex(index);
        }
    }
}

QVariant widgetValue(const QWidget* widget) {
    if (auto* edit = qobject_cast<const QLineEdit*>(widget))
        return edit->text();
    if (auto* edit = qobject_cast<const OptionalDateEdit*>(widget)) {
        const QDate date = edit->optionalDate();
        return date.isValid() ? QVariant(date.toString(dateFormat)) : QVariant(QVariant::String);
    }
    if (auto* combo = qobject_cast<const QComboBox*>(widget))
        return combo->currentText();
    return QVariant();
}

// What a rule reads: an empty field is as good as none.
QVariant checkedValue(const QVariant& value) {
    return value.toString().trimmed().isEmpty() ? QVariant() : value;
}

void addColumns(const QSqlRecord& record, QVariantMap* row) {
    for (int i = 0; i < record.count(); ++i)
        row->insert(record.fieldName(i).toLower(), record.value(i));
}

void clearValue(QWidget* widget) {
    auto* combo = qobject_cast<QComboBox*>(widget);
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        edit->clear();
    else if (auto* edit = qobject_cast<OptionalDateEdit*>(widget))
        edit->showStoredDate(QDate());
    else if (combo && combo->isEditable())
        combo->clearEditText();
    else if (combo)
        combo->setCurrentIndex(0);
}
} // namespace

FrdoDialog::FrdoDialog(QWidget* parent) : AbstractEditDialog(parent), ui(new Ui::FrdoDialog) {
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("ФРДО"));
    ui->groupBoxOriginalInfo->hide();
    WriteAccess::mark(ui->pushButtonAutoFill);
    connect(ui->pushButtonSave, &QPushButton::clicked, this, &AbstractEditDialog::save);
    connect(ui->pushButtonCancel, &QPushButton::clicked, this, &AbstractEditDialog::close);
    InputHelpers::fillUsedValuesWhenRead(this, frdoTable,
                                         {{usedValueColumns.at(0), ui->comboBoxFrdo14},
                                          {usedValueColumns.at(1), ui->comboBoxFrdo15},
                                          {usedValueColumns.at(2), ui->comboBoxFrdo16}});
    fitForm();
    // Spell checking comes with the base's arming, on every line edit of the dialog.
    DialogGeometry::restore(this);
    ui->tabWidget->setCurrentWidget(ui->tabFrdo);
    markFields();
    FieldMarks::watch(this, [this] { recheck(); });
}

// The form scrolls only on a screen too low for it; across, it always fits. The dialog opens as
// tall as the whole form needs, within the height a 1366×768 screen with a taskbar leaves.
void FrdoDialog::fitForm() {
    // Measured with the fonts and margins the style gives; the grid took its sizes before.
    ensurePolished();
    ui->gridLayoutFrdo->invalidate();
    const QSize form = ui->scrollAreaWidgetContentsFrdo->minimumSizeHint();
    ui->scrollAreaFrdo->setMinimumWidth(form.width() + style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    // The dialog's least height holds the scroll area at its least; the whole form needs the rest.
    const int whole = minimumSizeHint().height() + form.height() - ui->tabFrdo->minimumSizeHint().height();
    resize(minimumSizeHint().width(), qMin(whole, defaultHeightLimit));
}

void FrdoDialog::readUsedValuesAhead() {
    DocumentStore::readUsedValuesAhead(frdoTable, usedValueColumns);
}

FrdoDialog::~FrdoDialog() {
    // The children go after this one's members: none of them may call back into it (the check).
    for (QObject* child : findChildren<QObject*>())
        child->disconnect(this);
    DialogGeometry::save(this);
}

void FrdoDialog::setDocId(qint64 id) {
    setRecordId(id);
    if (id > 0)
        loadRecord(id);
}

QString FrdoDialog::formatSnils(const QString& text) {
    static const QRegularExpression nonDigits(QStringLiteral("[^\\d]+"));
    QString snils = text;
    snils.remove(nonDigits);
    // From the end, so that the earlier positions stay where they were.
    if (snils.size() > 9)
        snils.insert(9, QLatin1Char(' '));
    if (snils.size() > 6)
        snils.insert(6, QLatin1Char('-'));
    if (snils.size() > 3)
        snils.insert(3, QLatin1Char('-'));
    return snils;
}

void FrdoDialog::markFields() {
    for (const Field& field : fields)
        _marks.add(QLatin1String(field.column), findChild<QWidget*>(QLatin1String(field.widget)));
    _marks.add(QStringLiteral("snils"), ui->lineEditSnils);
    _marks.add(QStringLiteral("studyCount"), ui->lineEditCount);
    _marks.add(QStringLiteral("SexIsMale"), ui->radioButtonMale);
    _marks.add(QStringLiteral("SexIsMale"), ui->radioButtonFemale);
    _marks.add(QStringLiteral("StateDuplicate"), ui->radioButtonStateDuplicate);
    _marks.add(QStringLiteral("StateDuplicate"), ui->radioButtonStateOrig);
    for (const char* column : {"fio1", "fio2", "fio3"})
        _marks.add(QLatin1String(column), ui->lineEditFio);
}

QVariantMap FrdoDialog::checkedRow() const {
    QVariantMap row = _stored;
    for (const Field& field : fields)
        row.insert(QString::fromLatin1(field.column).toLower(),
                   checkedValue(widgetValue(findChild<QWidget*>(QLatin1String(field.widget)))));
    row.insert(QStringLiteral("snils"), checkedValue(InputHelpers::digitsOnly(ui->lineEditSnils->text())));
    bool isNumber = false;
    const int count = ui->lineEditCount->text().trimmed().toInt(&isNumber);
    row.insert(QStringLiteral("studycount"), isNumber ? QVariant(count) : QVariant());
    const bool stateChosen = ui->radioButtonStateDuplicate->isChecked() || ui->radioButtonStateOrig->isChecked();
    row.insert(QStringLiteral("stateduplicate"),
               stateChosen ? QVariant(ui->radioButtonStateDuplicate->isChecked() ? 1 : 0) : QVariant());
    const int sex = ui->radioButtonMale->isChecked() ? 1 : (ui->radioButtonFemale->isChecked() ? -1 : 0);
    row.insert(QStringLiteral("sexismale"), sex != 0 ? QVariant(sex) : QVariant());
    return row;
}

void FrdoDialog::recheck() {
    const QVector<FrdoProblem> problems = FrdoCheck::problems(checkedRow(), FrdoCheck::registryRules());
    _marks.apply(problems);
    ui->labelCheckStatus->setText(FieldMarks::statusText(problems));
}

void FrdoDialog::on_radioButtonStateDuplicate_toggled(bool checked) {
    ui->groupBoxOriginalInfo->setVisible(checked);
}

void FrdoDialog::on_pushButtonAutoFill_clicked() {
    if (recordId() <= 0)
        return;
    QString error;
    if (!DocumentStore::autoFillFrdo({recordId()}, &error)) {
        // Nothing of the fill was kept; what the user typed stays in the form.
        MessageBox::critical(this, MessageBox::errorTitle(),
                             QStringLiteral("Не удалось заполнить данные ФРДО; ничего не изменено.\n%1").arg(error));
        return;
    }
    loadRecord(recordId());
    // The fill is written but not committed: line edits reloaded from it do not count as edits by
    // themselves, and Save must not take the dialog for clean and leave the fill to the rollback.
    setEdited();
}

void FrdoDialog::loadRecord(qint64 id) {
    QString name;
    if (!DocumentRecords::readName(id, &name))
        return;
    ui->lineEditFio->setText(name);
    _stored.clear();
    QSqlRecord document;
    if (DocumentRecords::read(id, &document))
        addColumns(document, &_stored);
    const QString total = SubjectsStore::totalHours(id);
    _stored.insert(QStringLiteral("totalhours"), total.toInt());
    _stored.insert(QStringLiteral("hassubjects"), total.toInt() > 0);
    QSqlRecord frdo;
    if (FrdoRecords::read(id, &frdo)) {
        addColumns(frdo, &_stored);
        loadFrdo(frdo);
    } else {
        resetFrdo(); // what is stored: nothing, also after a discarded fill that created the row
    }
    recheck();
}

void FrdoDialog::loadFrdo(const QSqlRecord& record) {
    _storedDates.clear();
    for (const Field& field : fields) {
        QWidget* widget = findChild<QWidget*>(QLatin1String(field.widget));
        const QVariant value = record.value(QLatin1String(field.column));
        showValue(widget, value);
        if (qobject_cast<OptionalDateEdit*>(widget))
            _storedDates.insert(QLatin1String(field.column), value);
    }
    ui->lineEditSnils->setText(formatSnils(record.value(QStringLiteral("snils")).toString()));
    ui->lineEditCount->setText(QString::number(record.value(QStringLiteral("studyCount")).toInt()));
    // 0 is no answer: the buttons keep their state.
    const int sex = record.value(QStringLiteral("SexIsMale")).toInt();
    if (sex > 0)
        ui->radioButtonMale->setChecked(true);
    else if (sex < 0)
        ui->radioButtonFemale->setChecked(true);
    if (record.value(QStringLiteral("StateDuplicate")).toInt() > 0)
        ui->radioButtonStateDuplicate->setChecked(true);
    else
        ui->radioButtonStateOrig->setChecked(true);
}

void FrdoDialog::resetFrdo() {
    _storedDates.clear();
    for (const Field& field : fields)
        clearValue(findChild<QWidget*>(QLatin1String(field.widget)));
    ui->lineEditSnils->clear();
    ui->lineEditCount->clear();
    ui->radioButtonMale->setChecked(true);
    // Neither status is chosen until one is loaded or clicked.
    for (QRadioButton* button : {ui->radioButtonStateDuplicate, ui->radioButtonStateOrig}) {
        button->setAutoExclusive(false);
        button->setChecked(false);
        button->setAutoExclusive(true);
    }
}

bool FrdoDialog::insertRecord() {
    QString error;
    if (FrdoRecords::ensureRow(recordId(), &error))
        return true;
    setWriteError(error);
    return false;
}

bool FrdoDialog::updateRecord() {
    QVariantMap values;
    for (const Field& field : fields) {
        const QWidget* widget = findChild<QWidget*>(QLatin1String(field.widget));
        // A date the user did not touch goes back as stored: never set stays NULL, unreadable stays.
        const auto* date = qobject_cast<const OptionalDateEdit*>(widget);
        const QVariant value = date && !date->isModified()
                                   ? _storedDates.value(QLatin1String(field.column), QVariant(QVariant::String))
                                   : widgetValue(widget);
        values.insert(QLatin1String(field.column), value);
    }
    values.insert(QStringLiteral("snils"), InputHelpers::digitsOnly(ui->lineEditSnils->text()));
    // Not a number counts as no period at all.
    values.insert(QStringLiteral("studyCount"), ui->lineEditCount->text().toInt());
    values.insert(QStringLiteral("StateDuplicate"), ui->radioButtonStateDuplicate->isChecked() ? 1 : 0);
    const int sex = ui->radioButtonMale->isChecked() ? 1 : (ui->radioButtonFemale->isChecked() ? -1 : 0);
    values.insert(QStringLiteral("SexIsMale"), sex);
    QString error;
    if (FrdoRecords::write(recordId(), values, &error))
        return true;
    setWriteError(error);
    return false;
}

QString FrdoDialog::saveFailureText() const {
    return QStringLiteral("Не удалось сохранить данные ФРДО.");
}
