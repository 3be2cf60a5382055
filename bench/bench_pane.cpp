// Opening the settings window with the Quillvane page: from starting the
// settings-host process until its window is mapped (the page has loaded by
// then: the host maps its window only after the page's main view has loaded),
// and the resident memory of the process once it has settled. The floor is a
// bare Qt Widgets window started and measured the same way.

#include "BenchSession.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

namespace {

constexpr int Runs = 9;
constexpr int SettleMs = 700;

struct Sample
{
    double openMs = 0;
    double residentKiB = 0;
};

std::optional<Sample> open(bench::MapWatcher &watcher, const QString &program, const QStringList &arguments)
{
    watcher.drain();
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start();
    std::optional<Sample> sample;
    if (process.waitForStarted(10000) && watcher.waitForWindowOf(process.processId(), 30000)) {
        sample = Sample{double(clock.nsecsElapsed()) / 1e6, 0};
        QThread::msleep(SettleMs);
        sample->residentKiB = bench::residentKiB(process.processId());
    }
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished();
    }
    return sample;
}

int measure(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    bench::MapWatcher watcher;
    if (!watcher.isValid())
        return bench::fail("bench_pane", QStringLiteral("cannot watch the X server"));

    const QString host = QStringLiteral(SETTINGS_HOST);
    const QStringList hostArguments{QStringLiteral(PANE_BUNDLE)};
    const QString floor = QStringLiteral(FLOOR_EXECUTABLE);

    // Not counted: the first opening seeds the settings, adds the login
    // item and starts the cursor application; both fill the file cache.
    if (!open(watcher, host, hostArguments) || !open(watcher, floor, {}))
        return bench::fail("bench_pane", QStringLiteral("a window never appeared"));

    std::vector<double> hostOpen, hostMemory, floorOpen, floorMemory;
    for (int run = 0; run < Runs; ++run) {
        const std::optional<Sample> pane = open(watcher, host, hostArguments);
        const std::optional<Sample> bare = open(watcher, floor, {});
        if (!pane || !bare)
            return bench::fail("bench_pane", QStringLiteral("a window never appeared"));
        hostOpen.push_back(pane->openMs);
        hostMemory.push_back(pane->residentKiB);
        floorOpen.push_back(bare->openMs);
        floorMemory.push_back(bare->residentKiB);
    }

    const double open = bench::median(hostOpen), openFloor = bench::median(floorOpen);
    const double memory = bench::median(hostMemory) / 1024, memoryFloor = bench::median(floorMemory) / 1024;
    std::printf("settings window with the Quillvane page, median of %d runs\n", Runs);
    std::printf("%-46s %12s %12s %8s\n", "", "page", "bare window", "ratio");
    std::printf("%-46s %9.1f ms %9.1f ms %8.2f\n", "process start -> window mapped, page loaded", open, openFloor,
                open / openFloor);
    std::printf("%-46s %9.1f MiB %8.1f MiB %8.2f\n", "resident memory, window open", memory, memoryFloor,
                memory / memoryFloor);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    return bench::runInPrivateSession(argc, argv, measure);
}
