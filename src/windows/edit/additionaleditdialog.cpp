#include "additionaleditdialog.h"
#include "appkeys.h"
#include "ui_additionaleditdialog.h"
#include "writeaccess.h"

#include "comboboxrateitemdelegate.h"
#include "dialoggeometry.h"
#include "documentrecords.h"
#include "inputhelpers.h"
#include "lineedititemdelegate.h"
#include "messagebox.h"
#include "settingsregistry.h"
#include "storequery.h"
#include "subjectsstore.h"

#include <QCompleter>
#include <QHeaderView>
#include <QRegularExpressionValidator>
#include <QSqlTableModel>
#include <QTimer>
#include <algorithm>

namespace {
using namespace SubjectsStore;
const int rateFlags = ComboBoxRateItemDelegate::WithFail | ComboBoxRateItemDelegate::WithAttested;
const int scanChunk = 20000;

QString attention() {
    return MessageBox::attentionTitle();
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
    WriteAccess::mark(
        {ui->pushButtonAddDisp, ui->pushButtonDelete, ui->pushButtonDeleteAll, ui->pushButtonUp, ui->pushButtonDown});
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
    _model = SubjectsStore::model();
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

// Before every select: the shared model may still show another document.
void AdditionalEditDialog::selectSubjects() {
    SubjectsStore::select(_model, recordId());
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
    QString addInfo;
    bool hideTotal = false;
    if (!DocumentRecords::readAppendixInfo(id, &addInfo, &hideTotal))
        return;
    ui->plainTextEdit->setPlainText(addInfo);
    ui->checkBoxShowTotal->setChecked(!hideTotal);
    selectSubjects();
    onRowActivated(QModelIndex());
    resizeColumns();
    updateTotalCount();
}

bool AdditionalEditDialog::updateRecord() {
    // A cell the database refused is still waiting in the model, as typed.
    QString error;
    if (SubjectsStore::submit(_model, &error) &&
        DocumentRecords::updateAppendixInfo(recordId(), ui->plainTextEdit->toPlainText(),
                                            !ui->checkBoxShowTotal->isChecked(), &error))
        return true;
    setWriteError(error);
    return false;
}

QString AdditionalEditDialog::saveFailureText() const {
    return QStringLiteral("Не удалось сохранить приложение к свидетельству.");
}

void AdditionalEditDialog::updateTotalCount() {
    ui->lineEditTotalCount->setText(SubjectsStore::totalHours(recordId()));
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
    if (SubjectsStore::contains(recordId(), name) &&
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
    QString reason;
    if (!SubjectsStore::submit(_model, &reason)) {
        // Nothing was stored: the row goes, and the entry keeps what was typed for another try.
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
    QString reason;
    if (!SubjectsStore::remove(_model, current.row(), &reason)) {
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
        SubjectsStore::remove(_model, 0, &reason);
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
        showWriteFailure(QStringLiteral("Не удалось изменить учебный предмет."), StoreQuery::reasonOf(_model));
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
    const bool moved = writeAtomically(
        [&] {
            if (InputHelpers::exchangeRows(_model, row, target, ColName))
                return true;
            reason = StoreQuery::reasonOf(_model);
            return false;
        },
        &reason);
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
    if (SubjectsStore::countNames(&_scannedRowId, scanChunk, &_nameCounts) == scanChunk)
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
