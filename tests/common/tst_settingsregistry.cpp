#include "appkeys.h"
#include "appsettings.h"
#include "designerkeys.h"
#include "settingsregistry.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

namespace {
QList<const SettingKey*> everyKey() {
    return Keys::all() + Keys::designer();
}

const SettingKey* keyNamed(const QString& name) {
    for (const SettingKey* key : everyKey())
        if (QLatin1String(key->name) == name)
            return key;
    return nullptr;
}

QString storeFile(const TestEnvironment& env, const QString& store) {
    return (store == QLatin1String("user") ? env.userFolder() : env.defaultDataFolder()) +
           QStringLiteral("/settings.ini");
}

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}
} // namespace

class TestSettingsRegistry : public QObject {
    Q_OBJECT

private slots:
    // The files keep the layout earlier versions wrote: group, key name and value form.
    void storedWhereEarlierVersionsStoredIt_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QVariant>("written");
        QTest::addColumn<QString>("store");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("text in the program's group")
            << "Orvane/last_started_version" << QStringList() << QVariant(QStringLiteral("0.7.3")) << "user"
            << QByteArray("[Orvane]\nlast_started_version=0.7.3\n");
        QTest::newRow("Cyrillic folder") << "Orvane/dataPath" << QStringList() << QVariant(QStringLiteral("/Данные"))
                                         << "user" << QByteArray("[Orvane]\ndataPath=/Данные\n");
        QTest::newRow("dialog geometry") << "Orvane/%1Geometry" << QStringList{"EditDialog"}
                                         << QVariant(QByteArray("geom")) << "user"
                                         << QByteArray("[Orvane]\nEditDialogGeometry=@ByteArray(geom)\n");
        QTest::newRow("column width") << "Orvane/Table_geometry_%1_column_%2_width" << QStringList{"docs", "3"}
                                      << QVariant(120) << "user"
                                      << QByteArray("[Orvane]\nTable_geometry_docs_column_3_width=120\n");
        QTest::newRow("own group") << "SpellChecker/enabled" << QStringList() << QVariant(false) << "user"
                                   << QByteArray("[SpellChecker]\nenabled=false\n");
        QTest::newRow("data store, no group") << "HideZeroInDate" << QStringList() << QVariant(true) << "data"
                                              << QByteArray("[General]\nHideZeroInDate=true\n");
        QTest::newRow("number given as text")
            << "Proxy/port" << QStringList() << QVariant("3128") << "data" << QByteArray("[Proxy]\nport=3128\n");
        // The web addresses stand where docs/user-guide.md tells an administrator to type them.
        QTest::newRow("update server") << "Updates/url" << QStringList()
                                       << QVariant("https://school.example/po/last_version.xml") << "data"
                                       << QByteArray("[Updates]\nurl=https://school.example/po/last_version.xml\n");
        QTest::newRow("support forum") << "Forum/url" << QStringList() << QVariant("https://school.example/forum/")
                                       << "data" << QByteArray("[Forum]\nurl=https://school.example/forum/\n");
    }

    void storedWhereEarlierVersionsStoredIt() {
        QFETCH(QString, name);
        QFETCH(QStringList, args);
        QFETCH(QVariant, written);
        QFETCH(QString, store);
        QFETCH(QByteArray, file);
        TestEnvironment env;
        const SettingKey* key = keyNamed(name);
        QVERIFY(key);
        SettingsRegistry* registry = SettingsRegistry::instance();
        QCOMPARE(registry->value(*key, args), key->defaultValue);

        QVERIFY(registry->setValue(*key, written, args));
        AppSettings::userSettings()->sync();
        AppSettings::dataSettings()->sync();
        QCOMPARE(readFileBytes(storeFile(env, store)), file);
        QVERIFY(written.convert(key->type));
        QCOMPARE(registry->value(*key, args), written);
    }

    // A hand-edited or damaged file, or arguments that do not fit the name, give the default;
    // arguments are taken literally.
    void defaultWhenUnusable_data() {
        QTest::addColumn<QString>("store");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("not a bool") << "data" << QByteArray("[General]\nHideZeroInDate=maybe\n") << "HideZeroInDate"
                                    << QStringList() << QVariant(false);
        QTest::newRow("a number as a bool") << "user" << QByteArray("[Orvane]\nshowBanner=0\n") << "Orvane/showBanner"
                                            << QStringList() << QVariant(false);
        QTest::newRow("not a number") << "user" << QByteArray("[Orvane]\nTable_geometry_d_column_1_width=wide\n")
                                      << "Orvane/Table_geometry_%1_column_%2_width" << QStringList{"d", "1"}
                                      << QVariant(-1);
        QTest::newRow("a list for a text") << "user" << QByteArray("[Orvane]\ndataPath=/a, /b\n") << "Orvane/dataPath"
                                           << QStringList() << QVariant(QString());
        QTest::newRow("argument missing")
            << "user" << QByteArray("[Orvane]\nTable_geometry_d_column__width=5\n")
            << "Orvane/Table_geometry_%1_column_%2_width" << QStringList{"d"} << QVariant(-1);
        QTest::newRow("argument too many") << "user" << QByteArray("[Orvane]\nxGeometry=@ByteArray(g)\n")
                                           << "Orvane/%1Geometry" << QStringList{"x", "y"} << QVariant(QByteArray());
        QTest::newRow("argument taken literally")
            << "user" << QByteArray("[Orvane]\nTable_geometry_a%252_column_1_width=7\n")
            << "Orvane/Table_geometry_%1_column_%2_width" << QStringList{"a%2", "1"} << QVariant(7);
        QTest::newRow("damaged value") << "user"
                                       << QByteArray("[ReportWindow]\ncurrentPath=@Variant(\\0\\0\\0\\x7f\\0)\n")
                                       << "ReportWindow/currentPath" << QStringList() << QVariant(QStringLiteral("."));
    }

    void defaultWhenUnusable() {
        QFETCH(QString, store);
        QFETCH(QByteArray, content);
        QFETCH(QString, name);
        QFETCH(QStringList, args);
        QFETCH(QVariant, expected);
        TestEnvironment env;
        writeFile(storeFile(env, store), content);
        const SettingKey* key = keyNamed(name);
        QVERIFY(key);
        QCOMPARE(SettingsRegistry::instance()->value(*key, args), expected);
    }

    void changedOnlyOnRealChange() {
        TestEnvironment env;
        SettingsRegistry* registry = SettingsRegistry::instance();
        QSignalSpy spy(registry, &SettingsRegistry::changed);
        QVERIFY(registry->setValue(Keys::showBanner, true));
        QCOMPARE(spy.count(), 0);
        QVERIFY(registry->setValue(Keys::showBanner, false));
        QVERIFY(registry->setValue(Keys::showBanner, false));
        QVERIFY(!registry->setValue(Keys::showBanner, QStringLiteral("maybe")));
        QVERIFY(!registry->setValue(Keys::tableColumnWidth, 5, {QStringLiteral("docs")}));
        QVERIFY(registry->remove(Keys::showBanner));
        QVERIFY(registry->remove(Keys::showBanner));
        QVERIFY(registry->setValue(Keys::tableColumnWidth, 5, {QStringLiteral("docs"), QStringLiteral("2")}));
        const QStringList names{spy.value(0).value(0).toString(), spy.value(1).value(0).toString(),
                                spy.value(2).value(0).toString()};
        QCOMPARE(spy.count(), 3);
        QCOMPARE(names,
                 QStringList({"Orvane/showBanner", "Orvane/showBanner", "Orvane/Table_geometry_docs_column_2_width"}));
        QCOMPARE(registry->value(Keys::showBanner), QVariant(true));
    }

    // Every database construction sets the stores up again; a relocated data folder is used at once.
    void followsTheStoresAcrossSetUps() {
        TestEnvironment env;
        SettingsRegistry* registry = SettingsRegistry::instance();
        QVERIFY(registry->setValue(Keys::hideZeroInDate, true));
        const QString relocated = env.root() + QStringLiteral("/relocated");
        QVERIFY(registry->setValue(Keys::dataPath, relocated));
        AppSettings::setup();
        QCOMPARE(AppSettings::dataPath(), relocated);
        QCOMPARE(registry->value(Keys::hideZeroInDate), QVariant(false));
        QVERIFY(registry->setValue(Keys::proxyHostName, QStringLiteral("proxy.local")));
        AppSettings::dataSettings()->sync();
        QCOMPARE(readFileBytes(relocated + QStringLiteral("/settings.ini")),
                 QByteArray("[Proxy]\nhostName=proxy.local\n"));

        // Released at shutdown and asked again: the stores are set up anew, not lost.
        AppSettings::release();
        QCOMPARE(registry->value(Keys::proxyHostName), QVariant(QStringLiteral("proxy.local")));
        QCOMPARE(registry->value(Keys::dataPath), QVariant(relocated));
    }

    void keysAreConsistent() {
        QSet<QString> names;
        for (const SettingKey* key : everyKey()) {
            const QString name = QString::number(int(key->store)) + QLatin1String(key->name);
            QVERIFY2(!names.contains(name), key->name);
            names.insert(name);
            QVERIFY2(key->defaultValue.userType() == key->type, key->name);
        }
    }
};

ORVANE_TEST(TestSettingsRegistry)
#include "tst_settingsregistry.moc"
