#include "journaldialog.h"
#include "ui_journaldialog.h"

#include "dialoggeometry.h"
#include "filedialog.h"
#include "historydialog.h"
#include "historyexport.h"
#include "historytext.h"
#include "journalmodel.h"
#include "messagebox.h"
#include "mzlog.h"
#include "writeaccess.h"

#include <QApplication>
#include <QCollator>
#include <QDir>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLocale>
#include <QProgressDialog>
#include <QSignalBlocker>
#include <QTimer>
#include <iterator>

namespace {
const QString everyone = QStringLiteral("Все");
const QString everyKind = QStringLiteral("Все действия");
const QString exportCaption = QStringLiteral("Экспорт в Excel");
constexpr int typingDelayMs = 400;
constexpr int progressDelayMs = 400;
// Entries whose users one slice reads: a few tens of milliseconds on a large journal.
constexpr qint64 usersSlice = 20000;
} // namespace

JournalDialog::JournalDialog(QWidget* parent)
    : QDialog(parent), ui(new Ui::JournalDialog), _model(new JournalModel(this)), _typing(new QTimer(this)),
      _usersReading(new QTimer(this)) {
    ui->setupUi(this);
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    ui->dateEditFrom->clear();
    ui->dateEditTo->clear();
    ui->comboBoxUser->addItem(everyone);
    ui->comboBoxKind->addItem(everyKind);
    for (auto kind : {DocumentHistory::Kind::Created, DocumentHistory::Kind::Edited, DocumentHistory::Kind::Copied,
                      DocumentHistory::Kind::Imported, DocumentHistory::Kind::Deleted, DocumentHistory::Kind::Restored})
        ui->comboBoxKind->addItem(DocumentHistory::text(kind), int(kind));

    ui->tableViewJournal->setModel(_model);
    const int widths[] = {150, 190, 160, 75, 240, 100};
    for (int c = 0; c < int(std::size(widths)); ++c)
        ui->tableViewJournal->setColumnWidth(c, widths[c]);
    ui->tableViewJournal->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    connect(_model, &JournalModel::readFailed, this, &JournalDialog::readFailed);
    connect(_model, &JournalModel::searchingChanged, this,
            [this](bool searching) { ui->labelStatus->setText(searching ? QStringLiteral("Поиск...") : QString()); });
    connect(ui->tableViewJournal->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &JournalDialog::updateButtons);
    connect(_model, &QAbstractItemModel::modelReset, this, &JournalDialog::updateButtons);
    connect(ui->tableViewJournal, &QAbstractItemView::activated, this, &JournalDialog::on_pushButtonHistory_clicked);

    _typing->setSingleShot(true);
    _typing->setInterval(typingDelayMs);
    connect(_typing, &QTimer::timeout, this, &JournalDialog::applyFilter);
    connect(ui->lineEditText, &QLineEdit::textChanged, _typing, qOverload<>(&QTimer::start));
    connect(ui->lineEditText, &QLineEdit::returnPressed, this, &JournalDialog::applyFilter);
    for (OptionalDateEdit* edit : {ui->dateEditFrom, ui->dateEditTo})
        connect(edit, &QDateEdit::dateChanged, this, &JournalDialog::applyFilter);
    for (QComboBox* box : {ui->comboBoxUser, ui->comboBoxKind})
        connect(box, qOverload<int>(&QComboBox::currentIndexChanged), this, &JournalDialog::applyFilter);

    // Bringing a document back writes it: a read-only run keeps the button off, with the reason.
    WriteAccess::mark(ui->pushButtonRestore);
    DialogGeometry::restore(this);
    DialogGeometry::fitIntoScreen(this);
    applyFilter();
    // Every user is a pass over the whole journal: read a slice at a time while the window is in use.
    if (_model->rowCount() > 0 && _model->filter().kinds.isEmpty())
        _usersBelow = _model->entry(0).id + 1;
    connect(_usersReading, &QTimer::timeout, this, [this] {
        if (!readUsersSlice())
            _usersReading->stop();
    });
    _usersReading->start(0);
}

JournalDialog::~JournalDialog() {
    DialogGeometry::save(this);
}

HistoryJournal::Filter JournalDialog::filter() const {
    HistoryJournal::Filter filter;
    filter.from = ui->dateEditFrom->optionalDate();
    filter.to = ui->dateEditTo->optionalDate();
    if (ui->comboBoxUser->currentIndex() > 0)
        filter.user = ui->comboBoxUser->currentText();
    if (ui->comboBoxKind->currentIndex() > 0)
        filter.kinds.insert(DocumentHistory::Kind(ui->comboBoxKind->currentData().toInt()));
    filter.text = ui->lineEditText->text().trimmed();
    return filter;
}

bool JournalDialog::readUsersSlice() {
    if (_usersBelow <= 1)
        return false;
    const qint64 from = qMax<qint64>(1, _usersBelow - usersSlice);
    QStringList users;
    QString error;
    if (!HistoryJournal::usersBetween(from, _usersBelow - 1, &users, &error)) {
        MZ_LOG() << "journal users not read:" << error;
        _usersBelow = 0;
        return false;
    }
    _usersBelow = from;
    addUsers(users);
    return _usersBelow > 1;
}

