#pragma once

#include "documentfilter.h"
#include "filterlisttype.h"

#include <QPointer>
#include <QSortFilterProxyModel>
#include <QString>
#include <vector>

class DocumentsModel;
class TextPool;

// The document list's proxy: keeps the rows that meet the filter panel's conditions, in the order
// the default proxy comparison gives. Over a DocumentsModel it reads the typed columns directly and
// has the model order its rows, which a million rows need; over another model it is the toolkit's
// proxy.
class MyFilterModel : public QSortFilterProxyModel {
    Q_OBJECT

public:
    explicit MyFilterModel(QObject* parent = nullptr);

    void setSourceModel(QAbstractItemModel* sourceModel) override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // Takes the list's conditions and filters again.
    void setFilter(const DocumentFilter& filter);
    // The panel's list, read by DocumentFilter::fromList().
    void setFilterList(const FilterListType& filterList) { setFilter(DocumentFilter::fromList(filterList)); }
    const DocumentFilter& filter() const { return _filter; }
    // The list's order as the core states it (DocumentFilter::shownIds()).
    DocumentOrder order() const;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    bool acceptsGeneric(int sourceRow, const QModelIndex& sourceParent) const;
    bool acceptsFast(int sourceRow) const;
    void sortSource();
    // Which distinct texts of a typed column the filter's text condition accepts; made again for a
    // new filter list (serial) or new rows (generation).
    struct ValueMatches {
        std::vector<char> matches;
        QString part;
        quint64 generation = 0;
        quint64 serial = 0;
        bool valid = false;
        void update(const TextPool& pool, quint64 poolGeneration, const QString& text, quint64 filterSerial);
    };

    DocumentFilter _filter;
    QPointer<DocumentsModel> _fast;
    quint64 _serial = 0;
    int _sortColumn = -1;
    Qt::SortOrder _sortOrder = Qt::AscendingOrder;
    mutable ValueMatches _fioMatches;
    mutable ValueMatches _qualMatches;
};
