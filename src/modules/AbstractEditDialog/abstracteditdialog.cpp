#include "abstracteditdialog.h"

#include "messagebox.h"
#include "mzlog.h"
#include "services/inputhelpers.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSqlDatabase>
#include <QTimer>

namespace {
// Values the subclass sets while it builds and first loads its form must not count as edits.
constexpr int armDelayMs = 100;

QSqlDatabase connection() {
    return QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
}
} // namespace

QPointer<AbstractEditDialog> AbstractEditDialog::_transactionOwner;

AbstractEditDialog::AbstractEditDialog(QWidget* parent) : QDialog(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::ApplicationModal);
    QTimer::singleShot(armDelayMs, this, &AbstractEditDialog::arm);
    beginTransaction();
}

AbstractEditDialog::~AbstractEditDialog() {
    if (_transactionOwner == this)
        rollbackTransaction();
}

void AbstractEditDialog::arm() {
    InputHelpers::installSpellChecking(this);
    connectEditSignals();
}

void AbstractEditDialog::beginTransaction() {
    if (_transactionOwner && _transactionOwner != this)
        return; // shared: the open transaction is the other dialog's
    QSqlDatabase db = connection();
    if (db.isOpen() && db.transaction())
        _transactionOwner = this;
}

// A commit ends the one open transaction whoever began it; this dialog then begins the next.
void AbstractEditDialog::commitTransaction() {
    QSqlDatabase db = connection();
    if (db.isOpen())
        db.commit();
    _transactionOwner = nullptr;
    beginTransaction();
}

void AbstractEditDialog::rollbackTransaction() {
    QSqlDatabase db = connection();
    if (db.isOpen())
        db.rollback();
    _transactionOwner = nullptr;
}

void AbstractEditDialog::connectEditSignals() {
    const auto watch = [this](const auto* sender, auto signal) {
        connect(sender, signal, this, &AbstractEditDialog::setEdited, Qt::UniqueConnection);
    };
    for (const QLineEdit* w : findChildren<QLineEdit*>())
        watch(w, &QLineEdit::textEdited);
    for (const QDateEdit* w : findChildren<QDateEdit*>())
        watch(w, &QDateEdit::dateChanged);
    for (const QRadioButton* w : findChildren<QRadioButton*>())
        watch(w, &QRadioButton::clicked);
    for (const QComboBox* w : findChildren<QComboBox*>())
        watch(w, &QComboBox::currentTextChanged);
    for (const QCheckBox* w : findChildren<QCheckBox*>())
        watch(w, &QCheckBox::stateChanged);
    for (const QPlainTextEdit* w : findChildren<QPlainTextEdit*>())
        watch(w, &QPlainTextEdit::textChanged);
}

void AbstractEditDialog::setEdited() {
    _edited = true;
    QString title = windowTitle();
    title.remove(editedMark());
    setWindowTitle(title + editedMark());
}

void AbstractEditDialog::setUnedited() {
    _edited = false;
    QString title = windowTitle();
    setWindowTitle(title.remove(editedMark()));
}

void AbstractEditDialog::clearForms() {
    for (QLineEdit* w : findChildren<QLineEdit*>())
        w->clear();
    for (QPlainTextEdit* w : findChildren<QPlainTextEdit*>())
        w->clear();
    for (QDateEdit* w : findChildren<QDateEdit*>())
        w->clear();
}

bool AbstractEditDialog::maybeSave() {
    if (!_edited)
        return true;
    const auto answer =
        MessageBox::ask(this, QStringLiteral("Данные изменен."), QStringLiteral("Сохранить изменения?"),
                        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (answer == QMessageBox::Save)
        return save();
    if (answer != QMessageBox::Discard)
        return false;
    rollbackTransaction();
    beginTransaction();
    loadRecord(_recordId);
    setUnedited();
    return true;
}

bool AbstractEditDialog::save() {
    if (!_edited)
        return true;
    if (!checkForms())
        return false;
    if (_recordId > 0)
        updateRecord();
    else
        insertRecord();
    commitTransaction();
    emit documentsUpdated();
    loadRecord(_recordId);
    setUnedited();
    return true;
}

QDialog* AbstractEditDialog::createPrintDialog() {
    MZ_LOG() << "print dialog not available";
    return nullptr;
}

void AbstractEditDialog::print() {
    if (!maybeSave())
        return;
    QDialog* dialog = createPrintDialog();
    if (!dialog)
        return;
    // The dialog reports the choice by its designed signal, whichever class it is.
    connect(dialog, SIGNAL(reportTypeSelected(ReportList::ReportType, bool, bool)), this,
            SLOT(requestPrint(ReportList::ReportType, bool, bool)));
    connect(dialog, SIGNAL(pdfRequested(ReportList::ReportType, bool)), this,
            SLOT(requestPdf(ReportList::ReportType, bool)));
    dialog->show();
}

void AbstractEditDialog::requestPrint(ReportList::ReportType type, bool printBackground, bool showPreview) {
    emit documentPrint(type, _recordId, printBackground, showPreview);
}

void AbstractEditDialog::requestPdf(ReportList::ReportType type, bool printBackground) {
    emit documentsSavePdf(type, {_recordId}, printBackground);
}

void AbstractEditDialog::close() {
    if (!maybeSave())
        return;
    hide();
    deleteLater();
}

void AbstractEditDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    close();
}

void AbstractEditDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape)
        return;
    QDialog::keyPressEvent(event);
}
