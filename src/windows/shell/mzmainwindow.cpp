#include "mzmainwindow.h"

#include "aboutdialog.h"
#include "appkeys.h"
#include "appsettings.h"
#include "database.h"
#include "dialoggeometry.h"
#include "engine.h"
#include "filedialog.h"
#include "frdocheck.h"
#include "frdocheckdialog.h"
#include "messagebox.h"
#include "mzlog.h"
#include "preferencesdialog.h"
#include "productinfo.h"
#include "registrybackup.h"
#include "settingsregistry.h"
#include "tipsdialog.h"
#include "updater.h"
#include "webaddresses.h"
#include "writeaccess.h"

#include <QAction>
#include <QCoreApplication>
#include <QDate>
#include <QDebug>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <algorithm>

namespace {
const QString errorTitle = MessageBox::errorTitle();
const QString informationTitle = QStringLiteral("Информация");
const QString databaseFilter = QStringLiteral("Database files (*.db)");
const QString excelFilter = QStringLiteral("Excel files (*.xlsx)");
const QString exportCaption = QStringLiteral("Экспорт в Excel");
const QString pdfCaption = QStringLiteral("Сохранить в PDF");
const QString pdfFilter = QStringLiteral("PDF (*.pdf)");
const QString filtersNote = QStringLiteral("При экспорте в Excel будут применены текущие настройки фильтрации");
// A workbook of fewer rows is written before a progress dialog would be worth showing.
constexpr int progressDelayMs = 400;
// How long the status bar names the file just written.
constexpr int savedNoteMs = 60000;
// The start-up work waits this long after the window first shows, so that it paints first.
constexpr int startUpDelayMs = 100;

const QString editorWarning = QStringLiteral(
    "<p align='justify'>Внимание!<br><br>Вы переходите в раздел \"Редактор шаблонов\".<br><br>Данный ресурс не "
    "предназначен для ввода данных учащихся и данных об образовательной организации.<br><br>Редактор шаблонов "
    "предназначен для небольшой корректировки расположения полей.<br><br>Продолжить?<br></p>");
} // namespace

MzMainWindow::MzMainWindow(QWidget* parent) : QMainWindow(parent), _engine(new Engine(this)) {
    qDebug() << "Engine created";
    // The edition's banner may ask its server as soon as it is built: through the proxy, if one is set.
    PreferencesDialog::setupProxy();
    connect(_engine, &Engine::error, this, &MzMainWindow::showMessage);
    setMinimumSize(800, 600);
    _lastDirectory = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (Database::hasInstance()) {
        connect(Database::instance(), &Database::writeFailed, this, &MzMainWindow::onWriteFailed);
        connect(Database::instance(), &Database::connectionBack, this,
                [this] { statusBar()->showMessage(QStringLiteral("Связь с сервером реестра восстановлена."), 10000); });
    }
}

namespace {
const QString fallbackTitle = QStringLiteral("локальный файл — сервер недоступен");
} // namespace

QString MzMainWindow::titleFor(const QString& title) {
    return Database::isServerFallback() ? title + QStringLiteral(" — ") + fallbackTitle : title;
}

// The run works on the file while its registry is on a server: the title and the status bar say
// so as long as it lasts, and the first write asks.
void MzMainWindow::markServerFallback() {
    if (!Database::isServerFallback() || _fallbackNote)
        return;
    setWindowTitle(titleFor(windowTitle()));
    _fallbackNote = new QLabel(QStringLiteral("Работа с файлом реестра на этом компьютере: сервер реестра %1 "
                                              "недоступен, изменения на сервер не попадут.")
                                   .arg(Database::serverAddress().displayText()),
                               this);
    _fallbackNote->setObjectName(QStringLiteral("labelServerFallback"));
    // A long address must not widen the window past a small screen: the whole note is its tooltip.
    _fallbackNote->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    _fallbackNote->setToolTip(_fallbackNote->text());
    _fallbackNote->setStyleSheet(QStringLiteral("QLabel { color: #b00000; }"));
    // Permanent: a passing note in the status bar must not hide it.
    statusBar()->addPermanentWidget(_fallbackNote, 1);
    Database::setWriteQuestion([this] { return askToWriteLocally(); });
}

