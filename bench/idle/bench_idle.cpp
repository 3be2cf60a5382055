// Prints, for the pointer hider and beside it for floors measured in the same
// run (and unclutter-xfixes and xbanish when they are installed):
// - the CPU time over ten seconds with the pointer still and over ten seconds
//   with the pointer circling at 500 motions a second;
// - how long after the idle time (1 s) from the last motion the pointer is
//   gone from the screen, over several runs.
// Each program runs on an X server of its own, where the pointer is watched
// in the frame buffer as a user would see it.

#include "PropertyList.h"
#include "XServer.h"
#include "XUser.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>

#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr int kSeconds = 10;
constexpr int kMotionsPerSecond = 500;
constexpr int kKeysPerSecond = 20;
constexpr int kIdleMilliseconds = 1000;
constexpr int kPrecisionRuns = 7;
constexpr int kLongIdleSeconds = 35; // never reached while the CPU is measured

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
    bool isRunning() const { return m_process.state() == QProcess::Running; }

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

// The screen file of Xvfb, mapped: whether the pointer's colours show in a
// square around a point, read as often as wanted without copying the screen.
class ScreenWatch
{
public:
    explicit ScreenWatch(const QString &path) : m_file(path)
    {
        if (!m_file.open(QIODevice::ReadOnly))
            return;
        m_data = m_file.map(0, m_file.size());
        if (!m_data || m_file.size() < 100)
            return;
        const auto field = [this](int index) { return qFromBigEndian<quint32>(m_data + 4 * index); };
        m_width = int(field(4));
        m_height = int(field(5));
        m_bytesPerLine = field(12);
        m_pixels = field(0) + 12 * field(19);
        m_valid = field(11) == 32 && field(7) == 0 && m_pixels + qint64(m_bytesPerLine) * m_height <= m_file.size();
    }

    bool isValid() const { return m_valid; }

    bool pointerNear(int x, int y) const
    {
        for (int row = std::max(0, y - 24); row < std::min(m_height, y + 24); ++row) {
            const uchar *line = m_data + m_pixels + qint64(m_bytesPerLine) * row;
            for (int column = std::max(0, x - 24); column < std::min(m_width, x + 24); ++column) {
                const quint32 pixel = qFromLittleEndian<quint32>(line + 4 * column) & 0xffffff;
                if (pixel == testsupport::XUser::CursorForeground || pixel == testsupport::XUser::CursorBackground)
                    return true;
            }
        }
        return false;
    }

private:
    QFile m_file;
    uchar *m_data = nullptr;
    int m_width = 0;
    int m_height = 0;
    quint32 m_bytesPerLine = 0;
    qint64 m_pixels = 0;
    bool m_valid = false;
};

// One program under measurement, started afresh for each measurement.
struct Contestant
{
    QString name;
    QString program;
    // The arguments for an idle time in milliseconds.
    std::function<QStringList(int)> arguments;
    bool quillvane = false; // needs its settings file and a session bus
};

struct Figures
{
    std::optional<double> stillMs, movingMs;  // CPU time over kSeconds
    std::optional<double> typingMs;           // the same while typing at kKeysPerSecond
    QList<double> pastIdle;                    // ms past the idle time, per run
};

class Bench
{
public:
    bool start()
    {
        if (!m_scratch.isValid())
            return false;
        m_bus = std::make_unique<Child>(QStringLiteral("dbus-daemon"),
                                        QStringList{QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                    QStringLiteral("--print-address=1")});
        m_busAddress = QString::fromUtf8(m_bus->firstLine());
        return !m_busAddress.isEmpty();
    }

