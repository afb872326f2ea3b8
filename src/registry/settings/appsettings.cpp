#include "appsettings.h"

#include "appkeys.h"
#include "mzlog.h"
#include "productinfo.h"
#include "settingsregistry.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {
const QString organisation = QStringLiteral("MzSoftware");

struct State {
    QString userPath;
    QString dataPath;
    QPointer<QSettings> userStore;
    QPointer<QSettings> dataStore;
};

QString& dataPathOverride() {
    static QString folder;
    return folder;
}

State& state() {
    static State s;
    return s;
}

QString settingsFolder(QSettings::Scope scope) {
    QSettings probe(QSettings::IniFormat, scope, organisation, ProductTypeInfo::appName());
    return QFileInfo(probe.fileName()).absolutePath();
}

// Keeps a store open on `fileName`; a store on another file is released and replaced.
void openStore(QPointer<QSettings>& store, const QString& fileName) {
    // The user store's path is formed with "//", which the settings layer keeps as "/": compared
    // as written, every set-up would replace a store that callers still hold.
    if (store && QDir::cleanPath(store->fileName()) == QDir::cleanPath(fileName))
        return;
    if (store)
        store->deleteLater();
    store = new QSettings(fileName, QSettings::IniFormat);
    // Values typed into the file by hand (a Cyrillic folder, say) are UTF-8; the escapes that
    // earlier versions wrote are still understood.
    store->setIniCodec("UTF-8");
}

bool sameContent(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.size() == content.size() && file.readAll() == content;
}

bool writeFile(const QString& path, const QByteArray& content) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit()) {
        MZ_LOG() << "cant write file" << path << file.errorString();
        return false;
    }
    return true;
}

// The user settings folder and the default data folder are the user's own, under the home: they and
// what the program creates in them (the registry, its backups and safety copies, the settings, the
// log) are readable by the user alone. A data folder moved elsewhere, for several users, keeps what
// that folder's permissions give: its files are created as the process always created them.
void keepPrivate(const QString& userFolder, const QString& dataFolder, bool dataFolderOwn) {
#ifdef Q_OS_UNIX
    static const mode_t inherited = [] {
        const mode_t mask = ::umask(077);
        ::umask(mask);
        return mask;
    }();
    ::umask(dataFolderOwn ? mode_t(077) : inherited);
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    for (const QString& folder : dataFolderOwn ? QStringList{userFolder, dataFolder} : QStringList{userFolder})
        if (!QFile::setPermissions(folder, ownerOnly))
            MZ_LOG() << "cant make the folder private" << folder;
#else
    Q_UNUSED(userFolder)
    Q_UNUSED(dataFolder)
    Q_UNUSED(dataFolderOwn)
#endif
}

// Through the accessors, so that the registry never holds a released store and sets them up anew.
QSettings* storeFor(SettingsStore store) {
    return store == SettingsStore::User ? AppSettings::userSettings() : AppSettings::dataSettings();
}

// Also before the first set-up, so that a setting read first does not silently give its default.
[[maybe_unused]] const bool storeProviderInstalled = (SettingsRegistry::setStoreProvider(storeFor), true);
} // namespace

void AppSettings::setup() {
    State& s = state();
    s.userPath = settingsFolder(QSettings::UserScope);
    QDir().mkpath(s.userPath);
    openStore(s.userStore, s.userPath + QStringLiteral("//settings.ini"));
    SettingsRegistry::setStoreProvider(storeFor);

    s.dataPath = SettingsRegistry::instance()->value(Keys::dataPath).toString();
    // A relative folder would follow whatever the working folder happens to be.
    if (!s.dataPath.isEmpty() && QDir::isRelativePath(s.dataPath)) {
        MZ_LOG() << "relative dataPath ignored, the default data folder is used:" << s.dataPath;
        s.dataPath.clear();
    }
    if (!dataPathOverride().isEmpty())
        s.dataPath = dataPathOverride();
    if (s.dataPath.isEmpty())
        s.dataPath = defaultDataPath();
    QDir().mkpath(s.dataPath);
    const QString dataFolder = QFileInfo(s.dataPath).canonicalFilePath();
    keepPrivate(s.userPath, s.dataPath,
                !dataFolder.isEmpty() && dataFolder == QFileInfo(defaultDataPath()).canonicalFilePath());
    openStore(s.dataStore, QFileInfo(s.dataPath).absoluteFilePath() + QStringLiteral("/settings.ini"));
}

