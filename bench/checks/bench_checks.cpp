// Times the FRDO check of every document of a registry: bench_checks REGISTRY [RUNS]
// (the registry is opened for reading only).

#include "appresources.h"
#include "benchtime.h"
#include "database.h"
#include "frdocheck.h"
#include "profschema.h"

#include <QCoreApplication>
#include <QSqlQuery>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    initAppResources();
    if (argc < 2) {
        std::fputs("usage: bench_checks REGISTRY [RUNS]\n", stderr);
        return 2;
    }
    const int runs = argc > 2 ? QByteArray(argv[2]).toInt() : 5;
    QString error;
    Database::setSchema(ProfSchema::tables(), ProfSchema::mainPrimaryKeyName());
    if (!Database::openForReading(QString::fromLocal8Bit(argv[1]), &error)) {
        std::fprintf(stderr, "registry not usable: %s\n", qPrintable(error));
        return 6;
    }
    QList<qint64> ids;
    QSqlQuery query(QStringLiteral("SELECT profId FROM ProfDocuments WHERE IFNULL(isTemplate, 0) = 0"));
    while (query.next())
        ids.append(query.value(0).toLongLong());
    QVector<double> times;
    int failing = 0;
    for (int i = 0; i < runs; ++i) {
        QVector<FrdoCheck::FailingDocument> found;
        times.append(elapsedMs([&] {
            if (!FrdoCheck::checkDocuments(ids, &found, &error))
                std::fprintf(stderr, "check failed: %s\n", qPrintable(error));
        }));
        failing = found.size();
    }
    std::printf("FRDO check of %d documents (%d fail): median %.0f ms of %d runs\n", int(ids.size()), failing,
                median(times), runs);
    Database::shutdown();
    return 0;
}
