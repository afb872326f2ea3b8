#include "rowqueue.h"

bool RowQueue::push(RowBatch batch) {
    std::unique_lock<std::mutex> lock(_mutex);
    // A batch larger than the whole allowance still passes, alone.
    _changed.wait(lock, [&] {
        return _abandoned || _batches.empty() || (_rows + batch.rowCount() <= _maxRows && _bytes < _maxBytes);
    });
    if (_abandoned)
        return false;
    _rows += batch.rowCount();
    _bytes += batch.text.size();
    _batches.push_back(std::move(batch));
    _changed.notify_all();
    return true;
}

void RowQueue::finish() {
    const std::lock_guard<std::mutex> lock(_mutex);
    _finished = true;
    _changed.notify_all();
}

void RowQueue::abandon() {
    const std::lock_guard<std::mutex> lock(_mutex);
    _abandoned = true;
    _batches.clear();
    _changed.notify_all();
}

bool RowQueue::pop(RowBatch* batch) {
    std::unique_lock<std::mutex> lock(_mutex);
    _changed.wait(lock, [&] { return _abandoned || _finished || !_batches.empty(); });
    if (_abandoned || _batches.empty())
        return false;
    *batch = std::move(_batches.front());
    _batches.pop_front();
    _rows -= batch->rowCount();
    _bytes -= batch->text.size();
    _changed.notify_all();
    return true;
}

bool RowQueue::abandoned() const {
    const std::lock_guard<std::mutex> lock(_mutex);
    return _abandoned;
}
