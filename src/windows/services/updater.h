#pragma once

#include <QByteArray>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>

class QNetworkAccessManager;
class QNetworkReply;
class QWidget;

// One check for a newer version: fetches the version document named by the "Updates/url" setting,
// compares the newest published version with the program's own and answers once, through
// updateIsReady() or updatingError(); then it deletes itself.
class Updater : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 maxDocumentSize = 1024 * 1024;
    static constexpr int defaultTimeoutMs = 15000;

    // Sends the request at once.
    explicit Updater(QObject* parent = nullptr);

    // The window's side. Starts a check owned by `window` and shows its answer: a silent check only
    // offers a newer version in a box of its own; an interactive one hands every answer to
    // `report(text, title, icon)` (the window's message display) and opens the offered link.
    // Without an update server ("Updates/url") nothing is requested and null is returned: a silent
    // check only logs that, an interactive one reports noServerMessage().
    using Report = std::function<void(const QString& text, const QString& title, QMessageBox::Icon icon)>;
    static Updater* checkUpdates(QWidget* window, bool isSilent, const Report& report);
    // That no update server is set, and where an administrator sets it.
    static QString noServerMessage();
    // The question of a silent check; Yes opens `link`.
    static void offerDownload(QWidget* parent, const QString& link);
    // Opens an http or https link in the browser; anything else is logged and ignored.
    static bool openLink(const QString& link);
    // The 64-bit link on a 64-bit system when it is set, else the plain one.
    static QString chooseLink(const QString& link, const QString& link64, const QString& architecture);

    // Every check gives up after this long (tests shorten it).
    static void setTimeoutMs(int ms);
    static int timeoutMs();

signals:
    void updateIsReady(QString link);
    void updatingError(QString text);

public slots:
    void fileDownloaded(QNetworkReply* pReply);

private:
    void parse();
    bool readVersion(const QString& text);
    void fail(const QString& text);

    QUrl _url;
    QNetworkAccessManager* _manager;
    QByteArray _data;
    quint8 _major = 0;
    quint8 _minor = 0;
    quint8 _patch = 0;
    QString _downloadLink;
    QString _downloadLink64;
};
