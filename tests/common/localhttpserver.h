#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>

class QTcpServer;
class QTcpSocket;

// A tiny HTTP/1.1 server on 127.0.0.1 for network tests: one canned reply per path, one reply per
// connection ("Connection: close"). Unknown paths get 404. Runs on the test's event loop.
class LocalHttpServer : public QObject {
    Q_OBJECT
public:
    explicit LocalHttpServer(QObject* parent = nullptr);
    ~LocalHttpServer() override;

    // Listens on a free port of 127.0.0.1.
    bool start();
    quint16 port() const;
    QUrl url(const QString& path) const;

    void setReply(const QString& path, const QByteArray& body, int status = 200,
                  const QByteArray& contentType = "text/xml");
    // Sends these bytes as the whole response, headers included (for lying or broken headers).
    void setRawReply(const QString& path, const QByteArray& response);
    // Accepts the connection and never answers.
    void setSilent(const QString& path);
    int requestCount(const QString& path) const;

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const QString& path);

    QTcpServer* _server;
    QHash<QString, QByteArray> _responses;
    QSet<QString> _silent;
    QHash<QString, int> _counts;
    QHash<QTcpSocket*, QByteArray> _pending;
};
