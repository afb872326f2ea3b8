#include "documentstableabstract.h"

#include "appkeys.h"
#include "documentstore.h"
#include "messagebox.h"
#include "mzlog.h"
#include "savepoint.h"
#include "settingsregistry.h"
#include "writeaccess.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSet>
#include <QSqlTableModel>
#include <algorithm>

namespace {
const QString attention = MessageBox::attentionTitle();
const QString errorTitle = MessageBox::errorTitle();
const QString batchSavepoint = QStringLiteral("documentsBatch");

bool confirm(QWidget* parent, const QString& text) {
    return MessageBox::show(parent, QMessageBox::NoIcon, attention, text, QMessageBox::Ok | QMessageBox::Cancel) ==
           QMessageBox::Ok;
}

// What failed, and below it the database's own words when there are any.
void reportFailure(QWidget* parent, const QString& what, const QString& reason) {
    MessageBox::critical(parent, errorTitle, reason.isEmpty() ? what : what + QLatin1Char('\n') + reason);
}
} // namespace

// Passes a print dialog's choice on, to the printer or to a PDF file; a child of the dialog, so
// it goes with it.
class PrintChoiceRelay : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<void(ReportList::ReportType, bool, bool)>;
    using PdfHandler = std::function<void(ReportList::ReportType, bool)>;
    PrintChoiceRelay(QObject* dialog, Handler handler, PdfHandler pdfHandler)
        : QObject(dialog), _handler(std::move(handler)), _pdfHandler(std::move(pdfHandler)) {}

public slots:
    void choose(ReportList::ReportType type, bool printBackground, bool showPreview) {
        _handler(type, printBackground, showPreview);
    }
    void saveToPdf(ReportList::ReportType type, bool printBackground) { _pdfHandler(type, printBackground); }

private:
    Handler _handler;
    PdfHandler _pdfHandler;
};

QPointer<DocumentsTableAbstract> DocumentsTableAbstract::_instance;

DocumentsTableAbstract::DocumentsTableAbstract(QWidget* parent) : QTableView(parent) {
    setContextMenuPolicy(Qt::CustomContextMenu);
    horizontalHeader()->viewport()->installEventFilter(this);
    connect(this, &QAbstractItemView::doubleClicked, this, &DocumentsTableAbstract::onRowActivated);
    createActions();
    connect(this, &QWidget::customContextMenuRequested, this, &DocumentsTableAbstract::provideContexMenu);
    _instance = this;
}

DocumentsTableAbstract::~DocumentsTableAbstract() = default;

DocumentsTableAbstract* DocumentsTableAbstract::instance() {
    return _instance;
}

void DocumentsTableAbstract::createActions() {
    _menu = new QMenu(this);
    const auto make = [this](const QString& text, const char* name) {
        auto* action = new QAction(text, _menu);
        action->setObjectName(QLatin1String(name));
        return action;
    };
    _addAction = make(QStringLiteral("Добавить новый"), "actionListAdd");
    _copyAction = make(QStringLiteral("Создать копию записи"), "actionListCopy");
    _editAction = make(QStringLiteral("Редактировать"), "actionListEdit");
    _deleteAction = make(QStringLiteral("Удалить"), "actionListDelete");
    _printAction = make(QStringLiteral("Печатать"), "actionListPrint");
    _selectAllAction = make(QStringLiteral("Выделить всё"), "actionListSelectAll");
    _fillFromTemplateAction = make(QStringLiteral("Заполнить по шаблону"), "actionListFillFromTemplate");
    _updateAction = make(QStringLiteral("Обновить"), "actionListUpdate");
    _autoFillFrdoAction = make(QStringLiteral("Автозаполнение ФРДО"), "actionListAutoFillFrdo");

    connect(_addAction, &QAction::triggered, this, [this] { emit documentClicked(-1); });
    connect(_copyAction, &QAction::triggered, this, &DocumentsTableAbstract::onCopyRecordAction);
    connect(_editAction, &QAction::triggered, this, &DocumentsTableAbstract::onEditAction);
    connect(_deleteAction, &QAction::triggered, this, &DocumentsTableAbstract::onDeleteAction);
    connect(_printAction, &QAction::triggered, this, &DocumentsTableAbstract::onPrintAction);
    connect(_selectAllAction, &QAction::triggered, this, &DocumentsTableAbstract::onSelectAllAction);
    connect(_fillFromTemplateAction, &QAction::triggered, this, &DocumentsTableAbstract::onFillFromTemplateAction);
    connect(_updateAction, &QAction::triggered, this, &DocumentsTableAbstract::updateData);
    connect(_autoFillFrdoAction, &QAction::triggered, this, &DocumentsTableAbstract::onAutoFillFrdoAction);

    _menu->addAction(_addAction);
    _menu->addAction(_copyAction);
    _menu->addSeparator();
    _menu->addAction(_editAction);
    _menu->addAction(_deleteAction);
    _menu->addAction(_printAction);
    _menu->addSeparator();
    _menu->addAction(_selectAllAction);
    _menu->addAction(_updateAction);
    _menu->addAction(_autoFillFrdoAction);
    for (QAction* action : {_addAction, _copyAction, _deleteAction, _fillFromTemplateAction, _autoFillFrdoAction})
        WriteAccess::mark(action);
}