    // Starts the contestant with IDLE ms on an X server of its own; null
    // when it does not come up.
    std::unique_ptr<Child> launch(const Contestant &contestant, int idle, const testsupport::PrivateXServer &x)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), x.display());
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_scratch.path());
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        if (contestant.quillvane && !writeSettings(idle))
            return nullptr;
        auto child = std::make_unique<Child>(contestant.program, contestant.arguments(idle), environment);
        if (contestant.quillvane) {
            const QDBusConnection connection = QDBusConnection::connectToBus(m_busAddress, QStringLiteral("bench"));
            const QDeadlineTimer started(10000);
            while (!connection.interface()->isServiceRegistered(QStringLiteral("org.quillvane.QuillvaneServer"))) {
                if (started.hasExpired() || !child->isRunning())
                    return nullptr;
                QThread::msleep(20);
            }
        }
        // Settled: whatever start-up cost is over.
        QThread::sleep(1);
        return child->isRunning() ? std::move(child) : nullptr;
    }

    // CPU over kSeconds still, then kSeconds circling; FLOOR runs beside it.
    void measureCpu(const Contestant &contestant, Figures *figures, Child *floorBeside = nullptr,
                    Figures *floorFigures = nullptr)
    {
        testsupport::PrivateXServer x;
        QString error;
        if (!x.start(&error))
            return;
        testsupport::XUser user(x.display());
        const std::unique_ptr<Child> child = launch(contestant, kLongIdleSeconds * 1000, x);
        if (!child || !user.isValid())
            return;
        const qint64 pid = child->process().processId();
        const qint64 floorPid = floorBeside ? floorBeside->process().processId() : 0;
        const auto measure = [&](auto during, std::optional<double> *figure, std::optional<double> *floorFigure) {
            const auto before = cpuTime(pid), floorBefore = floorPid ? cpuTime(floorPid) : std::nullopt;
            during();
            const auto after = cpuTime(pid), floorAfter = floorPid ? cpuTime(floorPid) : std::nullopt;
            if (before && after)
                *figure = double(*after - *before) / 1e6;
            if (floorFigure && floorBefore && floorAfter)
                *floorFigure = double(*floorAfter - *floorBefore) / 1e6;
        };
        measure([] { QThread::sleep(kSeconds); }, &figures->stillMs, floorFigures ? &floorFigures->stillMs : nullptr);
        measure([&] { circle(user, kSeconds * 1000, 320, 240, 150); }, &figures->movingMs,
                floorFigures ? &floorFigures->movingMs : nullptr);
        measure([&] { type(user, kSeconds * 1000); }, &figures->typingMs,
                floorFigures ? &floorFigures->typingMs : nullptr);
    }

    // kPrecisionRuns times: circle for 300 ms, stop, and time how long after
    // the idle time from the last motion the pointer is gone from the screen.
    void measurePrecision(const Contestant &contestant, Figures *figures)
    {
        testsupport::PrivateXServer x;
        QString error;
        if (!x.start(&error))
            return;
        testsupport::XUser user(x.display());
        if (!user.isValid())
            return;
        user.giveRootACursor();
        const std::unique_ptr<Child> child = launch(contestant, kIdleMilliseconds, x);
        const ScreenWatch screen(x.screenFile());
        if (!child || !screen.isValid())
            return;
        for (int run = 0; run < kPrecisionRuns; ++run) {
            // Shown again by a move, then a pause that is no idle time.
            user.moveTo(100, 100);
            const QDeadlineTimer shown(3000);
            while (!screen.pointerNear(100, 100) && !shown.hasExpired())
                QThread::usleep(500);
            const auto [lastX, lastY] = circle(user, 300, 320, 240, 100);
            QElapsedTimer sinceLastMotion;
            sinceLastMotion.start();
            while (screen.pointerNear(lastX, lastY) && sinceLastMotion.elapsed() < 5000)
                QThread::usleep(200);
            if (sinceLastMotion.elapsed() >= 5000)
                return;
            figures->pastIdle.append(double(sinceLastMotion.nsecsElapsed()) / 1e6 - kIdleMilliseconds);
        }
    }

private:
    bool writeSettings(int idle)
    {
        QFile settings(m_scratch.filePath(QStringLiteral("org.quillvane.Quillvane.plist")));
        return settings.open(QIODevice::WriteOnly)
            && settings.write(settings::PropertyList::toXml(QVariantMap{
                   {QStringLiteral("autoShow"), true},
                   {QStringLiteral("idleHide"), idle / 1000.0},
                   {QStringLiteral("hideWhileTyping"), true},
                   {QStringLiteral("toggleCursorHotKey"),
                    QVariantMap{{QStringLiteral("keyCode"), 40}, {QStringLiteral("modifiers"), 6144}}}}))
            > 0;
    }

    // Round and round a circle for MILLISECONDS at kMotionsPerSecond; the
    // last position, which the server has taken when this returns.
    static std::pair<int, int> circle(testsupport::XUser &user, int milliseconds, int x, int y, int radius)
    {
        QElapsedTimer clock;
        clock.start();
        int motions = 0;
        int lastX = x, lastY = y;
        while (clock.elapsed() < milliseconds) {
            const double angle = motions * 0.05;
            lastX = x + int(radius * std::cos(angle));
            lastY = y + int(radius * std::sin(angle));
            xcb_test_fake_input(user.c(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME,
                                xcb_setup_roots_iterator(xcb_get_setup(user.c())).data->root, qint16(lastX),
                                qint16(lastY), 0);
            xcb_flush(user.c());
            ++motions;
            const qint64 next = qint64(motions) * 1000000 / kMotionsPerSecond;
            const qint64 now = clock.nsecsElapsed() / 1000;
            if (next > now)
                ::usleep(useconds_t(next - now));
        }
        user.sync();
        return {lastX, lastY};
    }

    // Taps J at kKeysPerSecond for MILLISECONDS.
    static void type(testsupport::XUser &user, int milliseconds)
    {
        constexpr qint32 J = 38;
        QElapsedTimer clock;
        clock.start();
        for (int keys = 1; clock.elapsed() < milliseconds; ++keys) {
            user.type(J, 0);
            const qint64 next = qint64(keys) * 1000 / kKeysPerSecond;
            if (next > clock.elapsed())
                QThread::msleep(quint64(next - clock.elapsed()));
        }
    }

    QTemporaryDir m_scratch;
    std::unique_ptr<Child> m_bus;
    QString m_busAddress;
};

