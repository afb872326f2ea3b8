#include "abstracteditdialog.h"

#include "database.h"
#include "messagebox.h"
#include "mzlog.h"
#include "inputhelpers.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <sqlite3.h>

namespace {
// Values the subclass sets while it builds and first loads its form must not count as edits.
constexpr int armDelayMs = 100;

// Each save runs inside its own savepoint, so that a failure undoes that save's writes only and
// leaves the transaction the dialogs share, with what they wrote before, as it was.
const QString savepoint = QStringLiteral("edit_dialog_save");
const QString writeSavepoint = QStringLiteral("edit_dialog_write");

QSqlDatabase connection() {
    return QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
}

QString sqliteReason(const QSqlError& error) {
    const QString text = error.databaseText().trimmed();
    return text.isEmpty() ? error.text().trimmed() : text;
}

bool run(QSqlDatabase& db, const QString& sql, QString* reason = nullptr) {
    QSqlQuery query(db);
    if (query.exec(sql))
        return true;
    MZ_LOG() << query.lastError().text() << sql;
    if (reason)
        *reason = sqliteReason(query.lastError());
    return false;
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
    const qint64 idBefore = _recordId;
    QString reason;
    if (!writeRecord(&reason)) {
        // The form keeps what was typed, and the mark with it, so that closing asks again.
        setRecordId(idBefore);
        saveFailed();
        showWriteFailure(saveFailureText(), reason);
        return false;
    }
    emit documentsUpdated();
    loadRecord(_recordId);
    setUnedited();
    return true;
}

bool AbstractEditDialog::writeRecord(QString* reason) {
    // This dialog tells of its own failures; the main window's box would only repeat them.
    const QSignalBlocker quiet(Database::hasInstance() ? Database::instance() : nullptr);
    _writeError.clear();
    QSqlDatabase db = connection();
    if (!db.isOpen()) {
        *reason = QStringLiteral("база данных не открыта");
        return false;
    }
    if (!_transactionOwner)
        beginTransaction();
    if (!run(db, QStringLiteral("SAVEPOINT %1;").arg(savepoint), reason))
        return false;
    const bool written = _recordId > 0 ? updateRecord() : insertRecord();
    if (written && commitSave(reason))
        return true;
    if (!written)
        *reason = _writeError;
    undoSave();
    return false;
}

// A commit ends the one open transaction whoever began it; this dialog then begins the next.
bool AbstractEditDialog::commitSave(QString* reason) {
    QSqlDatabase db = connection();
    if (!db.commit()) {
        MZ_LOG() << db.lastError().text();
        *reason = sqliteReason(db.lastError());
        return false;
    }
    _transactionOwner = nullptr;
    beginTransaction();
    return true;
}

void AbstractEditDialog::undoSave() {
    QSqlDatabase db = connection();
    sqlite3* handle = Database::sqliteHandle(db);
    if (handle && sqlite3_get_autocommit(handle)) {
        // SQLite gave the whole transaction up (as it may on a full disk): nothing of it is left.
        _transactionOwner = nullptr;
        beginTransaction();
        return;
    }
    run(db, QStringLiteral("ROLLBACK TO %1;").arg(savepoint));
    run(db, QStringLiteral("RELEASE %1;").arg(savepoint));
}

bool AbstractEditDialog::writeAtomically(const std::function<bool()>& write) {
    QSqlDatabase db = connection();
    if (!db.isOpen() || !run(db, QStringLiteral("SAVEPOINT %1;").arg(writeSavepoint)))
        return false;
    const bool written = write();
    if (!written)
        run(db, QStringLiteral("ROLLBACK TO %1;").arg(writeSavepoint));
    run(db, QStringLiteral("RELEASE %1;").arg(writeSavepoint));
    return written;
}

bool AbstractEditDialog::execWrite(QSqlQuery& query) {
    if (Database::instance()->execPrepared(query))
        return true;
    setWriteError(reasonOf(query));
    return false;
}

void AbstractEditDialog::setWriteError(const QString& reason) {
    if (_writeError.isEmpty())
        _writeError = reason;
}

QString AbstractEditDialog::reasonOf(const QSqlQuery& query) {
    return sqliteReason(query.lastError());
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

void AbstractEditDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape)
        return;
    QDialog::keyPressEvent(event);
}