void DocumentsTableAbstract::setModels(QAbstractItemModel* source, QSortFilterProxyModel* proxy) {
    _sourceModel = source;
    _proxy = proxy;
}

void DocumentsTableAbstract::initTable() {
    setModel(_proxy);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& current) {
        const QVariant id = current.sibling(current.row(), 0).data();
        if (id.isValid())
            _currentDocId = id.toLongLong();
    });
    setColumnHidden(0, true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    // One line per document, as a register reads; row numbers would only repeat the order.
    setWordWrap(false);
    setAlternatingRowColors(true);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    horizontalHeader()->setStretchLastSection(true);
    // Newest first, without an indicator: section 0 is the hidden id.
    horizontalHeader()->setSortIndicator(0, Qt::DescendingOrder);
    setSortingEnabled(true);
    horizontalHeader()->setSortIndicatorShown(false);
}

void DocumentsTableAbstract::initAutoFill() {}

void DocumentsTableAbstract::reloadSource() {
    if (auto* table = qobject_cast<QSqlTableModel*>(_sourceModel.data()))
        table->select();
}

QDialog* DocumentsTableAbstract::createPrintDialog(QWidget*) {
    MZ_LOG() << "print dialog not available";
    return nullptr;
}

void DocumentsTableAbstract::fetchAll() {
    QAbstractItemModel* m = model();
    while (m && m->canFetchMore(QModelIndex()))
        m->fetchMore(QModelIndex());
}

void DocumentsTableAbstract::emitRowCounts() {
    emit rowCountsChanged(model() ? model()->rowCount() : 0, _sourceModel ? _sourceModel->rowCount() : 0);
}

// --- ids ---------------------------------------------------------------------------------------

// The rows of a page that has not come yet have no id: the ids of the selection and of the list
// are read once every page is there.
QList<qint64> DocumentsTableAbstract::selectedIds() const {
    QList<qint64> ids;
    if (!selectionModel())
        return ids;
    const_cast<DocumentsTableAbstract*>(this)->fetchAll();
    for (const QModelIndex& index : selectionModel()->selectedRows(0))
        if (!isRowHidden(index.row()))
            ids << index.data().toLongLong();
    return ids;
}

QList<qint64> DocumentsTableAbstract::shownIds() const {
    QList<qint64> ids;
    const QAbstractItemModel* m = model();
    if (!m)
        return ids;
    const_cast<DocumentsTableAbstract*>(this)->fetchAll();
    const int rows = m->rowCount();
    ids.reserve(rows);
    for (int row = 0; row < rows; ++row)
        if (!isRowHidden(row))
            ids << m->index(row, 0).data().toLongLong();
    return ids;
}

