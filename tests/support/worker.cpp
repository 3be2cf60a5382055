// The second process of tests that need one.
//
//   testsupport_worker cycle DIRECTORY DOMAIN PAYLOAD_BYTES
//     Forever: the next generation N (one past the file's), written as three
//     keys that must agree -- "generation" N, "mirror" N and "payload", a
//     text made from N -- then synchronised; prints "N" once it is on disk.
//     Runs until it is killed.
//
//   testsupport_worker keys DIRECTORY DOMAIN PREFIX KEYS ROUNDS
//     Waits for a line on standard input, then for round R = 1..ROUNDS sets
//     PREFIX<R mod KEYS> to R and synchronises. Exit status 0 when every
//     synchronisation succeeded.

#include "PreferencesStore.h"

#include <QCoreApplication>
#include <QTextStream>

#include <chrono>
#include <cstdio>

namespace {

QString payloadFor(qint64 generation, int bytes)
{
    const QString unit = QStringLiteral("%1:").arg(generation);
    return unit.repeated(bytes / unit.size() + 1);
}

int usage(const char *program)
{
    std::fprintf(stderr,
                 "usage: %s cycle DIRECTORY DOMAIN PAYLOAD_BYTES\n"
                 "       %s keys DIRECTORY DOMAIN PREFIX KEYS ROUNDS\n",
                 program, program);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 4)
        return usage(argv[0]);
    const QString mode = arguments.at(1);
    settings::PreferencesStore store(arguments.at(2));
    // A killed predecessor's lock is stale at once; a live peer's is brief.
    store.setLockTimeout(std::chrono::seconds(20));
    const QString domain = arguments.at(3);

    if (mode == QLatin1String("cycle") && arguments.size() == 5) {
        const int bytes = arguments.at(4).toInt();
        qint64 generation = store.copyAppValue(QStringLiteral("generation"), domain).toLongLong();
        for (;;) {
            ++generation;
            store.setAppValue(QStringLiteral("generation"), generation, domain);
            store.setAppValue(QStringLiteral("payload"), payloadFor(generation, bytes), domain);
            store.setAppValue(QStringLiteral("mirror"), generation, domain);
            if (!store.appSynchronize(domain))
                return 1;
            std::printf("%lld\n", static_cast<long long>(generation));
            std::fflush(stdout);
        }
    }

    if (mode == QLatin1String("keys") && arguments.size() == 7) {
        const QString prefix = arguments.at(4);
        const int keys = arguments.at(5).toInt();
        const int rounds = arguments.at(6).toInt();
        if (keys < 1)
            return usage(argv[0]);
        QTextStream(stdin).readLine();
        for (int round = 1; round <= rounds; ++round) {
            store.setAppValue(prefix + QString::number(round % keys), round, domain);
            if (!store.appSynchronize(domain))
                return 1;
        }
        return 0;
    }
    return usage(argv[0]);
}
