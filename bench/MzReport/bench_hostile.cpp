// Templates built to make the render tool work as hard as a file of at most 10 MB can: long texts,
// unbroken words, many lines, many fields, tables with many columns and rows, extreme fonts and
// lengths. Each one is written into a temporary folder and rendered by build/bin/mzrpt-render in a
// child process, to PDF and once more with --png at the default 300 dpi; the wall time and the
// tool's peak memory (through /usr/bin/time when present) are printed per case. Measures, asserts
// nothing.
//
//   build/bin/bench_hostile [--tool PATH] [--timeout SECONDS] [--keep FOLDER] [CASE ...]
// --tool renders with another build of the tool; a child still running after the timeout (default
// 120 s) is killed and reported as such. CASE names (or their beginnings) pick cases.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

constexpr qint64 maxFileBytes = 10 * 1000 * 1000;
// The length a field's text is cut to; larger texts cost the file size without more work.
constexpr int fieldText = 20000;
const QString modelName = QStringLiteral("m");

QTextStream out(stdout);

struct Case {
    QString name;
    QString what;
    std::function<QJsonObject()> page;
    // A CSV model registered as "m" when not empty; its size counts against the 10 MB.
    QByteArray csv;
    QStringList extra;
};

QString repeated(const QString& unit, int length) {
    QString text;
    text.reserve(length + unit.size());
    while (text.size() < length)
        text += unit;
    return text.left(length);
}

QString font(double points) {
    return QStringLiteral("Liberation Serif,%1,-1,5,50,0,0,0,0,0").arg(points);
}

QJsonObject textField(double x, double y, double w, double h, const QString& text, bool wrap = true) {
    return QJsonObject{{"x", x},     {"y", y},          {"width", w}, {"height", h}, {"alignFlags", 0x21},
                       {"id", text}, {"wordWrap", wrap}};
}

QJsonObject page(const QJsonArray& texts, const QJsonArray& tables = {}, int sides = 1) {
    return QJsonObject{{"orientation", 0},    {"pageSize", 0},         {"pagesCount", sides},
                       {"textFields", texts}, {"tableFields", tables}, {"qrFields", QJsonArray()}};
}

// `count` fields of `text` tiled over side 0.
QJsonArray manyTexts(int count, const QString& text, double w = 40.0, double h = 20.0, const QJsonObject& extra = {}) {
    QJsonArray fields;
    for (int i = 0; i < count; ++i) {
        QJsonObject field = textField(5 + (i % 4) * 50, 5 + (i / 4 % 13) * 22, w, h, text);
        for (auto it = extra.begin(); it != extra.end(); ++it)
            field.insert(it.key(), it.value());
        fields << field;
    }
    return fields;
}

// The number of fields of `unitBytes` each that a 10 MB file holds, leaving room for the rest.
int fieldsFor(qint64 unitBytes) {
    return int((maxFileBytes - 200000) / unitBytes);
}

QJsonObject table(int columns, double width, const QString& cell, double rowHeight, bool wrap) {
    QJsonArray widths, headers, ids, aligns;
    for (int c = 0; c < columns; ++c) {
        widths << width;
        headers << QStringLiteral("h%1").arg(c);
        ids << cell;
        aligns << 0;
    }
    return QJsonObject{{"x", 5},
                       {"y", 5},
                       {"alignFlags", 0x21},
                       {"wordWrap", wrap},
                       {"headerIsVisible", true},
                       {"columnCount", columns},
                       {"previewRowCount", 255},
                       {"headerHeight", 5},
                       {"rowHeight", rowHeight},
                       {"mModelName", modelName},
                       {"drawBorders", true},
                       {"columnsWidth", widths},
                       {"headerNames", headers},
                       {"columnIds", ids},
                       {"columnsAlign", aligns}};
}

// One short column "a" and the most rows a table takes.
QByteArray rowsCsv(int rows = 65535) {
    QByteArray csv = "a\n";
    for (int r = 0; r < rows; ++r)
        csv += QByteArray::number(r) + '\n';
    return csv;
}

