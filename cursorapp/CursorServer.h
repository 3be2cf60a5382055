#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

class CursorController;

// Serves a CursorController on the bus: at "/" under the bus name of the
// registered name QuillvaneServer, which one process at a time may own.
class CursorServer : public QObject
{
    Q_OBJECT

public:
    enum class StartResult {
        Serving,          // the name is ours; the controller answers on the bus
        AlreadyRunning,   // another process owns the name; nothing was served
        Failed,           // no bus, or the bus refused; logged
    };

    CursorServer(CursorController &controller, const QDBusConnection &bus, QObject *parent = nullptr);
    ~CursorServer() override;

    // Whether another process owns the name now.
    bool nameIsTaken() const;
    // Exports the controller and takes the name without queueing for it.
    // From then on, changes of the controller's properties are announced
    // with the standard PropertiesChanged signal.
    StartResult start();

Q_SIGNALS:
    // The connection to the bus is gone: the session has ended.
    void busDisconnected();

private Q_SLOTS:
    // Connected by name: a signal that the bus connection itself delivers.
    void handleBusDisconnected();

private:
    Q_DISABLE_COPY_MOVE(CursorServer)

    void announceChanges();

    CursorController &m_controller;
    QDBusConnection m_bus;
    bool m_exported = false;
    QVariantMap m_announced; // the property values last announced
};