void MzMainWindow::markReadOnly() {
    if (!WriteAccess::readOnly() || _readOnlyNote)
        return;
    setWindowTitle(windowTitle() + QStringLiteral(" — ") + WriteAccess::titleMark());
    _readOnlyNote = new QLabel(QStringLiteral("Только чтение"), this);
    _readOnlyNote->setObjectName(QStringLiteral("labelReadOnly"));
    _readOnlyNote->setToolTip(WriteAccess::reason());
    _readOnlyNote->setStyleSheet(QStringLiteral("QLabel { color: #b00000; }"));
    statusBar()->addPermanentWidget(_readOnlyNote);
}

bool MzMainWindow::askToWriteLocally() {
    const QString text =
        QStringLiteral("Сервер реестра был недоступен при запуске, и программа работает с файлом реестра на этом "
                       "компьютере:\n%1\n\nВ нём может быть старая копия реестра, а записанное в него не попадёт "
                       "на сервер и не будет видно другим программам.\n\nЗаписать изменения в этот файл?")
            .arg(QDir::toNativeSeparators(Database::filePath()));
    return MessageBox::choose(this, QMessageBox::Warning, MessageBox::attentionTitle(), text,
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No,
                              {{QMessageBox::Yes, QStringLiteral("Записать в файл")},
                               {QMessageBox::No, QStringLiteral("Не записывать")}}) == QMessageBox::Yes;
}

MzMainWindow::~MzMainWindow() {
    if (_fallbackNote)
        Database::setWriteQuestion({});
    // Open dialogs roll back what they did not save while the database is still there.
    qDeleteAll(findChildren<QDialog*>(QString(), Qt::FindDirectChildrenOnly));
    Database::shutdown();
}

void MzMainWindow::showMessage(const QString& text, const QString& title) {
    MessageBox::message(this, title, text);
}

void MzMainWindow::showMessageWithIcon(const QString& text, const QString& title, QMessageBox::Icon icon) {
    MessageBox::show(this, icon, title, text);
}

void MzMainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (std::exchange(_startUpScheduled, true))
        return;
    QTimer::singleShot(startUpDelayMs, this, &MzMainWindow::startUp);
}

void MzMainWindow::startUp() {
    // Now the window system's frame is known: a first start's estimate may have been short.
    DialogGeometry::fitIntoScreen(this);
    checkUpdates(true);
    qDebug() << "Updates checked";
    if (AppSettings::checkVersion())
        MessageBox::information(this, MessageBox::attentionTitle(), AppSettings::versionNoticeText());
    warnIfReadOnly();
    initFrdoExport();
}

void MzMainWindow::warnIfReadOnly() {
    if (!Database::hasInstance() || Database::instance()->startWarning().isEmpty())
        return;
    MessageBox::warning(this, MessageBox::attentionTitle(), Database::instance()->startWarning());
}

// One save may fail in several statements; the user hears of it once.
void MzMainWindow::onWriteFailed(const QString& message) {
    if (_writeFailurePending)
        return;
    _writeFailurePending = true;
    statusBar()->showMessage(message.section(QLatin1Char('\n'), 0, 0));
    QTimer::singleShot(0, this, [this, message] {
        MessageBox::warning(this, errorTitle, message);
        _writeFailurePending = false;
    });
}