QList<Case> cases() {
    const QString words = repeated(QStringLiteral("slovo "), fieldText);
    const QString word = repeated(QStringLiteral("W"), fieldText);
    const QString placeholder = QStringLiteral("$D{m.a} ");
    QList<Case> list;
    list << Case{"text-cap-many", "fields of 20,000 characters of words, 40 x 20 mm",
                 [=] { return page(manyTexts(fieldsFor(fieldText + 120), words)); }};
    list << Case{"text-one-huge", "one field of 10 MB of words over a whole side",
                 [] { return page({textField(5, 5, 200, 287, repeated(QStringLiteral("slovo "), 9800000))}); }};
    list << Case{"text-word-narrow", "fields of one 20,000-character word, 1 mm wide",
                 [=] { return page(manyTexts(fieldsFor(fieldText + 120), word, 1.0, 280.0)); }};
    list << Case{"text-word-wide", "one field of a 10 MB word, 200 mm wide",
                 [] { return page({textField(5, 5, 200, 287, repeated(QStringLiteral("W"), 9800000))}); }};
    list << Case{"text-newlines", "fields of 20,000 line breaks",
                 [] { return page(manyTexts(fieldsFor(2 * fieldText + 120), repeated("\n", fieldText))); }};
    list << Case{"text-br", "fields of 20,000 <br>",
                 [] { return page(manyTexts(fieldsFor(4 * fieldText + 120), repeated("<br>", 4 * fieldText))); }};
    list << Case{"text-tiny-font", "fields of 20,000 characters in 0.1 pt type, 200 x 280 mm", [=] {
                     return page(manyTexts(fieldsFor(fieldText + 160), words, 200.0, 280.0, {{"font", font(0.1)}}));
                 }};
    list << Case{"text-huge-font", "fields of words in 400 pt type", [=] {
                     return page(manyTexts(fieldsFor(fieldText + 160), words, 200.0, 280.0, {{"font", font(400)}}));
                 }};
    list << Case{"text-huge-spacing", "fields with 1 km line height and indent", [=] {
                     return page(manyTexts(fieldsFor(fieldText + 160), words, 200.0, 280.0,
                                           {{"lineHeight", 1.0e6}, {"indent", 1.0e6}}));
                 }};
    list << Case{"text-tiny-spacing", "fields of 20,000 line breaks, 0.01 mm line height", [] {
                     return page(manyTexts(fieldsFor(2 * fieldText + 160), repeated("\n", fieldText), 40.0, 280.0,
                                           {{"lineHeight", 0.01}}));
                 }};
    list << Case{"text-many-small", "10,000 fields of 900 characters",
                 [] { return page(manyTexts(10000, repeated(QStringLiteral("slovo "), 900))); }};
    list << Case{"text-many-fonts", "10,000 fields of one word, each in another size", [] {
                     QJsonArray fields = manyTexts(10000, QStringLiteral("slovo"));
                     for (int i = 0; i < fields.size(); ++i) {
                         QJsonObject field = fields.at(i).toObject();
                         field.insert("font", font(5 + i % 395));
                         fields[i] = field;
                     }
                     return page(fields);
                 }};
    list << Case{"text-placeholders", "one field of 10 MB with a variable placeholder every 10 KB", [] {
                     return page({textField(5, 5, 200, 287,
                                            repeated(repeated(QStringLiteral("slovo "), 9995) + "$V{x}", 9800000))});
                 }};
    list << Case{"html-nested-tables", "fields of tables nested 40 deep", [] {
                     const QString nested = repeated("<table><tr><td>", 40 * 15) + "x";
                     return page(manyTexts(fieldsFor(nested.size() + 120), nested));
                 }};
    list << Case{"html-list-items", "fields of 20,000 characters of list items",
                 [] { return page(manyTexts(fieldsFor(fieldText + 120), "<ul>" + repeated("<li>x", fieldText))); }};
    list << Case{"html-devices", "fields whose style sheet and images are /dev/zero", [] {
                     return page(manyTexts(100, QStringLiteral("<link rel=\"stylesheet\" href=\"/dev/zero\">"
                                                               "<p style=\"background-image:url(/dev/zero)\">x</p>"
                                                               "<img src=\"/dev/zero\">")));
                 }};
    list << Case{"qr-many", "10,000 QR fields of 900 characters", [] {
                     QJsonObject p = page({});
                     p.insert("qrFields", manyTexts(10000, repeated(QStringLiteral("slovo "), 900)));
                     return p;
                 }};

    list << Case{"table-words", "255 columns of 3 mm, each a 20,000-character word, 65,535 rows",
                 [=] { return page({}, {table(255, 3.0, word.left(19500), 5.0, true)}); }, rowsCsv()};
    list << Case{"table-words-raw",
                 "the same shown raw: 255 preview rows",
                 [=] { return page({}, {table(255, 3.0, word.left(19500), 5.0, true)}); },
                 QByteArray(),
                 {QStringLiteral("--raw")}};
    list << Case{"table-text", "255 columns of 20,000 characters of words, 65,535 rows",
                 [=] { return page({}, {table(255, 20.0, words.left(19500), 5.0, true)}); }, rowsCsv()};
    list << Case{"table-zero-rows", "255 columns, rows of height 0 without word wrap, 65,535 rows",
                 [=] { return page({}, {table(255, 1.0, placeholder, 0.0, false)}); }, rowsCsv()};
    list << Case{"table-tiny-font", "255 columns in 0.1 pt type, 2 sides, 65,535 rows",
                 [=] {
                     QJsonObject t = table(255, 1.0, placeholder, 0.0, true);
                     t.insert("font", font(0.1));
                     return page({}, {t}, 2);
                 },
                 rowsCsv()};
    list << Case{"table-rising-rows", "255 columns, rows of -5 mm, 65,535 rows",
                 [=] { return page({}, {table(255, 1.0, placeholder, -5.0, false)}); }, rowsCsv()};
    list << Case{"table-auto-width", "automatic widths, rows of ever longer words, 65,535 rows",
                 [=] {
                     QJsonObject t = table(3, 10.0, QStringLiteral("$D{m.a}"), 0.0, true);
                     t.insert("autoWidth", true);
                     return page({}, {t});
                 },
                 [] {
                     QByteArray csv = "a\n";
                     for (int r = 0; r < 65535; ++r)
                         csv += QByteArray(r % 150 + 1, 'w') + '\n';
                     return csv;
                 }()};
    list << Case{"table-many", "10,000 tables of 30 columns, 65,535 rows each",
                 [=] {
                     QJsonArray tables;
                     for (int i = 0; i < 10000; ++i)
                         tables << table(30, 6.0, QStringLiteral("$D{m.a}"), 5.0, true);
                     return page({}, tables);
                 },
                 rowsCsv()};
    list << Case{"table-parts", "1,000 parts of 1 mm each continued, 65,535 rows of 0.5 mm",
                 [=] {
                     QJsonObject t = table(255, 1.0, placeholder, 0.5, false);
                     QJsonArray heights, xs, ys;
                     for (int i = 0; i < 1000; ++i) {
                         heights << 1.0;
                         xs << 5 + i % 50;
                         ys << 5 + i % 280;
                     }
                     t.insert("splitsCount", 1000);
                     t.insert("maxSplitHeight", heights);
                     t.insert("splitX", xs);
                     t.insert("splitY", ys);
                     return page({}, {t});
                 },
                 rowsCsv()};
    list << Case{"table-header", "255 header names of 20,000-character words",
                 [=] {
                     QJsonObject t = table(255, 3.0, placeholder, 5.0, true);
                     QJsonArray headers;
                     for (int c = 0; c < 255; ++c)
                         headers << word.left(19500);
                     t.insert("headerNames", headers);
                     t.insert("headerHeight", 280);
                     return page({}, {t});
                 },
                 rowsCsv(10)};
    list << Case{"sides-100", "nothing but 100 sides: the floor of the PNG run", [] { return page({}, {}, 100); }};
    return list;
}

