#include "appkeys.h"
#include "localhttpserver.h"
#include "messagebox.h"
#include "updater.h"
#include "settingsregistry.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTcpServer>
#include <QWidget>
#include <QtTest>
#include <memory>

namespace {
const QString docPath = QStringLiteral("/po/last_version.xml");
const QString title = QStringLiteral("Проверка обновлений");
const QString noConnection = QStringLiteral("Не удалось подключиться к серверу обновлений");
const QString parseError = QStringLiteral("Что-то пошло не так.");
const QString notVersionFile = QStringLiteral("Что-то пошло не так...");
const QString badVersion = QStringLiteral("Что-то пошло не так..");
const QString latest = QStringLiteral("Установлена последняя версия программы.");
const QString newVersion =
    QStringLiteral("Доступна новая версия. \nСсылка для скачивания будет открыта в вашем браузере.");
const QString link = QStringLiteral("https://example.org/setup.exe");
const QString link64 = QStringLiteral("https://example.org/setup64.exe");

// Collects the program's diagnostic lines while it lives.
class LogCatcher {
public:
    explicit LogCatcher(QStringList* lines) {
        _lines = lines;
        _previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { _lines->append(text); });
    }
    ~LogCatcher() {
        qInstallMessageHandler(_previous);
        _lines = nullptr;
    }

private:
    static inline QStringList* _lines = nullptr;
    QtMessageHandler _previous;
};

// A version document of the program (the running one is 0.7.3).
QByteArray versionDoc(const QString& version, const QString& links = QString()) {
    return QStringLiteral("<?xml version=\"1.0\"?>\n<mz-versions><Other><lastVersion>9.9.9</lastVersion></Other>"
                          "<Orvane><lastVersion>%1</lastVersion>%2</Orvane></mz-versions>")
        .arg(version, links.isNull() ? QStringLiteral("<downloadLink>%1</downloadLink>").arg(link) : links)
        .toUtf8();
}
} // namespace

// Stands in for the browser: collects what the program asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

class TestUpdater : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> _env;
    std::unique_ptr<LocalHttpServer> _server;
    std::unique_ptr<UrlCatcher> _browser;
    const QStringList _schemes{"http", "https", "file", "javascript"};

    // Runs one check against the server and returns its single answer as ("ready"|"error", text).
    QPair<QString, QString> answer() {
        auto* updater = new Updater;
        QSignalSpy ready(updater, &Updater::updateIsReady);
        QSignalSpy failed(updater, &Updater::updatingError);
        QPointer<Updater> alive(updater);
        [&] { QTRY_VERIFY_WITH_TIMEOUT(alive.isNull(), 10000); }();
        if (ready.size() + failed.size() != 1)
            return {QStringLiteral("answers"), QString::number(ready.size() + failed.size())};
        return ready.isEmpty() ? qMakePair(QStringLiteral("error"), failed.at(0).at(0).toString())
                               : qMakePair(QStringLiteral("ready"), ready.at(0).at(0).toString());
    }

