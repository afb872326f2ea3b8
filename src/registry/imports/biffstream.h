#pragma once

#include <QByteArray>
#include <QHash>
#include <QVariant>
#include <QVector>

class QTextCodec;

// The records of an old workbook's stream (BIFF5 or BIFF8) that libfreexl does not give: what
// the sheets declare, which sheets are worksheets, and the values formulas left in their cells.
// Every read stays within the stream.
class BiffStream {
public:
    struct Sheet {
        quint32 position = 0; // of the sheet's BOF record in the stream
        bool isWorksheet = false;
    };

    explicit BiffStream(const QByteArray& stream);

    // The cells the sheets' DIMENSION records declare, all sheets together.
    qint64 declaredCells() const;
    // The sheets in the workbook's order, as its BOUNDSHEET records list them.
    QVector<Sheet> sheets() const;
    // The cached values of the formula cells of the sheet at `position`, by row << 16 | column:
    // numbers as double, texts as QString (8-bit texts of BIFF5 through `codec`), booleans as bool.
    QHash<quint32, QVariant> formulaValues(quint32 position, QTextCodec* codec) const;

private:
    QByteArray _stream;
};
