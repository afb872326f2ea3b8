#include "testenvironment.h"

#include "appresources.h"
#include "appsettings.h"
#include "database.h"
#include "profschema.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>

TestEnvironment::TestEnvironment()
    : _oldConfigHome(qgetenv("XDG_CONFIG_HOME")), _oldDataHome(qgetenv("XDG_DATA_HOME")) {
    QDir().mkpath(configHome());
    QDir().mkpath(dataHome());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome()));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, configHome());
    QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, root() + QStringLiteral("/etc"));
    AppSettings::release();
}

TestEnvironment::~TestEnvironment() {
    AppSettings::release();
    qputenv("XDG_CONFIG_HOME", _oldConfigHome);
    qputenv("XDG_DATA_HOME", _oldDataHome);
}

QString testDataPath(const QString& relative) {
    const QString base = QStringLiteral(ORVANE_TEST_DATA_DIR);
    return relative.isEmpty() ? base : base + QLatin1Char('/') + relative;
}

void setUpAsTheProgram() {
    QCoreApplication::setOrganizationName(QStringLiteral("MzSoftware"));
    QCoreApplication::setApplicationName(QStringLiteral("Orvane"));
    initAppResources();
    Database::setSchema(ProfSchema::tables(), ProfSchema::mainPrimaryKeyName());
}

QString binaryPath(const QString& name) {
    return QStringLiteral(ORVANE_BIN_DIR) + QLatin1Char('/') + name;
}

QByteArray readFileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::unique_ptr<QProcess> startProgram(const TestEnvironment& env, const QStringList& extra) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment vars = QProcessEnvironment::systemEnvironment();
    vars.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    vars.insert(QStringLiteral("XDG_CONFIG_HOME"), env.configHome());
    vars.insert(QStringLiteral("XDG_DATA_HOME"), env.dataHome());
    for (const QString& entry : extra)
        vars.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    process->setProcessEnvironment(vars);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(binaryPath(QStringLiteral("orvane")), QStringList());
    return process;
}
