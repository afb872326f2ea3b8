// Measures the document edit dialog on a large registry: opening a document, saving one change,
// and the used-values lists it fills at construction.
//   bench_editdialogs REGISTRY.db [ID] [--indexes]      (make one with: dbgen REGISTRY.db)
// --indexes adds an index on each looked-up column to the copy first, to show what one would give.
#include "../common/benchtime.h"
#include "../common/registrycopy.h"
#include "appresources.h"
#include "database.h"
#include "documenteditdialog.h"
#include "profschema.h"
#include "inputhelpers.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>

namespace {
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

void report(const char* what, const QVector<double>& times) {
    std::printf("%-44s median %8.1f ms   max %8.1f ms   (%d runs)\n", what, median(times),
                times.isEmpty() ? 0 : *std::max_element(times.begin(), times.end()), int(times.size()));
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    initAppResources();
    if (argc < 2 || !QFile::exists(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "usage: bench_editdialogs REGISTRY.db [ID]\n");
        return 2;
    }
    const int id = argc > 2 ? QByteArray(argv[2]).toInt() : 50000;
    const bool indexes = argc > 3 && QByteArray(argv[3]) == "--indexes";
    QTemporaryDir home;
    if (!useRegistryCopy(home, QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot copy %s\n", argv[1]);
        return 1;
    }
    qInstallMessageHandler(quiet);
    const QString dbPath = Database::filePath();
    Database(true).commitAndClose();
    auto db = std::make_unique<Database>(true);
    if (indexes) {
        for (const char* column : {"attNumber", "prevEducation", "profession", "profProgName"})
            db->execSql(
                QStringLiteral("CREATE INDEX IF NOT EXISTS bench_%1 ON ProfDocuments(%1);").arg(QLatin1String(column)));
    }
    const int runs = 7;

    QVector<double> opens, constructions, loads, shows, saves;
    for (int i = 0; i < runs; ++i) {
        DocumentEditDialog* dialog = nullptr;
        QElapsedTimer t;
        t.start();
        dialog = new DocumentEditDialog;
        constructions << t.nsecsElapsed() / 1e6;
        loads << elapsedMs([&] { dialog->setId(id); });
        shows << elapsedMs([&] { dialog->show(); });
        opens << t.nsecsElapsed() / 1e6;
        auto* regNumber = dialog->findChild<QLineEdit*>(QStringLiteral("lineEditRegNumber"));
        regNumber->setText(regNumber->text() + QLatin1Char('1'));
        dialog->setEdited();
        saves << elapsedMs([&] { dialog->save(); });
        delete dialog;
    }
    std::printf("registry %s, document %d%s\n", argv[1], id, indexes ? ", with indexes" : "");
    report("construction + setId + show", opens);
    report("  of which construction", constructions);
    report("  of which setId", loads);
    report("  of which show (and the arming after 100 ms)", shows);
    report("save after one change", saves);

    const QStringList columns = {QStringLiteral("AttNumber"), QStringLiteral("PrevEducation"),
                                 QStringLiteral("Profession"), QStringLiteral("profProgName")};
    QVector<double> all;
    for (const QString& column : columns) {
        QVector<double> times;
        for (int i = 0; i < runs; ++i) {
            QComboBox combo;
            combo.setEditable(true);
            times << elapsedMs(
                [&] { InputHelpers::fillComboBoxUsedValues(column, QStringLiteral("ProfDocuments"), &combo, 0); });
        }
        all << median(times);
        report(qPrintable(QStringLiteral("used values of %1").arg(column)), times);
    }
    double sum = 0;
    for (double t : all)
        sum += t;
    std::printf("%-44s        %8.1f ms\n", "four used-values lists (sum of medians)", sum);
    return 0;
}