void MzMainWindow::loadSettings() {
    SettingsRegistry* settings = SettingsRegistry::instance();
    const bool restored = restoreGeometry(settings->value(Keys::mainWindowGeometry).toByteArray());
    restoreState(settings->value(Keys::mainWindowState).toByteArray());
    // The form's size may not fit a small screen, nor a saved one a screen that has changed since.
    DialogGeometry::fitIntoScreen(this, !restored);
    _askBeforeExport = settings->value(Keys::askBeforeExport).toBool();
    _askBeforeExportFrdo = settings->value(Keys::askBeforeExportFrdo).toBool();
    _askBeforeEditor = settings->value(Keys::askBeforeEditor).toBool();
    _showToolBar = settings->value(Keys::showToolBar).toBool();
    _showBanner = settings->value(Keys::showBanner).toBool();
    if (_toolBarAction)
        _toolBarAction->setChecked(_showToolBar);
    if (_bannerAction) {
        const QSignalBlocker blocker(_bannerAction);
        _bannerAction->setChecked(_showBanner);
    }
    showBanner(_showBanner);
    if (settings->value(Keys::showTipsOnStartup).toBool())
        showTips();
}

void MzMainWindow::saveSettings() {
    SettingsRegistry* settings = SettingsRegistry::instance();
    settings->setValue(Keys::mainWindowGeometry, saveGeometry());
    settings->setValue(Keys::mainWindowState, saveState());
    settings->setValue(Keys::askBeforeExport, _askBeforeExport);
    settings->setValue(Keys::askBeforeEditor, _askBeforeEditor);
    settings->setValue(Keys::askBeforeExportFrdo, _askBeforeExportFrdo);
    settings->setValue(Keys::showToolBar, _showToolBar);
    settings->setValue(Keys::showBanner, _showBanner);
}

void MzMainWindow::showBanner(bool visible) {
    _showBanner = visible;
    if (_banner)
        _banner->setVisible(visible);
}

QString MzMainWindow::backupFileName(const QDate& date) const {
    return _lastDirectory + QLatin1Char('/') + QCoreApplication::applicationName() +
           date.toString(QStringLiteral("-backup-yyyy-MM-dd")) + QStringLiteral(".db");
}

void MzMainWindow::backupDatabase() {
    const QString path = FileDialog::getSaveFileName(this, QStringLiteral("Save file"),
                                                     backupFileName(QDate::currentDate()), databaseFilter);
    if (path.isEmpty())
        return;
    QString error;
    if (RegistryBackup(*Database::instance()).backup(path, &error))
        MessageBox::information(this, informationTitle, QStringLiteral("Резервная копия успешно создана."));
    else
        showMessage(QStringLiteral("Не удалось сохранить резервную копию.\n") + error, errorTitle);
}

// A registry on a server is every clerk's: its restore replaces it for all of them.
QString MzMainWindow::sharedRegistryNote() {
    QString error;
    const int others = Database::instance()->otherProgramsConnected(&error);
    QString note = QStringLiteral("Реестр на сервере общий: он будет заменён для всех программ, которые с ним "
                                  "работают.");
    if (others >= 0)
        note += QStringLiteral(" Сейчас к нему подключено других программ: %1.").arg(others);
    else
        MZ_LOG() << "the other programs on the server are not counted:" << error;
    return note;
}

bool MzMainWindow::restoreDatabase() {
    const QString path = FileDialog::getOpenFileName(this, QStringLiteral("Open file"), _lastDirectory, databaseFilter);
    if (path.isEmpty())
        return false;
    // Only a file that can take the registry's place is worth the question.
    QString error;
    if (!RegistryBackup(*Database::instance()).isRestoreCandidate(path, &error)) {
        showMessage(error, errorTitle);
        return false;
    }
    if (MessageBox::show(this, QMessageBox::Warning, MessageBox::attentionTitle(),
                         QStringLiteral("Вновь загруженная база полностью заменит собой существующую. Продолжить?"),
                         QMessageBox::Yes | QMessageBox::No, QMessageBox::No, nullptr,
                         Database::usesServer() ? sharedRegistryNote() : QString()) != QMessageBox::Yes)
        return false;
    if (!RegistryBackup(*Database::instance()).restore(path, &error)) {
        showMessage(error, errorTitle);
        return false;
    }
    MessageBox::information(this, informationTitle, QStringLiteral("Резервная копия успешно загружена."));
    return true;
}

