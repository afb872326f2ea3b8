#include "appkeys.h"
#include "appsettings.h"
#include "messagebox.h"
#include "productinfo.h"
#include "settingsregistry.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QSettings>
#include <QtTest>

namespace {
void setUserValue(const SettingKey& key, const QString& value) {
    QVERIFY(SettingsRegistry::instance()->setValue(key, value));
    AppSettings::userSettings()->sync();
}

QString userValue(const SettingKey& key) {
    return SettingsRegistry::instance()->value(key).toString();
}

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}
} // namespace

class TestAppSettings : public QObject {
    Q_OBJECT

private slots:
    void init() {
        ProductTypeInfo::setProductType(ProductTypeInfo::ProfessionalTraining);
        MessageBox::clearShown();
    }

    void defaultFoldersAndStores() {
        TestEnvironment env;
        QCOMPARE(AppSettings::userSettingsPath(), env.userFolder());
        QCOMPARE(AppSettings::dataPath(), env.defaultDataFolder());
        QVERIFY(QFileInfo(env.userFolder()).isDir());
        QVERIFY(QFileInfo(env.defaultDataFolder()).isDir());
        QCOMPARE(QFileInfo(AppSettings::userSettings()->fileName()).absoluteFilePath(),
                 env.userFolder() + QStringLiteral("/settings.ini"));
        QCOMPARE(AppSettings::dataSettings()->fileName(), env.defaultDataFolder() + QStringLiteral("/settings.ini"));

        // A later set-up (every database construction runs one) keeps the stores that callers hold.
        QSettings* user = AppSettings::userSettings();
        QSettings* data = AppSettings::dataSettings();
        AppSettings::setup();
        QCOMPARE(AppSettings::userSettings(), user);
        QCOMPARE(AppSettings::dataSettings(), data);

        // A value stored in the data store lands in the data folder's file.
        AppSettings::dataSettings()->setValue(QStringLiteral("probe"), 42);
        AppSettings::dataSettings()->sync();
        QVERIFY(QFileInfo::exists(env.defaultDataFolder() + QStringLiteral("/settings.ini")));
    }

    void relocatedDataFolderIsCreated() {
        TestEnvironment env;
        const QString relocated = env.root() + QStringLiteral("/elsewhere/Данные/orvane");
        setUserValue(Keys::dataPath, relocated);
        AppSettings::setup();
        QCOMPARE(AppSettings::dataPath(), relocated);
        QVERIFY(QFileInfo(relocated).isDir());
        QCOMPARE(AppSettings::dataSettings()->fileName(), relocated + QStringLiteral("/settings.ini"));
        // The default is never written back.
        setUserValue(Keys::dataPath, QString());
        AppSettings::setup();
        QCOMPARE(AppSettings::dataPath(), env.defaultDataFolder());
        QVERIFY(userValue(Keys::dataPath).isEmpty());
    }

    // "dataPath" as a user or an installer writes it into the file; the stores are UTF-8, and the
    // escapes of earlier versions still read.
    void handWrittenDataPath_data() {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("folder");
        QTest::newRow("UTF-8 by hand") << QStringLiteral("utf8") << QStringLiteral("/Мои данные/Орвейн 2026");
        QTest::newRow("escaped by an earlier version") << QStringLiteral("escaped") << QStringLiteral("/Данные ёж/x");
        QTest::newRow("relative") << QStringLiteral("relative") << QStringLiteral("relative/Данные");
    }

    void handWrittenDataPath() {
        QFETCH(QString, form);
        QFETCH(QString, folder);
        TestEnvironment env;
        const QString path = form == QLatin1String("relative") ? folder : env.root() + folder;
        const QString iniPath = env.userFolder() + QStringLiteral("/settings.ini");
        QByteArray content = "[Orvane]\ndataPath=" + path.toUtf8() + "\n";
        if (form == QLatin1String("escaped")) {
            QSettings old(env.root() + QStringLiteral("/old.ini"), QSettings::IniFormat);
            old.setValue(QStringLiteral("Orvane/dataPath"), path);
            old.sync();
            content = readFileBytes(old.fileName());
            QVERIFY2(content.contains("\\x"), content.constData());
        }
        writeFile(iniPath, content);
        AppSettings::setup();

        const QString expected = form == QLatin1String("relative") ? env.defaultDataFolder() : path;
        QCOMPARE(AppSettings::dataPath(), expected);
        QVERIFY(QFileInfo(expected).isDir());
        QVERIFY(!QFileInfo::exists(QDir::current().filePath(QStringLiteral("relative"))));
        // Writing another key keeps the folder readable, and a new file is plain UTF-8.
        setUserValue(Keys::lastStartedVersion, QStringLiteral("0.7.3"));
        QCOMPARE(userValue(Keys::dataPath), path);
        if (form == QLatin1String("utf8"))
            QVERIFY(readFileBytes(iniPath).contains("dataPath=" + path.toUtf8()));
    }

