#include "applog.h"

#include "appsettings.h"
#include "productinfo.h"

#include <QDebug>
#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTextCodec>
#include <cstdio>

QString AppLog::filePath() {
    return AppSettings::userSettingsPath() + QStringLiteral("//debug.txt");
}

void AppLog::truncate() {
    QFile file(filePath());
    if (file.open(QIODevice::WriteOnly)) {
        file.resize(0);
        file.close();
    }
}

void AppLog::install() {
    qInstallMessageHandler(&AppLog::messageHandler);
}

// A safety net behind the call sites, which keep personal data out of their messages themselves: the
// log is sent along with requests for help, and a SNILS identifies a person on its own. Eleven
// digits in the SNILS' grouping, or in one run, are masked wherever they turn up; the server's
// DETAIL lines quote whole rows (birth dates among them) and are dropped.
QString AppLog::masked(const QString& text) {
    static const QRegularExpression snils(QStringLiteral("(?<!\\d)\\d{3}[- ]?\\d{3}[- ]?\\d{3}[- ]?\\d{2}(?!\\d)"));
    static const QRegularExpression rowDetail(
        QStringLiteral("(DETAIL|ПОДРОБНОСТИ):[^\\n]*|Failing row contains[^\\n]*"));
    QString line = text;
    line.replace(rowDetail, QStringLiteral("(row values left out)"));
    line.replace(snils, QStringLiteral("***-***-*** **"));
    return line;
}

QByteArray AppLog::lineBytes(const QString& text) {
    QString line = masked(text);
    // A message is one line of the log, whatever it carries.
    line.replace(QLatin1String("\r\n"), QLatin1String("\\n"));
    line.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    line.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    QByteArray bytes = QTextCodec::codecForLocale()->fromUnicode(line);
    bytes.append('\n');
    return bytes;
}

void AppLog::messageHandler(QtMsgType, const QMessageLogContext&, const QString& text) {
    const QByteArray bytes = lineBytes(text);
    QFile file(filePath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        file.write(bytes);
        file.close();
    }
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

QString AppLog::startupBanner() {
    return QStringLiteral("%1 build %2 %3 running on %4")
        .arg(ProductTypeInfo::appName())
        .arg(ProductTypeInfo::buildNumber)
        .arg(QSysInfo::buildCpuArchitecture(), QSysInfo::currentCpuArchitecture());
}

void AppLog::writeStartupBanner() {
    qDebug() << startupBanner();
}
