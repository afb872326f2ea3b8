#include "chosenids.h"

#include <algorithm>

namespace {
// A lookup costs a few page visits where a scan pays one row: below one id in this many rows of
// the span, lookups win.
constexpr quint64 lookupRatio = 32;
// A bitmap at most this many bits per id, so that a few scattered ids never cost megabytes.
constexpr quint64 bitsPerId = 256;

// The span as an unsigned count, safe for ids at both ends of 64 bits.
quint64 spanOf(qint64 first, qint64 last) {
    return quint64(last) - quint64(first) + 1;
}
} // namespace

ChosenIds::ChosenIds(const QList<qint64>& ids) : _ids(ids.cbegin(), ids.cend()) {
    std::sort(_ids.begin(), _ids.end());
    _ids.erase(std::unique(_ids.begin(), _ids.end()), _ids.end());
    index();
}

ChosenIds ChosenIds::fromAscending(std::vector<qint64> ids) {
    ChosenIds set;
    set._ids = std::move(ids);
    set.index();
    return set;
}

void ChosenIds::index() {
    _bits.clear();
    if (_ids.empty())
        return;
    const quint64 span = spanOf(first(), last());
    // A span of the whole 64 bits wraps to 0.
    if (span == 0 || span / bitsPerId > _ids.size())
        return;
    _bits.assign(span / 64 + 1, 0);
    for (qint64 id : _ids) {
        const quint64 at = quint64(id) - quint64(first());
        _bits[at / 64] |= quint64(1) << (at % 64);
    }
}

bool ChosenIds::contains(qint64 id) const {
    if (_ids.empty() || id < first() || id > last())
        return false;
    if (!_bits.empty()) {
        const quint64 at = quint64(id) - quint64(first());
        return (_bits[at / 64] >> (at % 64)) & 1;
    }
    return std::binary_search(_ids.begin(), _ids.end(), id);
}

bool ChosenIds::sparse() const {
    if (_ids.empty())
        return true;
    const quint64 span = spanOf(first(), last());
    return span == 0 || span / lookupRatio > _ids.size();
}
