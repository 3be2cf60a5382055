#include "ServiceConnection.h"

#include "CursorLink.h"

#include <QDBusMessage>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcServiceConnection, "quillvane.dbuslink", QtWarningMsg)

using namespace Qt::StringLiterals;

namespace dbuslink {

namespace {

// The bus daemon answers at once; the bound only guards against a bus that
// has stopped answering altogether.
constexpr int BusDaemonTimeoutMs = 5000;

} // namespace

CursorControllerProxy::CursorControllerProxy(const QDBusConnection &bus, const QString &serviceName)
    : m_bus(bus)
    , m_serviceName(serviceName)
{
}

void CursorControllerProxy::readPrefs() const
{
    sendWithoutReply(ReadPrefsMethod);
}

void CursorControllerProxy::sendWithoutReply(const QString &member) const
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(m_serviceName, ObjectPath, Interface, member);
    // Never have the bus start a program for this name: the cursor
    // application is started by its own launch, not by a message.
    message.setAutoStartService(false);
    // send() queues the message and returns; method calls sent this way are
    // flagged as expecting no reply, so the bus and the peer never answer.
    if (!m_bus.send(message)) {
        qCWarning(lcServiceConnection).nospace()
            << "Could not send " << member << " to " << m_serviceName << ": "
            << (m_bus.isConnected() ? m_bus.lastError().message() : u"not connected to the bus"_s);
    }
}

QString ServiceConnection::busNameForRegisteredName(const QString &name)
{
    return BusNamePrefix + name;
}

ServiceConnection::ServiceConnection(const QDBusConnection &bus, const QString &serviceName)
    : m_bus(bus)
    , m_serviceName(serviceName)
{
}

std::unique_ptr<ServiceConnection> ServiceConnection::connectionWithRegisteredName(
    const QString &name, const QDBusConnection &bus)
{
    if (!bus.isConnected()) {
        static bool warned = false;
        if (!warned) {
            warned = true;
            qCWarning(lcServiceConnection) << "No session bus; the cursor application cannot be reached";
        }
        return nullptr;
    }

    const QString serviceName = busNameForRegisteredName(name);
    QDBusMessage query = QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s,
                                                        u"/org/freedesktop/DBus"_s,
                                                        u"org.freedesktop.DBus"_s,
                                                        u"NameHasOwner"_s);
    query << serviceName;
    // Block without running the event loop: nothing else of the caller's runs
    // in the middle of this lookup.
    const QDBusMessage reply = bus.call(query, QDBus::Block, BusDaemonTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1
        || reply.arguments().constFirst().typeId() != QMetaType::Bool) {
        qCWarning(lcServiceConnection).nospace()
            << "Could not look up " << serviceName << ": " << reply.errorName() << " " << reply.errorMessage();
        return nullptr;
    }
    if (!reply.arguments().constFirst().toBool())
        return nullptr;
    return std::unique_ptr<ServiceConnection>(new ServiceConnection(bus, serviceName));
}

std::unique_ptr<CursorControllerProxy> ServiceConnection::rootProxy() const
{
    return std::make_unique<CursorControllerProxy>(m_bus, m_serviceName);
}

} // namespace dbuslink
