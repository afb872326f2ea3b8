#pragma once

#include "documentfilter.h"
#include "filterlisttype.h"

#include <QPointer>
#include <QSortFilterProxyModel>
#include <QString>
#include <QVector>

class DocumentsModel;

// The document list's proxy: keeps the rows that meet the filter panel's conditions and sorts as
// the default proxy comparison does. Over a DocumentsModel it reads the typed columns directly.
class MyFilterModel : public QSortFilterProxyModel {
    Q_OBJECT

public:
    explicit MyFilterModel(QObject* parent = nullptr);

    void setSourceModel(QAbstractItemModel* sourceModel) override;

    // Takes the list's conditions and filters again.
    void setFilter(const DocumentFilter& filter);
    // The panel's list, read by DocumentFilter::fromList().
    void setFilterList(const FilterListType& filterList) { setFilter(DocumentFilter::fromList(filterList)); }
    const DocumentFilter& filter() const { return _filter; }
    // The list's order as the core states it (DocumentFilter::shownIds()).
    DocumentOrder order() const;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    bool acceptsGeneric(int sourceRow, const QModelIndex& sourceParent) const;
    bool acceptsFast(int sourceRow) const;
    // Which distinct texts of a typed column the filter's text condition accepts; made again for a
    // new filter list (serial) or new rows (generation).
    struct ValueMatches {
        QVector<bool> matches;
        QString part;
        quint64 generation = 0;
        quint64 serial = 0;
        bool valid = false;
        // `column` is DocumentsModel::Fio or DocumentsModel::Qual.
        void update(const DocumentsModel& model, int column, const DocumentFilter& filter, quint64 filterSerial);
    };

    DocumentFilter _filter;
    QPointer<DocumentsModel> _fast;
    quint64 _serial = 0;
    mutable ValueMatches _fioMatches;
    mutable ValueMatches _qualMatches;
};
