#pragma once

#include "Export.h"

#include <QDBusConnection>
#include <QString>

#include <memory>

namespace dbuslink {

// The root object that the cursor application vends at "/" under its
// registered name. Messages go out as method calls that expect no reply and
// start no service, queued on the bus connection: sending never waits for the
// peer, so a hung or vanished cursor application never blocks the sender.
// The bus routes the well-known name to whichever process owns it at the
// time, so a proxy stays good across restarts of the cursor application.
class QUILLVANE_EXPORT CursorControllerProxy
{
public:
    CursorControllerProxy(const QDBusConnection &bus, const QString &serviceName);

    // Asks the cursor application to re-read its settings.
    void readPrefs() const;

    QString serviceName() const { return m_serviceName; }

private:
    void sendWithoutReply(const QString &member) const;

    QDBusConnection m_bus;
    QString m_serviceName;
};

// A link to the process that registered a name on the session bus. The
// registered name NAME is the bus name org.quillvane.NAME.
class QUILLVANE_EXPORT ServiceConnection
{
public:
    static QString busNameForRegisteredName(const QString &name);

    // The connection to the owner of the registered name, or none when nobody
    // owns it (or the bus cannot be reached). The only call made here goes to
    // the bus daemon itself, never to the owner.
    static std::unique_ptr<ServiceConnection> connectionWithRegisteredName(
        const QString &name, const QDBusConnection &bus = QDBusConnection::sessionBus());

    std::unique_ptr<CursorControllerProxy> rootProxy() const;

    QString serviceName() const { return m_serviceName; }

private:
    ServiceConnection(const QDBusConnection &bus, const QString &serviceName);

    QDBusConnection m_bus;
    QString m_serviceName;
};

} // namespace dbuslink
