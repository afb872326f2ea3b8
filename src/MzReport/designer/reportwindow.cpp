#include "reportwindow.h"
#include "designerkeys.h"
#include "ui_reportwindow.h"

#include "edittablefielddialog.h"
#include "edithistory.h"
#include "filedialog.h"
#include "mygraphicsscene.h"
#include "projectviewwidget.h"
#include "messagebox.h"
#include "mzlog.h"
#include "printsession.h"
#include "qrfield.h"
#include "reportpage.h"
#include "settingsregistry.h"
#include "tablefield.h"
#include "textfield.h"
#include "datamanagerdockwidget.h"
#include "structuredockwidget.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QMimeData>
#include <QTranslator>
#include <QUndoStack>

namespace {
const QString templateFilter = QStringLiteral("Report files (*.mzrpt)");
const QString imageFilter = QStringLiteral("Image Files (*.png *.jpg *.bmp)");
const QString openCaption = QStringLiteral("Open file");
const QString saveCaption = QStringLiteral("Save file");
// Pasted fields land this far right and down of their originals, as added ones do of each other.
constexpr double fieldOffsetMm = 2.0;

// The array of the template file that holds fields of a kind.
QString arrayOf(int type) {
    switch (type) {
    case AbstractField::TextType:
        return QStringLiteral("textFields");
    case AbstractField::TableType:
        return QStringLiteral("tableFields");
    case AbstractField::QrType:
        return QStringLiteral("qrFields");
    }
    return QString();
}
} // namespace

ReportWindow::ReportWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui::ReportWindow) {
    auto* translator = new QTranslator(this);
    if (translator->load(QStringLiteral("qt_ru"), QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::ApplicationModal);
    _undo = new QUndoStack(this);
    ui->actionRedo->setShortcuts(
        {QKeySequence(QStringLiteral("Ctrl+Shift+Z")), QKeySequence(QStringLiteral("Ctrl+Y"))});
    _view = new ProjectViewWidget(this);
    setCentralWidget(_view);
    buildDocks();
    wire();
    setPage(std::make_unique<ReportPage>());
    readSettings();
    setAcceptDrops(true);
    updateTitle();
}

ReportWindow::~ReportWindow() {
    // The base class hides the docks as it deletes them, after the form has gone: their handlers
    // must not run then.
    disconnect(_structure, nullptr, this, nullptr);
    disconnect(_dataManager, nullptr, this, nullptr);
    // The widgets and the history let go of the page before it goes.
    _view->setReportPage(nullptr);
    _structure->setReportPage(nullptr);
    _dataManager->setReportPage(nullptr);
    _undo->clear();
}

void ReportWindow::buildDocks() {
    _structure = new StructureDockWidget(this);
    _structure->setObjectName(QStringLiteral("structureDockWidget"));
    _structure->setMaximumWidth(400);
    addDockWidget(Qt::RightDockWidgetArea, _structure);
    _dataManager = new DataManagerDockWidget(this);
    _dataManager->setObjectName(QStringLiteral("dataManagerDockWidget"));
    _dataManager->setMaximumWidth(400);
    addDockWidget(Qt::LeftDockWidgetArea, _dataManager);
    // Wide enough for a property's name beside its value; a saved window state may change it.
    for (QDockWidget* dock : {static_cast<QDockWidget*>(_structure), static_cast<QDockWidget*>(_dataManager)})
        dock->setMinimumWidth(280);
    resizeDocks({_structure, _dataManager}, {320, 320}, Qt::Horizontal);
    _dataManager->hide();
}

void ReportWindow::wire() {
    connect(ui->actionStructure, &QAction::toggled, _structure, &QWidget::setVisible);
    connect(_structure, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        if (!isMinimized())
            ui->actionStructure->setChecked(visible);
    });
    connect(ui->actionDataManager, &QAction::toggled, _dataManager, &QWidget::setVisible);
    connect(_dataManager, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        if (!isMinimized())
            ui->actionDataManager->setChecked(visible);
    });
    connect(ui->actionZoomIn, &QAction::triggered, this, &ReportWindow::zoomIn);
    connect(ui->actionZoomOut, &QAction::triggered, this, &ReportWindow::zoomOut);
    connect(this, &ReportWindow::zoomIn, _view, &ProjectViewWidget::on_zoomIn);
    connect(this, &ReportWindow::zoomOut, _view, &ProjectViewWidget::on_zoomOut);
    MyGraphicsScene* scene = _view->scene();
    connect(this, &ReportWindow::moveField, scene, &MyGraphicsScene::onMoveField);
    connect(scene, &MyGraphicsScene::selectedFieldChanged, _structure, &StructureDockWidget::onFieldChanged);
    connect(_structure, &StructureDockWidget::fieldUpdated, scene, &MyGraphicsScene::onFieldsUpdated);
    connect(_structure, &StructureDockWidget::pageUpdated, scene, &MyGraphicsScene::onPageUpdated);
    connect(_structure, &StructureDockWidget::fieldUpdated, this, &ReportWindow::updateTitle);
    connect(_structure, &StructureDockWidget::pageUpdated, this, &ReportWindow::on_updateOptions);
    connect(_undo, &QUndoStack::cleanChanged, this, &ReportWindow::updateTitle);
    connect(_undo, &QUndoStack::indexChanged, this, &ReportWindow::updateTitle);
    connect(_undo, &QUndoStack::canUndoChanged, ui->actionUndo, &QAction::setEnabled);
    connect(_undo, &QUndoStack::canRedoChanged, ui->actionRedo, &QAction::setEnabled);
}

