#include "additionaleditdialog.h"
#include "appkeys.h"
#include "ui_additionaleditdialog.h"

#include "comboboxrateitemdelegate.h"
#include "database.h"
#include "dialoggeometry.h"
#include "lineedititemdelegate.h"
#include "messagebox.h"
#include "inputhelpers.h"
#include "settingsregistry.h"

#include <QCompleter>
#include <QHeaderView>
#include <QRegularExpressionValidator>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QTimer>
#include <algorithm>

namespace {
enum Column { ColId, ColProfId, ColName, ColCount, ColRate };
const int rateFlags = ComboBoxRateItemDelegate::WithFail | ComboBoxRateItemDelegate::WithAttested;
const int scanChunk = 20000;

QString attention() {
    return MessageBox::attentionTitle();
}

QString modelReason(const QSqlTableModel* model) {
    const QSqlError error = model->lastError();
    const QString text = error.databaseText().trimmed();
    return text.isEmpty() ? error.text().trimmed() : text;
}

bool confirm(QWidget* parent, const QString& text) {
    return MessageBox::show(parent, QMessageBox::NoIcon, attention(), text, QMessageBox::Ok | QMessageBox::Cancel) ==
           QMessageBox::Ok;
}
} // namespace

AdditionalEditDialog::AdditionalEditDialog(QWidget* parent)
    : AbstractEditDialog(parent), ui(new Ui::AdditionalEditDialog) {
    ui->setupUi(this);
    setWindowTitle(title());
    connect(ui->pushButtonSave, &QPushButton::clicked, this, &AdditionalEditDialog::save);
    connect(ui->pushButtonCancel, &QPushButton::clicked, this, &AdditionalEditDialog::close);
    ui->comboBoxRate->addItems(ComboBoxRateItemDelegate::items(rateFlags));
    // Hours are a number; anything else would only be counted as 0 in the total.
    ui->lineEditCount->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("^\\d*$")), ui->lineEditCount));
    _view = ui->tableView;
    connect(_view, &QTableView::pressed, this, &AdditionalEditDialog::onRowActivated);
    connect(_view, &QTableView::activated, this, &AdditionalEditDialog::onRowActivated);
    setUpTable();
    onRowActivated(QModelIndex());
    ui->tabWidget->setCurrentIndex(0);
    QTimer::singleShot(0, this, &AdditionalEditDialog::scanUsedNames);
    // The subjects, their hours and grades take the room; the buttons beside them need little.
    ui->horizontalLayoutTable->setStretch(0, 3);
    ui->horizontalLayoutTable->setStretch(1, 1);
    resize(900, 600);
    DialogGeometry::restore(this);
}

AdditionalEditDialog::~AdditionalEditDialog() {
    if (_model) {
        disconnect(_model, nullptr, this, nullptr);
        _model->revertAll();
    }
    // The open transaction may be the document dialog's; the base rolls back only its own.
    DialogGeometry::save(this);
}

void AdditionalEditDialog::setUpTable() {
    _model = Database::instance()->tableModel(QStringLiteral("ProfDetails"));
    _model->setEditStrategy(QSqlTableModel::OnFieldChange);
    selectSubjects();
    const QStringList headers = {QStringLiteral("ID"), QStringLiteral("docID"), QStringLiteral("Учебный предмет"),
                                 QStringLiteral("Кол-во часов"), QStringLiteral("Оценка")};
    for (int i = 0; i < headers.size(); ++i)
        _model->setHeaderData(i, Qt::Horizontal, headers[i]);
    _view->setModel(_model);
    _view->hideColumn(ColId);
    _view->hideColumn(ColProfId);
    _view->setSelectionMode(QAbstractItemView::SingleSelection);
    _view->setSelectionBehavior(QAbstractItemView::SelectRows);
    _view->setItemDelegateForColumn(ColName, new LineEditItemDelegate(0, _view));
    _view->setItemDelegateForColumn(ColRate, new ComboBoxRateItemDelegate(rateFlags, _view));
    openRateEditors(0, _model->rowCount() - 1);
    connect(_model, &QSqlTableModel::dataChanged, this, &AdditionalEditDialog::updateTotalCount);
    connect(_model, &QSqlTableModel::dataChanged, this, &AdditionalEditDialog::setEdited);
    // A cell is written as its editor hands the value over; a refusal is told then, after the view.
    for (const int column : {ColName, ColCount, ColRate}) {
        QAbstractItemDelegate* delegate = _view->itemDelegateForColumn(column);
        connect(delegate ? delegate : _view->itemDelegate(), &QAbstractItemDelegate::commitData, this,
                &AdditionalEditDialog::checkCellStored, Qt::UniqueConnection);
    }
    // A reset closes the editors; every select does one.
    connect(_model, &QSqlTableModel::modelReset, this, [this] { openRateEditors(0, _model->rowCount() - 1); });
    resizeColumns();
}

