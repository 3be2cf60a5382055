// Writes COUNT keys PREFIX0 ... into a domain of the store over DIRECTORY,
// synchronising after each one. It starts when a line arrives on standard
// input, so that the test can start several writers at the same moment.
// Exit status 0 when every synchronisation succeeded.

#include "PreferencesStore.h"

#include <QCoreApplication>
#include <QTextStream>

#include <chrono>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 5) {
        std::fprintf(stderr, "usage: %s DIRECTORY DOMAIN PREFIX COUNT\n", argv[0]);
        return 2;
    }
    settings::PreferencesStore store(arguments.at(1));
    store.setLockTimeout(std::chrono::seconds(20));
    const QString domain = arguments.at(2);
    const QString prefix = arguments.at(3);
    const int count = arguments.at(4).toInt();

    QTextStream(stdin).readLine();
    for (int i = 0; i < count; ++i) {
        store.setAppValue(prefix + QString::number(i), i, domain);
        if (!store.appSynchronize(domain))
            return 1;
    }
    return 0;
}