void ReportWindow::setPage(std::unique_ptr<ReportPage> page) {
    _view->setReportPage(nullptr);
    _structure->setReportPage(nullptr);
    _dataManager->setReportPage(nullptr);
    _undo->clear();
    _page = std::move(page);
    new EditHistory(_page.get(), _undo);
    // Undo of a side count or a background must show in the menu as the panel's edit does.
    connect(_page.get(), &ReportPage::pageChanged, this, &ReportWindow::on_updateOptions);
    _view->setReportPage(_page.get());
    _structure->setReportPage(_page.get());
    _dataManager->setReportPage(_page.get());
    on_updateOptions();
    markSaved();
}

bool ReportWindow::isEdited() const {
    return _forcedEdited || !_undo->isClean();
}

void ReportWindow::markSaved() {
    _forcedEdited = false;
    _undo->setClean();
    updateTitle();
}

void ReportWindow::updateTitle() {
    const QString name = _fileName.isEmpty() ? QStringLiteral("Несохранённый документ") : _fileName;
    setWindowTitle(QStringLiteral("Редактор отчёта - %1%2").arg(name, isEdited() ? QStringLiteral("*") : QString()));
}

void ReportWindow::setEdited() {
    _forcedEdited = true;
    updateTitle();
}

void ReportWindow::on_updateOptions() {
    ui->actionLoadBackgroundImage2->setVisible(_page && _page->pagesCount() > 1);
}

// ---- files

bool ReportWindow::openFile(const QString& path) {
    if (!QFileInfo(path).isFile())
        return false;
    writeSettings();
    _fileName = path;
    auto page = std::make_unique<ReportPage>();
    QString failure;
    const bool loaded = page->load(path, &failure);
    setPage(std::move(page));
    if (!loaded) {
        MessageBox::warning(this, ReportPage::loadFailedTitle(), failure);
        MessageBox::show(this, QMessageBox::NoIcon, QString(), QStringLiteral("Неверный формат файла!"));
    }
    readSettings();
    markSaved();
    return true;
}

QString ReportWindow::askSaveName() {
    return FileDialog::getSaveFileName(this, saveCaption, _currentPath, templateFilter);
}

bool ReportWindow::saveTo(const QString& path) {
    QString failure;
    if (!_page->save(path, &failure)) {
        // The changes stay marked: they are not on disk.
        MessageBox::warning(this, ReportPage::saveFailedTitle(), failure);
        return false;
    }
    markSaved();
    return true;
}