QItemSelection DocumentsTableAbstract::selectionOf(const QSet<qint64>& wanted, const QList<qint64>& marks,
                                                   QVector<int>* rows) {
    QItemSelection selection;
    rows->fill(-1, marks.size());
    QAbstractItemModel* m = model();
    if (!m)
        return selection;
    const int count = m->rowCount();
    const int lastColumn = m->columnCount() - 1;
    int runStart = -1;
    int found = 0;
    int marked = int(std::count(marks.cbegin(), marks.cend(), qint64(0))); // no id is 0
    for (int row = 0; row <= count; ++row) {
        // Nothing more to find: the rest of a long list is not read.
        if (runStart < 0 && found == wanted.size() && marked == marks.size())
            break;
        const bool shown = row < count && !isRowHidden(row);
        const qint64 id = shown ? m->index(row, 0).data().toLongLong() : 0;
        for (int i = 0; shown && i < marks.size(); ++i)
            if (id == marks.at(i) && rows->at(i) < 0) {
                (*rows)[i] = row;
                ++marked;
            }
        const bool wantedRow = shown && wanted.contains(id);
        found += wantedRow;
        if (wantedRow && runStart < 0)
            runStart = row;
        if (!wantedRow && runStart >= 0) {
            selection.select(m->index(runStart, 0), m->index(row - 1, lastColumn));
            runStart = -1;
        }
    }
    return selection;
}

void DocumentsTableAbstract::selectIds(const QList<qint64>& ids) {
    QAbstractItemModel* m = model();
    if (!m || !selectionModel())
        return;
    fetchAll();
    // Runs of neighbouring rows as one range each: a group imported together sits together.
    QVector<int> first;
    const QItemSelection selection =
        selectionOf(QSet<qint64>(ids.cbegin(), ids.cend()), {ids.isEmpty() ? 0 : ids.first()}, &first);
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (selection.isEmpty())
        return;
    // The group's top row in the list's order, whatever order the ids came in: the bottom row is
    // brought into view first, then the top, so that a group that fits is seen whole.
    int top = m->rowCount();
    int bottom = -1;
    for (const QItemSelectionRange& range : selection) {
        top = qMin(top, range.top());
        bottom = qMax(bottom, range.bottom());
    }
    const QModelIndex topIndex = m->index(top, 1);
    selectionModel()->setCurrentIndex(topIndex, QItemSelectionModel::NoUpdate);
    scrollTo(m->index(bottom, 1), QAbstractItemView::EnsureVisible);
    scrollTo(topIndex, QAbstractItemView::EnsureVisible);
}

// --- column widths -----------------------------------------------------------------------------

void DocumentsTableAbstract::restoreColumnWidths(const QString& tableName) {
    const int columns = model() ? model()->columnCount() : 0;
    for (int column = 0; column < columns; ++column) {
        if (isColumnHidden(column))
            continue;
        const int width =
            SettingsRegistry::instance()->value(Keys::tableColumnWidth, {tableName, QString::number(column)}).toInt();
        if (width > 0)
            setColumnWidth(column, width);
    }
}

void DocumentsTableAbstract::saveColumnWidths(const QString& tableName) {
    const int columns = model() ? model()->columnCount() : 0;
    for (int column = 0; column < columns; ++column)
        if (!isColumnHidden(column))
            SettingsRegistry::instance()->setValue(Keys::tableColumnWidth, columnWidth(column),
                                                   {tableName, QString::number(column)});
}

// --- slots -------------------------------------------------------------------------------------