QByteArray cpuText(const std::optional<double> &figure)
{
    return figure ? QByteArray::number(*figure, 'f', 1) + " ms" : QByteArray("n/a");
}

QByteArray precisionText(QList<double> runs)
{
    if (runs.isEmpty())
        return "n/a";
    std::sort(runs.begin(), runs.end());
    return QByteArray::number(runs[runs.size() / 2], 'f', 1) + " ms (" + QByteArray::number(runs.first(), 'f', 1)
        + " to " + QByteArray::number(runs.last(), 'f', 1) + ")";
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Bench bench;
    if (!bench.start()) {
        std::fprintf(stderr, "bench_idle: dbus-daemon did not start\n");
        return 1;
    }

    const auto noArguments = [](int) { return QStringList(); };
    const Contestant quillvane{QStringLiteral("Quillvane.app"), QStringLiteral(QUILLVANE_APP_EXECUTABLE), noArguments,
                               true};
    QList<Contestant> contestants{
        quillvane,
        {QStringLiteral("floor: bare xcb hider"), QStringLiteral(BARE_HIDER_EXECUTABLE),
         [](int idle) { return QStringList{QString::number(idle)}; }},
    };
    // Debian installs the peers as unclutter-xfixes and xbanish.
    const QString unclutter = QStandardPaths::findExecutable(QStringLiteral("unclutter-xfixes"));
    const QString xbanish = QStandardPaths::findExecutable(QStringLiteral("xbanish"));
    QList<QByteArray> skipped;
    if (!unclutter.isEmpty())
        contestants.append({QStringLiteral("unclutter-xfixes"), unclutter, [](int idle) {
                                return QStringList{QStringLiteral("--timeout"), QString::number(idle / 1000)};
                            }});
    else
        skipped.append("unclutter-xfixes is not installed (Debian package unclutter-xfixes): skipped");
    if (!xbanish.isEmpty())
        contestants.append({QStringLiteral("xbanish"), xbanish, [](int idle) {
                                return QStringList{QStringLiteral("-t"), QString::number(idle / 1000)};
                            }});
    else
        skipped.append("xbanish is not installed (Debian package xbanish): skipped");

    // The bare Qt event loop runs beside the pointer hider while its CPU is
    // measured: the floor of a Qt program that does nothing.
    const Contestant bareLoop{QStringLiteral("floor: bare Qt event loop"), QStringLiteral(FLOOR_EXECUTABLE),
                              noArguments};
    Figures bareLoopFigures;
    QList<Figures> figures(contestants.size());
    for (qsizetype i = 0; i < contestants.size(); ++i) {
        if (i == 0) {
            Child floor(bareLoop.program, {});
            bench.measureCpu(contestants[i], &figures[i], &floor, &bareLoopFigures);
        } else {
            bench.measureCpu(contestants[i], &figures[i]);
        }
        bench.measurePrecision(contestants[i], &figures[i]);
    }

    std::printf("Pointer hiders, each on an X server of its own (pointer counted in the frame buffer)\n");
    std::printf("CPU time over %d s with the pointer still / circling at %d motions/s / typing at %d keys/s\n"
                "(Quillvane.app hiding while typing); hide time past the idle time of %d ms after the last\n"
                "motion, median (min to max) of %d runs\n",
                kSeconds, kMotionsPerSecond, kKeysPerSecond, kIdleMilliseconds, kPrecisionRuns);
    std::printf("%-28s %12s %12s %12s %28s\n", "", "CPU still", "CPU moving", "CPU typing", "hides past idle time");
    for (qsizetype i = 0; i < contestants.size(); ++i)
        std::printf("%-28s %12s %12s %12s %28s\n", contestants[i].name.toUtf8().constData(),
                    cpuText(figures[i].stillMs).constData(), cpuText(figures[i].movingMs).constData(),
                    cpuText(figures[i].typingMs).constData(), precisionText(figures[i].pastIdle).constData());
    std::printf("%-28s %12s %12s %12s %28s\n", bareLoop.name.toUtf8().constData(),
                cpuText(bareLoopFigures.stillMs).constData(), cpuText(bareLoopFigures.movingMs).constData(),
                cpuText(bareLoopFigures.typingMs).constData(), "-");
    for (const QByteArray &line : skipped)
        std::printf("%s\n", line.constData());
    return 0;
}