private slots:
    void init() {
        _env = std::make_unique<TestEnvironment>();
        _server = std::make_unique<LocalHttpServer>();
        QVERIFY(_server->start());
        SettingsRegistry::instance()->setValue(Keys::updatesUrl, _server->url(docPath).toString());
        _browser = std::make_unique<UrlCatcher>();
        for (const QString& scheme : _schemes)
            QDesktopServices::setUrlHandler(scheme, _browser.get(), "open");
        MessageBox::clearShown();
        MessageBox::setAutoAnswer(QMessageBox::Cancel);
    }
    void cleanup() {
        for (const QString& scheme : _schemes)
            QDesktopServices::unsetUrlHandler(scheme);
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
        MessageBox::clearShown();
        Updater::setTimeoutMs(Updater::defaultTimeoutMs);
        _server.reset();
        _env.reset();
    }

    void checks_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        const QString ready = QStringLiteral("ready"), error = QStringLiteral("error");
        QTest::newRow("newer patch") << versionDoc("0.7.4") << 200 << ready << link;
        QTest::newRow("newer minor") << versionDoc("0.8.0") << 200 << ready << link;
        QTest::newRow("newer major") << versionDoc("1.0.0") << 200 << ready << link;
        QTest::newRow("equal") << versionDoc("0.7.3") << 200 << error << latest;
        QTest::newRow("older, greater patch") << versionDoc("0.6.9") << 200 << error << latest;
        QTest::newRow("blanks around numbers") << versionDoc(" 0 . 7 . 4\n") << 200 << ready << link;
        QTest::newRow("two parts") << versionDoc("0.8") << 200 << error << badVersion;
        QTest::newRow("four parts") << versionDoc("0.8.0.1") << 200 << error << badVersion;
        QTest::newRow("not numbers") << versionDoc("a.b.c") << 200 << error << badVersion;
        QTest::newRow("negative") << versionDoc("0.8.-1") << 200 << error << badVersion;
        QTest::newRow("259 wraps to 3") << versionDoc("0.7.259") << 200 << error << latest;
        QTest::newRow("263 wraps to 7") << versionDoc("0.263.3") << 200 << error << latest;
        QTest::newRow("260 wraps to 4") << versionDoc("0.7.260") << 200 << ready << link;
        QTest::newRow("enormous wraps to 255") << versionDoc("0.7." + QString(40, '9')) << 200 << ready << link;
        QTest::newRow("missing product element")
            << QByteArray("<mz-versions><Other><lastVersion>1.0.0</lastVersion></Other></mz-versions>") << 200 << error
            << badVersion;
        QTest::newRow("later product element wins")
            << QByteArray("<mz-versions><Orvane><lastVersion>0.9.0</lastVersion><downloadLink>http://a/1</downloadLink>"
                          "</Orvane><Orvane><lastVersion>0.7.3</lastVersion></Orvane></mz-versions>")
            << 200 << error << latest;
        QTest::newRow("parse error") << QByteArray("<mz-versions><Orvane>") << 200 << error << parseError;
        QTest::newRow("empty reply") << QByteArray() << 200 << error << parseError;
        QTest::newRow("deep nesting") << QByteArray("<mz-versions>").append(QByteArray("<a>").repeated(200000)) << 200
                                      << error << parseError;
        QTest::newRow("entity expansion")
            << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE mz-versions [<!ENTITY a \"aaaaaaaaaaaaaaaa\">"
                          "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
                          "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
                          "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
                          "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
                          "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">]>"
                          "<mz-versions><Orvane><lastVersion>&f;</lastVersion></Orvane></mz-versions>")
            << 200 << error << parseError;
        QTest::newRow("wrong root") << QByteArray(
                                           "<versions><Orvane><lastVersion>1.0.0</lastVersion></Orvane></versions>")
                                    << 200 << error << notVersionFile;
        QTest::newRow("http error") << versionDoc("1.0.0") << 404 << error << noConnection;
        QTest::newRow("above 1 MB") << versionDoc("1.0.0").append(QByteArray(1024 * 1024, ' ')) << 200 << error
                                    << notVersionFile;
        QTest::newRow("file link") << versionDoc("1.0.0", "<downloadLink>file:///etc/passwd</downloadLink>") << 200
                                   << error << notVersionFile;
        QTest::newRow("script link") << versionDoc("1.0.0", "<downloadLink>javascript:alert(1)</downloadLink>") << 200
                                     << error << notVersionFile;
        const bool is64 = QSysInfo::currentCpuArchitecture().contains("64");
        QTest::newRow("64-bit link")
            << versionDoc("1.0.0", QStringLiteral("<downloadLink>%1</downloadLink><downloadLink64>%2</downloadLink64>")
                                       .arg(link, link64))
            << 200 << ready << (is64 ? link64 : link);
        QTest::newRow("empty 64-bit link")
            << versionDoc("1.0.0", QStringLiteral("<downloadLink>%1</downloadLink><downloadLink64/>").arg(link)) << 200
            << ready << link;
    }
    void checks() {
        QFETCH(QByteArray, reply);
        QFETCH(int, status);
        QFETCH(QString, kind);
        QFETCH(QString, text);
        _server->setReply(docPath, reply, status);
        QCOMPARE(answer(), qMakePair(kind, text));
        QCOMPARE(_server->requestCount(docPath), 1);
    }

    void lyingContentLengthRefused() {
        _server->setRawReply(docPath, "HTTP/1.1 200 OK\r\nContent-Length: 5000000000\r\nConnection: close\r\n\r\n<a>");
        QCOMPARE(answer(), qMakePair(QStringLiteral("error"), notVersionFile));
    }

    void unreachable_data() {
        QTest::addColumn<QString>("address");
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        QTest::newRow("closed port") << QStringLiteral("http://127.0.0.1:%1/po/last_version.xml").arg(port);
        QTest::newRow("file address") << QStringLiteral("file:///etc/hostname");
        QTest::newRow("empty address") << QString();
    }
    void unreachable() {
        QFETCH(QString, address);
        SettingsRegistry::instance()->setValue(Keys::updatesUrl, address);
        QCOMPARE(answer(), qMakePair(QStringLiteral("error"), noConnection));
    }

    void silentServerTimesOut() {
        _server->setSilent(docPath);
        Updater::setTimeoutMs(300);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(answer(), qMakePair(QStringLiteral("error"), noConnection));
        QVERIFY(clock.elapsed() >= 300);
        QVERIFY(clock.elapsed() < 5000);
        QCOMPARE(_server->requestCount(docPath), 1);
    }

    void chooseLink_data() {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("wide");
        QTest::addColumn<QString>("architecture");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("64-bit system") << link << link64 << "x86_64" << link64;
        QTest::newRow("arm64 system") << link << link64 << "arm64" << link64;
        QTest::newRow("32-bit system") << link << link64 << "i386" << link;
        QTest::newRow("no 64-bit link") << link << ""
                                        << "x86_64" << link;
        QTest::newRow("bad 64-bit link") << link << "file:///c:/setup.exe"
                                         << "x86_64" << link;
        QTest::newRow("only a bad link") << "C:\\setup.exe"
                                         << ""
                                         << "x86_64"
                                         << "";
        QTest::newRow("plain http") << "http://example.org/s.exe"
                                    << ""
                                    << "i386"
                                    << "http://example.org/s.exe";
    }
    void chooseLink() {
        QFETCH(QString, plain);
        QFETCH(QString, wide);
        QFETCH(QString, architecture);
        QFETCH(QString, chosen);
        QCOMPARE(Updater::chooseLink(plain, wide, architecture), chosen);
    }

    void openLink_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("opened");
        QTest::newRow("https") << link << true;
        QTest::newRow("http") << "http://example.org/a" << true;
        QTest::newRow("file") << "file:///etc/passwd" << false;
        QTest::newRow("javascript") << "javascript:alert(1)" << false;
        QTest::newRow("local path") << "/usr/bin/xterm" << false;
        QTest::newRow("windows path") << "C:\\Windows\\notepad.exe" << false;
        QTest::newRow("empty") << "" << false;
    }
    void openLink() {
        QFETCH(QString, address);
        QFETCH(bool, opened);
        QCOMPARE(Updater::openLink(address), opened);
        QCOMPARE(_browser->opened, opened ? QList<QUrl>{QUrl(address)} : QList<QUrl>());
    }

    // The window's side: what each kind of check shows and opens.
    void windowSide_data() {
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("reported"); // "icon|text": good news informs, a fault warns
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<bool>("opened");
        const QStringList offer{title + "|Доступна новая версия. Загрузить?"};
        const int yes = QMessageBox::Yes, no = QMessageBox::No;
        const QString information = QString::number(QMessageBox::Information) + "|";
        const QString warning = QString::number(QMessageBox::Warning) + "|";
        QTest::newRow("interactive, newer")
            << false << versionDoc("0.8.0") << yes << QStringList{information + newVersion} << QStringList() << true;
        QTest::newRow("interactive, equal")
            << false << versionDoc("0.7.3") << yes << QStringList{information + latest} << QStringList() << false;
        QTest::newRow("interactive, broken")
            << false << QByteArray("<x") << yes << QStringList{warning + parseError} << QStringList() << false;
        QTest::newRow("silent, newer, yes") << true << versionDoc("0.8.0") << yes << QStringList() << offer << true;
        QTest::newRow("silent, newer, no") << true << versionDoc("0.8.0") << no << QStringList() << offer << false;
        QTest::newRow("silent, equal") << true << versionDoc("0.7.3") << yes << QStringList() << QStringList() << false;
        QTest::newRow("silent, broken") << true << QByteArray("<x") << yes << QStringList() << QStringList() << false;
    }
    void windowSide() {
        QFETCH(bool, silent);
        QFETCH(QByteArray, reply);
        QFETCH(int, answer);
        QFETCH(QStringList, reported);
        QFETCH(QStringList, boxes);
        QFETCH(bool, opened);
        _server->setReply(docPath, reply);
        if (!boxes.isEmpty())
            MessageBox::setNextAnswer(MessageBox::Button(answer));
        QWidget window;
        QStringList reports;
        QPointer<Updater> updater =
            Updater::checkUpdates(&window, silent, [&](const QString& text, const QString& t, QMessageBox::Icon icon) {
                reports << QString::number(icon) + "|" + text;
                QCOMPARE(t, title);
            });
        QTRY_VERIFY(updater.isNull());
        QCoreApplication::sendPostedEvents(); // the window's side runs from the event loop: what it was sent
        QCOMPARE(reports, reported);
        QStringList shown;
        for (const MessageBox::Shown& box : MessageBox::shown())
            shown << box.title + "|" + box.text;
        QCOMPARE(shown, boxes);
        if (!boxes.isEmpty())
            QCOMPARE(MessageBox::lastShown().defaultButton, QMessageBox::Yes);
        QCOMPARE(MessageBox::pendingAnswers(), 0);
        QCOMPARE(_browser->opened, opened ? QList<QUrl>{QUrl(link)} : QList<QUrl>());
    }

    // Until an administrator sets the update server, no check asks anybody: a silent one only
    // logs that, an interactive one says where the address is set.
    void noServerSet_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("silent");
        for (const bool silent : {true, false}) {
            const char* kind = silent ? "silent" : "interactive";
            QTest::addRow("%s, never set", kind) << QString() << silent;
            QTest::addRow("%s, blank", kind) << QStringLiteral("  ") << silent;
            QTest::addRow("%s, no scheme", kind) << QStringLiteral("127.0.0.1/po/last_version.xml") << silent;
            QTest::addRow("%s, local file", kind) << QStringLiteral("file:///etc/hostname") << silent;
        }
    }
    void noServerSet() {
        QFETCH(QString, address);
        QFETCH(bool, silent);
        if (address.isNull())
            SettingsRegistry::instance()->remove(Keys::updatesUrl);
        else
            SettingsRegistry::instance()->setValue(Keys::updatesUrl, address);
        QStringList log;
        LogCatcher catcher(&log);
        QWidget window;
        QStringList reports;
        const Updater* updater =
            Updater::checkUpdates(&window, silent, [&](const QString& text, const QString& t, QMessageBox::Icon icon) {
                reports << text;
                QCOMPARE(t, title);
                QCOMPARE(icon, QMessageBox::Information);
            });
        QVERIFY(!updater);
        QVERIFY(window.findChildren<QObject*>().isEmpty()); // no request object at all
        QTest::qWait(50);                                   // nothing more is to come: time for it to show if it did
        QCOMPARE(reports, silent ? QStringList() : QStringList{Updater::noServerMessage()});
        QVERIFY(MessageBox::shown().isEmpty());
        QCOMPARE(log.filter(QStringLiteral("update check skipped: no update server is set")).size(), int(silent));
        const QString settingsFile = QDir::toNativeSeparators(_env->defaultDataFolder() + "/settings.ini");
        QVERIFY2(Updater::noServerMessage().startsWith(QStringLiteral("Сервер обновлений не задан.")),
                 qPrintable(Updater::noServerMessage()));
        QVERIFY(Updater::noServerMessage().contains("[Updates]") &&
                Updater::noServerMessage().contains("\n" + settingsFile + "\n"));
        QCOMPARE(_server->requestCount(docPath), 0);
    }
};

ORVANE_TEST(TestUpdater)
#include "tst_updater.moc"
