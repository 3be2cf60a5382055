#pragma once

// What the settings-window benchmarks share: a private X server and session
// bus for the whole run, medians, and noticing when a program's window is
// mapped.

#include "Bus.h"
#include "XServer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <xcb/xcb.h>

#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace bench {

inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

inline int fail(const char *program, const QString &why)
{
    std::fprintf(stderr, "%s: %s\n", program, qPrintable(why));
    return 1;
}

// The resident memory of a process in KiB, 0 when it cannot be read.
inline double residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble();
    }
    return 0;
}

// A helper program started now and killed and reaped when this goes.
class Child
{
public:
    Child(const QString &program, const QStringList &arguments)
    {
        m_process.setProgram(program);
        m_process.setArguments(arguments);
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start();
        m_process.waitForStarted(5000);
    }
    ~Child()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    Q_DISABLE_COPY_MOVE(Child)

    QByteArray firstLine()
    {
        const QDeadlineTimer deadline(10000);
        while (!m_process.canReadLine() && !deadline.hasExpired() && m_process.state() == QProcess::Running)
            m_process.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1)));
        return m_process.readLine().trimmed();
    }

private:
    QProcess m_process;
};

// Runs BODY in a session of its own: the program starts Xvfb and a session
// bus, runs itself again inside them (DISPLAY, DBUS_SESSION_BUS_ADDRESS and a
// fresh XDG_CONFIG_HOME set before anything of Qt's reads them), and ends
// whatever the run left on the bus.
inline int runInPrivateSession(int argc, char *argv[], const std::function<int(int, char **)> &body)
{
    if (qEnvironmentVariableIsSet("QUILLVANE_BENCH_SESSION"))
        return body(argc, argv);

    QCoreApplication app(argc, argv);
    QTemporaryDir config;
    QTemporaryDir runtime; // private to the user, as the session's runtime folder must be
    testsupport::PrivateBus bus;
    testsupport::PrivateXServer xServer;
    QString error;
    if (!config.isValid() || !runtime.isValid() || !bus.start(&error) || !xServer.start(&error, 1, QStringLiteral("1280x1024x24")))
        return fail(argv[0], error.isEmpty() ? QStringLiteral("no temporary folder") : error);
    const QString busAddress = bus.address();
    const QString display = xServer.display();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUILLVANE_BENCH_SESSION"), QStringLiteral("1"));
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    QProcess inside;
    inside.setProcessEnvironment(environment);
    inside.setProcessChannelMode(QProcess::ForwardedChannels);
    inside.start(QCoreApplication::applicationFilePath(), QCoreApplication::arguments().mid(1));
    if (!inside.waitForStarted() || !inside.waitForFinished(15 * 60 * 1000)) {
        inside.kill();
        inside.waitForFinished();
    }

    // The cursor application that the pages launched.
    const QDBusConnection connection = QDBusConnection::connectToBus(busAddress, QStringLiteral("cleanup"));
    if (connection.isConnected()) {
        const QDBusReply<uint> pid =
            connection.interface()->servicePid(QStringLiteral("org.quillvane.QuillvaneServer"));
        if (pid.isValid())
            ::kill(pid_t(pid.value()), SIGKILL);
    }
    return inside.exitStatus() == QProcess::NormalExit ? inside.exitCode() : 1;
}

// Reports the top-level windows that get mapped on the session's display.
class MapWatcher
{
public:
    MapWatcher()
        : m_connection(xcb_connect(nullptr, nullptr), &xcb_disconnect)
    {
        if (xcb_connection_has_error(m_connection.get()))
            return;
        xcb_connection_t *c = m_connection.get();
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
        const char name[] = "_NET_WM_PID";
        const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr), &std::free);
        m_pidAtom = atom ? atom->atom : xcb_atom_t(XCB_ATOM_NONE);
        m_ok = m_pidAtom != XCB_ATOM_NONE;
    }

    bool isValid() const { return m_ok; }

    // Forgets the windows mapped so far.
    void drain()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection.get()))
            std::free(event);
    }

    // Waits until a top-level window of process PID is mapped.
    bool waitForWindowOf(qint64 pid, int timeoutMs)
    {
        xcb_connection_t *c = m_connection.get();
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            while (xcb_generic_event_t *event = xcb_poll_for_event(c)) {
                const bool mapped = (event->response_type & ~0x80) == XCB_MAP_NOTIFY;
                const xcb_window_t window = reinterpret_cast<xcb_map_notify_event_t *>(event)->window;
                std::free(event);
                if (mapped && windowPid(window) == pid)
                    return true;
            }
            pollfd descriptor{xcb_get_file_descriptor(c), POLLIN, 0};
            ::poll(&descriptor, 1, int(std::max<qint64>(deadline.remainingTime(), 1)));
            if (xcb_connection_has_error(c))
                return false;
        }
        return false;
    }

private:
    qint64 windowPid(xcb_window_t window)
    {
        xcb_connection_t *c = m_connection.get();
        const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> property(
            xcb_get_property_reply(c, xcb_get_property(c, 0, window, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr),
            &std::free);
        if (!property || xcb_get_property_value_length(property.get()) != 4)
            return -1;
        return *static_cast<const quint32 *>(xcb_get_property_value(property.get()));
    }

    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> m_connection;
    xcb_atom_t m_pidAtom = XCB_ATOM_NONE;
    bool m_ok = false;
};

} // namespace bench