void MzMainWindow::openTemplateEditor() {
    if (_askBeforeEditor) {
        bool dontWarnAgain = false;
        const auto answer = MessageBox::show(this, QMessageBox::Information, QString(), editorWarning,
                                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No, &dontWarnAgain);
        if (dontWarnAgain)
            _askBeforeEditor = false;
        if (answer != QMessageBox::Yes)
            return;
    }
    openEditorChooser();
}

void MzMainWindow::checkUpdates(bool isSilent) {
    // The proxy may have changed in the preferences since the start.
    PreferencesDialog::setupProxy();
    Updater::checkUpdates(this, isSilent, [this](const QString& text, const QString& title, QMessageBox::Icon icon) {
        showMessageWithIcon(text, title, icon);
    });
}

void MzMainWindow::showPreferences() {
    auto* dialog = new PreferencesDialog(this);
    dialog->show();
}

void MzMainWindow::showAbout() {
    (new AboutDialog(this))->show();
}

void MzMainWindow::showTips() {
    (new TipsDialog(this))->show();
}

void MzMainWindow::openForum() {
    const QUrl forum = WebAddresses::forum();
    if (forum.isEmpty())
        qDebug() << "no support forum address is set (\"Forum/url\")";
    else
        QDesktopServices::openUrl(forum);
}

void MzMainWindow::setForumAction(QAction* action) {
    if (!action)
        return;
    action->setVisible(!WebAddresses::forum().isEmpty());
    // A menu left with nothing to choose goes as well.
    for (QWidget* widget : action->associatedWidgets()) {
        auto* menu = qobject_cast<QMenu*>(widget);
        if (!menu)
            continue;
        const QList<QAction*> entries = menu->actions();
        menu->menuAction()->setVisible(std::any_of(entries.cbegin(), entries.cend(), [](const QAction* entry) {
            return entry->isVisible() && !entry->isSeparator();
        }));
    }
}

void MzMainWindow::importData() {
    showMessage(QStringLiteral("В текущей версии возможность импорта ещё не реализована"), errorTitle);
}

void MzMainWindow::exportData() {
    showMessage(QStringLiteral("В текущей версии возможность экспорта ещё не реализована"), errorTitle);
}

void MzMainWindow::warnAboutFilters(ExportKind kind) {
    bool& ask = kind == ExportKind::Frdo ? _askBeforeExportFrdo : _askBeforeExport;
    if (!ask)
        return;
    bool dontWarnAgain = false;
    MessageBox::show(this, QMessageBox::Information, QString(), filtersNote, QMessageBox::Ok, QMessageBox::Ok,
                     &dontWarnAgain);
    if (dontWarnAgain)
        ask = false;
}

QString MzMainWindow::askWorkbookName(const QString& proposed) {
    return FileDialog::getSaveFileName(this, exportCaption, proposed, excelFilter);
}

void MzMainWindow::_on_actionFrdo_triggered() {
    warnAboutFilters(ExportKind::Frdo);
    QList<qint64> ids = shownDocumentIds();
    if (!ids.isEmpty() && !checkFrdoRows(&ids))
        return;
    exportIdsToXlsx(QStringLiteral("FRDO"), ids);
}

bool MzMainWindow::checkFrdoRows(QList<qint64>* ids) {
    QVector<FrdoCheck::FailingDocument> failing;
    QString error;
    if (!FrdoCheck::checkDocuments(*ids, &failing, &error)) {
        MessageBox::warning(this, errorTitle, QStringLiteral("Не удалось проверить данные ФРДО.\n%1").arg(error));
        return false;
    }
    if (failing.isEmpty())
        return true;
    FrdoCheckDialog check(*ids, failing, this);
    connect(&check, &FrdoCheckDialog::documentActivated, this,
            [this, &check](qint64 id) { openDocumentFromCheck(id, &check); });
    check.exec();
    *ids = check.idsToExport();
    return check.choice() != FrdoCheckDialog::Choice::Cancel;
}

