#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QVector>
#include <algorithm>

// The middle one of the measured times; 0 for none.
inline double median(QVector<double> times) {
    std::sort(times.begin(), times.end());
    return times.isEmpty() ? 0 : times[times.size() / 2];
}

// Milliseconds the work takes, with the event processing it causes (layout, painting).
template <typename Work> double elapsedMs(Work work) {
    QElapsedTimer t;
    t.start();
    work();
    QCoreApplication::processEvents();
    return t.nsecsElapsed() / 1e6;
}
