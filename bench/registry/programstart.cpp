#include "programstart.h"

#include "../common/benchtime.h"
#include "mainwindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QVector>
#include <cstdio>
#include <map>

namespace {
// The log lines timed, in the order the program writes them.
const char* const marks[] = {"Views updated", MainWindow::firstScreenLogLine(), "Updates checked"};
constexpr int markCount = int(sizeof(marks) / sizeof(marks[0]));
const char* const markNames[] = {"registry open (\"Views updated\")", "window with first screen and count",
                                 "\"Updates checked\" (window + 0.1 s)"};
constexpr int runLimitMs = 120000;
constexpr int lateScreenMs = 3000;

struct Home {
    QString data, config, tmp, log;
};

struct Run {
    double at[markCount] = {-1, -1, -1};
    QByteArray screenLine;
};

Home makeHome(const QTemporaryDir& dir) {
    Home home{dir.path() + QStringLiteral("/data"), dir.path() + QStringLiteral("/config"),
              dir.path() + QStringLiteral("/tmp")};
    QDir().mkpath(home.data + QStringLiteral("/MzSoftware"));
    QDir().mkpath(home.config);
    QDir().mkpath(home.tmp);
    home.log = home.config + QStringLiteral("/MzSoftware/debug.txt");
    return home;
}

// One start, until every line came or the time ran out; the child is always ended.
Run startOnce(const QString& program, const Home& home) {
    QFile::remove(home.log);
    QProcess child;
    QProcessEnvironment vars = QProcessEnvironment::systemEnvironment();
    vars.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    vars.insert(QStringLiteral("XDG_DATA_HOME"), home.data);
    vars.insert(QStringLiteral("XDG_CONFIG_HOME"), home.config);
    // The computer-wide guard against a second copy lives there: other programs' runs stay apart.
    vars.insert(QStringLiteral("TMPDIR"), home.tmp);
    child.setProcessEnvironment(vars);
    child.setStandardOutputFile(QProcess::nullDevice());
    child.setStandardErrorFile(QProcess::nullDevice());
    Run run;
    QElapsedTimer clock;
    clock.start();
    child.start(program, QStringList());
    if (!child.waitForStarted(10000)) {
        std::fprintf(stderr, "cannot start %s: %s\n", qPrintable(program), qPrintable(child.errorString()));
        return run;
    }
    while (clock.elapsed() < runLimitMs && child.state() == QProcess::Running) {
        QFile file(home.log);
        const QByteArray text = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        const double now = clock.nsecsElapsed() / 1e6;
        for (int m = 0; m < markCount; ++m) {
            const int at = text.indexOf(marks[m]);
            if (run.at[m] >= 0 || at < 0)
                continue;
            run.at[m] = now;
            if (m == 1)
                run.screenLine = text.mid(at, text.indexOf('\n', at) - at);
        }
        // The first-screen line is not written by every program: a while after "Updates checked"
        // the run ends without it.
        if (run.at[markCount - 1] >= 0 && (run.at[1] >= 0 || now - run.at[markCount - 1] > lateScreenMs))
            break;
        QThread::msleep(2);
    }
    child.kill();
    child.waitForFinished(10000);
    return run;
}
} // namespace

int benchProgramStart(const QStringList& given) {
    QStringList args = given;
    QStringList programs;
    while (args.size() >= 2 && args.first() == QLatin1String("--program")) {
        args.removeFirst();
        programs << QFileInfo(args.takeFirst()).absoluteFilePath();
    }
    if (programs.isEmpty())
        programs << QCoreApplication::applicationDirPath() + QStringLiteral("/orvane");
    if (args.isEmpty() || !QFileInfo(args.first()).isFile()) {
        std::fprintf(stderr, "usage: bench_registry --process [--program PATH]... REGISTRY.db [RUNS]\n");
        return 2;
    }
    const QString registry = args.takeFirst();
    const int runs = args.isEmpty() ? 3 : std::max(1, args.first().toInt());
    QTemporaryDir dir;
    const Home home = makeHome(dir);
    // One copy for every run: the program writes to its registry (it is never opened read-only).
    std::printf("copying %s...\n", qPrintable(registry));
    std::fflush(stdout);
    if (!QFile::copy(registry, home.data + QStringLiteral("/MzSoftware/Orvane.db"))) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(registry));
        return 1;
    }
    // A registry the program has opened before: what a first start does once is not timed.
    for (const QString& program : programs)
        startOnce(program, home);
    std::map<QString, QVector<double>> times[markCount];
    for (int r = 0; r < runs; ++r) {
        for (const QString& program : programs) {
            const Run run = startOnce(program, home);
            std::printf("%s run %d:", qPrintable(program), r + 1);
            for (int m = 0; m < markCount; ++m) {
                std::printf(" %.0f ms", run.at[m]);
                if (run.at[m] >= 0)
                    times[m][program] << run.at[m];
            }
            std::printf("\n    %s\n", run.screenLine.isEmpty() ? "(no first-screen line)" : run.screenLine.constData());
            std::fflush(stdout);
        }
    }
    for (const QString& program : programs) {
        std::printf("%s, median of %d, from the spawn:\n", qPrintable(program), runs);
        for (int m = 0; m < markCount; ++m) {
            const QVector<double>& found = times[m][program];
            if (found.isEmpty())
                std::printf("  %-40s not logged\n", markNames[m]);
            else
                std::printf("  %-40s %8.0f ms\n", markNames[m], median(found));
        }
    }
    return 0;
}