void JournalDialog::loadUsers() {
    _usersReading->stop();
    while (readUsersSlice()) {
    }
}

// Into their places in the list; the chosen one stays chosen.
void JournalDialog::addUsers(const QStringList& users) {
    const QSignalBlocker quiet(ui->comboBoxUser);
    QCollator collator{QLocale(QLocale::Russian, QLocale::Russia)};
    for (const QString& user : users) {
        int at = 1;
        while (at < ui->comboBoxUser->count() && collator.compare(ui->comboBoxUser->itemText(at), user) < 0)
            ++at;
        if (at == ui->comboBoxUser->count() || ui->comboBoxUser->itemText(at) != user)
            ui->comboBoxUser->insertItem(at, user);
    }
}

void JournalDialog::applyFilter() {
    _typing->stop();
    QString error;
    if (!_model->setFilter(filter(), &error))
        readFailed(error);
    updateButtons();
}

void JournalDialog::readFailed(const QString& reason) {
    MessageBox::warning(this, MessageBox::errorTitle(),
                        QStringLiteral("Не удалось прочитать журнал изменений.\n%1").arg(reason));
}

const HistoryJournal::Entry* JournalDialog::currentEntry() const {
    const QModelIndex current = ui->tableViewJournal->selectionModel()->currentIndex();
    return current.isValid() && current.row() < _model->rowCount() ? &_model->entry(current.row()) : nullptr;
}

void JournalDialog::updateButtons() {
    const HistoryJournal::Entry* entry = currentEntry();
    const bool deletion =
        entry && entry->kindCode == DocumentHistory::code(DocumentHistory::Kind::Deleted) && entry->hasSnapshot;
    ui->pushButtonRestore->setEnabled(deletion);
    ui->pushButtonHistory->setEnabled(entry != nullptr);
}

void JournalDialog::on_pushButtonHistory_clicked() {
    if (const HistoryJournal::Entry* entry = currentEntry())
        HistoryDialog::open(entry->profId, this);
}

void JournalDialog::on_pushButtonRestore_clicked() {
    const HistoryJournal::Entry* entry = currentEntry();
    if (!entry || !WriteAccess::allowed(ui->pushButtonRestore))
        return;
    const QString name = entry->docName.isEmpty() ? QStringLiteral("документ %1").arg(entry->profId)
                                                  : QStringLiteral("«%1»").arg(entry->docName);
    if (MessageBox::question(
            this, QStringLiteral("Восстановить документ"),
            QStringLiteral("Восстановить %1, удалённый %2, со всеми его данными?").arg(name, HistoryText::when(*entry)),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;
    const qint64 oldId = entry->profId;
    qint64 profId = 0;
    QString error;
    if (!HistoryJournal::restoreDocument(entry->id, &profId, &error)) {
        MessageBox::warning(this, MessageBox::errorTitle(), QStringLiteral("Документ не восстановлен.\n%1").arg(error));
        return;
    }
    emit documentRestored(profId);
    applyFilter();
    MessageBox::information(
        this, QStringLiteral("Информация"),
        profId == oldId ? QStringLiteral("Документ восстановлен под прежним кодом %1.").arg(profId)
                        : QStringLiteral("Документ восстановлен под новым кодом %1: прежний код %2 занят другим "
                                         "документом.")
                              .arg(profId)
                              .arg(oldId));
}

void JournalDialog::on_pushButtonExport_clicked() {
    const QString proposed =
        XlsxExport::proposedFileName(_exportFolder, QStringLiteral("Журнал"), QDate::currentDate());
    const QString path =
        FileDialog::getSaveFileName(this, exportCaption, proposed, QStringLiteral("Excel files (*.xlsx)"));
    if (path.isEmpty())
        return;
    QProgressDialog progress(QStringLiteral("Экспорт в Excel..."), QStringLiteral("Отмена"), 0, 0, this);
    progress.setWindowTitle(exportCaption);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(progressDelayMs);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    QString error;
    qint64 rows = 0;
    const bool written = HistoryExport::write(
        filter(), path, &error,
        [&](int done, int) {
            progress.setLabelText(QStringLiteral("Экспорт в Excel... записей: %1").arg(russian.toString(done)));
            QCoreApplication::processEvents();
            return !progress.wasCanceled();
        },
        &rows);
    progress.close();
    const QString where = QDir::toNativeSeparators(path);
    if (!written) {
        // An empty reason is the user's cancel: nothing was written.
        if (!error.isEmpty())
            MessageBox::warning(this, QStringLiteral("Не удалось сохранить файл"),
                                QStringLiteral("%1\n%2").arg(where, error));
        return;
    }
    emit saved(path);
    MessageBox::information(
        this, QStringLiteral("Информация"),
        QStringLiteral("Записей журнала выгружено: %1.\nФайл сохранён: %2").arg(russian.toString(rows), where));
}