// The filter is set before every select: the shared model may still show another document, and
// an unfiltered select would read every subject of the registry.
void AdditionalEditDialog::selectSubjects() {
    _model->setFilter(QStringLiteral("profId = %1").arg(recordId()));
    _model->select();
    while (_model->canFetchMore())
        _model->fetchMore();
}

void AdditionalEditDialog::openRateEditors(int first, int last) {
    if (!_view || _view->model() != _model)
        return;
    for (int row = first; row <= last; ++row)
        _view->openPersistentEditor(_model->index(row, ColRate));
}

void AdditionalEditDialog::resizeColumns() {
    QHeaderView* header = _view->horizontalHeader();
    header->resizeSections(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(ColName, QHeaderView::Stretch);
}

void AdditionalEditDialog::connectEditSignals() {
    connect(ui->checkBoxShowTotal, &QCheckBox::stateChanged, this, &AdditionalEditDialog::setEdited,
            Qt::UniqueConnection);
    connect(ui->plainTextEdit, &QPlainTextEdit::textChanged, this, &AdditionalEditDialog::setEdited,
            Qt::UniqueConnection);
}

void AdditionalEditDialog::setId(qint64 profId) {
    setRecordId(profId);
    loadRecord(profId);
}

void AdditionalEditDialog::loadRecord(qint64 id) {
    if (id <= 0)
        return;
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(QStringLiteral("SELECT * FROM ProfDocuments WHERE profId=:profId;"));
    query.bindValue(QStringLiteral(":profId"), id);
    if (!Database::instance()->execPrepared(query) || !query.next())
        return;
    ui->plainTextEdit->setPlainText(query.value(QStringLiteral("addInfo")).toString());
    ui->checkBoxShowTotal->setChecked(!query.value(QStringLiteral("hideTotalCountInAdd")).toBool());
    selectSubjects();
    onRowActivated(QModelIndex());
    resizeColumns();
    updateTotalCount();
}

bool AdditionalEditDialog::updateRecord() {
    // A cell the database refused is still waiting in the model, as typed.
    if (!_model || !_model->submitAll()) {
        setWriteError(_model ? modelReason(_model) : QString());
        return false;
    }
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(QStringLiteral(
        "UPDATE ProfDocuments SET addInfo=:addInfo, hideTotalCountInAdd=:hideTotal WHERE profId=:profId;"));
    query.bindValue(QStringLiteral(":addInfo"), ui->plainTextEdit->toPlainText());
    query.bindValue(QStringLiteral(":hideTotal"), !ui->checkBoxShowTotal->isChecked());
    query.bindValue(QStringLiteral(":profId"), recordId());
    return execWrite(query);
}

QString AdditionalEditDialog::saveFailureText() const {
    return QStringLiteral("Не удалось сохранить приложение к свидетельству.");
}

void AdditionalEditDialog::updateTotalCount() {
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(QStringLiteral(
        "SELECT SUM(IFNULL(count,0)) AS totalCount FROM ProfDetails WHERE ProfDetails.profId = :profId;"));
    query.bindValue(QStringLiteral(":profId"), recordId());
    if (Database::instance()->execPrepared(query) && query.next())
        ui->lineEditTotalCount->setText(query.value(0).toString());
    else
        ui->lineEditTotalCount->setText(QStringLiteral("0"));
}

void AdditionalEditDialog::onRowActivated(const QModelIndex& index) {
    const bool valid = index.isValid();
    ui->pushButtonDelete->setEnabled(valid);
    ui->pushButtonDown->setEnabled(valid && index.row() + 1 < _model->rowCount());
    ui->pushButtonUp->setEnabled(valid && index.row() > 0);
}

void AdditionalEditDialog::on_pushButtonAddDisp_clicked() {
    const QString name = ui->comboBoxDiscipline->currentText().simplified();
    if (name.isEmpty() || recordId() <= 0)
        return;
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(QStringLiteral("SELECT COUNT(1) FROM ProfDetails WHERE  name=:name AND profId=:profId;"));
    query.bindValue(QStringLiteral(":name"), name);
    query.bindValue(QStringLiteral(":profId"), recordId());
    if (Database::instance()->execPrepared(query) && query.next() && query.value(0).toInt() > 0 &&
        MessageBox::show(this, QMessageBox::NoIcon, attention(),
                         QStringLiteral("Данный учебный предмет уже есть в списке предметов.\nПродолжить?"),
                         QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
        ui->comboBoxDiscipline->setCurrentIndex(0);
        ui->comboBoxDiscipline->clearEditText();
        ui->comboBoxRate->setCurrentIndex(0);
        return;
    }
    const bool wasEdited = isEdited();
    const int row = _model->rowCount();
    if (!_model->insertRow(row))
        return;
    _model->setData(_model->index(row, ColProfId), recordId());
    _model->setData(_model->index(row, ColName), name);
    // No hours is stored as none, not as an empty text.
    const QString hours = ui->lineEditCount->text();
    _model->setData(_model->index(row, ColCount), hours.isEmpty() ? QVariant() : QVariant(hours));
    _model->setData(_model->index(row, ColRate), ui->comboBoxRate->currentText());
    // The strategy writes a new row only when it is submitted, not field by field.
    if (!_model->submitAll()) {
        // Nothing was stored: the row goes, and the entry keeps what was typed for another try.
        const QString reason = modelReason(_model);
        _model->revertAll();
        if (!wasEdited)
            setUnedited();
        showWriteFailure(QStringLiteral("Не удалось добавить учебный предмет."), reason);
        return;
    }
    openRateEditors(row, row);
    resetEntry();
    _view->selectRow(row);
    _currentIndex = _view->currentIndex();
    onRowActivated(_currentIndex);
    resizeColumns();
}

void AdditionalEditDialog::resetEntry() {
    ui->comboBoxDiscipline->setCurrentIndex(0);
    ui->comboBoxDiscipline->clearEditText();
    ui->lineEditCount->clear();
    ui->comboBoxRate->setCurrentIndex(0);
}

void AdditionalEditDialog::on_pushButtonDelete_clicked() {
    const QModelIndex current = _view->currentIndex();
    onRowActivated(current);
    if (!current.isValid())
        return;
    if (!confirm(this, QStringLiteral("Вы уверены, что хотите удалить выделенный учебный предмет?")))
        return;
    if (!_model->removeRow(current.row())) {
        const QString reason = modelReason(_model);
        selectSubjects();
        onRowActivated(QModelIndex());
        showWriteFailure(deleteFailure(), reason);
        return;
    }
    selectSubjects();
    subjectsRemoved();
}

void AdditionalEditDialog::on_pushButtonDeleteAll_clicked() {
    if (!confirm(this, QStringLiteral("Вы уверены, что точно хотите удалить ВСЕ учебные предметы?")))
        return;
    const int before = _model->rowCount();
    QString reason;
    // A row the database refuses to delete comes back with the select; stop rather than loop.
    while (_model->rowCount() > 0) {
        const int rows = _model->rowCount();
        if (!_model->removeRow(0))
            reason = modelReason(_model);
        selectSubjects();
        if (_model->rowCount() >= rows)
            break;
    }
    if (_model->rowCount() != before)
        subjectsRemoved();
    onRowActivated(QModelIndex());
    if (_model->rowCount() > 0)
        showWriteFailure(deleteFailure(), reason);
}

// The refused value stays in the model as typed; the next save tries it again.
void AdditionalEditDialog::checkCellStored() {
    if (_model && _model->isDirty())
        showWriteFailure(QStringLiteral("Не удалось изменить учебный предмет."), modelReason(_model));
}

QString AdditionalEditDialog::deleteFailure() {
    return QStringLiteral("Не удалось удалить учебный предмет.");
}

// Removals are changes of the appendix like any other: they count as edits and change the total.
void AdditionalEditDialog::subjectsRemoved() {
    onRowActivated(QModelIndex());
    updateTotalCount();
    setEdited();
}

void AdditionalEditDialog::on_pushButtonUp_clicked() {
    moveCurrent(-1);
}

void AdditionalEditDialog::on_pushButtonDown_clicked() {
    moveCurrent(1);
}

// The appendix lists subjects by id, so moving one exchanges contents and leaves the ids in place.
void AdditionalEditDialog::moveCurrent(int step) {
    const int row = _view->currentIndex().row();
    const int target = row + step;
    if (row < 0 || target < 0 || target >= _model->rowCount())
        return;
    // Both rows change or neither: half an exchange would show one subject twice.
    const bool wasEdited = isEdited();
    QString reason;
    const bool moved = writeAtomically([&] {
        if (InputHelpers::exchangeRows(_model, row, target, ColName))
            return true;
        reason = modelReason(_model);
        return false;
    });
    if (!moved) {
        _model->revertAll();
        selectSubjects();
        onRowActivated(QModelIndex());
        if (!wasEdited)
            setUnedited();
        showWriteFailure(QStringLiteral("Не удалось переместить учебный предмет."), reason);
        return;
    }
    _view->selectRow(target);
    ui->pushButtonUp->setEnabled(target > 0);
    ui->pushButtonDown->setEnabled(target + 1 < _model->rowCount());
}

void AdditionalEditDialog::scanUsedNames() {
    QSqlQuery query(QSqlDatabase::database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT rowid, name FROM ProfDetails WHERE rowid > :from ORDER BY rowid LIMIT :n;"));
    query.bindValue(QStringLiteral(":from"), _scannedRowId);
    query.bindValue(QStringLiteral(":n"), scanChunk);
    if (!Database::instance()->execPrepared(query))
        return fillUsedNames();
    int rows = 0;
    while (query.next()) {
        ++rows;
        _scannedRowId = query.value(0).toLongLong();
        const QString name = query.value(1).toString().trimmed();
        if (!name.isEmpty())
            ++_nameCounts[name];
    }
    if (rows == scanChunk)
        QTimer::singleShot(0, this, &AdditionalEditDialog::scanUsedNames);
    else
        fillUsedNames();
}

// Ordered as the other used-values lists are: most used first, or alphabetically when so set.
void AdditionalEditDialog::fillUsedNames() {
    QList<QPair<QString, int>> entries;
    for (auto it = _nameCounts.constBegin(); it != _nameCounts.constEnd(); ++it)
        entries.append(qMakePair(it.key(), it.value()));
    if (SettingsRegistry::instance()->value(Keys::orderComboAlphabetically).toBool())
        std::stable_sort(entries.begin(), entries.end(),
                         [](const auto& a, const auto& b) { return a.first.toLower() < b.first.toLower(); });
    else
        std::stable_sort(entries.begin(), entries.end(),
                         [](const auto& a, const auto& b) { return a.second > b.second; });
    QStringList names;
    for (const auto& entry : entries)
        names << entry.first;
    // What the user typed meanwhile stays.
    QComboBox* combo = ui->comboBoxDiscipline;
    const QString typed = combo->currentText();
    combo->addItems(names);
    combo->setCurrentIndex(-1);
    combo->setEditText(typed);
    if (QCompleter* completer = combo->completer())
        completer->setCaseSensitivity(Qt::CaseSensitive);
    _nameCounts.clear();
}