// The rows read again, and what the user looked at kept: the selected documents, the current one
// and the document at the top of the view (where it is gone, the scroll bar stays where it was).
// A view at the very top stays there, so that a document added above comes into sight.
void DocumentsTableAbstract::updateData() {
    QAbstractItemModel* m = model();
    const QList<qint64> selected = selectedIds();
    const QModelIndex current = selectionModel() ? selectionModel()->currentIndex() : QModelIndex();
    const qint64 currentId = current.isValid() ? current.sibling(current.row(), 0).data().toLongLong() : 0;
    const QModelIndex top = indexAt(QPoint(0, 0));
    const qint64 topId = top.isValid() ? top.sibling(top.row(), 0).data().toLongLong() : 0;
    const int scrolled = verticalScrollBar()->value();
    const bool atTop = scrolled == verticalScrollBar()->minimum();
    const int horizontal = horizontalScrollBar()->value();
    reloadSource();
    fetchAll();
    if (m && selectionModel() && (!selected.isEmpty() || currentId || topId)) {
        QVector<int> rows;
        const QItemSelection selection =
            selectionOf(QSet<qint64>(selected.cbegin(), selected.cend()), {currentId, topId}, &rows);
        if (!selection.isEmpty())
            selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        if (rows.at(0) >= 0)
            selectionModel()->setCurrentIndex(m->index(rows.at(0), qMax(current.column(), 0)),
                                              QItemSelectionModel::NoUpdate);
        if (atTop)
            verticalScrollBar()->setValue(verticalScrollBar()->minimum());
        else if (rows.at(1) >= 0)
            scrollTo(m->index(rows.at(1), qMax(top.column(), 0)), QAbstractItemView::PositionAtTop);
        else
            verticalScrollBar()->setValue(scrolled);
    }
    horizontalScrollBar()->setValue(horizontal);
    emit reselected();
    emitRowCounts();
}

void DocumentsTableAbstract::onRowActivated(QModelIndex index) {
    if (!index.isValid())
        return;
    const QVariant id = index.sibling(index.row(), 0).data();
    // A row whose page has not come: the pages are read, the clerk sees the row and may open it.
    if (!id.isValid()) {
        fetchAll();
        return;
    }
    emit documentClicked(id.toLongLong());
}

