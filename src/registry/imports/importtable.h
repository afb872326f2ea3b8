#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

// A table as a workbook sheet, a CSV file or the clipboard gives it: rows of cells, the first row
// first. A cell is a QString (text), a double (a number), a QDate (a number a workbook formats as
// a date), a bool, or invalid (empty). Rows may differ in length.
struct ImportTable {
    // What any reader takes at most, so that a hostile file cannot exhaust memory or time.
    static constexpr int maxRows = 100000;
    static constexpr int maxColumns = 256;
    static constexpr qint64 maxBytes = 50 * 1024 * 1024;
    // Cells kept over all rows (an empty one counts too): what keeps a sparse sheet or a wide CSV
    // within a few hundred megabytes.
    static constexpr qint64 maxCells = 4000000;

    QVector<QVector<QVariant>> rows;
    // Set when the source held more than was read (rows or columns cut off), in Russian, for the
    // window's status line; empty otherwise.
    QString notice;

    // The reason a reader gives when its progress callback stopped it.
    static QString stoppedText();
    // The reason a reader gives for a file larger than maxBytes.
    static QString tooLargeText();
    // The notices of a table cut at maxRows, at maxColumns, or after `rows` rows at maxCells.
    static QString rowsNotice();
    static QString columnsNotice();
    static QString cellsNotice(int rows);
    // The notices that are not empty, in one line.
    static QString joinNotices(const QStringList& notices);

    int columnCount() const;
    // The cell as text: a number without a trailing ".0", a date as "dd.MM.yyyy", empty for none.
    QString text(int row, int column) const;
    bool isBlankRow(int row) const;
};
