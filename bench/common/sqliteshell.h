#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QString>

// Seconds the sqlite3 shell reports for the statements (its own timer, without process start-up):
// the yardstick the benchmarks set their figures beside.
inline double sqliteSeconds(const QString& file, const QString& sql) {
    QProcess p;
    p.start(QStringLiteral("sqlite3"), {file});
    p.write(QStringLiteral(".timer on\n.output /dev/null\n%1\n").arg(sql).toUtf8());
    p.closeWriteChannel();
    p.waitForFinished(-1);
    double total = 0;
    const QString out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    auto it = QRegularExpression(QStringLiteral("Run Time: real ([0-9.]+)")).globalMatch(out);
    while (it.hasNext())
        total += it.next().captured(1).toDouble();
    return total;
}
