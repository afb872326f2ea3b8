#pragma once

#include <QList>
#include <QtGlobal>
#include <vector>

// A set of document ids asked about once per scanned row: sorted and without repeats, with a bit
// per id over their span when that span is compact (a million listed ids take 125 KB), else found
// by binary search. Ids of any size, 64 bits included.
class ChosenIds {
public:
    ChosenIds() = default;
    explicit ChosenIds(const QList<qint64>& ids);
    // Already ascending and distinct, as a scan in id order gives them.
    static ChosenIds fromAscending(std::vector<qint64> ids);

    bool contains(qint64 id) const;
    bool isEmpty() const { return _ids.empty(); }
    qint64 size() const { return qint64(_ids.size()); }
    qint64 first() const { return _ids.front(); }
    qint64 last() const { return _ids.back(); }
    const std::vector<qint64>& ids() const { return _ids; }
    // Whether the ids fill so little of their span that finding each one beats reading the span.
    bool sparse() const;

private:
    void index();

    std::vector<qint64> _ids;
    std::vector<quint64> _bits; // over first()..last(), when compact
};
