// Peak memory of reading a large CSV group list through ImportSource, as the import window does:
// a 40 MB file of 200 columns of short cells (numbers and short words, UTF-8, ';').
//   bench_csvmemory [--megabytes N] [--columns N] [--cell TEXT|distinct]
// Prints the process's peak resident memory (ru_maxrss) before and after the read, the time taken,
// the rows and cells kept and the notice.
#include "importsource.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

namespace {
double peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0; // kilobytes on Linux
}

QString option(const QStringList& arguments, const QString& name, const QString& fallback) {
    const int at = arguments.indexOf(name);
    return at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1) : fallback;
}

// Rows of `columns` cells until the file holds `bytes`; written a row at a time.
bool writeCsv(const QString& path, qint64 bytes, int columns, const QString& cell) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QStringList words = {QStringLiteral("1"),  QStringLiteral("27"),  QStringLiteral("да"), QStringLiteral("5"),
                               QStringLiteral("Ан"), QStringLiteral("314"), QStringLiteral("0"),  QStringLiteral("ок")};
    qint64 written = 0;
    for (int row = 0; written < bytes; ++row) {
        QStringList cells;
        for (int column = 0; column < columns; ++column)
            cells << (cell == QLatin1String("distinct") ? QStringLiteral("%1-%2").arg(row).arg(column)
                      : cell.isEmpty()                  ? words.at((row + column) % words.size())
                                                        : cell);
        const QByteArray line = cells.join(QLatin1Char(';')).toUtf8() + "\r\n";
        if (file.write(line) != line.size())
            return false;
        written += line.size();
    }
    return true;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const qint64 megabytes = option(arguments, QStringLiteral("--megabytes"), QStringLiteral("40")).toLongLong();
    const int columns = option(arguments, QStringLiteral("--columns"), QStringLiteral("200")).toInt();
    const QString cell = option(arguments, QStringLiteral("--cell"), QString());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("group.csv"));
    if (!dir.isValid() || !writeCsv(path, megabytes << 20, columns, cell)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("file: %.1f MB, %d columns; peak before reading: %.0f MB\n", QFile(path).size() / 1048576.0, columns,
                peakMegabytes());
    QElapsedTimer timer;
    timer.start();
    ImportSource source;
    ImportTable table;
    QString error;
    const bool read = source.open(path, &error) && source.readSheet(0, &table, &error, [](int) { return true; });
    qint64 cells = 0;
    for (const QVector<QVariant>& row : qAsConst(table.rows))
        cells += row.size();
    std::printf("%s in %lld ms: %d rows, %lld cells kept; notice: %s\n", read ? "read" : "refused", timer.elapsed(),
                int(table.rows.size()), cells, qPrintable(read ? table.notice : error));
    std::printf("peak after reading: %.0f MB\n", peakMegabytes());
    return read ? 0 : 1;
}
