#pragma once

// Helpers of the fault tests that run the real programs: a private X server,
// the owner of a bus name, and ending processes that are not our children.

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QTest>

#include <signal.h>
#include <sys/types.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <cstdlib>

#include <memory>
#include <optional>

// The process that owns NAME on the session bus, if any.
inline std::optional<pid_t> busNameOwner(const QString &name)
{
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    if (!bus || !bus->isServiceRegistered(name))
        return std::nullopt;
    const QDBusReply<uint> pid = bus->servicePid(name);
    if (!pid.isValid())
        return std::nullopt;
    return pid_t(pid.value());
}

// A process that has ended but was not reaped yet (a zombie) counts as gone.
inline bool processExists(pid_t pid)
{
    if (::kill(pid, 0) != 0 && errno == ESRCH)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype end = line.lastIndexOf(')');
    return end < 0 || line.mid(end + 2, 1) != "Z";
}

// The processes that run the program file PROGRAM, by their /proc entries.
inline QList<pid_t> processesRunning(const QString &program)
{
    const QString wanted = QFileInfo(program).canonicalFilePath();
    QList<pid_t> found;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isNumber = false;
        const pid_t pid = pid_t(entry.toInt(&isNumber));
        if (isNumber && QFileInfo(QStringLiteral("/proc/%1/exe").arg(entry)).symLinkTarget() == wanted
            && processExists(pid))
            found.append(pid);
    }
    return found;
}

// Ends a process that some other program started (so it cannot be waited
// for): lets it go on if stopped, asks it to end, and kills it when it does
// not within a few seconds. True once it is gone.
inline bool endForeignProcess(pid_t pid)
{
    if (pid <= 0 || !processExists(pid))
        return true;
    ::kill(pid, SIGCONT);
    ::kill(pid, SIGTERM);
    QDeadlineTimer deadline(5000);
    while (processExists(pid) && !deadline.hasExpired())
        QTest::qWait(20);
    if (processExists(pid)) {
        ::kill(pid, SIGKILL);
        QDeadlineTimer again(5000);
        while (processExists(pid) && !again.hasExpired())
            QTest::qWait(20);
    }
    return !processExists(pid);
}

// An X server of the test's own (Xvfb), on a display number it picks itself.
class PrivateXServer
{
public:
    PrivateXServer()
    {
        m_process.setProgram(QStringLiteral("Xvfb"));
        m_process.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                QStringLiteral("0"), QStringLiteral("640x480x24"), QStringLiteral("-nolisten"),
                                QStringLiteral("tcp")});
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.setStandardErrorFile(QProcess::nullDevice());
    }
    ~PrivateXServer() { stop(); }
    Q_DISABLE_COPY_MOVE(PrivateXServer)

    // Starts the server and waits until it takes connections; the display
    // name (":N") or an empty string.
    QString start()
    {
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return {};
        QDeadlineTimer deadline(20000);
        while (!m_process.canReadLine() && m_process.state() == QProcess::Running && !deadline.hasExpired())
            m_process.waitForReadyRead(200);
        if (!m_process.canReadLine())
            return {};
        m_display = QLatin1Char(':') + QString::fromLatin1(m_process.readLine().trimmed());
        return m_display;
    }

    QString display() const { return m_display; }

    // The server vanishes as if it crashed.
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(10000);
    }

    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished();
            }
        }
    }

private:
    QProcess m_process;
    QString m_display;
};

// Whether a top-level window of process PID is viewable on DISPLAY. Without a
// window manager the program's window is a direct child of the root.
inline bool hasViewableWindow(const QString &display, qint64 pid)
{
    const std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection(
        xcb_connect(display.toLatin1().constData(), nullptr), &xcb_disconnect);
    if (xcb_connection_has_error(connection.get()))
        return false;
    xcb_connection_t *c = connection.get();
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const char atomName[] = "_NET_WM_PID";
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof atomName - 1, atomName), nullptr), &std::free);
    const std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
        xcb_query_tree_reply(c, xcb_query_tree(c, screen->root), nullptr), &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE || !tree)
        return false;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        const std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr), &std::free);
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> property(
            xcb_get_property_reply(c, xcb_get_property(c, 0, children[i], atom->atom, XCB_ATOM_CARDINAL, 0, 1),
                                   nullptr),
            &std::free);
        if (property && xcb_get_property_value_length(property.get()) == 4
            && *static_cast<const quint32 *>(xcb_get_property_value(property.get())) == quint32(pid))
            return true;
    }
    return false;
}