    void versionCheck_data() {
        QTest::addColumn<QString>("dataPath");
        QTest::addColumn<QString>("lastVersion");
        QTest::addColumn<int>("notices");
        QTest::newRow("first run, default folder") << QString() << QString() << 0;
        QTest::newRow("new version, default folder") << QString() << QStringLiteral("0.7.2") << 0;
        QTest::newRow("new version, relocated") << QStringLiteral("relocated") << QStringLiteral("0.7.2") << 1;
        QTest::newRow("first run, relocated") << QStringLiteral("relocated") << QString() << 1;
        QTest::newRow("same version, relocated") << QStringLiteral("relocated") << QStringLiteral("0.7.3") << 0;
    }

    void versionCheck() {
        QFETCH(QString, dataPath);
        QFETCH(QString, lastVersion);
        QFETCH(int, notices);
        TestEnvironment env;
        if (!dataPath.isEmpty())
            setUserValue(Keys::dataPath, env.root() + QLatin1Char('/') + dataPath);
        if (!lastVersion.isEmpty())
            setUserValue(Keys::lastStartedVersion, lastVersion);
        AppSettings::setup();

        QCOMPARE(AppSettings::checkVersion(), notices > 0);
        QCOMPARE(userValue(Keys::lastStartedVersion), QStringLiteral("0.7.3"));
        // The same version never asks for the notice again.
        QVERIFY(!AppSettings::checkVersion());
        QVERIFY(MessageBox::shown().isEmpty());
    }

    void installationData() {
        TestEnvironment env;
        const QString dictSource = env.root() + QStringLiteral("/systemdict");
        writeFile(dictSource + QStringLiteral("/ru_RU.dic"), "2\nмама\nпапа\n");
        writeFile(dictSource + QStringLiteral("/ru_RU.aff"), "SET UTF-8\n");
        const QString builtIn = env.root() + QStringLiteral("/builtin");
        writeFile(builtIn + QStringLiteral("/id130.mzrpt"), "{\"v\":1}");
        writeFile(builtIn + QStringLiteral("/id133.mzrpt"), "{\"v\":2}");

        AppSettings::installDefaultData(dictSource, builtIn);
        const QString reports = AppSettings::dataPath() + QStringLiteral("/reports");
        const QString defaults = env.defaultDataFolder() + QStringLiteral("/default_reports");
        for (const QString& folder : {reports, defaults}) {
            QCOMPARE(readFileBytes(folder + QStringLiteral("/id130.mzrpt")), QByteArray("{\"v\":1}"));
            QCOMPARE(readFileBytes(folder + QStringLiteral("/id133.mzrpt")), QByteArray("{\"v\":2}"));
        }
        QCOMPARE(readFileBytes(AppSettings::dataPath() + QStringLiteral("/dict/ru_RU.dic")),
                 QByteArray("2\nмама\nпапа\n"));
        QCOMPARE(readFileBytes(AppSettings::dataPath() + QStringLiteral("/dict/ru_RU.aff")), QByteArray("SET UTF-8\n"));

        // A later start with a new release: the user's templates and dictionary stay as they are,
        // a template the user deleted stays deleted, default_reports follows the shipped files.
        writeFile(AppSettings::dataPath() + QStringLiteral("/dict/ru_RU.dic"), "1\nсвой\n");
        writeFile(reports + QStringLiteral("/id130.mzrpt"), "user's own");
        QFile::remove(reports + QStringLiteral("/id133.mzrpt"));
        writeFile(builtIn + QStringLiteral("/id130.mzrpt"), "{\"v\":10}");
        AppSettings::installDefaultData(dictSource, builtIn);
        QCOMPARE(readFileBytes(AppSettings::dataPath() + QStringLiteral("/dict/ru_RU.dic")), QByteArray("1\nсвой\n"));
        QCOMPARE(readFileBytes(reports + QStringLiteral("/id130.mzrpt")), QByteArray("user's own"));
        QVERIFY(!QFileInfo::exists(reports + QStringLiteral("/id133.mzrpt")));
        QCOMPARE(readFileBytes(defaults + QStringLiteral("/id130.mzrpt")), QByteArray("{\"v\":10}"));
        QCOMPARE(readFileBytes(defaults + QStringLiteral("/id133.mzrpt")), QByteArray("{\"v\":2}"));
    }

    void relocatedDataFolderIsSeededToo() {
        TestEnvironment env;
        const QString builtIn = env.root() + QStringLiteral("/builtin");
        writeFile(builtIn + QStringLiteral("/id139.mzrpt"), "{}");
        const QString relocated = env.root() + QStringLiteral("/shared");
        setUserValue(Keys::dataPath, relocated);
        AppSettings::setup();
        AppSettings::installDefaultData(env.root() + QStringLiteral("/nodict"), builtIn);
        QVERIFY(QFileInfo::exists(relocated + QStringLiteral("/reports/id139.mzrpt")));
        QVERIFY(QFileInfo::exists(env.defaultDataFolder() + QStringLiteral("/default_reports/id139.mzrpt")));
        QVERIFY(!QFileInfo::exists(env.defaultDataFolder() + QStringLiteral("/reports")));
        QVERIFY(!QFileInfo::exists(relocated + QStringLiteral("/dict")));
    }
};

ORVANE_TEST(TestAppSettings)
#include "tst_appsettings.moc"
