#include "mainwindow.h"
#include "appkeys.h"
#include "messagebox.h"
#include "ui_mainwindow.h"

#include "banner.h"
#include "database.h"
#include "documenteditdialog.h"
#include "documentstable.h"
#include "engine.h"
#include "filterdockwidget.h"
#include "frdocheckdialog.h"
#include "frdodialog.h"
#include "frdoexport.h"
#include "importdialog.h"
#include "journaldialog.h"
#include "myfiltermodel.h"
#include "mzlog.h"
#include "optionsdialog.h"
#include "printdialog.h"
#include "printercalibrationdialog.h"
#include "productinfo.h"
#include "registrybook.h"
#include "selecttemplatedialog.h"
#include "settingsregistry.h"
#include "statisticsdialog.h"
#include "writeaccess.h"

#include <QApplication>
#include <QDate>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLocale>
#include <QSet>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace {
// The window's settings wait until it is laid out, so that the saved geometry wins.
constexpr int loadSettingsDelayMs = 200;
const QString tableName = QStringLiteral("Prof");

// Rows the list shows with their texts (a row whose page has not come shows none).
int rowsOnScreen(const QTableView* table) {
    const int first = table->rowAt(0);
    if (first < 0)
        return 0;
    const int last = table->rowAt(table->viewport()->height() - 1);
    const int end = last < 0 ? table->model()->rowCount() : last + 1;
    int shown = 0;
    for (int row = first; row < end; ++row)
        shown += table->model()->index(row, 1).data().isValid() ? 1 : 0;
    return shown;
}
} // namespace

MainWindow::MainWindow(QWidget* parent)
    : MzMainWindow(parent), ui(new Ui::MainWindow), _table(nullptr), _filters(nullptr), _banner(nullptr),
      _rowCounts(new QLabel(this)) {
    ui->setupUi(this);
    setWindowTitle(ProductTypeInfo::titledVersion());
    _banner = new Banner(this);
    setToolBarAction(ui->actionShowToolbar);
    setBannerAction(ui->actionShowBanner);
    setBanner(_banner);
    setForumAction(ui->actionForumUrl);

    _table = new DocumentsTable(this);
    connect(_table, &DocumentsTable::documentClicked, this, &MainWindow::onDocumentEdit);
    connect(_table, &DocumentsTable::documentPrint, engine(), &Engine::onDocumentPrint);
    connect(_table, &DocumentsTable::documentsPrint, engine(), &Engine::onDocumentsPrint);
    connect(_table, &DocumentsTable::documentsSavePdf, this, &MainWindow::saveDocumentsPdf);
    // On a server registry the list follows what the other programs save, add and delete.
    if (Database::hasInstance()) {
        connect(Database::instance(), &Database::changedElsewhere, _table, &DocumentsTable::updateData);
        DocumentEditDialog::readUsedValuesAhead();
        FrdoDialog::readUsedValuesAhead();
    }
    connect(_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { onUpdateIcons(_table->selectionModel()->selectedRows().size()); });
    connect(_table, &DocumentsTable::unselect, this, &MainWindow::hideSelectionActions);
    connect(_table, &DocumentsTable::rowCountsChanged, this, &MainWindow::showRowCounts);
    _table->viewport()->installEventFilter(this);

    _filters = new FilterDockWidget(this);
    _filters->setFixedWidth(qMax(_filters->width(), _filters->sizeHint().width()));
    connect(_filters, &FilterDockWidget::filtersChanged, _table, &DocumentsTable::onFiltersChanged);
    connect(_filters, &QDockWidget::visibilityChanged, ui->actionFilter, &QAction::setChecked);
    connect(ui->actionFilter, &QAction::toggled, _filters, &QWidget::setVisible);
    connect(ui->actionFrdo, &QAction::triggered, this, &MzMainWindow::_on_actionFrdo_triggered);
    layOut();

    // Permanent, so that a note in the status bar does not hide the counts.
    statusBar()->addPermanentWidget(_rowCounts);
    showRowCounts(_table->model()->rowCount(), _table->model()->rowCount());
    QTimer::singleShot(loadSettingsDelayMs, this, &MainWindow::loadSettings);
    ui->actionFilter->setChecked(true);
    hideSelectionActions();
    for (QAction* action : writingActions())
        WriteAccess::mark(action);
    markReadOnly();
    markServerFallback();
}

// Editing a document is reading it on a read-only run: its dialog opens for viewing.
QList<QAction*> MainWindow::writingActions() const {
    return {ui->actionCreateDoc, ui->actionCopy,   ui->actionRemove,
            ui->actionImport,    ui->actionLoadDb, ui->actionSettings};
}

MainWindow::~MainWindow() {
    saveSettings();
}

void MainWindow::layOut() {
    auto* row = new QHBoxLayout;
    row->addWidget(_table);
    row->addWidget(_filters);
    auto* column = new QVBoxLayout(ui->centralwidget);
    column->setContentsMargins(4, 4, 4, 4);
    column->addWidget(_banner);
    column->addLayout(row);
}

