#include "legacypasswordfixture.h"
#include "legacypasswords.h"
#include "passwordkeyring.h"
#include "scratchfilesystem.h"
#include "testregistry.h"

#include <QtTest>

// The tests' session bus leads nowhere (testmain): this is a desktop without a keyring.
class TestNoKeyring : public QObject {
    Q_OBJECT

private slots:
    void everyCallSaysWhy() {
        const QString clerkText = QStringLiteral("Хранилище паролей рабочего стола недоступно");
        QString reason;
        QVERIFY(!PasswordKeyring::available(&reason));
        QVERIFY2(reason.startsWith(clerkText) && reason.contains(QLatin1Char('\n')), qPrintable(reason));
        QString password = QStringLiteral("stale");
        QString error;
        QVERIFY(!PasswordKeyring::read(QStringLiteral("k"), &password, &error));
        QVERIFY(password.isEmpty());
        QVERIFY2(error.startsWith(clerkText), qPrintable(error));
        error.clear();
        QVERIFY(!PasswordKeyring::write(QStringLiteral("k"), QStringLiteral("p"), &error));
        QVERIFY2(error.startsWith(clerkText), qPrintable(error));
        error.clear();
        QVERIFY(!PasswordKeyring::remove(QStringLiteral("k"), &error));
        QVERIFY2(error.startsWith(clerkText), qPrintable(error));
    }

    // Nowhere to move it: the scrambled password leaves the file all the same, is no longer
    // remembered, and the next connection asks for it.
    void scrambledPasswordDropped_data() {
        QTest::addColumn<bool>("remember");
        QTest::newRow("remembered") << true;
        QTest::newRow("not remembered") << false;
    }
    void scrambledPasswordDropped() {
        QFETCH(bool, remember);
        LegacyPasswordFixture legacy(remember);
        ServerSettings::moveScrambledPassword();
        QCOMPARE(LegacyPasswords::move(Keys::proxyPassword, QStringLiteral("proxy"), true),
                 LegacyPasswords::Outcome::Dropped);
        QVERIFY(!legacy.fileHoldsServerPassword());
        QVERIFY(!legacy.fileHoldsProxyPassword());
        QVERIFY(!ServerSettings::remembersPassword());
        QVERIFY(ServerSettings::address().password.isEmpty());
        QCOMPARE(ServerSettings::address().host, legacy.address.host);
    }

    // A settings file that takes no writes keeps the password where it was; said so, nothing lost.
    void fileNotWritable() {
        LegacyPasswordFixture legacy(true);
        ScratchFileSystem folder(legacy.env.root() + QStringLiteral("/scratch"), 1 << 20);
        if (!folder.canBeReadOnly())
            QSKIP("writes cannot be refused here");
        const QString file = folder.path() + QStringLiteral("/settings.ini");
        QVERIFY(QFile::copy(legacy.settingsFile(), file));
        AppSettings::setDataPathOverride(folder.path());
        auto restore = qScopeGuard([&folder] {
            folder.setReadOnly(false);
            AppSettings::setDataPathOverride(QString());
        });
        QVERIFY(folder.setReadOnly(true));
        QString why;
        QCOMPARE(LegacyPasswords::move(Keys::databasePassword, QStringLiteral("k"), true, &why),
                 LegacyPasswords::Outcome::FileKept);
        QVERIFY2(why.contains(QStringLiteral("Не удалось убрать пароль из файла настроек")), qPrintable(why));
        QVERIFY(LegacyPasswordFixture::fileHolds(file, LegacyPasswordFixture::serverPassword()));
    }
};

ORVANE_TEST(TestNoKeyring)

#include "tst_nokeyring.moc"