bool ReportWindow::maybeSave() {
    if (!isEdited())
        return true;
    const MessageBox::Button answer =
        MessageBox::ask(this, QStringLiteral("Шаблон был изменен."), QStringLiteral("Сохранить изменения?"),
                        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (answer == QMessageBox::Save)
        return on_actionSave_triggered();
    return answer == QMessageBox::Discard;
}

void ReportWindow::on_actionNew_triggered() {
    if (!maybeSave())
        return;
    writeSettings();
    _fileName.clear();
    setPage(std::make_unique<ReportPage>());
    readSettings();
    markSaved();
}

void ReportWindow::on_actionOpen_triggered() {
    if (!maybeSave())
        return;
    const QString path = FileDialog::getOpenFileName(this, openCaption, _currentPath, templateFilter);
    if (path.isEmpty())
        return;
    _currentPath = QFileInfo(path).absolutePath();
    if (!openFile(path))
        MessageBox::warning(this, ReportPage::loadFailedTitle(), QStringLiteral("Файл %1 не найден.").arg(path));
}

bool ReportWindow::on_actionSave_triggered() {
    if (_fileName.isEmpty()) {
        const QString path = askSaveName();
        if (path.isEmpty())
            return false;
        if (!saveTo(path))
            return false;
        _fileName = path;
        updateTitle();
        return true;
    }
    return saveTo(_fileName);
}

void ReportWindow::on_actionSaveAs_triggered() {
    const QString path = askSaveName();
    if (path.isEmpty() || !saveTo(path))
        return;
    _fileName = path;
    updateTitle();
}

// ---- backgrounds

void ReportWindow::loadBackground(int side) {
    const QString path = FileDialog::getOpenFileName(this, openCaption, _currentPath, imageFilter);
    if (path.isEmpty())
        return;
    const bool loaded = side == 0 ? _page->setBackgroundImageFromFile(path) : _page->setBackgroundImage2FromFile(path);
    if (!loaded)
        MessageBox::warning(this, ReportPage::loadFailedTitle(),
                            QStringLiteral("Файл %1 не является изображением.").arg(QDir::toNativeSeparators(path)));
}

void ReportWindow::on_actionLoadBackgroundImage_triggered() {
    loadBackground(0);
}

void ReportWindow::on_actionLoadBackgroundImage2_triggered() {
    loadBackground(1);
}

void ReportWindow::on_actionDeleteBackground_triggered() {
    EditHistory::Group group(_page.get(), QStringLiteral("Удаление фона"));
    _page->clearBackgroundImages();
}

// ---- fields

QList<AbstractField*> ReportWindow::selectedFields() const {
    return _view->scene()->selectedFields();
}

void ReportWindow::addFields(const QList<AbstractField*>& fields, const QString& text) {
    EditHistory::of(_page.get())->addFields(fields, text);
    _view->scene()->selectFields(fields);
}

void ReportWindow::placeField(AbstractField* field, double width, double height) {
    const QPointF centre = _view->visibleCentreMm();
    const double shift = fieldOffsetMm * _page->fields().size();
    field->setGeometry(centre.x() - width / 2 + shift, centre.y() - height / 2 + shift, width, height);
}

void ReportWindow::on_actionAddTextField_triggered() {
    _view->scene()->selectFields({});
    auto* field = new TextField;
    placeField(field, 60.0, 10.0);
    field->setAlignFlags(Qt::AlignLeft | Qt::AlignTop);
    addFields({field}, QStringLiteral("Добавление текстового поля"));
}

void ReportWindow::on_action_QR_triggered() {
    _view->scene()->selectFields({});
    auto* field = new QrField;
    placeField(field, 20.0, 20.0);
    addFields({field}, QStringLiteral("Добавление QR-кода"));
}

void ReportWindow::on_actionAddTableField_triggered() {
    _view->scene()->selectFields({});
    if (_tableDialog) {
        _tableDialog->raise();
        _tableDialog->activateWindow();
        return;
    }
    _tableDialog = new EditTableFieldDialog(nullptr, this);
    _tableDialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(_tableDialog, &EditTableFieldDialog::tableFieldCreated, this, &ReportWindow::on_tableFieldCreated);
    _tableDialog->show();
}

void ReportWindow::on_tableFieldCreated(TableField* field) {
    if (!field)
        return;
    placeField(field, 160.0, 50.0);
    addFields({field}, QStringLiteral("Добавление таблицы"));
    field->prepare();
    // A net move of nothing, so that the selected item shows the laid-out table.
    emit moveField(Qt::RightArrow);
    emit moveField(Qt::LeftArrow);
}

void ReportWindow::on_actionDeleteField_triggered() {
    const QList<AbstractField*> fields = selectedFields();
    if (!fields.isEmpty())
        EditHistory::of(_page.get())->removeFields(fields, QStringLiteral("Удаление полей"));
}

void ReportWindow::on_actionUndo_triggered() {
    _undo->undo();
}

void ReportWindow::on_actionRedo_triggered() {
    _undo->redo();
}

QString ReportWindow::fieldsMimeType() {
    return QStringLiteral("application/x-mzrpt-fields");
}

void ReportWindow::on_actionCopy_triggered() {
    const QList<AbstractField*> fields = selectedFields();
    if (fields.isEmpty())
        return;
    QJsonObject arrays;
    for (const AbstractField* field : fields) {
        QJsonObject object;
        field->write(object);
        QJsonArray array = arrays.value(arrayOf(field->type())).toArray();
        array.append(object);
        arrays.insert(arrayOf(field->type()), array);
    }
    const QByteArray json = QJsonDocument(arrays).toJson(QJsonDocument::Indented);
    auto* data = new QMimeData;
    data->setData(fieldsMimeType(), json);
    data->setText(QString::fromUtf8(json));
    QApplication::clipboard()->setMimeData(data);
}

void ReportWindow::on_actionCut_triggered() {
    if (selectedFields().isEmpty())
        return;
    on_actionCopy_triggered();
    EditHistory::of(_page.get())->removeFields(selectedFields(), QStringLiteral("Вырезание полей"));
}

void ReportWindow::on_actionPaste_triggered() {
    const QMimeData* data = QApplication::clipboard()->mimeData();
    if (!data)
        return;
    // Our own format, or the same JSON pasted as text from elsewhere.
    const QByteArray json = data->hasFormat(fieldsMimeType()) ? data->data(fieldsMimeType()) : data->text().toUtf8();
    QJsonParseError parsed;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parsed);
    if (parsed.error != QJsonParseError::NoError || !document.isObject())
        return;
    QList<AbstractField*> fields;
    for (int type : {int(AbstractField::TextType), int(AbstractField::TableType), int(AbstractField::QrType)}) {
        const QJsonArray array = document.object().value(arrayOf(type)).toArray();
        for (const QJsonValue& value : array) {
            if (!value.isObject())
                continue;
            AbstractField* field = ReportPage::newField(type);
            field->read(value.toObject());
            field->setGeometry(field->x() + fieldOffsetMm, field->y() + fieldOffsetMm, field->width(), field->height());
            fields << field;
        }
    }
    if (!fields.isEmpty())
        addFields(fields, QStringLiteral("Вставка полей"));
}

