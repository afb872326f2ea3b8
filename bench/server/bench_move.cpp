// Times moving a registry file onto a throwaway PostgreSQL server of its own:
// bench_move REGISTRY [RUNS] (each run into a fresh empty database; the file is only read).

#include "benchtime.h"
#include "pgtestserver.h"
#include "registrymove.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMap>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fputs("usage: bench_move REGISTRY [RUNS]\n", stderr);
        return 2;
    }
    const QString registry = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? QByteArray(argv[2]).toInt() : 1;
    QString error;
    PgTestServer* server = PgTestServer::shared(&error);
    if (!server) {
        std::fprintf(stderr, "no server: %s\n", qPrintable(error));
        return 6;
    }
    QVector<double> times;
    for (int run = 0; run < runs; ++run) {
        const QString name = server->createDatabase(&error);
        const QString connection = QStringLiteral("bench%1").arg(run);
        bool moved = false;
        {
            QSqlDatabase db = server->connect(connection, name, &error);
            if (!db.isOpen()) {
                std::fprintf(stderr, "no connection: %s\n", qPrintable(error));
                return 6;
            }
            QMap<QString, double> started;
            QMap<QString, double> finished;
            QElapsedTimer clock;
            clock.start();
            QList<RegistryMove::Counts> counts;
            moved = RegistryMove::toServer(registry, db, &counts, &error,
                                           [&](const QString& table, qint64 done, qint64 total) {
                                               const double now = clock.nsecsElapsed() / 1e6;
                                               if (!started.contains(table))
                                                   started[table] = now;
                                               if (done == total)
                                                   finished[table] = now;
                                               return true;
                                           });
            times.append(clock.nsecsElapsed() / 1e6);
            if (!moved) {
                std::fprintf(stderr, "move failed: %s\n", qPrintable(error));
            } else {
                for (const RegistryMove::Counts& c : qAsConst(counts))
                    std::printf("  %-14s %10lld rows  %9.0f ms\n", qPrintable(c.table), c.server,
                                finished.value(c.table) - started.value(c.table));
                std::printf("run %d: %.0f ms in all (rows, indexes, views, counts, commit)\n", run + 1, times.last());
            }
        }
        QSqlDatabase::removeDatabase(connection);
        if (!moved)
            return 1;
    }
    std::printf("moving %s: median %.0f ms over %d run(s)\n", qPrintable(registry), median(times), runs);
    return 0;
}
