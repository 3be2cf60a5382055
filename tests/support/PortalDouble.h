#pragma once

// A desktop portal of the test's own: the real portal frontend (xdg-desktop-portal) on the test's bus, pointed
// through a portal file at a global shortcuts backend that this process serves. The backend plays the desktop:
// it binds what it is asked for, or what the "user" picked instead, presses and releases shortcuts, or never
// answers at all.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <vector>

namespace testsupport {

// One shortcut as the portal passes it: (sa{sv}).
struct Shortcut
{
    QString id;
    QVariantMap properties;
};

inline QDBusArgument &operator<<(QDBusArgument &argument, const Shortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

inline const QDBusArgument &operator>>(const QDBusArgument &argument, Shortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

using Shortcuts = QList<Shortcut>;

inline const QString frontendProgram = QStringLiteral("/usr/libexec/xdg-desktop-portal");

// A session bus configuration without service activation: the bus never starts the system's own portal behind
// the test's back.
inline QString busConfigFile()
{
    return QStringLiteral(QUILLVANE_SOURCE_DIR "/tests/portal/session-bus.conf");
}

class BackendSession : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.impl.portal.Session")

public:
    std::function<void()> closed;

public Q_SLOTS:
    void Close() { closed(); }
};

class GlobalShortcutsBackend : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.impl.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)

public:
    // What the desktop does.
    bool silent = false;                     // never answers a request
    QHash<QString, QString> picked;          // by description: the trigger the user chose; "" for none
    // What it was asked.
    int sessionsCreated = 0; // asked for, answered or not
    int sessionsOpen = 0;
    QStringList closedSessions;
    QList<Shortcuts> binds;

    uint version() const { return 1; }
    void setConnection(const QDBusConnection &bus) { m_bus = std::make_unique<QDBusConnection>(bus); }

    // The last binding asked for, one "description preferred_trigger" per shortcut.
    QStringList lastBind() const
    {
        QStringList shortcuts;
        for (const auto &[id, properties] : binds.value(binds.size() - 1))
            shortcuts << properties.value(QStringLiteral("description")).toString() + u' '
                    + properties.value(QStringLiteral("preferred_trigger")).toString();
        return shortcuts;
    }
    // The ID of the shortcut last bound with DESCRIPTION.
    QString idOf(const QString &description) const
    {
        for (const auto &[id, properties] : binds.value(binds.size() - 1)) {
            if (properties.value(QStringLiteral("description")).toString() == description)
                return id;
        }
        return {};
    }

    void activate(const QString &id) { emitShortcutSignal(QStringLiteral("Activated"), id); }
    void deactivate(const QString &id) { emitShortcutSignal(QStringLiteral("Deactivated"), id); }
    // The user gives a shortcut another trigger in the desktop's settings.
    void changeTrigger(const QString &id, const QString &trigger)
    {
        QDBusMessage signal = QDBusMessage::createSignal(path(), interface(), QStringLiteral("ShortcutsChanged"));
        signal << QVariant::fromValue(QDBusObjectPath(m_session))
               << QVariant::fromValue(Shortcuts{{id, {{QStringLiteral("trigger_description"), trigger}}}});
        m_bus->send(signal);
    }

    // Forgets what was asked; requests left waiting are answered as ended.
    void reset()
    {
        silent = false;
        picked.clear();
        binds.clear();
        sessionsCreated = 0;
        closedSessions.clear();
        for (const QDBusMessage &request : std::exchange(m_waiting, {}))
            m_bus->send(request.createReply(QVariantList{2u, QVariantMap()}));
    }

public Q_SLOTS:
    uint CreateSession(const QDBusObjectPath &, const QDBusObjectPath &session, const QString &, const QVariantMap &,
                       QVariantMap &results)
    {
        ++sessionsCreated;
        if (holdBack())
            return 0;
        auto object = std::make_unique<BackendSession>();
        const QString sessionPath = session.path();
        object->closed = [this, sessionPath] {
            --sessionsOpen;
            closedSessions << sessionPath;
            m_bus->unregisterObject(sessionPath);
        };
        m_bus->registerObject(sessionPath, object.get(), QDBusConnection::ExportAllSlots);
        m_sessions.push_back(std::move(object));
        ++sessionsOpen;
        m_session = sessionPath;
        results.insert(QStringLiteral("session_id"), sessionPath);
        return 0;
    }

