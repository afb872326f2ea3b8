#include "applog.h"

#include "appsettings.h"
#include "productinfo.h"

#include <QDebug>
#include <QFile>
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

QByteArray AppLog::lineBytes(const QString& text) {
    QString line = text;
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
