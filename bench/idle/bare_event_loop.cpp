// The floor: a Qt program that only runs its event loop.
#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    return app.exec();
}
