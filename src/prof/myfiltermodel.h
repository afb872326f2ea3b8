#pragma once

#include "modules/filterlisttype.h"

#include <QDate>
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

    // Takes the conditions of the list ("fio", "qual", "dateFrom", "dateTo", "editDateFrom",
    // "editDateTo"; entries without a valid value and other keys are ignored) and filters again.
    void setFilterList(const FilterListType& filterList);

    QString fio() const { return _fio; }
    QString qual() const { return _qual; }
    QDate dateFrom() const { return _dateFrom; }
    QDate dateTo() const { return _dateTo; }
    QDate editDateFrom() const { return _editDateFrom; }
    QDate editDateTo() const { return _editDateTo; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    bool acceptsGeneric(int sourceRow, const QModelIndex& sourceParent) const;
    bool acceptsFast(int sourceRow) const;
    // Which distinct texts of a typed column contain `part`; made again for a new filter list
    // (serial) or new rows (generation).
    struct ValueMatches {
        QVector<bool> matches;
        QString part;
        quint64 generation = 0;
        quint64 serial = 0;
        bool valid = false;
        void update(const DocumentsModel& model, int column, const QString& text, quint64 filterSerial);
    };

    QString _fio;
    QString _qual;
    QDate _dateFrom;
    QDate _dateTo;
    QDate _editDateFrom;
    QDate _editDateTo;
    // Julian days of the two ranges, only meaningful while both ends of a range are valid.
    qint64 _issueFrom = 0, _issueTo = 0, _editFrom = 0, _editTo = 0;
    QPointer<DocumentsModel> _fast;
    quint64 _serial = 0;
    mutable ValueMatches _fioMatches;
    mutable ValueMatches _qualMatches;
};
