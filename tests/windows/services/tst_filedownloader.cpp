#include "localhttpserver.h"
#include "filedownloader.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>
#include <memory>

namespace {
const QString picture = QStringLiteral("/pics/banner.gif");
const QByteArray fresh = QByteArray("GIF89a fresh picture").repeated(100);
const QByteArray earlier = QByteArray("GIF89a earlier picture");

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}
} // namespace

class TestFileDownloader : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> _env;
    std::unique_ptr<LocalHttpServer> _server;

    QString stored() const { return _env->userFolder() + QStringLiteral("/banner.gif"); }

    struct Result {
        QStringList done;
        int errors = 0;
        QList<QVariantList> progress;
    };
    // Downloads `url` and waits for the downloader's one answer and its end.
    Result fetch(const QString& url) {
        Result result;
        auto* downloader = new FileDownloader;
        QPointer<FileDownloader> alive(downloader);
        QSignalSpy done(downloader, &FileDownloader::done);
        QSignalSpy error(downloader, &FileDownloader::error);
        QSignalSpy progress(downloader, &FileDownloader::downloadProgress);
        downloader->setUrl(url);
        downloader->download();
        [&] { QTRY_VERIFY_WITH_TIMEOUT(alive.isNull(), 10000); }();
        for (const QVariantList& args : qAsConst(done))
            result.done << args.at(0).toString();
        result.errors = error.size();
        result.progress = progress;
        return result;
    }

private slots:
    void init() {
        _env = std::make_unique<TestEnvironment>();
        QVERIFY(QDir().mkpath(_env->userFolder()));
        _server = std::make_unique<LocalHttpServer>();
        QVERIFY(_server->start());
    }
    void cleanup() {
        FileDownloader::setTimeoutMs(FileDownloader::defaultTimeoutMs);
        _server.reset();
        _env.reset();
    }

    void download_data() {
        QTest::addColumn<QString>("serverCase");
        QTest::addColumn<QByteArray>("before"); // null: no earlier download
        QTest::addColumn<bool>("isDone");
        QTest::addColumn<QByteArray>("after"); // null: no file afterwards
        QTest::newRow("success") << "ok" << QByteArray() << true << fresh;
        QTest::newRow("success replaces earlier") << "ok" << earlier << true << fresh;
        QTest::newRow("http error, earlier kept") << "404" << earlier << true << earlier;
        QTest::newRow("http error, none earlier") << "404" << QByteArray() << false << QByteArray();
        QTest::newRow("closed port, earlier kept") << "closed" << earlier << true << earlier;
        QTest::newRow("closed port, none earlier") << "closed" << QByteArray() << false << QByteArray();
        QTest::newRow("above 1 MB, earlier kept") << "huge" << earlier << true << earlier;
        QTest::newRow("above 1 MB, none earlier") << "huge" << QByteArray() << false << QByteArray();
        QTest::newRow("never answers, earlier kept") << "silent" << earlier << true << earlier;
        QTest::newRow("never answers, none earlier") << "silent" << QByteArray() << false << QByteArray();
    }
    void download() {
        QFETCH(QString, serverCase);
        QFETCH(QByteArray, before);
        QFETCH(bool, isDone);
        QFETCH(QByteArray, after);
        if (!before.isNull())
            writeFile(stored(), before);
        QString url = _server->url(picture).toString();
        if (serverCase == "ok")
            _server->setReply(picture, fresh, 200, "image/gif");
        else if (serverCase == "404")
            _server->setReply(picture, "gone", 404, "text/plain");
        else if (serverCase == "huge")
            _server->setReply(picture, QByteArray(1024 * 1024 + 1, 'x'), 200, "image/gif");
        else if (serverCase == "silent")
            _server->setSilent(picture);
        if (serverCase == "closed") {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            url = QStringLiteral("http://127.0.0.1:%1/pics/banner.gif").arg(closed.serverPort());
            closed.close();
        }
        FileDownloader::setTimeoutMs(300);
        const Result result = fetch(url);
        QCOMPARE(result.done, isDone ? QStringList{stored()} : QStringList());
        QCOMPARE(result.errors, isDone ? 0 : 1);
        QCOMPARE(QFile::exists(stored()), !after.isNull());
        if (!after.isNull())
            QCOMPARE(readFileBytes(stored()), after);
        if (serverCase == "ok") {
            QVERIFY(!result.progress.isEmpty());
            QCOMPARE(result.progress.last().at(0).toLongLong(), qint64(fresh.size()));
        }
    }

    // Addresses that must not be fetched or must not choose where the file goes.
    void refused_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("address");
        QTest::newRow("local file") << ""
                                    << "file:///etc/hostname";
        QTest::newRow("no file name") << "/"
                                      << "";
        QTest::newRow("our settings file") << "/settings.ini"
                                           << "";
        QTest::newRow("our log") << "/docs/DEBUG.TXT"
                                 << "";
        QTest::newRow("hidden file") << "/.profile"
                                     << "";
        QTest::newRow("parent folder") << "/a/%2e%2e"
                                       << "";
    }
    void refused() {
        QFETCH(QString, path);
        QFETCH(QString, address);
        const QString settings = _env->userFolder() + QStringLiteral("/settings.ini");
        writeFile(settings, "[Orvane]\n");
        if (address.isEmpty()) {
            _server->setReply(QUrl::fromPercentEncoding(path.toUtf8()), "[Orvane]\ndataPath=/tmp\n", 200, "text/plain");
            address = _server->url(QStringLiteral("/")).toString(QUrl::RemovePath) + path;
        }
        const Result result = fetch(address);
        QCOMPARE(result.done, QStringList());
        QCOMPARE(result.errors, 1);
        QCOMPARE(readFileBytes(settings), QByteArray("[Orvane]\n"));
        QCOMPARE(QDir(_env->userFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{"settings.ini"});
    }
};

ORVANE_TEST(TestFileDownloader)
#include "tst_filedownloader.moc"
