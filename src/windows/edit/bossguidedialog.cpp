#include "bossguidedialog.h"
#include "ui_bossguidedialog.h"

#include "database.h"
#include "dialoggeometry.h"
#include "messagebox.h"
#include "mzlog.h"
#include "inputhelpers.h"

#include <QAbstractItemDelegate>
#include <QHeaderView>
#include <QSqlError>
#include <QSqlTableModel>
#include <QTableView>

namespace {
enum Column { ColId, ColType, ColName };

QString reasonOf(const QSqlTableModel* model) {
    const QSqlError error = model->lastError();
    const QString text = error.databaseText().trimmed();
    return text.isEmpty() ? error.text().trimmed() : text;
}
} // namespace

BossGuideDialog::BossGuideDialog(int bossType, QWidget* parent)
    : QDialog(parent), ui(new Ui::BossGuideDialog), _bossType(bossType) {
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    setWindowModality(Qt::ApplicationModal);
    if (bossType == Secretary) {
        ui->groupBox->setTitle(QStringLiteral("Добавление секретаря"));
        setWindowTitle(QStringLiteral("Справочник секретарей"));
    }
    setUpTable();
    onCurrentChanged(QModelIndex(), QModelIndex());
    DialogGeometry::restore(this);
}

BossGuideDialog::~BossGuideDialog() {
    // A name typed into a cell but not yet stored must not linger in the shared model.
    if (_model)
        _model->revertAll();
    DialogGeometry::save(this);
}

void BossGuideDialog::setUpTable() {
    _view = ui->tableView;
    _model = Database::instance()->tableModel(QStringLiteral("Bosses"));
    if (!_model)
        return;
    // A name corrected in place is stored at once; the directory has no save button.
    _model->setEditStrategy(QSqlTableModel::OnFieldChange);
    _model->setHeaderData(ColName, Qt::Horizontal, QStringLiteral("   ФИО   "));
    _view->setModel(_model);
    _view->hideColumn(ColId);
    _view->hideColumn(ColType);
    _view->setSelectionMode(QAbstractItemView::SingleSelection);
    _view->setSelectionBehavior(QAbstractItemView::SelectItems);
    // A double click chooses the name; it must not open an editor in a closing dialog.
    _view->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    connect(_view->selectionModel(), &QItemSelectionModel::currentChanged, this, &BossGuideDialog::onCurrentChanged);
    // A name corrected in place is written when its editor closes; a refusal is told at once.
    connect(_view->itemDelegate(), &QAbstractItemDelegate::closeEditor, this, &BossGuideDialog::checkStored);
    // The kind is our own integer, never user text.
    _model->setFilter(QStringLiteral(" bossType = %1 ").arg(_bossType));
    reselect();
}

bool BossGuideDialog::reselect() {
    if (!_model || !_view)
        return false;
    _model->select();
    while (_model->canFetchMore())
        _model->fetchMore();
    _view->resizeColumnsToContents();
    return true;
}

void BossGuideDialog::dismiss() {
    hide();
    deleteLater();
}

void BossGuideDialog::on_pushButtonClose_clicked() {
    dismiss();
}

void BossGuideDialog::on_pushButtonDelete_clicked() {
    if (!_model || !_view)
        return;
    const QModelIndex current = _view->currentIndex();
    if (!current.isValid())
        return;
    if (MessageBox::show(nullptr, QMessageBox::NoIcon, MessageBox::attentionTitle(),
                         QStringLiteral("Вы уверены, что хотите удалить выделенную строку?"),
                         QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    if (!_model || !_view)
        return;
    const bool removed = _model->removeRow(current.row()) && _model->submitAll();
    const QString reason = removed ? QString() : reasonOf(_model);
    if (!removed)
        _model->revertAll();
    reselect();
    onCurrentChanged(QModelIndex(), QModelIndex());
    if (removed)
        emit bossesUpdated();
    else
        showFailure(QStringLiteral("Не удалось удалить запись из справочника."), reason);
}

void BossGuideDialog::on_pushButtonAdd_clicked() {
    // Blanks only would store a nameless signatory.
    const QString name = ui->lineEdit->text().trimmed();
    if (name.isEmpty() || !_model || !_view)
        return;
    const int row = _model->rowCount();
    if (!_model->insertRow(row))
        return;
    _model->setData(_model->index(row, ColType), _bossType);
    _model->setData(_model->index(row, ColName), name);
    _view->setCurrentIndex(_model->index(row, ColName));
    // The strategy writes a new row only when it is submitted, not field by field.
    if (!_model->submitAll()) {
        // Nothing was stored: the row goes and the entry keeps the name for another try.
        const QString reason = reasonOf(_model);
        _model->revertAll();
        reselect();
        onCurrentChanged(QModelIndex(), QModelIndex());
        showFailure(QStringLiteral("Не удалось добавить запись в справочник."), reason);
        return;
    }
    reselect();
    _view->setFocus();
    _view->setCurrentIndex(_model->index(row, ColName));
    ui->lineEdit->clear();
    emit bossesUpdated();
}

void BossGuideDialog::checkStored() {
    if (!_model || !_model->isDirty())
        return;
    const QString reason = reasonOf(_model);
    _model->revertAll();
    reselect();
    showFailure(QStringLiteral("Не удалось изменить запись справочника."), reason);
}

void BossGuideDialog::showFailure(const QString& headline, const QString& reason) {
    MessageBox::critical(this, MessageBox::errorTitle(),
                         reason.isEmpty() ? headline : headline + QLatin1Char('\n') + reason);
}

void BossGuideDialog::onCurrentChanged(const QModelIndex& current, const QModelIndex&) {
    ui->pushButtonDelete->setEnabled(current.isValid());
}

void BossGuideDialog::on_tableView_doubleClicked(const QModelIndex& index) {
    if (!index.isValid())
        return;
    const QString fio = index.sibling(index.row(), ColName).data(Qt::DisplayRole).toString();
    emit bossSelected(fio);
    MZ_LOG() << fio;
    dismiss();
}
