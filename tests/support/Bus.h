#pragma once
// A session bus of the test's own, so that tests running side by side never share a service name, and questions
// to the cursor program over it.

#include "CursorLink.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QProcess>

#include <optional>
#include <sys/types.h>

namespace testsupport {

using namespace Qt::StringLiterals;

// A dbus-daemon for one test executable. Start it before anything in the process uses
// QDBusConnection::sessionBus(): start() points the session bus of this process, and of every child it starts,
// at the new daemon.
class PrivateBus
{
public:
    ~PrivateBus() { stop(); }

    // With CONFIGFILE the daemon runs with that configuration instead of the standard session one.
    bool start(QString *error, const QString &configFile = {})
    {
        m_daemon.setProgram(u"dbus-daemon"_s);
        m_daemon.setArguments({configFile.isEmpty() ? u"--session"_s : u"--config-file="_s + configFile,
                               u"--nofork"_s, u"--print-address=1"_s});
        m_daemon.setStandardErrorFile(QProcess::nullDevice());
        m_daemon.start();
        if (!m_daemon.waitForStarted(5000)) {
            *error = u"dbus-daemon did not start: "_s + m_daemon.errorString();
            return false;
        }
        const QDeadlineTimer deadline(5000);
        while (!m_daemon.canReadLine() && !deadline.hasExpired())
            m_daemon.waitForReadyRead(int(deadline.remainingTime()));
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        if (m_address.isEmpty()) {
            *error = u"dbus-daemon printed no address"_s;
            return false;
        }
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
        return true;
    }

    QString address() const { return m_address; }

    // The bus goes away as if its daemon crashed.
    void stop()
    {
        if (m_daemon.state() == QProcess::NotRunning)
            return;
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }

private:
    QProcess m_daemon;
    QString m_address;
};

inline bool nameHasOwner(const QString &name, const QDBusConnection &bus = QDBusConnection::sessionBus())
{
    return bus.interface()->isServiceRegistered(name).value();
}

// The process that owns NAME, if any.
inline std::optional<pid_t> nameOwnerPid(const QString &name,
                                         const QDBusConnection &bus = QDBusConnection::sessionBus())
{
    const QDBusReply<uint> pid = bus.interface()->servicePid(name);
    return pid.isValid() ? std::optional<pid_t>(pid_t(pid.value())) : std::nullopt;
}

// The cursor program's name on the bus.
inline QString cursorBusName()
{
    return dbuslink::BusNamePrefix + dbuslink::RegisteredName;
}

// One property of the cursor program, asked synchronously (only where the peer is known to run). Messages from
// one connection arrive in order, so this answers after everything sent before it.
inline QVariant cursorProperty(const QString &property, const QDBusConnection &bus = QDBusConnection::sessionBus())
{
    QDBusMessage get = QDBusMessage::createMethodCall(cursorBusName(), dbuslink::ObjectPath,
                                                      u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
    get << QString(dbuslink::Interface) << property;
    const QDBusMessage reply = bus.call(get, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    const QVariant value = reply.arguments().constFirst().value<QDBusVariant>().variant();
    // Containers arrive still marshalled; the only one here is a{sv}.
    if (value.canConvert<QDBusArgument>())
        return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    return value;
}

} // namespace testsupport
