#pragma once

#include "serveraddress.h"

#include <QObject>
#include <QSqlDriver>
#include <QTimer>

// Tells when another program changed the registry on the server: the server's triggers send a
// notification with the sending connection's process id at every committed change of the
// documents, and this listens for it on a connection of its own (the main connection spends its
// time inside the edit dialogs' transactions, where nothing would be delivered). A burst of
// changes comes out as one signal. A lost listening connection is opened again, and since changes
// may have gone unheard meanwhile, that counts as a change too.
class ServerNotifications : public QObject {
    Q_OBJECT

public:
    // The channel the registry's triggers notify.
    static const char* const channel;

    explicit ServerNotifications(QObject* parent = nullptr);
    ~ServerNotifications() override;

    // Listens on the server at `address`; notifications sent by the process `ownProcess` (this
    // program's main connection, pg_backend_pid()) are its own and not told. False with the reason.
    bool start(const ServerAddress& address, qint64 ownProcess, QString* error);
    void stop();
    // After the main connection was opened again, its process is another.
    void setOwnProcess(qint64 process) { _ownProcess = process; }
    // Counts every change heard, the program's own too, and every return of the connection: what
    // was read from the registry before is current while it stays the same.
    qint64 generation() const { return _generation; }
    // How long a burst is gathered before it is told (ms).
    void setGathering(int ms) { _gather.setInterval(ms); }

signals:
    void changedElsewhere();
    // The listening connection was lost and is open again: the server is back.
    void reconnected();
    // The listening connection was found lost (once until it is back), with the driver's text.
    void lost(const QString& technical);

private:
    bool listen(QString* error);
    void received(const QString& name, QSqlDriver::NotificationSource source, const QVariant& payload);
    void keepAlive();

    ServerAddress _address;
    qint64 _ownProcess = 0;
    qint64 _generation = 0;
    QString _connection;
    QTimer _gather;
    QTimer _alive;
    bool _lost = false;
};
