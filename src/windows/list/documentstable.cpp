#include "documentstable.h"

#include "documentsmodel.h"
#include "frdoautofill.h"
#include "historydialog.h"
#include "myfiltermodel.h"
#include "printdialog.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QMenu>
#include <iterator>

namespace {
const QStringList headers = {QStringLiteral("docID"),         QStringLiteral("ФИО"),
                             QStringLiteral("Квалификация"),  QStringLiteral("Номер свид."),
                             QStringLiteral("Рег. номер"),    QStringLiteral("Дата выдачи"),
                             QStringLiteral("Дата изменения")};
} // namespace

DocumentsTable::DocumentsTable(QWidget* parent) : DocumentsTableAbstract(parent) {
    initTable();
    initAutoFill();
    // The history of the one document the menu was opened on.
    QMenu* menu = contextMenu();
    auto* history = new QAction(QStringLiteral("История изменений"), menu);
    history->setObjectName(QStringLiteral("actionDocumentHistory"));
    menu->addSeparator();
    menu->addAction(history);
    connect(menu, &QMenu::aboutToShow, this, [this, history] { history->setEnabled(selectedIds().size() == 1); });
    connect(history, &QAction::triggered, this, [this] {
        const QList<qint64> ids = selectedIds();
        if (ids.size() == 1)
            HistoryDialog::open(ids.first(), this);
    });
}

void DocumentsTable::initTable() {
    _documents = new DocumentsModel(this);
    // The list's own order before the first read, so that a large registry comes in pages.
    _documents->sortRows(DocumentsModel::Id, Qt::DescendingOrder);
    _documents->reload();
    connect(_documents, &DocumentsModel::loadingFinished, this, [this] { emitRowCounts(); });
    _filter = new MyFilterModel(this);
    _filter->setSourceModel(_documents);
    for (int column = 0; column < headers.size(); ++column)
        _documents->setHeaderData(column, Qt::Horizontal, headers.at(column), Qt::EditRole);
    setModels(_documents, _filter);
    DocumentsTableAbstract::initTable();
    // Until the user sets (and the window saves) their own: a name and a qualification in full.
    const int widths[] = {0, 240, 210, 100, 80, 90};
    for (int column = 1; column < int(std::size(widths)); ++column)
        setColumnWidth(column, widths[column]);
}

QDialog* DocumentsTable::createPrintDialog(QWidget* parent) {
    return new PrintDialog(parent);
}

void DocumentsTable::reloadSource() {
    _documents->refresh();
}

bool DocumentsTable::checkRecords(int, QList<qint64>) {
    return true;
}

bool DocumentsTable::checkRecord(int, qint64) {
    return true;
}

void DocumentsTable::onFiltersChanged(FilterListType filterList) {
    const DocumentFilter filter = DocumentFilter::fromList(filterList);
    _filter->setFilter(filter);
    // Without a condition every row is shown as its page comes; with one, the proxy has read them.
    if (!filter.isEmpty())
        fetchAll();
    clearSelection();
    emit unselect();
    emitRowCounts();
}

void DocumentsTable::initAutoFill() {
    _autoFill.insert(QStringLiteral("Frdo"), FrdoAutoFill::rules());
}
