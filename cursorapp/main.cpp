#include "CursorApplication.h"
#include "PreferencesStore.h"

#include <QCoreApplication>
#include <QDBusConnection>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    // No GUI application object: it would insist on a display, and this
    // program also serves its settings where there is none.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"Quillvane"_s);

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
