// Login items with 1,000 autostart entries present: keeping the cursor
// application a login item (as every opening of the pane does) and looking it
// up, against the least that any reading of the list costs: listing the
// folder and reading every entry file once.

#include "LoginItems.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int Entries = 1000;
constexpr int Runs = 15;

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

bool makeBundle(const QString &path, const QByteArray &identifier)
{
    const QByteArray info = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                            "<key>CFBundleExecutable</key><string>App</string>\n"
                            "<key>CFBundleIdentifier</key><string>" + identifier + "</string>\n"
                            "</dict>\n</plist>\n";
    return QDir().mkpath(path + QStringLiteral("/Contents/Linux")) && writeFile(path + QStringLiteral("/Contents/Info.plist"), info)
        && writeFile(path + QStringLiteral("/Contents/Linux/App"), "#!/bin/sh\n");
}

// A mix like a long-used desktop's: mostly programs by path, some other
// applications' bundles, some programs that are gone, some broken entries.
bool populate(const QString &root, const QString &autostart)
{
    if (!QDir().mkpath(autostart))
        return false;
    for (int i = 0; i < 10; ++i) {
        if (!makeBundle(root + QStringLiteral("/Other%1.app").arg(i), "org.example.Other" + QByteArray::number(i)))
            return false;
    }
    for (int i = 0; i < Entries; ++i) {
        QByteArray exec;
        switch (i % 20) {
        case 0:
        case 1:
            exec = QFile::encodeName(root + QStringLiteral("/Other%1.app/Contents/Linux/App").arg(i % 10));
            break;
        case 2:
            exec = "no-such-program-" + QByteArray::number(i) + " --start";
            break;
        case 3:
            exec = "\"/unterminated quote";
            break;
        default:
            exec = "/bin/sh -c \"exec true\" %U";
            break;
        }
        const QByteArray entry = "[Desktop Entry]\nType=Application\nName=Entry " + QByteArray::number(i)
            + "\nName[de]=Eintrag " + QByteArray::number(i) + "\nComment=Started at log-in\nExec=" + exec
            + "\nX-GNOME-Autostart-enabled=true\n";
        if (!writeFile(autostart + QStringLiteral("/entry-%1.desktop").arg(i, 4, 10, QLatin1Char('0')), entry))
            return false;
    }
    return true;
}

double medianMs(const std::function<void()> &run)
{
    std::vector<double> times;
    for (int i = 0; i < Runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        run();
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The broken entries are logged at every pass; the figures are the point.
    QLoggingCategory::setFilterRules(QStringLiteral("quillvane.*.warning=false"));

    QTemporaryDir root;
    const QString configHome = root.filePath(QStringLiteral("config"));
    const QString autostart = configHome + QStringLiteral("/autostart");
    if (!root.isValid() || !populate(root.path(), autostart)
        || !makeBundle(root.filePath(QStringLiteral("Quillvane.app")), "org.quillvane.Quillvane")) {
        std::fprintf(stderr, "bench_loginitems: cannot build the autostart folder\n");
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome));
    const settings::Bundle bundle = settings::Bundle::withPath(root.filePath(QStringLiteral("Quillvane.app")));

    PTAddBundleToLoginItems(bundle, false);
    if (!PTIsBundleInLoginItems(bundle)) {
        std::fprintf(stderr, "bench_loginitems: the bundle did not become a login item\n");
        return 1;
    }

    qint64 bytes = 0;
    const double floor = medianMs([&] {
        bytes = 0;
        QDir folder(autostart);
        const QStringList names = folder.entryList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name);
        for (const QString &name : names) {
            QFile file(folder.filePath(name));
            if (file.open(QIODevice::ReadOnly))
                bytes += file.readAll().size();
        }
    });
    const double add = medianMs([&] { PTAddBundleToLoginItems(bundle, false); });
    bool found = true;
    const double lookup = medianMs([&] { found = found && PTIsBundleInLoginItems(bundle); });
    if (!found || QDir(autostart).entryList({QStringLiteral("*.desktop")}).size() != Entries + 1) {
        std::fprintf(stderr, "bench_loginitems: the login items changed under the benchmark\n");
        return 1;
    }

    std::printf("login items with %d autostart entries present, median of %d runs\n", Entries, Runs);
    std::printf("%-44s %9.2f ms\n", "floor: list the folder, read every entry", floor);
    std::printf("%-44s %9.2f ms   ratio %.1f\n", "add (already a login item, as at each load)", add, add / floor);
    std::printf("%-44s %9.2f ms   ratio %.1f\n", "look up", lookup, lookup / floor);
    return 0;
}