// ---- the rest of the menu

void ReportWindow::on_actionPrint_triggered() {
    // The raw template with its backgrounds, through the same session as the registry's prints.
    PrintSession session;
    session.printPage(_page.get(), _page->fillWithData(), 1, true, -1);
}

void ReportWindow::on_actionExit_triggered() {
    close();
}

void ReportWindow::on_actionOptions_triggered() {}

void ReportWindow::closeEvent(QCloseEvent* event) {
    if (!maybeSave()) {
        event->ignore();
        return;
    }
    writeSettings();
    event->accept();
}

void ReportWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Plus:
        emit zoomIn();
        return;
    case Qt::Key_Minus:
        emit zoomOut();
        return;
    // The same keys on a Russian layout.
    case Qt::Key_W:
    case 0x426: // Ц
        emit moveField(Qt::UpArrow);
        return;
    case Qt::Key_A:
    case 0x424: // Ф
        emit moveField(Qt::LeftArrow);
        return;
    case Qt::Key_S:
    case 0x42b: // Ы
        emit moveField(Qt::DownArrow);
        return;
    case Qt::Key_D:
    case 0x412: // В
        emit moveField(Qt::RightArrow);
        return;
    default:
        QMainWindow::keyPressEvent(event);
    }
}

// ---- window settings

void ReportWindow::readSettings() {
    SettingsRegistry* settings = SettingsRegistry::instance();
    restoreGeometry(settings->value(Keys::reportWindowGeometry).toByteArray());
    restoreState(settings->value(Keys::reportWindowState).toByteArray());
    _currentPath = settings->value(Keys::reportWindowCurrentPath).toString();
}

void ReportWindow::writeSettings() {
    SettingsRegistry* settings = SettingsRegistry::instance();
    settings->setValue(Keys::reportWindowGeometry, saveGeometry());
    settings->setValue(Keys::reportWindowState, saveState());
    settings->setValue(Keys::reportWindowCurrentPath, _currentPath);
}
