// One control action of the settings page (the check box), timed from the
// click until the value is durable on disk and readPrefs has reached the
// cursor application's bus name, against the floor of one atomic file write
// (fsync included) plus one D-Bus message. The page is the real plug-in of
// the build's bundle, loaded as settings-host loads it. A second figure runs
// the real Quillvane.app: click until it has re-read the settings and
// announced the change back on the bus.

#include "BenchSession.h"

#include "PaneLoader.h"

#include <QApplication>
#include <QCheckBox>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSaveFile>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int Runs = 25;
const QString ServiceName = QStringLiteral("org.quillvane.QuillvaneServer");
const QString FloorName = QStringLiteral("org.quillvane.BenchFloor");

// Owns the cursor application's name for the first part and counts what
// arrives, as the cursor application would receive it.
class StandIn : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.quillvane.CursorController")

public Q_SLOTS:
    Q_NOREPLY void readPrefs() { Q_EMIT arrived(); }

Q_SIGNALS:
    void arrived();
};

class FloorPeer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.quillvane.BenchFloor")

public Q_SLOTS:
    Q_NOREPLY void ping() { Q_EMIT arrived(); }

Q_SIGNALS:
    void arrived();
};

// Hears the cursor application announce a changed AutoShow.
class Announcements : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void propertiesChanged(const QString &, const QVariantMap &changed, const QStringList &)
    {
        if (changed.contains(QStringLiteral("AutoShow")))
            Q_EMIT autoShowChanged();
    }

Q_SIGNALS:
    void autoShowChanged();
};

// Runs the event loop until SIGNAL of SENDER fires; false after five seconds.
template<typename Sender, typename Signal>
bool waitFor(Sender *sender, Signal signal, QEventLoop &loop)
{
    bool fired = false;
    const QMetaObject::Connection connection = QObject::connect(sender, signal, &loop, [&] {
        fired = true;
        loop.quit();
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    if (!fired)
        loop.exec();
    QObject::disconnect(connection);
    return fired;
}

void syncDirectory(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

int measure(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const char *const name = "bench_action";
    QEventLoop loop;

    QDBusConnection receiver = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("receiver"));
    StandIn standIn;
    FloorPeer floorPeer;
    if (!receiver.registerObject(QStringLiteral("/"), &standIn, QDBusConnection::ExportAllSlots)
        || !receiver.registerObject(QStringLiteral("/floor"), &floorPeer, QDBusConnection::ExportAllSlots)
        || !receiver.registerService(ServiceName) || !receiver.registerService(FloorName))
        return bench::fail(name, QStringLiteral("cannot serve on the session bus"));

    // Loading launches the cursor application, which leaves at once: the
    // stand-in holds its name.
    QObject owner;
    QString error;
    const std::optional<host::LoadedPane> pane = host::PaneLoader::load(QStringLiteral(PANE_BUNDLE), &owner, &error);
    if (!pane)
        return bench::fail(name, error);
    auto *checkBox = pane->mainView->findChild<QCheckBox *>(QStringLiteral("autoShowButton"));
    if (!checkBox)
        return bench::fail(name, QStringLiteral("the page has no check box"));

    // The first action looks the service up; later ones reuse the link.
    checkBox->click();
    if (!waitFor(&standIn, &StandIn::arrived, loop))
        return bench::fail(name, QStringLiteral("readPrefs never arrived"));

    std::vector<double> actionTotal, actionReturn, floorTotal, roundTrip;
    for (int run = 0; run < Runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        checkBox->click();
        actionReturn.push_back(double(clock.nsecsElapsed()) / 1e6);
        if (!waitFor(&standIn, &StandIn::arrived, loop))
            return bench::fail(name, QStringLiteral("readPrefs never arrived"));
        actionTotal.push_back(double(clock.nsecsElapsed()) / 1e6);
    }

    // The floor: the settings file as it stands, written atomically and
    // durably elsewhere, then one message.
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    QFile settings(configHome + QStringLiteral("/org.quillvane.Quillvane.plist"));
    const QByteArray contents = settings.open(QIODevice::ReadOnly) ? settings.readAll() : QByteArray();
    if (contents.isEmpty())
        return bench::fail(name, QStringLiteral("the page wrote no settings file"));
    const QString floorDirectory = configHome + QStringLiteral("/floor");
    QDir().mkpath(floorDirectory);
    for (int run = 0; run < Runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        QSaveFile file(floorDirectory + QStringLiteral("/floor.plist"));
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() || !file.commit())
            return bench::fail(name, QStringLiteral("cannot write the floor file"));
        syncDirectory(floorDirectory);
        QDBusMessage ping =
            QDBusMessage::createMethodCall(FloorName, QStringLiteral("/floor"), FloorName, QStringLiteral("ping"));
        ping.setAutoStartService(false);
        QDBusConnection::sessionBus().send(ping);
        if (!waitFor(&floorPeer, &FloorPeer::arrived, loop))
            return bench::fail(name, QStringLiteral("the floor message never arrived"));
        floorTotal.push_back(double(clock.nsecsElapsed()) / 1e6);
    }

    // The real cursor application in the stand-in's place: the page's link
    // follows the name.
    receiver.unregisterService(ServiceName);
    QProcess cursorApp;
    cursorApp.setStandardOutputFile(QProcess::nullDevice());
    cursorApp.setStandardErrorFile(QProcess::nullDevice());
    cursorApp.start(QStringLiteral(QUILLVANE_APP_EXECUTABLE), {});
    const QDeadlineTimer started(10000);
    while (!QDBusConnection::sessionBus().interface()->isServiceRegistered(ServiceName).value()) {
        if (started.hasExpired() || cursorApp.state() == QProcess::NotRunning)
            return bench::fail(name, QStringLiteral("Quillvane.app did not start"));
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    Announcements announcements;
    QDBusConnection::sessionBus().connect(ServiceName, QStringLiteral("/"), QStringLiteral("org.freedesktop.DBus.Properties"),
                                          QStringLiteral("PropertiesChanged"), &announcements,
                                          SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
    checkBox->click();
    waitFor(&announcements, &Announcements::autoShowChanged, loop);
    for (int run = 0; run < Runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        checkBox->click();
        if (!waitFor(&announcements, &Announcements::autoShowChanged, loop))
            return bench::fail(name, QStringLiteral("Quillvane.app never announced the change"));
        roundTrip.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    cursorApp.kill();
    cursorApp.waitForFinished();

    const double total = bench::median(actionTotal), floor = bench::median(floorTotal);
    const double trip = bench::median(roundTrip);
    std::printf("one control action (the check box), median of %d runs\n", Runs);
    std::printf("%-58s %8.2f ms\n", "floor: atomic write with fsync + one D-Bus message", floor);
    std::printf("%-58s %8.2f ms   ratio %.2f\n", "click -> on disk and readPrefs received", total, total / floor);
    std::printf("%-58s %8.2f ms\n", "  of which the click itself (returns once on disk)", bench::median(actionReturn));
    std::printf("%-58s %8.2f ms   ratio %.2f\n", "click -> Quillvane.app re-read it and announced it back", trip,
                trip / floor);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    return bench::runInPrivateSession(argc, argv, measure);
}

#include "bench_action.moc"
