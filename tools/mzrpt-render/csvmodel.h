#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

// A read-only table model of a UTF-8 CSV file whose first row holds the header texts. Fields are
// separated by commas; a field in double quotes may hold commas, line breaks and doubled quotes.
class CsvModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit CsvModel(QObject* parent = nullptr);

    // Empty on success, otherwise what is wrong (with the line number where it helps).
    QString load(const QString& path);
    QString parse(const QByteArray& bytes);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QStringList _header;
    QList<QStringList> _rows;
};
