#include "bossguidedialog.h"
#include "ui_bossguidedialog.h"
#include "writeaccess.h"

#include "dialoggeometry.h"
#include "inputhelpers.h"
#include "messagebox.h"
#include "mzlog.h"
#include "signatorystore.h"

#include <QAbstractItemDelegate>
#include <QHeaderView>
#include <QSqlTableModel>
#include <QTableView>

using namespace SignatoryStore;

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
    WriteAccess::mark({ui->pushButtonAdd, ui->pushButtonDelete});
    WriteAccess::viewOnly(this);
    onCurrentChanged(QModelIndex(), QModelIndex());
    DialogGeometry::restore(this);
}

BossGuideDialog::~BossGuideDialog() {
    // A name typed into a cell but not yet stored must not linger in the shared model.
    SignatoryStore::discard(_model);
    DialogGeometry::save(this);
}

void BossGuideDialog::setUpTable() {
    _view = ui->tableView;
    _model = SignatoryStore::model(_bossType);
    if (!_model)
        return;
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
    reselect();
}

bool BossGuideDialog::reselect() {
    if (!_model || !_view)
        return false;
    SignatoryStore::select(_model);
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
    QString reason;
    const bool removed = SignatoryStore::remove(_model, current.row(), &reason);
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
    QString reason;
    if (!SignatoryStore::add(_model, _bossType, name, &reason)) {
        // Nothing was stored: the row goes and the entry keeps the name for another try.
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
    QString reason;
    if (SignatoryStore::checkStored(_model, &reason))
        return;
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