// Enter opens the current row's document and Delete asks to delete the selection, as the menu's
// entries do; everything else is the view's.
void DocumentsTableAbstract::keyPressEvent(QKeyEvent* event) {
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    const bool anySelected = selectionModel() && selectionModel()->hasSelection();
    if (plain && anySelected && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        onEditAction();
        event->accept();
        return;
    }
    if (plain && anySelected && event->key() == Qt::Key_Delete && WriteAccess::allowed(_deleteAction)) {
        onDeleteAction();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void DocumentsTableAbstract::onEditAction() {
    if (selectionModel())
        onRowActivated(selectionModel()->currentIndex());
}

void DocumentsTableAbstract::updateActions(const QPoint& pos) {
    const int selected = selectionModel() ? selectionModel()->selectedRows().size() : 0;
    const QModelIndex under = indexAt(pos);
    const bool onRow = under.row() >= 0 && under.column() >= 0;
    _editAction->setEnabled(onRow && selected == 1);
    _copyAction->setEnabled(onRow && selected == 1);
    _deleteAction->setEnabled(onRow && selected >= 1);
    _printAction->setEnabled(onRow && selected >= 1);
    _fillFromTemplateAction->setEnabled(onRow && selected >= 1);
    for (QAction* always : {_addAction, _selectAllAction, _updateAction, _autoFillFrdoAction})
        always->setEnabled(true);
}

void DocumentsTableAbstract::provideContexMenu(QPoint pos) {
    updateActions(pos);
    _menu->popup(viewport()->mapToGlobal(pos));
}

void DocumentsTableAbstract::onCopyRecordAction() {
    const QModelIndex current = selectionModel() ? selectionModel()->currentIndex() : QModelIndex();
    if (!current.isValid())
        return;
    const qint64 oldId = current.sibling(current.row(), 0).data().toLongLong();
    QString error;
    const qint64 newId = duplicateRecord(oldId, &error);
    if (newId <= 0) {
        reportFailure(this, QStringLiteral("Не удалось создать копию документа."), error);
        return;
    }
    updateData();
    emit documentClicked(newId);
}

// A group deleted by one stray Enter is a lost afternoon: the question says how many, and for
// more than one its default deletes nothing.
void DocumentsTableAbstract::onDeleteAction() {
    const QList<qint64> ids = selectedIds();
    if (ids.isEmpty())
        return;
    const QString text = ids.size() == 1 ? QStringLiteral("Вы уверены, что хотите удалить выделеннный документ?")
                                         : QStringLiteral("Вы уверены, что хотите удалить выделеннные документы?");
    const QString count = QStringLiteral("Будет удалено документов: %1.").arg(ids.size());
    if (MessageBox::show(this, QMessageBox::NoIcon, attention, text, QMessageBox::Ok | QMessageBox::Cancel,
                         ids.size() == 1 ? QMessageBox::Ok : QMessageBox::Cancel, nullptr, count) != QMessageBox::Ok)
        return;
    QString error;
    const bool deleted = Savepoint::write(
        batchSavepoint, [&] { return deleteRecords(ids, &error); }, &error);
    updateData();
    if (!deleted)
        reportFailure(this,
                      ids.size() == 1 ? QStringLiteral("Не удалось удалить документ.")
                                      : QStringLiteral("Не удалось удалить документы; ни один из них не удалён."),
                      error);
    clearSelection();
    emit unselect();
}

void DocumentsTableAbstract::onPrintAction() {
    const QList<qint64> ids = selectedIds();
    QDialog* dialog = createPrintDialog(this);
    if (!dialog)
        return;
    if (!ids.isEmpty()) {
        auto* relay = new PrintChoiceRelay(
            dialog,
            [this, ids](ReportList::ReportType type, bool background, bool preview) {
                emitPrint(type, ids, background, preview);
            },
            [this, ids](ReportList::ReportType type, bool background) {
                emit documentsSavePdf(type, ids, background);
            });
        if (!connect(dialog, SIGNAL(reportTypeSelected(ReportList::ReportType, bool, bool)), relay,
                     SLOT(choose(ReportList::ReportType, bool, bool))))
            MZ_LOG() << "print dialog without reportTypeSelected" << dialog->metaObject()->className();
        if (!connect(dialog, SIGNAL(pdfRequested(ReportList::ReportType, bool)), relay,
                     SLOT(saveToPdf(ReportList::ReportType, bool))))
            MZ_LOG() << "print dialog without pdfRequested" << dialog->metaObject()->className();
    }
    dialog->show();
}

void DocumentsTableAbstract::emitPrint(ReportList::ReportType type, const QList<qint64>& ids, bool printBackground,
                                       bool showPreview) {
    if (ids.size() > 1)
        emit documentsPrint(type, ids, printBackground, showPreview);
    else if (ids.size() == 1)
        emit documentPrint(type, ids.first(), printBackground, showPreview);
}

void DocumentsTableAbstract::onSelectAllAction() {
    fetchAll();
    selectAll();
}

void DocumentsTableAbstract::onFillFromTemplateAction() {
    _idsForFill = selectedIds();
    emit documetsForFillSelected();
    updateData();
}

void DocumentsTableAbstract::onTemplateForFillSelected(qint64 templateSqlId) {
    onTemplateForFillSelectedVirtual(templateSqlId);
    updateData();
}

void DocumentsTableAbstract::onTemplateForFillSelectedVirtual(qint64 templateSqlId) {
    qDebug() << "onTemplateForFillSelectedVirtual()" << templateSqlId;
}

void DocumentsTableAbstract::onAutoFillFrdoAction() {
    const int selected = selectionModel() ? selectionModel()->selectedRows().size() : 0;
    const QString text =
        QStringLiteral("Вы уверены, что хотите произвести автоматическое заполнение ФРДО для %1")
            .arg(selected == 1 ? QStringLiteral("выделенного документа?") : QStringLiteral("выделенных документов?"));
    if (!confirm(this, text))
        return;
    const QList<qint64> ids = selectedIds();
    QString error;
    const bool filled = Savepoint::write(
        batchSavepoint,
        [&] {
            for (qint64 id : ids)
                if (!autoFillFrdoVirtual(id, &error))
                    return false;
            return true;
        },
        &error);
    updateData();
    if (!filled)
        reportFailure(this, QStringLiteral("Не удалось заполнить данные ФРДО; ничего не изменено."), error);
    clearSelection();
    emit unselect();
}

// --- header sorting ----------------------------------------------------------------------------

bool DocumentsTableAbstract::eventFilter(QObject* watched, QEvent* event) {
    if (watched != horizontalHeader()->viewport())
        return QTableView::eventFilter(watched, event);
    // Paint, hover, key and the like pass the header too; only these three are mouse events.
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return QTableView::eventFilter(watched, event);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    switch (type) {
    case QEvent::MouseButtonPress:
        if (mouse->button() == Qt::LeftButton)
            _pressPos = mouse->pos();
        break;
    case QEvent::MouseMove:
        if ((mouse->buttons() & Qt::LeftButton) &&
            (mouse->pos() - _pressPos).manhattanLength() > QApplication::startDragDistance())
            _headerDrag = true;
        break;
    case QEvent::MouseButtonRelease: {
        if (mouse->button() != Qt::LeftButton)
            break;
        if (_headerDrag) {
            // Resizing and moving columns stay with the header.
            _headerDrag = false;
            break;
        }
        const int section = horizontalHeader()->logicalIndexAt(mouse->pos());
        if (section < 0)
            break;
        onHeaderRelease(section);
        emit horizontalHeader()->sectionClicked(section);
        return true;
    }
    default:
        break;
    }
    return QTableView::eventFilter(watched, event);
}

// Ascending, descending, then back to the registry's own order, newest first, without an
// indicator; from ids ascending a click first restores ids descending.
void DocumentsTableAbstract::onHeaderRelease(int section) {
    QHeaderView* header = horizontalHeader();
    const int current = header->sortIndicatorSection();
    const Qt::SortOrder order = header->sortIndicatorOrder();
    int newSection = section;
    Qt::SortOrder newOrder = Qt::AscendingOrder;
    bool shown = true;
    if (section == current && order == Qt::AscendingOrder) {
        newOrder = Qt::DescendingOrder;
    } else if (section == current) {
        newSection = 0;
        newOrder = Qt::DescendingOrder;
        shown = false;
    } else if (current == 0 && order == Qt::AscendingOrder) {
        newSection = 0;
        newOrder = Qt::DescendingOrder;
        shown = false;
    }
    header->setSortIndicatorShown(shown);
    header->setSortIndicator(newSection, newOrder);
}

// --- records, through the store -----------------------------------------------------------------

bool DocumentsTableAbstract::checkRecords(int kind, QList<qint64> ids) {
    for (qint64 id : ids)
        if (!checkRecord(kind, id))
            return false;
    return true;
}

bool DocumentsTableAbstract::deleteRecords(QList<qint64> ids, QString* error) {
    return DocumentStore::deleteDocuments(ids, error);
}

qint64 DocumentsTableAbstract::copyRecord(qint64 id, QString* error) {
    return DocumentStore::copyDocument(id, error);
}

bool DocumentsTableAbstract::copyAdditionalRecords(qint64 fromId, qint64 toId, QString* error) {
    return DocumentStore::copyDependentRows(fromId, toId, error);
}

qint64 DocumentsTableAbstract::duplicateRecord(qint64 id, QString* error) {
    qint64 newId = 0;
    const bool done = Savepoint::write(
        QStringLiteral("copyDocument"),
        [&] {
            newId = copyRecord(id, error);
            if (newId > 0 && !copyAdditionalRecords(id, newId, error))
                newId = 0;
            return newId > 0;
        },
        error);
    return done ? newId : 0;
}

bool DocumentsTableAbstract::autoFillFrdoVirtual(qint64 sqlDocId, QString* error) {
    const auto rules = _autoFill.constFind(QStringLiteral("Frdo"));
    if (rules == _autoFill.constEnd()) {
        MZ_LOG() << "autoFillFrdoVirtual() EMPTY!" << sqlDocId;
        return true;
    }
    return Savepoint::write(
        QStringLiteral("autoFill"), [&] { return DocumentStore::autoFill(*rules, sqlDocId, error); }, error);
}

#include "documentstableabstract.moc"
