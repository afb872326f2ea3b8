// Measures the spell checker with Debian's Russian dictionary: the checker's creation and one full
// check of a 2,000-character paragraph in a line edit and in a rich-text edit.
//   QT_QPA_PLATFORM=offscreen bench_services [DICTIONARY_FOLDER]   (default /usr/share/hunspell)
#include "appsettings.h"
#include "spellchecker.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextEdit>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

template <typename Work> double medianMs(int runs, Work work) {
    QVector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        times << t.nsecsElapsed() / 1e6;
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Ordinary registry prose with a misspelt word now and then, cut at a word end near 2,000 characters.
QString paragraph() {
    const QStringList words =
        QStringLiteral("Настоящее свидетельство выдано в том, что слушатель прошёл профессиональное обучение "
                       "по программе профессиональной подготовки по профессии электрогазосварщик в объёме "
                       "480 часов и успешно сдал квалификационный экзамен, по результатам которого ему "
                       "присвоен третий разряд. Обученние проводилось в учебном центре с 10 января по 30 "
                       "апреля, включая производственную практику на предприятии и теоретические занятия "
                       "по охране труда, материаловедению, чтению чертежей и электротехнике; итоговая "
                       "аттестация прошла успешно, протокол комисии подписан председателем.")
            .split(QLatin1Char(' '));
    QString text;
    for (int i = 0; text.size() + words.at(i % words.size()).size() + 1 <= 2000; ++i)
        text += (text.isEmpty() ? QString() : QStringLiteral(" ")) + words.at(i % words.size());
    return text;
}

void row(const char* what, double ms, const QString& note = QString()) {
    std::printf("%-52s %9.2f ms  %s\n", what, ms, qPrintable(note));
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QString source = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/usr/share/hunspell");
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/data")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + QStringLiteral("/config")));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path() + QStringLiteral("/config"));
    const QString dict = AppSettings::dataPath() + QStringLiteral("/dict");
    QDir().mkpath(dict);
    if (!QFile::copy(source + QStringLiteral("/ru_RU.aff"), dict + QStringLiteral("/ru_RU.aff")) ||
        !QFile::copy(source + QStringLiteral("/ru_RU.dic"), dict + QStringLiteral("/ru_RU.dic"))) {
        std::fprintf(stderr, "no ru_RU.aff/ru_RU.dic in %s\n", qPrintable(source));
        return 2;
    }
    qInstallMessageHandler(quiet);

    const double creation = medianMs(5, [] {
        SpellChecker::release();
        SpellChecker::init();
    });
    if (!SpellChecker::instance()) {
        std::fprintf(stderr, "the checker could not be created\n");
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    row("checker creation (Debian ru_RU, median of 5)", creation,
        QStringLiteral("peak RSS %1 MB").arg(usage.ru_maxrss / 1024.0, 0, 'f', 1));

    const QString text = paragraph();
    const int wordCount = text.split(QLatin1Char(' ')).size();

    QLineEdit line(text);
    line.resize(600, 30);
    line.show();
    const double lineCheck = medianMs(50, [&line] { SpellChecker::checkLineEdit(&line); });
    row("line edit, full check (median of 50)", lineCheck,
        QStringLiteral("%1 characters, %2 words").arg(text.size()).arg(wordCount));

    QTextEdit rich;
    rich.setPlainText(text);
    rich.resize(600, 400);
    rich.show();
    QApplication::processEvents();
    const double richCheck = medianMs(20, [&rich] { SpellChecker::checkTextEdit(&rich); });
    row("rich-text edit, full check (median of 20)", richCheck,
        QStringLiteral("%1 words marked").arg(rich.extraSelections().size()));

    const double spellOnly = medianMs(20, [&text] {
        for (const QString& word : text.split(QLatin1Char(' ')))
            SpellChecker::instance()->spell(word);
    });
    row("Hunspell alone on the blank-separated words", spellOnly);
    SpellChecker::release();
    return 0;
}
