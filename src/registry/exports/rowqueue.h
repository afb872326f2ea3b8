#pragma once

#include <QByteArray>
#include <QVector>
#include <condition_variable>
#include <deque>
#include <mutex>

// Rows of cell texts on their way from the thread that reads them to the one that writes them.
struct RowBatch {
    int firstRow = 0;
    int columns = 0;
    // Every cell's UTF-8 followed by a NUL, row after row.
    QByteArray text;
    // Where each cell starts in `text`.
    QVector<int> starts;

    int rowCount() const { return columns > 0 ? starts.size() / columns : 0; }
    const char* cell(int row, int column) const { return text.constData() + starts[row * columns + column]; }
    void append(const QByteArray& utf8) {
        starts.append(text.size());
        text.append(utf8).append('\0');
    }
};

// A bounded hand-over between one reading and one writing thread: the reader waits while it holds
// `maxRows` rows or `maxBytes` of text, so that memory stays flat however many rows pass.
class RowQueue {
public:
    RowQueue(int maxRows, qint64 maxBytes) : _maxRows(maxRows), _maxBytes(maxBytes) {}

    // Reader: false once the queue was abandoned (the batch is then dropped).
    bool push(RowBatch batch);
    // Reader: no more rows will come.
    void finish();
    // Either side: stop the other; nothing more is handed over.
    void abandon();

    // Writer: waits for the next batch; false when there is none left to write, because the
    // reader finished or the queue was abandoned.
    bool pop(RowBatch* batch);
    bool abandoned() const;

private:
    const int _maxRows;
    const qint64 _maxBytes;
    mutable std::mutex _mutex;
    std::condition_variable _changed;
    std::deque<RowBatch> _batches;
    int _rows = 0;
    qint64 _bytes = 0;
    bool _finished = false;
    bool _abandoned = false;
};
