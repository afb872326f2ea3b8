#include "filedownloader.h"

#include "appsettings.h"
#include "mzlog.h"

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSaveFile>
#include <QTimer>
#include <QVariant>
#include <utility>
#ifndef QT_NO_SSL
#include <QSslSocket>
#endif

namespace {
int requestTimeoutMs = FileDownloader::defaultTimeoutMs;
qint64 replySizeLimit = FileDownloader::defaultMaxSize;
const char refusedProperty[] = "refused";

void logTlsSupportOnce() {
    static bool logged = false;
    if (std::exchange(logged, true))
        return;
#ifndef QT_NO_SSL
    if (!QSslSocket::supportsSsl())
        qDebug() << "OpenSSL is not supported.";
    qDebug() << "Build-time OpenSSL version:" << QSslSocket::sslLibraryBuildVersionString();
    qDebug() << "Run-time OpenSSL version:" << QSslSocket::sslLibraryVersionString();
#else
    qDebug() << "OpenSSL is not supported.";
#endif
}

// A file name the network may choose in our settings folder: no folders, no hidden files and
// never one of the program's own files there.
bool isSafeFileName(const QString& name) {
    static const QStringList ownFiles = {QStringLiteral("settings.ini"), QStringLiteral("debug.txt")};
    return !name.isEmpty() && !name.startsWith(QLatin1Char('.')) && !name.contains(QLatin1Char('/')) &&
           !name.contains(QLatin1Char('\\')) && !name.contains(QLatin1Char(':')) &&
           !ownFiles.contains(name, Qt::CaseInsensitive);
}
} // namespace

FileDownloader::FileDownloader(QObject* parent) : QObject(parent), _manager(new QNetworkAccessManager(this)) {
    connect(_manager, &QNetworkAccessManager::finished, this, &FileDownloader::downloadFinished);
    logTlsSupportOnce();
}

void FileDownloader::setUrl(const QString& url) {
    _url = QUrl(url.trimmed(), QUrl::TolerantMode);
}

QString FileDownloader::targetPath(const QUrl& url) {
    const QString name = url.fileName();
    if (!isSafeFileName(name))
        return QString();
    return AppSettings::userSettingsPath() + QLatin1Char('/') + name;
}

void FileDownloader::setTimeoutMs(int ms) {
    requestTimeoutMs = ms;
}
int FileDownloader::timeoutMs() {
    return requestTimeoutMs;
}
void FileDownloader::setMaxSize(qint64 bytes) {
    replySizeLimit = bytes;
}
qint64 FileDownloader::maxSize() {
    return replySizeLimit;
}

bool FileDownloader::isHttpUrl(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

void FileDownloader::limitReply(QNetworkReply* reply, qint64 maxBytes, int timeoutMs) {
    const QPointer<QNetworkReply> guarded(reply);
    auto refuse = [guarded](const char* reason) {
        if (!guarded || guarded->isFinished() || guarded->property(refusedProperty).isValid())
            return;
        guarded->setProperty(refusedProperty, QString::fromLatin1(reason));
        // Not from inside the reply's own notifications, which it would report twice.
        QMetaObject::invokeMethod(guarded, &QNetworkReply::abort, Qt::QueuedConnection);
    };
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, reply, [refuse] { refuse("timeout"); });
    timer->start(timeoutMs);
    connect(reply, &QNetworkReply::metaDataChanged, reply, [guarded, maxBytes, refuse] {
        bool ok = false;
        const qint64 announced = guarded->header(QNetworkRequest::ContentLengthHeader).toLongLong(&ok);
        if (ok && announced > maxBytes)
            refuse("size");
    });
    connect(reply, &QNetworkReply::downloadProgress, reply, [maxBytes, refuse](qint64 received, qint64) {
        if (received > maxBytes)
            refuse("size");
    });
}

QString FileDownloader::refusedReason(const QNetworkReply* reply) {
    return reply ? reply->property(refusedProperty).toString() : QString();
}

void FileDownloader::download() {
    if (!isHttpUrl(_url)) {
        MZ_LOG() << "not an http address, not fetched:" << _url.toString();
        // Callers connect after starting too; the answer always comes from the event loop.
        QTimer::singleShot(0, this, [this] { finish(QString()); });
        return;
    }
    QNetworkRequest request(_url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = _manager->get(request);
    limitReply(reply, replySizeLimit, requestTimeoutMs);
    connect(reply, &QNetworkReply::downloadProgress, this, &FileDownloader::onDownloadProgress);
}

void FileDownloader::onDownloadProgress(qint64 recieved, qint64 total) {
    emit downloadProgress(recieved, total);
}

void FileDownloader::downloadFinished(QNetworkReply* reply) {
    reply->deleteLater();
    const QString path = targetPath(_url);
    if (reply->error() != QNetworkReply::NoError || !refusedReason(reply).isEmpty()) {
        MZ_LOG() << "reply ERROR" << reply->errorString() << refusedReason(reply);
        finish(!path.isEmpty() && QFileInfo(path).isFile() ? path : QString());
        return;
    }
    if (path.isEmpty()) {
        MZ_LOG() << "file open error" << _url.toString();
        finish(QString());
        return;
    }
    // Written aside and renamed, so a failed write keeps the earlier copy intact.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        MZ_LOG() << "file open error" << path << file.errorString();
        finish(QString());
        return;
    }
    file.write(reply->readAll());
    if (!file.commit()) {
        MZ_LOG() << "file write error" << path << file.errorString();
        finish(QString());
        return;
    }
    finish(path);
}

void FileDownloader::finish(const QString& path) {
    if (path.isEmpty())
        emit error();
    else
        emit done(path);
    deleteLater();
}