    uint BindShortcuts(const QDBusObjectPath &, const QDBusObjectPath &, const QList<testsupport::Shortcut> &shortcuts,
                       const QString &, const QVariantMap &, QVariantMap &results)
    {
        binds << shortcuts;
        if (holdBack())
            return 0;
        Shortcuts bound;
        for (const auto &[id, properties] : shortcuts) {
            const QString trigger = picked.value(properties.value(QStringLiteral("description")).toString(),
                                                 properties.value(QStringLiteral("preferred_trigger")).toString());
            if (!trigger.isEmpty())
                bound.append({id, {{QStringLiteral("description"), properties.value(QStringLiteral("description"))},
                                   {QStringLiteral("trigger_description"), trigger}}});
        }
        results.insert(QStringLiteral("shortcuts"), QVariant::fromValue(bound));
        return 0;
    }

private:
    static QString path() { return QStringLiteral("/org/freedesktop/portal/desktop"); }
    static QString interface() { return QStringLiteral("org.freedesktop.impl.portal.GlobalShortcuts"); }

    bool holdBack()
    {
        if (!silent)
            return false;
        setDelayedReply(true);
        m_waiting << message();
        return true;
    }

    void emitShortcutSignal(const QString &name, const QString &id)
    {
        QDBusMessage signal = QDBusMessage::createSignal(path(), interface(), name);
        signal << QVariant::fromValue(QDBusObjectPath(m_session)) << id << qulonglong(0) << QVariantMap();
        m_bus->send(signal);
    }

    std::unique_ptr<QDBusConnection> m_bus;
    std::vector<std::unique_ptr<BackendSession>> m_sessions;
    QString m_session; // the last one created
    QList<QDBusMessage> m_waiting;
};

// The backend served from this process and the frontend started for it; both end with this object.
class TestPortal
{
public:
    GlobalShortcutsBackend backend;

    ~TestPortal() { stop(); }

    // Serves the backend on the bus at ADDRESS and starts the frontend there. Without SHORTCUTS the frontend
    // finds no backend: a portal that does not offer global shortcuts.
    bool start(const QString &address, QString *error, bool shortcuts = true)
    {
        if (!QFileInfo(frontendProgram).isExecutable()) {
            *error = frontendProgram + QStringLiteral(" is missing (scripts/bootstrap test installs it)");
            return false;
        }
        qDBusRegisterMetaType<Shortcut>();
        qDBusRegisterMetaType<Shortcuts>();
        m_connectionName = QStringLiteral("test portal backend %1").arg(quintptr(this));
        QDBusConnection bus = QDBusConnection::connectToBus(address, m_connectionName);
        if (shortcuts) {
            backend.setConnection(bus);
            if (!bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &backend,
                                    QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties)
                || !bus.registerService(QStringLiteral("org.quillvane.test.GlobalShortcuts"))) {
                *error = QStringLiteral("cannot serve the backend: ") + bus.lastError().message();
                return false;
            }
        }

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("QuillvaneTest"));
        environment.insert(QStringLiteral("XDG_DESKTOP_PORTAL_DIR"),
                           shortcuts ? QStringLiteral(QUILLVANE_SOURCE_DIR "/tests/portal/portals") : m_empty.path());
        m_frontend.setProcessEnvironment(environment);
        m_frontend.setProgram(frontendProgram);
        m_frontend.setStandardOutputFile(QProcess::nullDevice());
        m_frontend.setStandardErrorFile(QProcess::nullDevice());
        m_frontend.start();
        // The frontend asks the backend for its properties before it takes its name: the event loop must run.
        const bool up = QTest::qWaitFor(
            [&] {
                return m_frontend.state() != QProcess::NotRunning
                    && bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.portal.Desktop")).value();
            },
            10000);
        if (!up)
            *error = QStringLiteral("the portal frontend did not start: ") + m_frontend.errorString();
        return up;
    }

    void stop()
    {
        if (m_frontend.state() != QProcess::NotRunning) {
            m_frontend.kill();
            m_frontend.waitForFinished(5000);
        }
        if (!m_connectionName.isEmpty())
            QDBusConnection::disconnectFromBus(std::exchange(m_connectionName, {}));
    }

private:
    QProcess m_frontend;
    QTemporaryDir m_empty;
    QString m_connectionName;
};

} // namespace testsupport

Q_DECLARE_METATYPE(testsupport::Shortcut)
