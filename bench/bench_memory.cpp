// The resident memory of Quillvane.app, settled and serving, beside a bare Qt
// Core program with a session-bus name (the floor), started the same way in
// the same X server and bus. The cursor program should stay within 1.2 times
// its floor.

#include "BenchSession.h"

#include <QThread>

#include <cstdio>

namespace {

constexpr int Runs = 5;

// Starts PROGRAM, waits until it owns BUSNAME and has settled, and returns
// its resident memory in KiB (0 when it never got the name).
double settledMemory(const QString &program, const QString &busName)
{
    QProcess process;
    process.setProgram(program);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(5000))
        return 0;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    const QDeadlineTimer deadline(10000);
    bool owned = false;
    while (!owned && !deadline.hasExpired()) {
        owned = bus.interface()->isServiceRegistered(busName).value();
        if (!owned)
            QThread::msleep(10);
    }
    // A benchmark may wait: let start-up allocations and lazy loading finish.
    QThread::msleep(500);
    const double kib = owned ? bench::residentKiB(process.processId()) : 0;
    process.kill();
    process.waitForFinished(5000);
    return kib;
}

int run(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::vector<double> program, floor;
    for (int i = 0; i < Runs; ++i) {
        program.push_back(settledMemory(QStringLiteral(QUILLVANE_APP_EXECUTABLE),
                                        QStringLiteral("org.quillvane.QuillvaneServer")));
        floor.push_back(settledMemory(QStringLiteral(FLOOR_EXECUTABLE), QStringLiteral("org.quillvane.BenchFloor")));
        if (program.back() == 0 || floor.back() == 0)
            return bench::fail(argv[0], QStringLiteral("a program did not take its bus name"));
    }
    const double mib = bench::median(program) / 1024, floorMib = bench::median(floor) / 1024;
    std::printf("Quillvane.app resident memory, serving:  %6.1f MiB  (floor: Qt Core with a bus name %6.1f MiB, "
                "ratio %.2f, aim at most 1.20)\n",
                mib, floorMib, mib / floorMib);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    return bench::runInPrivateSession(argc, argv, run);
}
