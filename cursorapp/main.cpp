// Quillvane.app: hides the mouse pointer while it keeps still and on its hot
// key. `Quillvane --quit` ends the running copy.

#include "CursorApplication.h"
#include "CursorLink.h"
#include "PreferencesStore.h"
#include "ServiceConnection.h"
#include "SystemLog.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// Asks the running copy to quit and waits until it has given up its name.
int quitRunningCopy()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString busName = dbuslink::ServiceConnection::busNameForRegisteredName(dbuslink::RegisteredName);
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(busName).value()) {
        std::fprintf(stderr, "Quillvane is not running.\n");
        return 1;
    }
    QDBusMessage quit = QDBusMessage::createMethodCall(busName, dbuslink::ObjectPath, dbuslink::Interface,
                                                       dbuslink::QuitMethod);
    quit.setAutoStartService(false);
    bus.send(quit);
    // The name goes when the program ends: ask the bus, whose answers come
    // in order after the program's own messages.
    for (int i = 0; i < 100 && bus.interface()->isServiceRegistered(busName).value(); ++i)
        bus.call(QDBusMessage::createMethodCall(busName, dbuslink::ObjectPath, u"org.freedesktop.DBus.Peer"_s,
                                                u"Ping"_s),
                 QDBus::Block, 100);
    return bus.interface()->isServiceRegistered(busName).value() ? 1 : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // No GUI application object: it would insist on a display, and this
    // program also serves its settings where there is none.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"Quillvane"_s);
    QCoreApplication::setApplicationVersion(QString::fromLatin1(QUILLVANE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Hides the mouse pointer after the mouse has kept still for a while, and shows and hides it on a "
        "hot key. The settings page in settings-host sets both; the program re-reads them when asked on "
        "the session bus."_s);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption quitOption(u"quit"_s, u"End the running Quillvane, the pointer shown."_s);
    parser.addOption(quitOption);
    parser.process(app);
    if (parser.isSet(quitOption))
        return quitRunningCopy();

    logToSystemLogUnlessTerminal("Quillvane");

    CursorApplication cursorApp(settings::PreferencesStore::standard(), QDBusConnection::sessionBus());
    // Queued: an end noticed while starting takes effect once the loop runs.
    QObject::connect(&cursorApp, &CursorApplication::finished, &app, &QCoreApplication::exit, Qt::QueuedConnection);
    switch (cursorApp.start()) {
    case CursorServer::StartResult::Serving:
        break;
    case CursorServer::StartResult::AlreadyRunning:
        return 0;
    case CursorServer::StartResult::Failed:
        return 1;
    }
    return app.exec();
}
