#include "abstracteditdialog.h"

#include "edittransaction.h"
#include "inputhelpers.h"
#include "messagebox.h"
#include "mzlog.h"
#include "writeaccess.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QTimer>
#include <utility>

namespace {
// Values the subclass sets while it builds and first loads its form must not count as edits.
constexpr int armDelayMs = 100;

} // namespace

AbstractEditDialog::AbstractEditDialog(QWidget* parent) : QDialog(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::ApplicationModal);
    QTimer::singleShot(armDelayMs, this, &AbstractEditDialog::arm);
    EditTransaction::begin(this);
}

AbstractEditDialog::~AbstractEditDialog() {
    EditTransaction::release(this);
}

void AbstractEditDialog::setRecordId(qint64 id) {
    _recordId = id;
    EditTransaction::follow(this, id);
}

void AbstractEditDialog::arm() {
    InputHelpers::installSpellChecking(this);
    connectEditSignals();
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
    // A record open for viewing has nothing to save, whatever its fields report.
    if (WriteAccess::readOnly())
        return;
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
    // The line edit inside a date edit is the date edit's own business.
    for (QLineEdit* w : findChildren<QLineEdit*>())
        if (!qobject_cast<QDateEdit*>(w->parentWidget()))
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
    EditTransaction::rollback();
    EditTransaction::begin(this);
    loadRecord(_recordId);
    setUnedited();
    return true;
}

bool AbstractEditDialog::save() {
    if (!_edited)
        return true;
    if (!checkForms())
        return false;
    const qint64 idBefore = _recordId;
    QString reason;
    while (!writeRecord(&reason)) {
        // The form keeps what was typed, and the mark with it, so that closing asks again.
        setRecordId(idBefore);
        saveFailed();
        if (!settleFailedSave(reason))
            return false;
        reason.clear();
    }
    emit documentsUpdated();
    loadRecord(_recordId);
    setUnedited();
    return true;
}

bool AbstractEditDialog::writeRecord(QString* reason) {
    return EditTransaction::save(
        this,
        [this](QString* error) {
            _writeError.clear();
            const bool written = _recordId > 0 ? updateRecord() : insertRecord();
            if (!written)
                *error = _writeError;
            return written;
        },
        reason);
}

bool AbstractEditDialog::writeAtomically(const std::function<bool()>& write, QString* error) {
    return EditTransaction::atomically(write, error);
}

void AbstractEditDialog::setWriteError(const QString& reason) {
    if (_writeError.isEmpty())
        _writeError = reason;
}

bool AbstractEditDialog::settleFailedSave(const QString& reason) {
    showWriteFailure(saveFailureText(), reason);
    return false;
}

void AbstractEditDialog::showWriteFailure(const QString& headline, const QString& reason) {
    MessageBox::critical(this, errorTitle(), reason.isEmpty() ? headline : headline + QLatin1Char('\n') + reason);
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

void AbstractEditDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (std::exchange(_shown, true))
        return;
    // Every edit dialog's form names its save button so.
    WriteAccess::mark(findChild<QPushButton*>(QStringLiteral("pushButtonSave")));
    WriteAccess::viewOnly(this);
}

void AbstractEditDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape)
        return;
    QDialog::keyPressEvent(event);
}
