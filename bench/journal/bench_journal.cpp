// Times the journal of changes on a registry with millions of history entries: the journal
// window's opening until its first page is painted, and searches with each of its filters.
//   bench_journal [--entries N] [--keep FILE] [RUNS]
// The registry is generated in a temporary folder (or FILE, kept) in one transaction by SQL.
#include "../common/benchtime.h"
#include "appresources.h"
#include "database.h"
#include "historyjournal.h"
#include "journaldialog.h"
#include "journalmodel.h"
#include "profschema.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QVariant>
#include <algorithm>
#include <cstdio>

namespace {
// The time of the first paint of the watched window's table.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(const QElapsedTimer& clock) : _clock(clock) {}
    double ms = -1;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && ms < 0)
            ms = _clock.nsecsElapsed() / 1e6;
        return QObject::eventFilter(watched, event);
    }

private:
    const QElapsedTimer& _clock;
};

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

void report(const char* what, const QVector<double>& times, const QString& note = QString()) {
    std::printf("%-52s median %8.1f ms   max %8.1f ms   (%d runs)%s\n", what, median(times),
                times.isEmpty() ? 0 : *std::max_element(times.begin(), times.end()), int(times.size()),
                note.isEmpty() ? "" : qPrintable(QStringLiteral("   ") + note));
}

bool run(const QString& sql) {
    QSqlQuery query(QSqlDatabase::database());
    if (query.exec(sql))
        return true;
    std::fprintf(stderr, "%s\n%s\n", qPrintable(query.lastError().text()), qPrintable(sql));
    return false;
}

// `count` entries over ten years, newest last: ten users on five computers, the six kinds, eight
// surnames, one document per five entries, and one change each.
bool generate(qint64 count) {
    const QString insert = QStringLiteral(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
        "INSERT INTO DocumentHistory (historyId, profId, changedAt, kind, login, osUser, host, source, docName, "
        "attNumber, changes, snapshot) SELECT i, i / 5 + 1, "
        "strftime('%Y-%m-%dT%H:%M:%S', 1480000000 + i * (315360000 / %1), 'unixepoch'), "
        "CASE i % 20 WHEN 0 THEN 'delete' WHEN 1 THEN 'create' WHEN 2 THEN 'import' WHEN 3 THEN 'copy' "
        "WHEN 4 THEN 'restore' ELSE 'edit' END, "
        "CASE WHEN i % 3 = 0 THEN 'server' || (i % 4) END, 'user' || (i % 10), 'pc' || (i % 5), "
        "CASE i % 20 WHEN 2 THEN 'группа.xlsx' END, "
        "CASE i % 8 WHEN 0 THEN 'Иванов' WHEN 1 THEN 'Петрова' WHEN 2 THEN 'Сидоров' WHEN 3 THEN 'Ёлкина' "
        "WHEN 4 THEN 'Кузнецов' WHEN 5 THEN 'Смирнова' WHEN 6 THEN 'Попов' ELSE 'Васильева' END "
        "|| ' Анна Ильинична', 'А-' || (i / 5 + 1), "
        "'[{\"table\":\"ProfDocuments\",\"field\":\"qual\",\"old\":\"Токарь\",\"new\":\"Слесарь\"}]', "
        "CASE WHEN i % 20 = 0 THEN '{\"ProfDocuments\":{\"fio1\":\"Иванов\"},\"ProfDetails\":[],"
        "\"ProfFrdo\":null}' END FROM n");
    return run(QStringLiteral("BEGIN")) && run(insert.arg(count)) && run(QStringLiteral("COMMIT")) &&
           run(QStringLiteral("CREATE INDEX IF NOT EXISTS DocumentHistory_profId ON DocumentHistory(profId, "
                              "historyId)")) &&
           run(QStringLiteral("CREATE INDEX IF NOT EXISTS DocumentHistory_changedAt ON DocumentHistory(changedAt)")) &&
           run(QStringLiteral("ANALYZE"));
}

qint64 entryCount() {
    QSqlQuery query(QStringLiteral("SELECT COUNT(*) FROM DocumentHistory"));
    return query.next() ? query.value(0).toLongLong() : 0;
}

// The window as the menu opens it, until its table is painted with the first page.
double openJournal(int* rows) {
    QElapsedTimer clock;
    FirstPaint paint(clock);
    clock.start();
    auto* dialog = new JournalDialog;
    dialog->findChild<QTableView*>(QStringLiteral("tableViewJournal"))->viewport()->installEventFilter(&paint);
    dialog->show();
    while (paint.ms < 0)
        QCoreApplication::processEvents();
    *rows = dialog->model()->rowCount();
    delete dialog;
    QCoreApplication::processEvents();
    return paint.ms;
}

struct Search {
    const char* name;
    HistoryJournal::Filter filter;
};