struct Run {
    double seconds = 0.0;
    long peakKb = 0;
    int exitCode = 0;
    bool killed = false;
};

// A child's peak memory as wait4() reports it starts at this process's own (the child begins as
// its copy), so /usr/bin/time, a small process, runs the tool and writes the tool's peak to a file.
const char timeProgram[] = "/usr/bin/time";

// Runs the tool in a child process group of its own, killed whole at the timeout.
Run runTool(const QString& tool, const QStringList& arguments, double timeout, const QString& peakFile) {
    const bool timed = QFileInfo::exists(QString::fromLatin1(timeProgram));
    QList<QByteArray> storage;
    if (timed)
        storage << timeProgram << "-f"
                << "%M"
                << "-o" << peakFile.toLocal8Bit();
    storage << tool.toLocal8Bit();
    for (const QString& argument : arguments)
        storage << argument.toLocal8Bit();
    std::vector<char*> argv;
    for (QByteArray& item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);

    Run run;
    QFile::remove(peakFile);
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The tool's reports on standard error would drown the figures.
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const int spawned = posix_spawn(&pid, argv.front(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        run.exitCode = -1;
        return run;
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, WNOHANG, &usage) == 0) {
        if (timer.elapsed() > timeout * 1000.0 && !run.killed) {
            kill(-pid, SIGKILL);
            run.killed = true;
        }
        QThread::msleep(5);
    }
    run.seconds = timer.elapsed() / 1000.0;
    run.peakKb = usage.ru_maxrss;
    QFile peak(peakFile);
    if (timed && peak.open(QIODevice::ReadOnly)) {
        // The last line: a killed tool makes time write a note before it.
        const QList<QByteArray> lines = peak.readAll().trimmed().split('\n');
        run.peakKb = lines.last().trimmed().toLong();
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

QString describe(const Run& run) {
    if (run.killed)
        return QStringLiteral("killed after %1 s").arg(run.seconds, 0, 'f', 1);
    return QStringLiteral("%1 s %2 MB%3")
        .arg(run.seconds, 6, 'f', 2)
        .arg(run.peakKb / 1024.0, 6, 'f', 0)
        .arg(run.exitCode == 0 ? QString() : QStringLiteral(" exit %1").arg(run.exitCode));
}

bool picked(const QString& name, const QStringList& filters) {
    if (filters.isEmpty())
        return true;
    for (const QString& filter : filters)
        if (name.startsWith(filter))
            return true;
    return false;
}

qint64 writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return -1;
    return file.write(bytes);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QString tool = QCoreApplication::applicationDirPath() + QStringLiteral("/mzrpt-render");
    double timeout = 120.0;
    QString keep;
    QStringList filters;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--tool") && i + 1 < args.size())
            tool = args.at(++i);
        else if (args.at(i) == QLatin1String("--timeout") && i + 1 < args.size())
            timeout = qMax(1.0, args.at(++i).toDouble());
        else if (args.at(i) == QLatin1String("--keep") && i + 1 < args.size())
            keep = args.at(++i);
        else
            filters << args.at(i);
    }
    QTemporaryDir dir(keep.isEmpty() ? QString() : keep + QStringLiteral("/hostile-XXXXXX"));
    dir.setAutoRemove(keep.isEmpty());
    if (!keep.isEmpty())
        out << "files kept in " << dir.path() << '\n';
    out << "tool " << tool << ", timeout " << timeout << " s\n";
    out << QStringLiteral("%1 %2 %3  %4\n").arg("case", -18).arg("input MB", 8).arg("PDF", -24).arg("PDF + PNG");
    out.flush();

    for (const Case& c : cases()) {
        if (!picked(c.name, filters))
            continue;
        const QString templatePath = dir.filePath(c.name + QStringLiteral(".mzrpt"));
        qint64 bytes = writeFile(templatePath, QJsonDocument(c.page()).toJson(QJsonDocument::Compact));
        QStringList arguments = c.extra;
        if (!c.csv.isEmpty()) {
            const QString csvPath = dir.filePath(c.name + QStringLiteral(".csv"));
            bytes += writeFile(csvPath, c.csv);
            arguments << QStringLiteral("--model") << modelName + QLatin1Char('=') + csvPath;
        }
        const QString pdf = dir.filePath(c.name + QStringLiteral(".pdf"));
        const QString peakFile = dir.filePath(QStringLiteral("peak.txt"));
        const Run plain = runTool(tool, QStringList(arguments) << templatePath << pdf, timeout, peakFile);
        const Run png = runTool(
            tool, QStringList(arguments) << QStringLiteral("--png") << dir.filePath(c.name) << templatePath << pdf,
            timeout, peakFile);
        out << QStringLiteral("%1 %2 %3  %4\n")
                   .arg(c.name, -18)
                   .arg(bytes / 1.0e6, 8, 'f', 2)
                   .arg(describe(plain), -24)
                   .arg(describe(png));
        out << "    " << c.what << '\n';
        out.flush();
    }
    return 0;
}
