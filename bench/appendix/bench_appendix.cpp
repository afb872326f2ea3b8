// Measures how long the appendix dialog takes to open for a document with 30 subjects on a large
// registry: construction, loading and the first show with its layout and painting.
//   bench_appendix REGISTRY.db
#include "../common/registrycopy.h"
#include "appresources.h"
#include "database.h"
#include "additionaleditdialog.h"
#include "profschema.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QSettings>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>

namespace {
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

const int subjects = 30;

int documentWithSubjects(Database& db) {
    QSqlQuery last = db.execSql(QStringLiteral("SELECT MAX(profId) FROM ProfDocuments;"));
    const int profId = last.next() ? last.value(0).toInt() : 0;
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(QStringLiteral("DELETE FROM ProfDetails WHERE profId = ?;"));
    query.addBindValue(profId);
    db.execPrepared(query);
    for (int i = 0; i < subjects; ++i) {
        query.prepare(QStringLiteral("INSERT INTO ProfDetails (profId, name, count, rate) VALUES (?, ?, ?, ?);"));
        query.addBindValue(profId);
        query.addBindValue(QStringLiteral("Учебный предмет %1").arg(i + 1));
        query.addBindValue(10 + i);
        query.addBindValue(QStringLiteral("хорошо"));
        db.execPrepared(query);
    }
    return profId;
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    initAppResources();
    if (argc < 2 || !QFile::exists(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "usage: bench_appendix REGISTRY.db\n");
        return 2;
    }
    QTemporaryDir home;
    if (!useRegistryCopy(home, QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot copy %s\n", argv[1]);
        return 1;
    }
    qInstallMessageHandler(quiet);
    const QString dbPath = Database::filePath();
    Database(true).commitAndClose();
    Database* db = Database::instance();
    const int profId = documentWithSubjects(*db);

    QVector<double> times;
    int rows = 0;
    for (int run = 0; run < 7; ++run) {
        QElapsedTimer timer;
        timer.start();
        QPointer<AdditionalEditDialog> dialog = new AdditionalEditDialog;
        dialog->setId(profId);
        dialog->show();
        QCoreApplication::processEvents();
        times << timer.nsecsElapsed() / 1e6;
        rows = dialog->findChild<QAbstractItemView*>(QStringLiteral("tableView"))->model()->rowCount();
        delete dialog;
    }
    std::sort(times.begin(), times.end());
    std::printf("appendix dialog open, %d subjects, on %s: median %.1f ms, min %.1f ms, max %.1f ms\n", rows, argv[1],
                times[times.size() / 2], times.first(), times.last());
    Database::shutdown();
    return 0;
}