QVector<Search> searches() {
    QVector<Search> list;
    HistoryJournal::Filter f;
    f.text = QStringLiteral("ёлкина");
    list.append({"text, a frequent surname", f});
    f.text = QStringLiteral("А-17");
    list.append({"text, a number part (rare near the top)", f});
    f.text = QStringLiteral("Нет такого");
    list.append({"text matching nothing (whole journal)", f});
    f = HistoryJournal::Filter();
    f.user = QStringLiteral("user7");
    list.append({"user", f});
    f = HistoryJournal::Filter();
    f.kinds = {DocumentHistory::Kind::Deleted};
    list.append({"kind: deletions", f});
    f = HistoryJournal::Filter();
    f.from = QDate(2019, 3, 1);
    f.to = QDate(2019, 3, 31);
    list.append({"a month five years back", f});
    f.user = QStringLiteral("user3");
    f.kinds = {DocumentHistory::Kind::Edited};
    f.text = QStringLiteral("смирнова");
    list.append({"month + user + kind + text", f});
    return list;
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    initAppResources();
    qint64 entries = 5000000;
    QString keep;
    int runs = 5;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--entries") && i + 1 < args.size())
            entries = args.at(++i).toLongLong();
        else if (args.at(i) == QLatin1String("--keep") && i + 1 < args.size())
            keep = args.at(++i);
        else
            runs = std::max(1, args.at(i).toInt());
    }
    QTemporaryDir work;
    // The settings layer stays inside the work folder.
    qputenv("XDG_DATA_HOME", work.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", work.filePath(QStringLiteral("config")).toUtf8());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, work.filePath(QStringLiteral("config")));
    Database::setSchema(ProfSchema::tables(), ProfSchema::mainPrimaryKeyName());
    const QString path = keep.isEmpty() ? work.filePath(QStringLiteral("journal.db")) : keep;
    const bool fresh = !QFile::exists(path);
    Database::useFile(path);
    auto* db = new Database(true);
    if (!db->isValid())
        return 1;
    qInstallMessageHandler(quiet);
    QElapsedTimer made;
    made.start();
    if (fresh && !generate(entries))
        return 1;
    std::printf("registry %s: %lld history entries%s\n", qPrintable(path), entryCount(),
                fresh ? qPrintable(QStringLiteral(", generated in %1 s").arg(made.elapsed() / 1000.0, 0, 'f', 1)) : "");

    QVector<double> opens;
    int rows = 0;
    for (int i = 0; i < runs; ++i)
        opens.append(openJournal(&rows));
    report("journal window: open to first page painted", opens, QStringLiteral("%1 rows").arg(rows));

    QVector<double> users;
    QStringList names;
    for (int i = 0; i < runs; ++i)
        users.append(elapsedMs([&] { HistoryJournal::users(&names); }));
    report("users of the whole journal", users, QStringLiteral("%1 users").arg(names.size()));
    QVector<double> slice;
    const qint64 newest = entryCount();
    for (int i = 0; i < runs; ++i)
        slice.append(elapsedMs([&] { HistoryJournal::usersBetween(newest - 19999, newest, &names); }));
    report("users of one slice (20,000 entries)", slice, QStringLiteral("%1 users").arg(names.size()));

    QVector<double> own;
    QVector<HistoryJournal::Entry> found;
    for (int i = 0; i < runs; ++i)
        own.append(elapsedMs([&] { HistoryJournal::entriesOf(entries / 10, &found); }));
    report("one document's history", own, QStringLiteral("%1 entries").arg(found.size()));

    // Each filter: one statement over the whole journal, and the window's search a slice at a time:
    // the longest the window is held by one step, and the time until the first page is complete.
    std::printf("\nfirst page of each filter (%d rows):\n", JournalModel::pageRows);
    for (const Search& search : searches()) {
        QVector<double> whole, held, complete;
        int rows = 0;
        for (int i = 0; i < runs; ++i) {
            whole.append(elapsedMs([&] { HistoryJournal::find(search.filter, 0, JournalModel::pageRows, &found); }));
            JournalModel model;
            double longest = 0;
            QElapsedTimer step;
            QElapsedTimer total;
            total.start();
            step.start();
            model.setFilter(search.filter, nullptr);
            longest = step.nsecsElapsed() / 1e6;
            while (model.isSearching()) {
                step.restart();
                QCoreApplication::processEvents(QEventLoop::AllEvents);
                longest = std::max(longest, step.nsecsElapsed() / 1e6);
            }
            complete.append(total.nsecsElapsed() / 1e6);
            held.append(longest);
            rows = model.rowCount();
        }
        report(qPrintable(QStringLiteral("%1: one statement").arg(QLatin1String(search.name))), whole,
               QStringLiteral("%1 rows").arg(found.size()));
        report("    window, longest step", held);
        report("    window, page complete", complete, QStringLiteral("%1 rows").arg(rows));
    }
    db->commitAndClose();
    delete db;
    return 0;
}
