#include "localhttpserver.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

// Headers above this size mean a broken client; the connection is dropped.
constexpr int maxRequestHead = 64 * 1024;

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QByteArray response(const QByteArray& body, int status, const QByteArray& contentType) {
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    if (!contentType.isEmpty())
        head += "Content-Type: " + contentType + "\r\n";
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    return head + body;
}

// "/po/a.xml?x=1" -> "/po/a.xml"
QString pathOf(const QByteArray& target) {
    const int query = target.indexOf('?');
    return QUrl::fromPercentEncoding(query < 0 ? target : target.left(query));
}

} // namespace

LocalHttpServer::LocalHttpServer(QObject* parent) : QObject(parent), _server(new QTcpServer(this)) {
    connect(_server, &QTcpServer::newConnection, this, &LocalHttpServer::onNewConnection);
}

LocalHttpServer::~LocalHttpServer() = default;

bool LocalHttpServer::start() {
    return _server->isListening() || _server->listen(QHostAddress::LocalHost, 0);
}

quint16 LocalHttpServer::port() const {
    return _server->serverPort();
}

QUrl LocalHttpServer::url(const QString& path) const {
    QUrl result;
    result.setScheme(QStringLiteral("http"));
    result.setHost(QStringLiteral("127.0.0.1"));
    result.setPort(port());
    result.setPath(path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path);
    return result;
}

void LocalHttpServer::setReply(const QString& path, const QByteArray& body, int status, const QByteArray& contentType) {
    setRawReply(path, response(body, status, contentType));
}

void LocalHttpServer::setRawReply(const QString& path, const QByteArray& response) {
    _silent.remove(path);
    _responses.insert(path, response);
}

void LocalHttpServer::setSilent(const QString& path) {
    _responses.remove(path);
    _silent.insert(path);
}

int LocalHttpServer::requestCount(const QString& path) const {
    return _counts.value(path);
}

void LocalHttpServer::onNewConnection() {
    while (QTcpSocket* socket = _server->nextPendingConnection()) {
        socket->setParent(this);
        _pending.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            _pending.remove(socket);
            socket->deleteLater();
        });
    }
}

void LocalHttpServer::onReadyRead(QTcpSocket* socket) {
    if (!_pending.contains(socket)) {
        socket->readAll(); // already answered or silent: ignore what follows
        return;
    }
    QByteArray& head = _pending[socket];
    head += socket->readAll();
    if (!head.contains("\r\n\r\n")) {
        if (head.size() > maxRequestHead)
            socket->abort();
        return;
    }
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    _pending.remove(socket);
    if (requestLine.size() < 2) {
        socket->write(response("bad request", 400, "text/plain"));
        socket->disconnectFromHost();
        return;
    }
    answer(socket, pathOf(requestLine.at(1)));
}

void LocalHttpServer::answer(QTcpSocket* socket, const QString& path) {
    ++_counts[path];
    if (_silent.contains(path))
        return; // keep the connection open without a word
    const auto found = _responses.constFind(path);
    socket->write(found != _responses.constEnd() ? *found : response("not found", 404, "text/plain"));
    socket->disconnectFromHost();
}
