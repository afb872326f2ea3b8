#pragma once

#include "filterlisttype.h"
#include "frdoautofill.h"
#include "reportlist.h"

#include <QAbstractItemModel>
#include <QItemSelection>
#include <QList>
#include <QMap>
#include <QPoint>
#include <QPointer>
#include <QSet>
#include <QSortFilterProxyModel>
#include <QString>
#include <QTableView>
#include <QVariant>
#include <QVector>
#include <functional>

class QAction;
class QDialog;
class QMenu;

// The registry list, whatever the kind of document: the context menu and its actions, header
// sorting, selection handling; copying, deleting and auto-filling records go through the registry
// store. Column 0 of every row is the record's id.
class DocumentsTableAbstract : public QTableView {
    Q_OBJECT

public:
    explicit DocumentsTableAbstract(QWidget* parent = nullptr);
    ~DocumentsTableAbstract() override;

    // The most recently constructed list that still exists, or null.
    static DocumentsTableAbstract* instance();

    qint64 currentDocId() const { return _currentDocId; }
    // Ids of the selected rows that the view shows.
    QList<qint64> selectedIds() const;
    // Ids of every row the list shows, in its order.
    QList<qint64> shownIds() const;
    QList<qint64> idsForFill() const { return _idsForFill; }
    // Selects exactly the rows of `ids` the list shows and brings the group into view, its top row
    // (in the list's order) first; that row becomes the current one.
    void selectIds(const QList<qint64>& ids);

    // Column widths under the user store's "Table_geometry_<name>_column_<n>_width"; a hidden
    // column is left out, a stored width of 0 or less is not applied.
    void restoreColumnWidths(const QString& tableName);
    void saveColumnWidths(const QString& tableName);

    virtual bool checkRecords(int kind, QList<qint64> ids);
    virtual bool checkRecord(int kind, qint64 id) = 0;
    // Each of these is false, with the database's reason in `error`, when a statement failed.
    // Deleting is all or nothing.
    virtual bool deleteRecords(QList<qint64> ids, QString* error = nullptr);
    // The id of the new copy, 0 when none was made.
    virtual qint64 copyRecord(qint64 id, QString* error = nullptr);
    virtual bool copyAdditionalRecords(qint64 fromId, qint64 toId, QString* error = nullptr);
    // copyRecord() and copyAdditionalRecords() together, all or nothing; the new id or 0.
    qint64 duplicateRecord(qint64 id, QString* error = nullptr);
    // Fills the document's FRDO row by the "Frdo" rule set, all or nothing.
    virtual bool autoFillFrdoVirtual(qint64 sqlDocId, QString* error = nullptr);

signals:
    void documentClicked(qint64 sqlDocId);
    void documetsForFillSelected();
    void documentPrint(ReportList::ReportType type, qint64 sqlDocId, bool printBackground, bool showPreview);
    void documentsPrint(ReportList::ReportType type, QList<qint64> sqlDocIds, bool printBackground, bool showPreview);
    // The print dialog's "Сохранить в PDF" for the selected documents.
    void documentsSavePdf(ReportList::ReportType type, QList<qint64> sqlDocIds, bool printBackground);
    void unselect();
    void reselected();
    // After every filter change and refresh: rows shown and rows loaded.
    void rowCountsChanged(int shown, int total);

public slots:
    void updateData();
    virtual void onFiltersChanged(FilterListType filterList) = 0;
    void onRowActivated(QModelIndex index);
    void provideContexMenu(QPoint pos);
    void onCopyRecordAction();
    void onEditAction();
    void onDeleteAction();
    void onPrintAction();
    void onSelectAllAction();
    void onFillFromTemplateAction();
    void onTemplateForFillSelected(qint64 templateSqlId);
    void onAutoFillFrdoAction();

protected:
    virtual void initAutoFill();
    virtual void onTemplateForFillSelectedVirtual(qint64 templateSqlId);
    // Common view set-up over the proxy; subclasses create their models first.
    virtual void initTable();
    // Re-reads the source model's rows (a table model selects again).
    virtual void reloadSource();
    // The dialog that asks for the report type, background and preview; it reports the choice
    // through a signal reportTypeSelected(ReportList::ReportType, bool, bool), and a PDF copy
    // through pdfRequested(ReportList::ReportType, bool). Null while the program has none.
    virtual QDialog* createPrintDialog(QWidget* parent);

    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

    // Enables the menu's actions for a menu requested at `pos` (viewport coordinates).
    void updateActions(const QPoint& pos);
    void setModels(QAbstractItemModel* source, QSortFilterProxyModel* proxy);
    QAbstractItemModel* sourceModel() const { return _sourceModel; }
    QSortFilterProxyModel* proxyModel() const { return _proxy; }
    QMenu* contextMenu() const { return _menu; }
    // Fetches through the proxy until every row is there.
    void fetchAll();
    void emitRowCounts();

    QMap<QString, AutoFillSpec> _autoFill;

private:
    // The rows the list shows of `wanted`, neighbours as one range each; `rows` gets the row of
    // each of `marks` (-1 where it is not shown).
    QItemSelection selectionOf(const QSet<qint64>& wanted, const QList<qint64>& marks, QVector<int>* rows);
    void createActions();
    void onHeaderRelease(int section);
    void emitPrint(ReportList::ReportType type, const QList<qint64>& ids, bool printBackground, bool showPreview);

    static QPointer<DocumentsTableAbstract> _instance;

    QPointer<QAbstractItemModel> _sourceModel;
    QPointer<QSortFilterProxyModel> _proxy;
    qint64 _currentDocId = -1;
    QMenu* _menu = nullptr;
    QAction* _addAction = nullptr;
    QAction* _copyAction = nullptr;
    QAction* _editAction = nullptr;
    QAction* _deleteAction = nullptr;
    QAction* _printAction = nullptr;
    QAction* _selectAllAction = nullptr;
    QAction* _fillFromTemplateAction = nullptr;
    QAction* _updateAction = nullptr;
    QAction* _autoFillFrdoAction = nullptr;
    QList<qint64> _idsForFill;
    QPoint _pressPos;
    bool _headerDrag = false;
};