void AppSettings::setDataPathOverride(const QString& folder) {
    dataPathOverride() = folder;
    setup();
}

void AppSettings::release() {
    State& s = state();
    // Written now, so that nothing is left for the deferred deletion to write.
    for (QSettings* store : {s.userStore.data(), s.dataStore.data()}) {
        if (store) {
            store->sync();
            store->deleteLater();
        }
    }
    s = State();
}

QString AppSettings::userSettingsPath() {
    if (state().userPath.isEmpty())
        setup();
    return state().userPath;
}

QString AppSettings::dataPath() {
    if (state().dataPath.isEmpty())
        setup();
    return state().dataPath;
}

QString AppSettings::defaultDataPath() {
#ifdef Q_OS_WIN
    return settingsFolder(QSettings::SystemScope);
#else
    // The all-users settings folder (/etc/xdg) is not writable by users here.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1Char('/') + organisation;
#endif
}

QSettings* AppSettings::userSettings() {
    if (!state().userStore)
        setup();
    return state().userStore;
}

QSettings* AppSettings::dataSettings() {
    if (!state().dataStore)
        setup();
    return state().dataStore;
}

bool AppSettings::checkVersion() {
    SettingsRegistry* settings = SettingsRegistry::instance();
    const QString current = ProductTypeInfo::versionText();
    const bool notice = settings->value(Keys::lastStartedVersion).toString() != current &&
                        !settings->value(Keys::dataPath).toString().isEmpty();
    settings->setValue(Keys::lastStartedVersion, current);
    userSettings()->sync();
    return notice;
}

QString AppSettings::versionNoticeText() {
    return QStringLiteral("Похоже, что вы установили новую версию программы и у вас прописан нестандартный путь к "
                          "файлам настроек и шаблонов.\nДля того, чтобы программа использовала актуальные шаблоны, "
                          "необходимо зайти в Инструменты - Настройки программы -  Расположение файлов и нажать на "
                          "кнопку 'Восстановит шаблоны по умолчанию'");
}

void AppSettings::installDefaultData(const QString& systemDictFolder, const QString& builtInFolder) {
    copyTemplates(builtInFolder, defaultDataPath() + QStringLiteral("/default_reports"), false);
    const QString reports = dataPath() + QStringLiteral("/reports");
    if (!QFileInfo::exists(reports))
        copyTemplates(builtInFolder, reports, true);
    installDictionary(systemDictFolder);
}

void AppSettings::copyTemplates(const QString& from, const QString& folder, bool onlyMissing) {
    if (!QDir().mkpath(folder)) {
        MZ_LOG() << "cant create folder" << folder;
        return;
    }
    QDirIterator it(from, QDir::Files);
    while (it.hasNext()) {
        QFile source(it.next());
        const QString target = folder + QLatin1Char('/') + it.fileName();
        if (onlyMissing && QFileInfo::exists(target))
            continue;
        if (!source.open(QIODevice::ReadOnly))
            continue;
        const QByteArray content = source.readAll();
        if (!sameContent(target, content))
            writeFile(target, content);
    }
}

void AppSettings::installDictionary(const QString& systemDictFolder) {
    const QString dictFolder = dataPath() + QStringLiteral("/dict");
    if (QFileInfo::exists(dictFolder + QStringLiteral("/ru_RU.dic")))
        return;
    const QString dic = systemDictFolder + QStringLiteral("/ru_RU.dic");
    const QString aff = systemDictFolder + QStringLiteral("/ru_RU.aff");
    if (!QFileInfo::exists(dic) || !QFileInfo::exists(aff))
        return;
    QDir().mkpath(dictFolder);
    // A lone affix file without its word list is of no use; it is replaced together with the pair.
    QFile::remove(dictFolder + QStringLiteral("/ru_RU.aff"));
    if (!QFile::copy(aff, dictFolder + QStringLiteral("/ru_RU.aff")) ||
        !QFile::copy(dic, dictFolder + QStringLiteral("/ru_RU.dic")))
        MZ_LOG() << "cant copy dictionary from" << systemDictFolder << "to" << dictFolder;
}
