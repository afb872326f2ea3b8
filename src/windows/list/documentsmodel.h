#pragma once

#include "valuetext.h"

#include <QAbstractTableModel>
#include <QString>
#include <QVector>
#include <limits>

// The rows of ViewProfDocuments, read-only, held in typed columns so that the list's filter and
// sort can read them without a QVariant per cell. Every row is loaded by reload(). Equal texts of
// the name, qualification and issue date columns are held once, so that a filter tests each
// distinct text once; a sort compares the ranks of the texts. The edit role gives every value as
// stored; the display role shows the dates as the dialogs do, "dd.MM.yyyy" (the edit date with
// "hh:mm" when it holds a time).
class DocumentsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { Id, Fio, Qual, AttNumber, RegNumber, IssueDate, EditDate, ColumnCount };
    // The day of a text without a leading "yyyy-MM-dd" date.
    static constexpr int noDay = ValueText::noDay;

    explicit DocumentsModel(QObject* parent = nullptr);

    // Re-reads every row with one query; false (logged) on failure, the model is empty then.
    bool reload();
    // Changes with every reload, so that what was derived from the rows can tell it is stale.
    quint64 generation() const { return _generation; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Typed access, no bounds check: 0 <= row < rowCount(), Fio <= column < ColumnCount for texts.
    qint64 id(int row) const { return _ids[row]; }
    // A NULL value is a null string.
    const QString& text(int row, int column) const {
        const TextColumn& c = _texts[column - Fio];
        return c.values[c.rows[row]];
    }
    // The distinct texts of a column and the one of each row.
    const QVector<QString>& values(int column) const { return _texts[column - Fio].values; }
    int valueIndex(int row, int column) const { return _texts[column - Fio].rows[row]; }
    // Rank of each distinct text of a column in the order of QString::compare(a, b, cs): equal
    // texts share a rank. Made at the first call after a reload.
    const QVector<int>& valueRanks(int column, Qt::CaseSensitivity cs) const;
    // Julian day of IssueDate or EditDate, noDay when the text holds no date.
    int day(int row, int column) const {
        const TextColumn& c = _texts[column - Fio];
        return c.days[c.rows[row]];
    }

    // Julian day of the date a text starts with ("2016-04-08", "2016-04-08 12:00:00",
    // "2016-04-08T15:30:00"); noDay otherwise.
    static int dayNumber(const QString& text);
    // What a date column shows for a stored text: "dd.MM.yyyy", with " hh:mm" after it when
    // `withTime` and the text holds a time of day; a text without a readable date as it is.
    static QString dateText(const QString& stored, bool withTime);

private:
    struct TextColumn {
        QVector<QString> values;
        QVector<int> rows;
        // Julian day of each value of a date column.
        QVector<int> days;
        mutable QVector<int> ranks;
        mutable Qt::CaseSensitivity ranked = Qt::CaseSensitive;
    };

    void clear();
    // Reads the rows; the error text, empty on success.
    QString load();

    QVector<qint64> _ids;
    TextColumn _texts[ColumnCount - Fio];
    QString _headers[ColumnCount];
    quint64 _generation = 0;
};
