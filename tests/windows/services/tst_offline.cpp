#include "appkeys.h"
#include "appsettings.h"
#include "guifixture.h"
#include "messagebox.h"
#include "banner.h"
#include "filedownloader.h"
#include "updater.h"
#include "mainwindow.h"
#include "settingsregistry.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QNetworkProxy>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {
// Stands where every request of the program goes: the program's proxy points here, so whatever
// it asks for, of any host, arrives at this port of the loopback and nothing leaves the machine.
// Each connection is counted and closed at once, so the request fails quickly.
class RequestCounter : public QObject {
public:
    RequestCounter() {
        listening = _server.listen(QHostAddress::LocalHost);
        connect(&_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = _server.nextPendingConnection()) {
                ++requests;
                socket->abort();
                socket->deleteLater();
            }
        });
    }
    quint16 port() const { return _server.serverPort(); }
    // The data store's proxy keys that lead here.
    QByteArray proxySettings() const {
        return QStringLiteral("[Proxy]\nenabled=true\nhostName=127.0.0.1\nport=%1\n").arg(port()).toUtf8();
    }

    bool listening = false;
    int requests = 0;

private:
    QTcpServer _server;
};

// Addresses an administrator might set; ".invalid" names no host anywhere.
const QString updatesAddress = QStringLiteral("http://updates.school.invalid/po/last_version.xml");
const QString bannerAddress = QStringLiteral("http://updates.school.invalid/docs/banners/banner.xml");
const QString siteAddress = QStringLiteral("https://school.invalid/");
const QString forumAddress = QStringLiteral("https://school.invalid/forum/");

void setAddresses(bool set) {
    SettingsRegistry* settings = SettingsRegistry::instance();
    const QList<QPair<const SettingKey*, QString>> keys{{&Keys::updatesUrl, updatesAddress},
                                                        {&Keys::bannerUrl, bannerAddress},
                                                        {&Keys::siteUrl, siteAddress},
                                                        {&Keys::forumUrl, forumAddress}};
    for (const auto& key : keys) {
        if (set)
            settings->setValue(*key.first, key.second);
        else
            settings->remove(*key.first);
    }
}

// The real program, killed when the test ends however it ends.
struct RunningProgram {
    std::unique_ptr<QProcess> process;
    ~RunningProgram() {
        if (process && process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
};
} // namespace

class TestOffline : public QObject {
    Q_OBJECT

private slots:
    // A request through a proxy that hangs up is retried until its time is up: shortened here.
    void init() {
        FileDownloader::setTimeoutMs(1000);
        Updater::setTimeoutMs(1000);
    }
    void cleanup() {
        QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        FileDownloader::setTimeoutMs(FileDownloader::defaultTimeoutMs);
        Updater::setTimeoutMs(Updater::defaultTimeoutMs);
    }

    // The main window over a fresh data folder asks no server anything, offers no way to the
    // maker's site or forum and says where an update server is set; once an administrator has
    // set the addresses, the same window does reach them (so the counter would have seen it).
    void mainWindow_data() {
        QTest::addColumn<bool>("addressesSet");
        QTest::newRow("fresh data folder") << false;
        QTest::newRow("addresses set") << true;
    }
    void mainWindow() {
        QFETCH(bool, addressesSet);
        GuiFixture f;
        RequestCounter counter;
        QVERIFY(counter.listening);
        SettingsRegistry* settings = SettingsRegistry::instance();
        settings->setValue(Keys::proxyEnabled, true);
        settings->setValue(Keys::proxyHostName, QStringLiteral("127.0.0.1"));
        settings->setValue(Keys::proxyPort, counter.port());
        setAddresses(addressesSet);
        auto* window = f.build<MainWindow>();
        QTRY_VERIFY(f.widget<QAction>(QStringLiteral("actionShowToolbar"))->isChecked()); // settings loaded

        auto* banner = window->findChild<Banner*>();
        QVERIFY(banner && banner->isDocumentHandled() == !addressesSet);
        QTRY_VERIFY(banner->isDocumentHandled());
        QTRY_COMPARE(banner->shownLabels().size(), 1);
        QCOMPARE(banner->shownLabels().first()->toolTip(), addressesSet ? siteAddress : QString());
        auto* forum = f.widget<QAction>(QStringLiteral("actionForumUrl"));
        QCOMPARE(forum->isVisible(), addressesSet);
        QCOMPARE(forum->associatedWidgets().size(), 1);
        QCOMPARE(qobject_cast<QMenu*>(forum->associatedWidgets().first())->menuAction()->isVisible(), addressesSet);

        QTRY_VERIFY(window->hasExportLayout(QStringLiteral("FRDO"))); // the silent check has gone out, if it goes,
        QTRY_VERIFY(!window->findChild<Updater*>());                  // and come back
        const int before = counter.requests;
        QCOMPARE(before > 0, addressesSet);
        MessageBox::clearShown();
        QVERIFY(f.trigger(QStringLiteral("actionCheckUpdates")));
        if (addressesSet) {
            QTRY_VERIFY(counter.requests > before);
            QTRY_COMPARE(MessageBox::shown().size(), 1);
            QCOMPARE(MessageBox::lastShown().text, QStringLiteral("Не удалось подключиться к серверу обновлений"));
            QCOMPARE(MessageBox::lastShown().icon, QMessageBox::Warning);
        } else {
            QCOMPARE(MessageBox::shown().size(), 1);
            QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Проверка обновлений"));
            QCOMPARE(MessageBox::lastShown().text, Updater::noServerMessage());
            QCOMPARE(MessageBox::lastShown().icon, QMessageBox::Information);
            QTest::qWait(300); // nothing may go out: time for it to show if it did
            QCOMPARE(counter.requests, 0);
        }
    }

    // The real program started on a fresh data folder sends nothing anywhere; the same program
    // with the addresses set does, through the same proxy (so nothing would have slipped by).
    void realProgram_data() {
        QTest::addColumn<bool>("addressesSet");
        QTest::newRow("fresh data folder") << false;
        QTest::newRow("addresses set") << true;
    }
    void realProgram() {
        QFETCH(bool, addressesSet);
        TestEnvironment env;
        RequestCounter counter;
        QVERIFY(counter.listening);
        QByteArray store = counter.proxySettings();
        if (addressesSet)
            store +=
                QStringLiteral("[Updates]\nurl=%1\n[Banner]\nurl=%2\n").arg(updatesAddress, bannerAddress).toUtf8();
        QVERIFY(QDir().mkpath(env.defaultDataFolder()));
        QFile file(env.defaultDataFolder() + QStringLiteral("/settings.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(store) == store.size());
        file.close();
        QTemporaryDir privateTemp; // a single-instance guard of its own
        RunningProgram program{startProgram(env, {QStringLiteral("TMPDIR=") + privateTemp.path()})};
        QVERIFY(program.process->waitForStarted());
        const QString log = env.userFolder() + QStringLiteral("/debug.txt");
        QTRY_VERIFY_WITH_TIMEOUT(readFileBytes(log).contains("Updates checked"), 30000);
        if (addressesSet) {
            QTRY_VERIFY_WITH_TIMEOUT(counter.requests >= 2, 10000);
        } else {
            QTest::qWait(1000); // nothing may go out: time for it to show if it did
            QCOMPARE(counter.requests, 0);
            const QByteArray written = readFileBytes(log);
            QVERIFY(written.contains("update check skipped: no update server is set"));
            QVERIFY(written.contains("no banner address is set"));
        }
        QCOMPARE(program.process->state(), QProcess::Running);
    }
};

ORVANE_TEST(TestOffline)
#include "tst_offline.moc"
