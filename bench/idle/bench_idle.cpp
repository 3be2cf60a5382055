// Prints the CPU time that the pointer hider takes over ten seconds with the
// pointer still and over ten seconds with the pointer moving all along, next
// to a bare Qt event loop started beside it, on an X server and a session bus
// of its own.

#include "PropertyList.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include <unistd.h>

namespace {

constexpr int kSeconds = 10;
constexpr int kMotionsPerSecond = 500;

// Started now, killed and reaped when it goes.
class Child
{
public:
    Child(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment = {})
    {
        m_process.setProgram(program);
        m_process.setArguments(arguments);
        if (!environment.isEmpty())
            m_process.setProcessEnvironment(environment);
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start();
        m_process.waitForStarted(5000);
    }
    ~Child()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    QProcess &process() { return m_process; }

    // The first line it prints, or an empty one.
    QByteArray firstLine()
    {
        const QDeadlineTimer deadline(10000);
        while (!m_process.canReadLine() && !deadline.hasExpired() && m_process.state() == QProcess::Running)
            m_process.waitForReadyRead(int(deadline.remainingTime()));
        return m_process.readLine().trimmed();
    }

private:
    QProcess m_process;
};

// Nanoseconds on the CPU of every thread of a process.
std::optional<qint64> cpuTime(qint64 pid)
{
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    const QStringList threads = tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (threads.isEmpty())
        return std::nullopt;
    qint64 total = 0;
    for (const QString &thread : threads) {
        QFile schedstat(tasks.filePath(thread + QStringLiteral("/schedstat")));
        if (!schedstat.open(QIODevice::ReadOnly))
            return std::nullopt;
        total += schedstat.readAll().split(' ').value(0).toLongLong();
    }
    return total;
}

struct Usage
{
    double app = 0;   // milliseconds
    double floor = 0; // milliseconds
};

template<typename During>
std::optional<Usage> measure(qint64 appPid, qint64 floorPid, During during)
{
    const auto app0 = cpuTime(appPid), floor0 = cpuTime(floorPid);
    during();
    const auto app1 = cpuTime(appPid), floor1 = cpuTime(floorPid);
    if (!app0 || !floor0 || !app1 || !floor1)
        return std::nullopt;
    return Usage{double(*app1 - *app0) / 1e6, double(*floor1 - *floor0) / 1e6};
}

void print(const char *what, const Usage &usage)
{
    std::printf("%-34s %10.2f ms %10.2f ms", what, usage.app, usage.floor);
    if (usage.floor > 0)
        std::printf(" %10.1f\n", usage.app / usage.floor);
    else
        std::printf(" %10s\n", "n/a");
}

int fail(const char *why)
{
    std::fprintf(stderr, "bench_idle: %s\n", why);
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return fail("no temporary folder");

    Child bus(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    const QString busAddress = QString::fromUtf8(bus.firstLine());
    Child xServer(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                           QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                                           QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    const QByteArray display = ':' + xServer.firstLine();
    if (busAddress.isEmpty() || display.size() < 2)
        return fail("dbus-daemon or Xvfb did not start");

    // The first-use settings: the pointer hides after 35 s, longer than
    // either phase, so it stays shown and watched all along.
    QFile settings(scratch.filePath(QStringLiteral("org.quillvane.Quillvane.plist")));
    if (!settings.open(QIODevice::WriteOnly)
        || settings.write(settings::PropertyList::toXml(QVariantMap{
               {QStringLiteral("autoShow"), true},
               {QStringLiteral("idleHide"), 35.0},
               {QStringLiteral("toggleCursorHotKey"),
                QVariantMap{{QStringLiteral("keyCode"), 40}, {QStringLiteral("modifiers"), 6144}}}}))
               < 0)
        return fail("cannot write the settings");
    settings.close();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), scratch.path());
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    Child cursorApp(QStringLiteral(QUILLVANE_APP_EXECUTABLE), {}, environment);
    Child floor(QStringLiteral(FLOOR_EXECUTABLE), {}, environment);

    const QDBusConnection connection = QDBusConnection::connectToBus(busAddress, QStringLiteral("bench"));
    const QDeadlineTimer started(10000);
    while (!connection.interface()->isServiceRegistered(QStringLiteral("org.quillvane.QuillvaneServer")).value()) {
        if (started.hasExpired() || cursorApp.process().state() != QProcess::Running)
            return fail("the pointer hider did not start");
        QThread::msleep(20);
    }

    struct Disconnect
    {
        void operator()(xcb_connection_t *c) const { xcb_disconnect(c); }
    };
    const std::unique_ptr<xcb_connection_t, Disconnect> x(xcb_connect(display.constData(), nullptr));
    if (xcb_connection_has_error(x.get()))
        return fail("cannot connect to Xvfb");
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x.get())).data->root;

    // Settled: whatever start-up cost is over.
    QThread::sleep(1);

    const qint64 appPid = cursorApp.process().processId();
    const qint64 floorPid = floor.process().processId();
    const auto still = measure(appPid, floorPid, [] { QThread::sleep(kSeconds); });

    int motions = 0;
    const auto moving = measure(appPid, floorPid, [&] {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < kSeconds * 1000) {
            // Round and round a circle of radius 200 around the middle.
            const double angle = motions * 0.05;
            xcb_test_fake_input(x.get(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root,
                                qint16(640 + 200 * std::cos(angle)), qint16(512 + 200 * std::sin(angle)), 0);
            xcb_flush(x.get());
            ++motions;
            const qint64 next = qint64(motions) * 1000000 / kMotionsPerSecond;
            const qint64 now = clock.nsecsElapsed() / 1000;
            if (next > now)
                ::usleep(useconds_t(next - now));
        }
    });
    if (!still || !moving)
        return fail("cannot read the CPU times from /proc");

    std::printf("CPU time over %d s: the pointer hider against a bare Qt event loop\n", kSeconds);
    std::printf("%-34s %13s %13s %10s\n", "", "Quillvane", "bare loop", "ratio");
    print("pointer still", *still);
    const QByteArray movingLabel = QByteArray("pointer moving (") + QByteArray::number(motions / kSeconds) + " motions/s)";
    print(movingLabel.constData(), *moving);
    return 0;
}
