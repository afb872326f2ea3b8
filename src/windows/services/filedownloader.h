#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// Fetches one file over HTTP(S) into the user settings folder and deletes itself after its one
// answer. A failed download falls back to the copy an earlier download left there.
class FileDownloader : public QObject {
    Q_OBJECT
public:
    static constexpr int defaultTimeoutMs = 15000;
    static constexpr qint64 defaultMaxSize = 1024 * 1024;

    explicit FileDownloader(QObject* parent = nullptr);

    // Parsed tolerantly; only http and https addresses are fetched.
    void setUrl(const QString& url);
    QUrl url() const { return _url; }
    // Where a download of `url` is stored; empty when the address names no usable file.
    static QString targetPath(const QUrl& url);

    // Limits of every request, shortened by tests.
    static void setTimeoutMs(int ms);
    static int timeoutMs();
    static void setMaxSize(qint64 bytes);
    static qint64 maxSize();

    // Aborts `reply` once it runs longer than `timeoutMs` or announces or delivers more than
    // `maxBytes`; the reason stays in the reply's property "refused" ("timeout", "size").
    static void limitReply(QNetworkReply* reply, qint64 maxBytes, int timeoutMs);
    // Why limitReply() aborted `reply`; empty when it did not.
    static QString refusedReason(const QNetworkReply* reply);
    static bool isHttpUrl(const QUrl& url);

public slots:
    void download();
    void downloadFinished(QNetworkReply* reply);
    void onDownloadProgress(qint64 recieved, qint64 total);

signals:
    void done(QString filename);
    void error();
    void downloadProgress(qint64 recieved, qint64 total);

private:
    void finish(const QString& path);

    QNetworkAccessManager* _manager;
    QUrl _url;
};
