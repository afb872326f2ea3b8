// Times the FRDO check of every document of a registry:
//   bench_checks REGISTRY [RUNS] [--tool ORVANE_EXPORT]...
// in the process (the core's check by ids, as the window runs it, and its one-pass check of the
// shown documents, as the tool runs it) and, for each --tool, the whole process
// `ORVANE_EXPORT --db REGISTRY --frdo --check`: wall time, CPU time and peak memory of the child, its
// output dropped. Several --tool runs alternate, so that a load on the machine falls on each alike.
// The registry is opened for reading only.

#include "appresources.h"
#include "benchtime.h"
#include "database.h"
#include "documentfilter.h"
#include "frdocheck.h"
#include "profschema.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QStringList>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
struct ToolRun {
    double ms = 0;
    double cpuMs = 0; // user and system time: what a busy machine does not stretch
    double peakMb = 0;
    int exitCode = -1;
};

// The tool as a child with stdout to /dev/null; false when it cannot be started.
bool runTool(const QByteArray& tool, const QByteArray& registry, ToolRun* run) {
    QElapsedTimer timer;
    timer.start();
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0)
            dup2(null, STDOUT_FILENO);
        execl(tool.constData(), tool.constData(), "--db", registry.constData(), "--frdo", "--check",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child)
        return false;
    run->ms = timer.nsecsElapsed() / 1e6;
    run->cpuMs =
        (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    run->peakMb = usage.ru_maxrss / 1024.0; // kilobytes on Linux
    run->exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run->exitCode != 127;
}

void timeTools(const QList<QByteArray>& tools, const QByteArray& registry, int runs) {
    QVector<QVector<double>> times(tools.size()), cpu(tools.size()), peaks(tools.size());
    QVector<int> exits(tools.size());
    for (int i = 0; i < runs; ++i)
        for (int t = 0; t < tools.size(); ++t) {
            ToolRun run;
            if (!runTool(tools.at(t), registry, &run)) {
                std::fprintf(stderr, "cannot run %s\n", tools.at(t).constData());
                return;
            }
            times[t].append(run.ms);
            cpu[t].append(run.cpuMs);
            peaks[t].append(run.peakMb);
            exits[t] = run.exitCode;
        }
    for (int t = 0; t < tools.size(); ++t)
        std::printf("%s --frdo --check: median %.0f ms (%.0f ms of CPU), peak %.0f MB of %d runs (exit %d)\n",
                    tools.at(t).constData(), median(times.at(t)), median(cpu.at(t)), median(peaks.at(t)), runs,
                    exits.at(t));
}
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    initAppResources();
    QStringList args = QCoreApplication::arguments().mid(1);
    QList<QByteArray> tools;
    for (int i = args.indexOf(QStringLiteral("--tool")); i >= 0; i = args.indexOf(QStringLiteral("--tool"))) {
        if (i + 1 >= args.size())
            args.clear();
        else
            tools.append(args.takeAt(i + 1).toLocal8Bit());
        args.removeAt(i);
    }
    if (args.isEmpty()) {
        std::fputs("usage: bench_checks REGISTRY [RUNS] [--tool ORVANE_EXPORT]...\n", stderr);
        return 2;
    }
    const int runs = args.size() > 1 ? args.at(1).toInt() : 5;
    const QByteArray registry = args.at(0).toLocal8Bit();
    if (!tools.isEmpty()) {
        timeTools(tools, registry, runs);
        return 0;
    }
    QString error;
    Database::setSchema(ProfSchema::tables(), ProfSchema::mainPrimaryKeyName());
    if (!Database::openForReading(QString::fromLocal8Bit(registry), &error)) {
        std::fprintf(stderr, "registry not usable: %s\n", qPrintable(error));
        return 6;
    }
    QList<qint64> ids;
    QSqlQuery query(QStringLiteral("SELECT profId FROM ProfDocuments WHERE IFNULL(isTemplate, 0) = 0"));
    while (query.next())
        ids.append(query.value(0).toLongLong());
    QVector<double> times, shownTimes;
    int failing = 0, shownFailing = 0;
    for (int i = 0; i < runs; ++i) {
        QVector<FrdoCheck::FailingDocument> found;
        times.append(elapsedMs([&] {
            if (!FrdoCheck::checkDocuments(ids, &found, &error))
                std::fprintf(stderr, "check failed: %s\n", qPrintable(error));
        }));
        failing = found.size();
        shownFailing = 0;
        shownTimes.append(elapsedMs([&] {
            if (!FrdoCheck::checkShown(
                    DocumentFilter(), [&](const FrdoCheck::FailingDocument&) { ++shownFailing; }, &error))
                std::fprintf(stderr, "check failed: %s\n", qPrintable(error));
        }));
    }
    std::printf("FRDO check of %d documents (%d fail): median %.0f ms of %d runs\n", int(ids.size()), failing,
                median(times), runs);
    std::printf("FRDO check of the shown documents in one pass (%d fail): median %.0f ms of %d runs\n", shownFailing,
                median(shownTimes), runs);
    Database::shutdown();
    return 0;
}
