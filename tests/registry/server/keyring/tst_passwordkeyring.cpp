#include "legacypasswordfixture.h"
#include "legacypasswords.h"
#include "passwordkeyring.h"
#include "testregistry.h"

#include <QtTest>

// Runs against a real Secret Service: tests/common/with-keyring.sh gives the process a private
// session bus and an unlocked GNOME keyring.
class TestPasswordKeyring : public QObject {
    Q_OBJECT

    static QString stored(const QString& key) {
        QString password;
        QString error;
        if (!PasswordKeyring::read(key, &password, &error))
            return QStringLiteral("<read failed: %1>").arg(error);
        return password;
    }

private slots:
    void initTestCase() {
        if (!qEnvironmentVariableIsSet("ORVANE_TEST_KEYRING"))
            QSKIP("needs a keyring: run through tests/common/with-keyring.sh");
        QString reason;
        QVERIFY2(PasswordKeyring::available(&reason), qPrintable(reason));
        QVERIFY(reason.isEmpty());
    }

    void roundTrip_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QStringList>("passwords"); // written one after the other
        QTest::newRow("plain") << "database/postgresql://clerk@db:5432/reg" << QStringList{"secret"};
        QTest::newRow("cyrillic, separators")
            << "database/postgresql://клерк@сервер:5433/реестр" << QStringList{"пароль: \"1\"; 2\n3"};
        QTest::newRow("replaced") << "proxy" << QStringList{"first", "second, longer than the first"};
        QTest::newRow("long") << "long" << QStringList{QString(4096, QLatin1Char('x'))};
    }
    void roundTrip() {
        QFETCH(QString, key);
        QFETCH(QStringList, passwords);
        QString error;
        for (const QString& password : passwords) {
            QVERIFY2(PasswordKeyring::write(key, password, &error), qPrintable(error));
            QCOMPARE(stored(key), password);
        }
        QVERIFY2(PasswordKeyring::remove(key, &error), qPrintable(error));
        QCOMPARE(stored(key), QString());
        // Gone already: still no failure.
        QVERIFY2(PasswordKeyring::remove(key, &error), qPrintable(error));
    }

    // Remembered, the password lives in the keyring under its address; forgotten or moved to another
    // server, nothing is left behind; the settings file never holds it.
    void serverPassword() {
        TestEnvironment env;
        AppSettings::setup();
        auto release = qScopeGuard([] { AppSettings::release(); });
        ServerAddress address;
        address.host = QStringLiteral("db.college.local");
        address.database = QStringLiteral("реестр");
        address.user = QStringLiteral("clerk");
        address.password = QStringLiteral("пароль:1");
        QString error;
        QVERIFY2(ServerSettings::save(address, true, &error), qPrintable(error));
        QCOMPARE(ServerSettings::address(), address);
        QCOMPARE(stored(ServerSettings::keyringKey(address)), address.password);
        const QByteArray file = readFileBytes(AppSettings::dataSettings()->fileName());
        QVERIFY(!file.contains("password="));

        ServerAddress moved = address;
        moved.host = QStringLiteral("db2.college.local");
        QVERIFY(ServerSettings::save(moved, true, &error));
        QCOMPARE(stored(ServerSettings::keyringKey(address)), QString());
        QCOMPARE(stored(ServerSettings::keyringKey(moved)), moved.password);

        QVERIFY(ServerSettings::save(moved, false, &error));
        QCOMPARE(stored(ServerSettings::keyringKey(moved)), QString());
        QVERIFY(ServerSettings::address().password.isEmpty());
    }

    void moveScrambled_data() {
        QTest::addColumn<bool>("remember");
        QTest::addColumn<bool>("serverKept");
        QTest::newRow("remembered: into the keyring") << true << true;
        QTest::newRow("not to be remembered: only out of the file") << false << false;
    }
    void moveScrambled() {
        QFETCH(bool, remember);
        QFETCH(bool, serverKept);
        LegacyPasswordFixture legacy(remember);
        const QString serverKey = ServerSettings::keyringKey(legacy.address);
        QVERIFY(PasswordKeyring::remove(serverKey, nullptr));

        ServerSettings::moveScrambledPassword();
        QCOMPARE(LegacyPasswords::move(Keys::proxyPassword, QStringLiteral("proxy"), true),
                 LegacyPasswords::Outcome::Moved);
        QVERIFY(!legacy.fileHoldsServerPassword());
        QVERIFY(!legacy.fileHoldsProxyPassword());
        QCOMPARE(stored(serverKey), serverKept ? LegacyPasswordFixture::serverPassword() : QString());
        QCOMPARE(stored(QStringLiteral("proxy")), LegacyPasswordFixture::proxyPassword());
        QCOMPARE(ServerSettings::remembersPassword(), remember);
        QCOMPARE(ServerSettings::address().password, serverKept ? LegacyPasswordFixture::serverPassword() : QString());
        // Once moved, a second start finds nothing to move.
        QCOMPARE(LegacyPasswords::move(Keys::databasePassword, serverKey, remember),
                 LegacyPasswords::Outcome::NoneStored);
        PasswordKeyring::remove(serverKey, nullptr);
        PasswordKeyring::remove(QStringLiteral("proxy"), nullptr);
    }
};

ORVANE_TEST(TestPasswordKeyring)

#include "tst_passwordkeyring.moc"
