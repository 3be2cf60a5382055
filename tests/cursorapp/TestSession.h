#pragma once

// Helpers for tests that talk to the cursor application: a session bus of the
// test's own (so that tests running side by side never share the service
// name) and the child processes the test starts, all ended with the test.

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <memory>
#include <vector>

#include <signal.h>

namespace testsession {

inline QString serverBusName()
{
    return QStringLiteral("org.quillvane.QuillvaneServer");
}

// A dbus-daemon for one test executable. Start it before anything in the
// process uses QDBusConnection::sessionBus(): start() points the session bus
// address of this process, and of every child it starts, at the new daemon.
class PrivateBus
{
public:
    ~PrivateBus() { stop(); }

    // With CONFIGFILE, the daemon runs with that configuration instead of the
    // standard session one.
    bool start(bool becomeSessionBus, QString *error, const QString &configFile = QString())
    {
        m_daemon.setProgram(QStringLiteral("dbus-daemon"));
        m_daemon.setArguments({configFile.isEmpty() ? QStringLiteral("--session")
                                                    : QStringLiteral("--config-file=") + configFile,
                               QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        m_daemon.setStandardErrorFile(QProcess::nullDevice());
        m_daemon.start();
        if (!m_daemon.waitForStarted(5000)) {
            *error = QStringLiteral("dbus-daemon did not start: ") + m_daemon.errorString();
            return false;
        }
        const QDeadlineTimer deadline(5000);
        while (!m_daemon.canReadLine() && !deadline.hasExpired())
            m_daemon.waitForReadyRead(int(deadline.remainingTime()));
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        if (m_address.isEmpty()) {
            *error = QStringLiteral("dbus-daemon printed no address");
            return false;
        }
        if (becomeSessionBus)
            qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
        return true;
    }

    QString address() const { return m_address; }

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

// Child processes that are all killed and reaped when this goes, stopped ones
// included.
class Children
{
public:
    ~Children() { killAll(); }

    // The child's standard error goes to the test's own, or with
    // CAPTUREERRORS to the returned process, to be read from there.
    QProcess *start(const QString &program, const QProcessEnvironment &environment, bool captureErrors = false,
                    const QStringList &arguments = {})
    {
        auto process = std::make_unique<QProcess>();
        process->setProgram(program);
        process->setArguments(arguments);
        process->setProcessEnvironment(environment);
        process->setStandardInputFile(QProcess::nullDevice());
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setProcessChannelMode(captureErrors ? QProcess::SeparateChannels : QProcess::ForwardedErrorChannel);
        process->start();
        if (!process->waitForStarted(5000))
            return nullptr;
        m_processes.push_back(std::move(process));
        return m_processes.back().get();
    }

    void killAll()
    {
        for (const auto &process : m_processes) {
            if (process->state() == QProcess::NotRunning)
                continue;
            ::kill(pid_t(process->processId()), SIGCONT);
            process->kill();
            process->waitForFinished(5000);
        }
        m_processes.clear();
    }

private:
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

inline bool nameHasOwner(const QDBusConnection &bus, const QString &name)
{
    return bus.interface()->isServiceRegistered(name).value();
}

inline QString nameOwner(const QDBusConnection &bus, const QString &name)
{
    return bus.interface()->serviceOwner(name).value();
}

// One property of the cursor application, asked synchronously: only for
// tests, where the peer is known to be running. Messages from one connection
// arrive in order, so this answers after everything sent before it.
inline QVariant cursorProperty(const QDBusConnection &bus, const QString &property)
{
    QDBusMessage get = QDBusMessage::createMethodCall(serverBusName(), QStringLiteral("/"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << QStringLiteral("org.quillvane.CursorController") << property;
    const QDBusMessage reply = bus.call(get, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    const QVariant value = reply.arguments().constFirst().value<QDBusVariant>().variant();
    // Containers arrive still marshalled; the only one here is a{sv}.
    if (value.canConvert<QDBusArgument>())
        return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    return value;
}

} // namespace testsession
