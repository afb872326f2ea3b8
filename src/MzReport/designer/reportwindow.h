#pragma once

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <memory>

class AbstractField;
class DataManagerDockWidget;
class EditTableFieldDialog;
class ProjectViewWidget;
class QUndoStack;
class ReportPage;
class StructureDockWidget;
class TableField;

namespace Ui {
class ReportWindow;
}

// The template designer: one template on a zoomable canvas, its settings and the selected field's
// in the property panel, the filled page's placeholders in the variable manager. Every edit is an
// undo step (EditHistory); the edited mark follows the undo stack's saved state.
class ReportWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit ReportWindow(QWidget* parent = nullptr);
    ~ReportWindow() override;

    // False when there is no such file. A file that cannot be read is reported and the designer
    // goes on with what was read.
    bool openFile(const QString& path);
    // The edited page; the window owns it, so it lives while the window is open.
    ReportPage* page() const { return _page.get(); }
    QString fileName() const { return _fileName; }
    QString currentPath() const { return _currentPath; }
    bool isEdited() const;
    QUndoStack* undoStack() const { return _undo; }
    ProjectViewWidget* projectView() const { return _view; }
    StructureDockWidget* structureDock() const { return _structure; }
    DataManagerDockWidget* dataManagerDock() const { return _dataManager; }

    // The clipboard format of fields: the field arrays of the template file.
    static QString fieldsMimeType();

signals:
    void moveField(Qt::ArrowType direction);
    void zoomIn();
    void zoomOut();

public slots:
    void on_tableFieldCreated(TableField* field);
    // Marks the template changed outside the undo history (nothing in the designer needs it now).
    void setEdited();
    void on_updateOptions();
    void updateTitle();

private slots:
    void on_actionNew_triggered();
    void on_actionOpen_triggered();
    bool on_actionSave_triggered();
    void on_actionSaveAs_triggered();
    void on_actionLoadBackgroundImage_triggered();
    void on_actionLoadBackgroundImage2_triggered();
    void on_actionDeleteBackground_triggered();
    void on_actionPrint_triggered();
    void on_actionExit_triggered();
    void on_actionOptions_triggered();
    void on_actionAddTextField_triggered();
    void on_actionAddTableField_triggered();
    void on_action_QR_triggered();
    void on_actionDeleteField_triggered();
    void on_actionUndo_triggered();
    void on_actionRedo_triggered();
    void on_actionCut_triggered();
    void on_actionCopy_triggered();
    void on_actionPaste_triggered();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildDocks();
    void wire();
    // Replaces the edited page (the undo history goes with the old one).
    void setPage(std::unique_ptr<ReportPage> page);
    void markSaved();
    bool maybeSave();
    // Saves to `path`; false, with the reason shown, when the file could not be written.
    bool saveTo(const QString& path);
    QString askSaveName();
    void loadBackground(int side);
    // Places a new field centred in the visible canvas, 2 mm further per field on the page.
    void placeField(AbstractField* field, double width, double height);
    void addFields(const QList<AbstractField*>& fields, const QString& text);
    QList<AbstractField*> selectedFields() const;
    void readSettings();
    void writeSettings();

    std::unique_ptr<Ui::ReportWindow> ui;
    std::unique_ptr<ReportPage> _page;
    QUndoStack* _undo = nullptr;
    ProjectViewWidget* _view = nullptr;
    StructureDockWidget* _structure = nullptr;
    DataManagerDockWidget* _dataManager = nullptr;
    QPointer<EditTableFieldDialog> _tableDialog;
    QString _fileName;
    QString _currentPath = QStringLiteral(".");
    bool _forcedEdited = false;
};
