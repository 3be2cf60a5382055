#include "CursorServer.h"

#include "CursorController.h"
#include "CursorLink.h"
#include "ServiceConnection.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QLoggingCategory>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcCursorServer, "quillvane.cursorapp.server", QtWarningMsg)

namespace {

QString serverBusName()
{
    return dbuslink::ServiceConnection::busNameForRegisteredName(dbuslink::RegisteredName);
}

} // namespace

CursorServer::CursorServer(CursorController &controller, const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_controller(controller)
    , m_bus(bus)
{
}

CursorServer::~CursorServer()
{
    if (m_exported)
        m_bus.unregisterObject(dbuslink::ObjectPath);
}

bool CursorServer::nameIsTaken() const
{
    return m_bus.isConnected() && m_bus.interface()->isServiceRegistered(serverBusName()).value();
}

CursorServer::StartResult CursorServer::start()
{
    if (!m_bus.isConnected()) {
        qCWarning(lcCursorServer) << "Cannot reach the session bus:" << m_bus.lastError().message();
        return StartResult::Failed;
    }

    // When the bus goes away, libdbus hands the connection this signal from
    // the bus's local path before closing it.
    m_bus.connect(QString(), u"/org/freedesktop/DBus/Local"_s,
                  u"org.freedesktop.DBus.Local"_s, u"Disconnected"_s, this,
                  SLOT(handleBusDisconnected()));

    if (!m_bus.registerObject(dbuslink::ObjectPath, &m_controller,
                              QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties)) {
        qCWarning(lcCursorServer) << "Cannot export the cursor controller:" << m_bus.lastError().message();
        return StartResult::Failed;
    }
    m_exported = true;
    m_announced = m_controller.properties();
    connect(&m_controller, &CursorController::settingsChanged, this, &CursorServer::announceChanges);
    connect(&m_controller, &CursorController::hiddenChanged, this, &CursorServer::announceChanges);
    connect(&m_controller, &CursorController::toggleCursorHotKeyTriggerChanged, this, &CursorServer::announceChanges);

    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = m_bus.interface()->registerService(
        serverBusName(), QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        qCWarning(lcCursorServer) << "Cannot take the name" << serverBusName() << ":" << reply.error().message();
        return StartResult::Failed;
    }
    if (reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        qCInfo(lcCursorServer) << serverBusName() << "is owned by another process; not starting again";
        return StartResult::AlreadyRunning;
    }
    return StartResult::Serving;
}

// Tells watchers of the properties which of them changed, with their values.
void CursorServer::announceChanges()
{
    const QVariantMap now = m_controller.properties();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (m_announced.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    }
    m_announced = now;
    if (changed.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(dbuslink::ObjectPath,
                                                     u"org.freedesktop.DBus.Properties"_s,
                                                     u"PropertiesChanged"_s);
    signal << dbuslink::Interface << changed << QStringList();
    m_bus.send(signal);
}

void CursorServer::handleBusDisconnected()
{
    qCInfo(lcCursorServer) << "The session bus has gone away";
    Q_EMIT busDisconnected();
}