void MainWindow::onUpdateIcons(int selectedCount) {
    ui->actionRemove->setVisible(selectedCount > 0);
    ui->actionEdit->setVisible(selectedCount == 1);
    ui->actionPrint->setVisible(selectedCount == 1);
    ui->actionCopy->setVisible(selectedCount == 1);
}

void MainWindow::hideSelectionActions() {
    onUpdateIcons(0);
}

void MainWindow::showRowCounts(int shown, int total) {
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    _rowCounts->setText(QStringLiteral("Показано: %1 из %2").arg(russian.toString(shown), russian.toString(total)));
}

const char* MainWindow::firstScreenLogLine() {
    return "Main window shown with the list's first screen and its count:";
}

// The moment a clerk's start ends: the support (and the start's benchmark) read it in the log.
bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint && !_firstScreenLogged && isVisible() && watched == _table->viewport()) {
        _firstScreenLogged = true;
        // Once this paint is done.
        QTimer::singleShot(0, this, [this] {
            qDebug() << firstScreenLogLine() << _rowCounts->text() << "rows on screen:" << rowsOnScreen(_table);
        });
    }
    return MzMainWindow::eventFilter(watched, event);
}

void MainWindow::loadSettings() {
    MzMainWindow::loadSettings();
    SettingsRegistry* settings = SettingsRegistry::instance();
    _askBeforeExportControl = settings->value(Keys::askBeforeExportControl).toBool();
    ui->toolBar->setVisible(toolBarShown());
    _table->restoreColumnWidths(tableName);
}

void MainWindow::saveSettings() {
    MzMainWindow::saveSettings();
    SettingsRegistry::instance()->setValue(Keys::askBeforeExportControl, _askBeforeExportControl);
    _table->saveColumnWidths(tableName);
}

void MainWindow::on_actionSettings_triggered() {
    auto* dialog = new OptionsDialog(this);
    dialog->show();
}

void MainWindow::on_actionPreferences_triggered() {
    showPreferences();
}

void MainWindow::on_actionAbout_triggered() {
    showAbout();
}

void MainWindow::on_actionTips_triggered() {
    showTips();
}

