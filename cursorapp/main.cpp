#include "cursorapp/CursorApplication.h"
#include "platform/FilePreferencesStore.h"

#include <QCoreApplication>
#include <QDBusConnection>

int main(int argc, char *argv[])
{
    // No GUI application object: it would insist on a display, and this
    // program also serves its settings where there is none.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quillvane"));

    CursorApplication cursorApp(platform::FilePreferencesStore::standard(), QDBusConnection::sessionBus());
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
