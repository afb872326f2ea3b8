#pragma once

#include "documentstore.h"
#include "listchanges.h"
#include "textpool.h"
#include "valuetext.h"

#include <QAbstractTableModel>
#include <QString>
#include <QTimer>
#include <array>
#include <memory>
#include <vector>

// The rows of ViewProfDocuments, read-only, held column by column: the ids in one array, each text
// column in one TextPool, the texts that repeat from row to row (names, qualifications, dates) once
// each. Nothing is held twice: the display texts are made when the view asks for them.
//
// The model sorts its rows itself (sortRows()): row r of the model shows record(r), one of the
// records in the order the registry gave them. A sort compares ranks made once per column, so that
// a million rows sort in a counting pass. The edit role gives every value as stored; the display
// role shows the dates as the dialogs do, "dd.MM.yyyy" (the edit date with "hh:mm" when it holds a
// time).
class DocumentsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { Id, Fio, Qual, AttNumber, RegNumber, IssueDate, EditDate, ColumnCount };
    // The day of a text without a leading "yyyy-MM-dd" date.
    static constexpr int noDay = ValueText::noDay;
    // The order of the records as read.
    static constexpr int unsorted = -1;

    explicit DocumentsModel(QObject* parent = nullptr);
    ~DocumentsModel() override;

    // Re-reads every row and sorts them as before; false (logged) on failure, the model is empty
    // then. A registry of more than pageRows() documents shown newest first comes in pages: the
    // count and the newest page before this returns, the others as the event loop turns (their
    // rows stand empty till then); anything that needs every row reads the rest at once.
    bool reload();
    static int pageRows();
    // For the tests: smaller pages.
    static void setPageRows(int rows);
    bool isLoading() const { return _pages != nullptr; }
    // Reads the pages still to come now.
    void finishLoading();
    bool canFetchMore(const QModelIndex& parent) const override { return !parent.isValid() && isLoading(); }
    void fetchMore(const QModelIndex& parent) override;
    // Re-reads the rows the program has written since they were read, and only those, when that
    // can be told (ListChanges); otherwise every row, as reload().
    bool refresh();
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

    // Orders the rows as the toolkit's proxy would by the stored values of `column` (unsorted: as
    // read): ids as numbers, texts by QString::compare with `cs` or locale-aware; equal values keep
    // the order in which they were read. Kept across reloads.
    void sortRows(int column, Qt::SortOrder order, Qt::CaseSensitivity cs = Qt::CaseSensitive,
                  bool localeAware = false);

    // Typed access, no bounds check: 0 <= row < rowCount(), Fio <= column < ColumnCount for texts.
    // A row whose page has not come yet has the id 0 and no values.
    int record(int row) const { return _order[size_t(row)]; }
    qint64 id(int row) const { return _ids[size_t(record(row))]; }
    // A NULL value is a null string.
    QString text(int row, int column) const {
        const int value = valueIndex(row, column);
        return value < 0 ? QString() : pool(column).text(value);
    }
    // The texts of a column, those that repeat (names, qualifications, dates) once, and the one of
    // a row (-1 while its page has not come).
    const TextPool& pool(int column) const { return _texts[size_t(column - Fio)].pool; }
    int valueIndex(int row, int column) const { return _texts[size_t(column - Fio)].rows[size_t(record(row))]; }
    // Julian day of IssueDate or EditDate, noDay when the text holds no date.
    int day(int row, int column) const {
        const int value = valueIndex(row, column);
        return value < 0 ? noDay : _texts[size_t(column - Fio)].days[size_t(value)];
    }

    // Julian day of the date a text starts with ("2016-04-08", "2016-04-08 12:00:00",
    // "2016-04-08T15:30:00"); noDay otherwise.
    static int dayNumber(const QString& text);
    // What a date column shows for a stored text: "dd.MM.yyyy", with " hh:mm" after it when
    // `withTime` and the text holds a time of day; a text without a readable date as it is.
    static QString dateText(const QString& stored, bool withTime);

    // Bytes the rows take, for the benchmarks.
    size_t bytes() const;

signals:
    // The last page has come.
    void loadingFinished();

private:
    struct TextColumn {
        TextPool pool;
        // The pool's value of each record.
        std::vector<int> rows;
        // Julian day of each value of a date column.
        std::vector<int> days;
        // Rank of each value in the order of QString::compare: equal texts share a rank.
        std::vector<int> ranks;
        int rankCount = 0;
        int rankedAs = -1; // the comparison the ranks were made for, -1 for none
    };
    struct Sort {
        int column = unsorted;
        Qt::SortOrder order = Qt::AscendingOrder;
        Qt::CaseSensitivity cs = Qt::CaseSensitive;
        bool localeAware = false;
    };

    struct Pages;
    void clear();
    // Reads the rows; the error text, empty on success.
    QString load();
    // Makes room for `count` records and reads the newest page; the error text.
    QString startPages(int count);
    // Reads the next page into the records below those read; `last` when it was the last.
    // `overflow`: more rows came than were counted.
    QString readPage(bool* last, bool* overflow = nullptr);
    void loadPage();
    // Drops the records no page filled (documents deleted meanwhile).
    void endPages();
    // Sets the registry's kept number of documents (DocumentCount) to a fresh count; false (logged)
    // when it stays wrong.
    static bool correctCount();
    // The rows the program has written since its connection opened (Database::totalChanges).
    static qint64 writesSoFar();
    // Keeps the texts of a row in `record`: each repeated text once through `interning`, or, without
    // it, at the pools' ends (a record read again). False when a pool is full.
    bool keep(int record, const DocumentStore::ListText* texts, Pages* interning);
    // Makes records for the new ids `ids` (ascending) among the others, in the order of the ids,
    // counted as gone till they are read.
    void insertRecords(const std::vector<qint64>& ids);
    // Reads the rows of `ids` again into their records, adds the new documents and drops those
    // gone; the error text. "" with `placed` false when a row cannot be kept in its place (a pool
    // is full, or the store gave an id it was not asked for).
    QString apply(const QVector<qint64>& ids, bool* placed);
    static void rank(TextColumn& column, Qt::CaseSensitivity cs, bool localeAware);
    // -1, 0 or 1 as the values compare by `sort`'s rule.
    int compareValues(int column, int a, int b, const Sort& sort) const;
    std::vector<int> liveRecords() const;
    std::vector<int> sortedRecords(const Sort& sort);
    // The order after `moved` records changed: the others keep their places, the moved ones are
    // merged in by `sort`'s rule.
    std::vector<int> mergedOrder(const std::vector<char>& moved);

    std::vector<qint64> _ids; // ascending
    std::array<TextColumn, ColumnCount - Fio> _texts;
    std::vector<int> _order;
    // Records of documents gone since the last full read; empty while there are none.
    std::vector<char> _gone;
    // Records read again since the last full read: their old texts stay in the pools till then.
    size_t _reread = 0;
    ListChanges _changes;
    std::unique_ptr<Pages> _pages;
    QTimer _pageTimer;
    Sort _sort;
    QString _headers[ColumnCount];
    quint64 _generation = 0;
    // The next reload reads every row at once: the count proved wrong and could not be corrected.
    bool _readWhole = false;
    qint64 _writesAtCount = -1;
};