void MainWindow::on_actionPrinterCalibration_triggered() {
    auto* dialog = new PrinterCalibrationDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void MainWindow::on_actionStatistics_triggered() {
    auto* dialog = new StatisticsDialog(this);
    QString error;
    if (!dialog->load(shownDocumentIds(), &error)) {
        delete dialog;
        MessageBox::critical(this, MessageBox::errorTitle(), error);
        return;
    }
    if (_table)
        dialog->setFilter(_table->filterModel()->filter());
    // Proposed and remembered as the exports' folder.
    dialog->setExportFolder(lastDirectory());
    connect(dialog, &StatisticsDialog::saved, this,
            [this](const QString& path) { setLastDirectory(QFileInfo(path).absolutePath()); });
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void MainWindow::on_actionJournal_triggered() {
    auto* dialog = new JournalDialog(this);
    dialog->setExportFolder(lastDirectory());
    connect(dialog, &JournalDialog::saved, this,
            [this](const QString& path) { setLastDirectory(QFileInfo(path).absolutePath()); });
    // A document brought back shows in the list at once.
    connect(dialog, &JournalDialog::documentRestored, this, [this] {
        if (_table)
            _table->updateData();
    });
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

void MainWindow::on_actionCheckUpdates_triggered() {
    checkUpdates(false);
}

void MainWindow::on_actionExport_triggered() {
    exportData();
}

void MainWindow::exportData() {
    warnAboutFilters(ExportKind::Book);
    exportTo_(0);
}

void MainWindow::exportTo_(int exportMode) {
    Q_UNUSED(exportMode)
    const QString path =
        askWorkbookName(XlsxExport::proposedFileName(lastDirectory(), QString(), QDate::currentDate()));
    if (path.isEmpty())
        return;
    const QList<qint64> ids = shownDocumentIds();
    writeWorkbook(path, [&](QString* error, const ExportProgress& progress) {
        return RegistryBook::write(ids, path, error, progress);
    });
}

QList<qint64> MainWindow::shownDocumentIds() const {
    return _table ? _table->shownIds() : QList<qint64>();
}

ImportDialog* MainWindow::importDialog() const {
    return _importDialog;
}

void MainWindow::on_actionImport_triggered() {
    importData();
}

void MainWindow::importData() {
    if (_importDialog) {
        _importDialog->raise();
        _importDialog->activateWindow();
        return;
    }
    // An open edit dialog holds the registry's transaction: closing it unsaved would roll the
    // imported documents back with its own changes.
    const QList<AbstractEditDialog*> editing = findChildren<AbstractEditDialog*>();
    if (std::any_of(editing.cbegin(), editing.cend(), [](const QWidget* d) { return d->isVisible(); })) {
        showMessage(QStringLiteral("Закройте окна редактирования документов, затем повторите импорт."),
                    MessageBox::attentionTitle());
        return;
    }
    auto* dialog = new ImportDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &ImportDialog::documentsImported, this, &MainWindow::onDocumentsImported);
    // Queued: the import window has closed by then.
    connect(
        dialog, &ImportDialog::frdoCheckWanted, this,
        [this](const QList<qint64>& ids) {
            FrdoCheckDialog* check = FrdoCheckDialog::showList(ids, this);
            connect(check, &FrdoCheckDialog::documentActivated, this,
                    [this, check](qint64 id) { openDocumentFromCheck(id, check); });
        },
        Qt::QueuedConnection);
    _importDialog = dialog;
    dialog->open();
}

void MainWindow::onDocumentsImported(const QList<qint64>& ids) {
    _table->updateData();
    const QList<qint64> shown = _table->shownIds();
    const QSet<qint64> shownSet(shown.cbegin(), shown.cend());
    // The filters would hide some of the new documents: the whole list is shown again.
    if (std::any_of(ids.cbegin(), ids.cend(), [&shownSet](qint64 id) { return !shownSet.contains(id); }))
        _filters->clearForms();
    _table->selectIds(ids);
}

void MainWindow::initFrdoExport() {
    setExportLayout(QStringLiteral("FRDO"), FrdoExport::layout());
}

void MainWindow::on_actionExit_triggered() {
    QApplication::quit();
}

DocumentEditDialog* MainWindow::openEditDialog(QWidget* parent) {
    auto* dialog = new DocumentEditDialog(parent ? parent : this);
    connect(dialog, &AbstractEditDialog::documentsUpdated, _table, &DocumentsTable::updateData);
    connect(dialog, &AbstractEditDialog::documentPrint, engine(), &Engine::onDocumentPrint);
    connect(dialog, &AbstractEditDialog::documentsSavePdf, this, &MainWindow::saveDocumentsPdf);
    _editDialog = dialog;
    return dialog;
}

void MainWindow::onNewTemplate() {
    DocumentEditDialog* dialog = openEditDialog();
    dialog->setId(-1);
    dialog->setTemplateMode(true);
    dialog->show();
}

void MainWindow::onDocumentEdit(qint64 sqlDocId) {
    if (sqlDocId < 0) {
        on_actionCreateDoc_triggered();
        return;
    }
    DocumentEditDialog* dialog = openEditDialog();
    dialog->setId(sqlDocId);
    dialog->show();
}

void MainWindow::openDocumentFromCheck(qint64 id, FrdoCheckDialog* check) {
    // A child of the modal check window, or it could not be used while the window waits.
    DocumentEditDialog* dialog = openEditDialog(check);
    connect(dialog, &AbstractEditDialog::documentsUpdated, check, &FrdoCheckDialog::recheck);
    dialog->setId(id);
    dialog->show();
}

void MainWindow::onTemplateEdit(qint64 sqlDocId) {
    DocumentEditDialog* dialog = openEditDialog();
    dialog->setId(sqlDocId);
    dialog->setTemplateMode(true);
    dialog->show();
}

void MainWindow::onDocumentFromTemplateCreate(qint64 templateId) {
    DocumentEditDialog* dialog = openEditDialog();
    dialog->setTemplateId(templateId);
    dialog->show();
}

void MainWindow::on_actionCreateDoc_triggered() {
    auto* dialog = new SelectTemplateDialog(this);
    connect(dialog, &SelectTemplateDialog::sqlIdSelected, this, &MainWindow::onDocumentFromTemplateCreate);
    connect(dialog, &SelectTemplateDialog::newTemplate, this, &MainWindow::onNewTemplate);
    connect(dialog, &SelectTemplateDialog::editTemplate, this, &MainWindow::onTemplateEdit);
    dialog->show();
}

// The template editor's entry: a report type whose template the designer opens.
void MainWindow::openEditorChooser() {
    if (_editorChooser)
        return;
    auto* chooser = new PrintDialog(this);
    chooser->setTemplateChoiceMode(true);
    _editorChooser = chooser;
    connect(chooser, &PrintDialog::reportTypeSelected, this, [this](ReportList::ReportType type) {
        const QString path = Engine::templatePath(type);
        if (!QFileInfo(path).isFile()) {
            MZ_LOG() << "cant find report file" << path;
            showMessage(QStringLiteral("Шаблон отчёта %1 не найден.").arg(path), MessageBox::errorTitle());
            return;
        }
        engine()->onGuiEdit(type);
    });
    chooser->show();
}

void MainWindow::on_actionEditor_triggered() {
    openTemplateEditor();
}

void MainWindow::on_actionSaveDb_triggered() {
    backupDatabase();
}

void MainWindow::on_actionLoadDb_triggered() {
    restoreDatabase();
    _table->updateData();
}

void MainWindow::on_actionRemove_triggered() {
    _table->onDeleteAction();
}

void MainWindow::on_actionPrint_triggered() {
    _table->onPrintAction();
}

void MainWindow::on_actionEdit_triggered() {
    _table->onEditAction();
}

void MainWindow::on_actionCopy_triggered() {
    _table->onCopyRecordAction();
}

void MainWindow::on_actionForumUrl_triggered() {
    openForum();
}

void MainWindow::on_actionShowBanner_triggered(bool checked) {
    showBanner(checked);
}

void MainWindow::on_actionShowToolbar_triggered(bool checked) {
    setShowToolBar(checked);
    ui->toolBar->setVisible(checked);
}