void MzMainWindow::openDocumentFromCheck(qint64 id, FrdoCheckDialog* check) {
    Q_UNUSED(id)
    Q_UNUSED(check)
}

void MzMainWindow::exportToXlsx(const QString& name, const XlsxFormat* headerFormat, const XlsxFormat* dataFormat) {
    exportIdsToXlsx(name, shownDocumentIds(), headerFormat, dataFormat);
}

void MzMainWindow::exportIdsToXlsx(const QString& name, const QList<qint64>& ids, const XlsxFormat* headerFormat,
                                   const XlsxFormat* dataFormat) {
    const auto layout = _exportLayouts.constFind(name);
    if (layout == _exportLayouts.constEnd()) {
        qDebug() << "exportToXlsx"
                 << "Empty!";
        return;
    }
    if (ids.isEmpty()) {
        MessageBox::information(this, QString(), QStringLiteral("Не выбрано ни одной записи."));
        return;
    }
    const QString path =
        askWorkbookName(XlsxExport::proposedFileName(_lastDirectory, layout->title, QDate::currentDate()));
    if (path.isEmpty())
        return;
    const XlsxExportSpec chosen = *layout;
    writeWorkbook(path, [&](QString* error, const ExportProgress& progress) {
        return XlsxExport::write(chosen, ids, path, error, progress, headerFormat, dataFormat);
    });
}

bool MzMainWindow::writeWorkbook(const QString& path,
                                 const std::function<bool(QString*, const ExportProgress&)>& write) {
    QProgressDialog progress(QStringLiteral("Экспорт в Excel..."), QStringLiteral("Отмена"), 0, 0, this);
    progress.setWindowTitle(exportCaption);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(progressDelayMs);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    QString error;
    const bool written = write(&error, [&progress](int done, int total) {
        if (progress.maximum() != total)
            progress.setMaximum(total);
        progress.setValue(done);
        return !progress.wasCanceled();
    });
    progress.close();
    return opened(written, path, error);
}

bool MzMainWindow::opened(bool written, const QString& path, const QString& error) {
    if (!written) {
        // An empty reason is the user's cancel: nothing was written and nothing needs saying.
        if (!error.isEmpty())
            MessageBox::warning(this, QStringLiteral("Не удалось сохранить файл"),
                                QStringLiteral("%1\n%2").arg(QDir::toNativeSeparators(path), error));
        return false;
    }
    const QString where = QDir::toNativeSeparators(path);
    // Where the file went stays in view; without a program to open it, the user would not know.
    statusBar()->showMessage(QStringLiteral("Файл сохранён: %1").arg(where), savedNoteMs);
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        showMessage(QStringLiteral("Файл сохранён:\n%1\n\nНе найдена программа, которая может его открыть.").arg(where),
                    informationTitle);
    return true;
}

void MzMainWindow::saveDocumentsPdf(ReportList::ReportType type, QList<qint64> sqlDocIds, bool printBackground) {
    if (sqlDocIds.isEmpty())
        return;
    const ReportList::ReportInfo* info = ReportList::info(type);
    const QString proposed = _lastDirectory + QLatin1Char('/') + ProductTypeInfo::appName() + QLatin1Char('-') +
                             (info ? info->title : QString::number(int(type))) + QLatin1Char('-') +
                             QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".pdf");
    const QString path = FileDialog::getSaveFileName(this, pdfCaption, proposed, pdfFilter);
    if (path.isEmpty())
        return;
    QString error;
    const bool written = _engine->saveDocumentsPdf(type, sqlDocIds, printBackground, path, &error);
    opened(written, path, error);
}
