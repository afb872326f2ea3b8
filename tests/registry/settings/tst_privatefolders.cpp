#include "appkeys.h"
#include "appsettings.h"
#include "database.h"
#include "registrybackup.h"
#include "settingsregistry.h"
#include "testdatabase.h"
#include "testregistry.h"

#include <QtTest>
#include <sys/stat.h>

namespace {
int modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}
} // namespace

// Who may read the registry and the settings: the user alone in the default folders, whatever an
// administrator's shared data folder allows elsewhere.
class TestPrivateFolders : public QObject {
    Q_OBJECT

private slots:
    // Group-readable files are what the shared folder is to show: the process starts with the
    // usual mask, as a desktop session gives it.
    void initTestCase() { ::umask(022); }

    void createdFiles_data() {
        QTest::addColumn<bool>("shared");
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<int>("fileMode");
        QTest::newRow("default data folder") << false << 0700 << 0600;
        QTest::newRow("administrator's folder") << true << 02775 << 0644;
    }
    void createdFiles() {
        QFETCH(bool, shared);
        QFETCH(int, folderMode);
        QFETCH(int, fileMode);
        TestDatabase data;
        const QString sharedFolder = data.env().root() + QStringLiteral("/shared");
        if (shared) {
            QVERIFY(QDir().mkpath(sharedFolder));
            QCOMPARE(::chmod(QFile::encodeName(sharedFolder).constData(), mode_t(folderMode)), 0);
            AppSettings::setDataPathOverride(sharedFolder);
        }
        auto restore = qScopeGuard([] { AppSettings::setDataPathOverride(QString()); });
        AppSettings::setup();
        const QString folder = AppSettings::dataPath();
        QCOMPARE(QFileInfo(folder).canonicalFilePath(),
                 QFileInfo(shared ? sharedFolder : data.env().defaultDataFolder()).canonicalFilePath());

        QVERIFY(SettingsRegistry::instance()->setValue(Keys::hideZeroInDate, true));
        QVERIFY(SettingsRegistry::instance()->setValue(Keys::showToolBar, false));
        AppSettings::dataSettings()->sync();
        AppSettings::userSettings()->sync();
        Database* db = data.open();
        QVERIFY(db && db->isValid());
        QString error;
        const QString copy = folder + QStringLiteral("/copy.db");
        QVERIFY2(RegistryBackup(*db).backup(copy, &error), qPrintable(error));

        QCOMPARE(modeOf(folder), folderMode);
        // The user's own settings folder is private wherever the data are.
        QCOMPARE(modeOf(data.env().userFolder()), 0700);
        if (!shared)
            QCOMPARE(modeOf(AppSettings::userSettings()->fileName()), 0600);
        for (const QString& file : {AppSettings::dataSettings()->fileName(), Database::filePath(), copy})
            QVERIFY2(modeOf(file) == fileMode, qPrintable(QStringLiteral("%1: %2").arg(file).arg(modeOf(file), 0, 8)));
    }
};

ORVANE_TEST(TestPrivateFolders)

#include "tst_privatefolders.moc"
