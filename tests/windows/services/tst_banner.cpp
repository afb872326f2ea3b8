#include "appkeys.h"
#include "appsettings.h"
#include "localhttpserver.h"
#include "banner.h"
#include "filedownloader.h"
#include "settingsregistry.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QBuffer>
#include <QDesktopServices>
#include <QImage>
#include <QLabel>
#include <QMovie>
#include <QTcpServer>
#include <QtTest>
#include <memory>

namespace {
// The school's own site, which an administrator set as "Site/url".
const QString builtInLink = QStringLiteral("https://school.example/");

void appendLe16(QByteArray& bytes, int value) {
    bytes.append(char(value & 0xff)).append(char((value >> 8) & 0xff));
}

// A one-colour GIF of any size (Qt reads GIFs but cannot write them). Every two pixels the LZW
// table is cleared, so that all codes stay three bits wide.
QByteArray gif(int width, int height) {
    QByteArray bytes("GIF89a");
    appendLe16(bytes, width);
    appendLe16(bytes, height);
    bytes.append("\x80\x00\x00", 3).append("\x20\x60\xa0\xff\xff\xff", 6);
    bytes.append('\x2c');
    appendLe16(bytes, 0);
    appendLe16(bytes, 0);
    appendLe16(bytes, width);
    appendLe16(bytes, height);
    bytes.append('\0').append('\x02');
    QByteArray data;
    quint32 buffer = 0;
    int bits = 0;
    auto put = [&](int code) {
        buffer |= quint32(code) << bits;
        for (bits += 3; bits >= 8; bits -= 8, buffer >>= 8)
            data.append(char(buffer & 0xff));
    };
    for (int pixel = 0; pixel < width * height; ++pixel) {
        if (pixel % 2 == 0)
            put(4);
        put(0);
    }
    put(5);
    if (bits > 0)
        data.append(char(buffer & 0xff));
    for (int at = 0; at < data.size(); at += 255)
        bytes.append(char(qMin(255, data.size() - at))).append(data.mid(at, 255));
    return bytes.append('\0').append('\x3b');
}

QByteArray png(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

struct Item {
    QString img;
    QString link;
    QString showTime;
};

QByteArray document(const QList<Item>& items, const QString& extra = QString()) {
    QString xml = QStringLiteral("<?xml version=\"1.0\"?>\n<banners>");
    for (const Item& item : items)
        xml += QStringLiteral("<banner><imgUrl>%1</imgUrl><linkUrl>%2</linkUrl><showTime>%3</showTime></banner>")
                   .arg(item.img.toHtmlEscaped(), item.link.toHtmlEscaped(), item.showTime);
    return (xml + extra + QStringLiteral("</banners>")).toUtf8();
}

// A web site of banners and the strip that reads it, over a private settings folder.
struct Site {
    Site() {
        started = server.start();
        SettingsRegistry::instance()->setValue(Keys::siteUrl, builtInLink);
    }
    ~Site() {
        banner.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QString address(const QString& path) const { return server.url(path).toString(); }
    void publish(const QByteArray& xml) { server.setReply(QStringLiteral("/banner.xml"), xml); }
    void picture(const QString& path, const QByteArray& bytes) { server.setReply(path, bytes, 200, "image/gif"); }
    Banner* open(const QString& url = QString()) {
        SettingsRegistry::instance()->setValue(Keys::bannerUrl,
                                               url.isEmpty() ? address(QStringLiteral("/banner.xml")) : url);
        banner = std::make_unique<Banner>();
        banner->resize(800, banner->height());
        banner->show();
        return banner.get();
    }
    // The links of the pictures shown, left to right.
    QStringList shownLinks() const {
        QStringList links;
        for (QLabel* label : banner->shownLabels())
            if (!label->isHidden())
                links << label->toolTip();
        return links;
    }

    TestEnvironment env;
    LocalHttpServer server;
    bool started = false;
    std::unique_ptr<Banner> banner;
};

// Stands in for the desktop's browser.
class Browser : public QObject {
    Q_OBJECT
public:
    explicit Browser(const QStringList& schemes) : _schemes(schemes) {
        for (const QString& scheme : _schemes)
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~Browser() override {
        for (const QString& scheme : _schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }

private:
    QStringList _schemes;
};
} // namespace

class TestBanner : public QObject {
    Q_OBJECT

private slots:
    void stripHeight_data() {
        QTest::addColumn<QString>("limits");
        QTest::addColumn<int>("height");
        QTest::newRow("none visible") << "<visibleBannersCount>0</visibleBannersCount>" << 0;
        QTest::newRow("two visible") << "<maxHeight>80</maxHeight><visibleBannersCount>2</visibleBannersCount>" << 80;
        QTest::newRow("enormous numbers")
            << "<maxHeight>99999999999999</maxHeight><visibleBannersCount>70000</visibleBannersCount>" << 100;
        QTest::newRow("too tall") << "<maxHeight>5000</maxHeight>" << Banner::maxStripHeight;
        QTest::newRow("not numbers") << "<maxHeight>-4</maxHeight><visibleBannersCount>x</visibleBannersCount>" << 100;
    }
    void stripHeight() {
        QFETCH(QString, limits);
        QFETCH(int, height);
        Site site;
        QVERIFY(site.started);
        site.picture(QStringLiteral("/a.gif"), gif(60, 40));
        site.publish(document({{site.address("/a.gif"), "https://a.example/", "0"}}, limits));
        Banner* banner = site.open();
        QCOMPARE(banner->height(), 0);
        QTRY_VERIFY(banner->isDocumentHandled());
        QCOMPARE(banner->height(), height);
        if (height > 0)
            QTRY_COMPARE(site.shownLinks(), QStringList{"https://a.example/"});
    }

    void pictureSize_data() {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("shown");
        QTest::newRow("200 high, halved") << QSize(300, 200) << QSize(150, 100);
        QTest::newRow("60 high, as it is") << QSize(120, 60) << QSize(120, 60);
    }
    void pictureSize() {
        QFETCH(QSize, picture);
        QFETCH(QSize, shown);
        Site site;
        site.picture(QStringLiteral("/a.gif"), gif(picture.width(), picture.height()));
        site.publish(document({{site.address("/a.gif"), "https://a.example/", "0"}}));
        Banner* banner = site.open();
        QTRY_COMPARE(site.shownLinks().size(), 1);
        QLabel* label = banner->shownLabels().first();
        QCOMPARE(label->size(), shown);
        QTRY_COMPARE(label->movie()->currentPixmap().size(), shown);
        QCOMPARE(banner->height(), 100);
    }

    // Two pictures with a show time take turns beside one that stays.
    void rotation() {
        Site site;
        const QString stays = QStringLiteral("https://stays.example/");
        const QStringList turns = {QStringLiteral("https://b.example/"), QStringLiteral("https://c.example/")};
        site.picture(QStringLiteral("/a.gif"), gif(40, 30));
        site.picture(QStringLiteral("/b.gif"), gif(50, 30));
        site.picture(QStringLiteral("/c.gif"), gif(50, 30));
        site.publish(document({{site.address("/a.gif"), stays, "0"},
                               {site.address("/b.gif"), turns[0], "1"},
                               {site.address("/c.gif"), turns[1], "1"}},
                              QStringLiteral("<visibleBannersCount>2</visibleBannersCount>")));
        site.open();
        QTRY_VERIFY(site.shownLinks().contains(stays) && site.shownLinks().size() == 2);
        QString current = site.shownLinks().contains(turns[0]) ? turns[0] : turns[1];
        for (int change = 0; change < 2; ++change) {
            const QString next = turns[1 - turns.indexOf(current)];
            QTRY_VERIFY_WITH_TIMEOUT(site.shownLinks().contains(next), 3000);
            const QStringList links = site.shownLinks();
            QCOMPARE(links.size(), 2);
            QVERIFY(links.contains(stays));
            current = next;
        }
        const QList<QLabel*> labels = site.banner->shownLabels();
        QCOMPARE(labels[0]->pos(), QPoint(0, 0));
        QCOMPARE(labels[1]->pos(), QPoint(labels[0]->width() + Banner::spacing, 0));
    }

    void builtInPicture_data() {
        QTest::addColumn<QString>("situation");
        for (const char* situation :
             {"no network", "not found", "server never answers", "malformed document", "another document",
              "deep nesting", "oversized document", "no usable banner", "every picture broken"})
            QTest::newRow(situation) << situation;
    }
    // Whatever goes wrong, the strip shows the built-in picture with the school's site.
    void builtInPicture() {
        QFETCH(QString, situation);
        Site site;
        QString url;
        const int timeout = FileDownloader::timeoutMs();
        if (situation == QLatin1String("no network")) {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            url = QStringLiteral("http://127.0.0.1:%1/banner.xml").arg(closed.serverPort());
        } else if (situation == QLatin1String("server never answers")) {
            site.server.setSilent(QStringLiteral("/banner.xml"));
            FileDownloader::setTimeoutMs(300);
        } else if (situation == QLatin1String("malformed document")) {
            site.publish("<banners><banner><imgUrl>");
        } else if (situation == QLatin1String("another document")) {
            site.publish("<mz-versions><Orvane/></mz-versions>");
        } else if (situation == QLatin1String("deep nesting")) {
            site.publish("<banners>" + QByteArray("<a>").repeated(120000) + QByteArray("</a>").repeated(120000) +
                         "</banners>");
        } else if (situation == QLatin1String("oversized document")) {
            site.publish(document({}, QString(QStringLiteral("<x/>")).repeated(300000)));
        } else if (situation == QLatin1String("no usable banner")) {
            site.publish(document({{"file:///etc/hostname", "https://a.example/", "0"},
                                   {site.address("/a.gif"), "https://a.example/", "soon"}}));
        } else if (situation == QLatin1String("every picture broken")) {
            site.picture(QStringLiteral("/a.gif"), "<html>not a picture</html>");
            site.publish(document({{site.address("/a.gif"), "https://a.example/", "0"}}));
        }
        Banner* banner = site.open(url);
        QTRY_COMPARE(site.shownLinks(), QStringList{builtInLink});
        FileDownloader::setTimeoutMs(timeout);
        QCOMPARE(banner->height(), 100);
        QCOMPARE(banner->shownLabels().first()->size(), QSize(300, 100));
    }

    void notAGif_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("PNG") << png(60, 40);
        QTest::newRow("text") << QByteArray("GIF? no.");
        QTest::newRow("GIF 5 pixels high") << gif(60, 5);
    }
    // A picture that is not a usable GIF is left out; the others are shown.
    void notAGif() {
        QFETCH(QByteArray, bytes);
        Site site;
        site.picture(QStringLiteral("/x.gif"), bytes);
        site.picture(QStringLiteral("/g.gif"), gif(40, 40));
        site.publish(document({{site.address("/x.gif"), "https://x.example/", "0"},
                               {site.address("/g.gif"), "https://g.example/", "0"}}));
        site.open();
        QTRY_COMPARE(site.server.requestCount(QStringLiteral("/x.gif")), 1);
        QTRY_COMPARE(site.shownLinks(), QStringList{"https://g.example/"});
        QTest::qWait(200); // the left-out picture stays out: time for it to show if it did
        QCOMPARE(site.shownLinks(), QStringList{"https://g.example/"});
    }

    void clickOpensWebLinksOnly_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("opened");
        QTest::newRow("https") << "https://courses.example/enrol?id=7" << true;
        QTest::newRow("javascript") << "javascript:alert(1)" << false;
        QTest::newRow("local file") << "file:///etc/passwd" << false;
    }
    void clickOpensWebLinksOnly() {
        QFETCH(QString, link);
        QFETCH(bool, opened);
        Site site;
        Browser browser({QStringLiteral("https"), QStringLiteral("javascript"), QStringLiteral("file")});
        site.picture(QStringLiteral("/a.gif"), gif(40, 40));
        site.publish(document({{site.address("/a.gif"), link, "0"}}));
        Banner* banner = site.open();
        QTRY_COMPARE(site.shownLinks().size(), 1);
        QTest::mouseClick(banner->shownLabels().first(), Qt::LeftButton);
        QCOMPARE(browser.opened, opened ? QList<QUrl>{QUrl(link)} : QList<QUrl>());
    }

    // Until an administrator sets the banner's address nothing is fetched, not even an earlier
    // copy is read: the built-in picture shows at once, leading to the site only when that is set.
    void noAddressNoRequest_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("site");
        QTest::newRow("nothing set") << QString() << QString();
        QTest::newRow("only the site set") << QString() << builtInLink;
        QTest::newRow("not a web address") << QStringLiteral("ftp://127.0.0.1/banner.xml") << QString();
        QTest::newRow("site not a web address") << QString() << QStringLiteral("javascript:alert(1)");
    }
    void noAddressNoRequest() {
        QFETCH(QString, address);
        QFETCH(QString, site);
        Site web;
        Browser browser({QStringLiteral("https"), QStringLiteral("javascript")});
        // What an earlier version fetched from somewhere else is still in the settings folder.
        web.picture(QStringLiteral("/a.gif"), gif(40, 40));
        const QByteArray earlier = document({{web.address("/a.gif"), "https://elsewhere.example/", "0"}});
        QFile copy(AppSettings::userSettingsPath() + QStringLiteral("/banner.xml"));
        QVERIFY(copy.open(QIODevice::WriteOnly) && copy.write(earlier) == earlier.size());
        copy.close();
        web.publish(earlier);
        if (site.isEmpty())
            SettingsRegistry::instance()->remove(Keys::siteUrl);
        else
            SettingsRegistry::instance()->setValue(Keys::siteUrl, site);
        if (address.isEmpty())
            SettingsRegistry::instance()->remove(Keys::bannerUrl);
        else
            SettingsRegistry::instance()->setValue(Keys::bannerUrl, address);
        web.banner = std::make_unique<Banner>();
        web.banner->show();
        QVERIFY(web.banner->isDocumentHandled()); // at once, from the constructor
        QCOMPARE(web.banner->height(), 100);
        const bool linked = site == builtInLink;
        QCOMPARE(web.shownLinks(), QStringList{linked ? builtInLink : QString()});
        QLabel* label = web.banner->shownLabels().first();
        QCOMPARE(label->size(), QSize(300, 100));
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(label, &enter);
        QCOMPARE(label->cursor().shape(), linked ? Qt::PointingHandCursor : Qt::ArrowCursor);
        QTest::mouseClick(label, Qt::LeftButton);
        QCOMPARE(browser.opened, linked ? QList<QUrl>{QUrl(builtInLink)} : QList<QUrl>());
        QTest::qWait(100); // nothing may be asked for: time for it to show if it did
        QCOMPARE(web.server.requestCount(QStringLiteral("/banner.xml")), 0);
        QCOMPARE(web.server.requestCount(QStringLiteral("/a.gif")), 0);
        QCOMPARE(web.banner->findChildren<FileDownloader*>().size(), 0);
    }
};

ORVANE_TEST(TestBanner)
#include "tst_banner.moc"
