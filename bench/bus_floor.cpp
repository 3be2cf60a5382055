// The floor of the cursor program's memory: a bare Qt Core program that owns
// a name on the session bus and runs its event loop.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QDBusConnection::sessionBus().interface()->registerService(QStringLiteral("org.quillvane.BenchFloor"));
    return app.exec();
}
