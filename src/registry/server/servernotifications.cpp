#include "servernotifications.h"

#include "mzlog.h"
#include "serverconnection.h"
#include "serverschema.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <utility>

const char* const ServerNotifications::channel = ServerSchema::notifyChannel;

namespace {
constexpr int gatherMs = 200;
// A dead listening connection is found this often; the changes themselves are never polled.
constexpr int aliveMs = 5000;
} // namespace

ServerNotifications::ServerNotifications(QObject* parent)
    : QObject(parent), _connection(QStringLiteral("orvane_listen_") + QUuid::createUuid().toString(QUuid::Id128)) {
    _gather.setSingleShot(true);
    _gather.setInterval(gatherMs);
    connect(&_gather, &QTimer::timeout, this, &ServerNotifications::changedElsewhere);
    _alive.setInterval(aliveMs);
    connect(&_alive, &QTimer::timeout, this, &ServerNotifications::keepAlive);
}

ServerNotifications::~ServerNotifications() {
    stop();
}

bool ServerNotifications::start(const ServerAddress& address, qint64 ownProcess, QString* error) {
    _address = address;
    _ownProcess = ownProcess;
    if (!listen(error))
        return false;
    _alive.start();
    return true;
}

void ServerNotifications::stop() {
    _alive.stop();
    _gather.stop();
    if (!QSqlDatabase::contains(_connection))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(_connection, false);
        if (db.driver())
            disconnect(db.driver(), nullptr, this, nullptr);
        db.close();
    }
    QSqlDatabase::removeDatabase(_connection);
}

bool ServerNotifications::listen(QString* error) {
    ServerProblem problem = ServerProblem::None;
    if (!ServerConnection::open(_address, _connection, &problem, error))
        return false;
    QSqlDatabase db = QSqlDatabase::database(_connection, false);
    if (!db.driver()->subscribeToNotification(QLatin1String(channel))) {
        if (error)
            *error = db.driver()->lastError().text();
        db.close();
        return false;
    }
    disconnect(db.driver(), nullptr, this, nullptr);
    connect(db.driver(),
            QOverload<const QString&, QSqlDriver::NotificationSource, const QVariant&>::of(&QSqlDriver::notification),
            this, &ServerNotifications::received);
    return true;
}

void ServerNotifications::received(const QString& name, QSqlDriver::NotificationSource, const QVariant& payload) {
    if (name != QLatin1String(channel))
        return;
    ++_generation;
    // The source the driver gives is always another connection's: ours writes on the main one.
    bool ok = false;
    const qint64 sender = payload.toString().toLongLong(&ok);
    if (ok && sender == _ownProcess)
        return;
    if (!_gather.isActive())
        _gather.start();
}

void ServerNotifications::keepAlive() {
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::database(_connection, false);
        QSqlQuery probe(db);
        if (db.isOpen() && probe.exec(QStringLiteral("SELECT 1")))
            return;
        error = probe.lastError().text().trimmed();
    }
    if (!listen(&error)) {
        MZ_LOG() << "the server's notifications are not heard:" << error;
        if (!std::exchange(_lost, true))
            emit lost(error);
        return;
    }
    _lost = false;
    ++_generation;
    MZ_LOG() << "listening to the server's notifications again";
    emit reconnected();
    if (!_gather.isActive())
        _gather.start();
}
