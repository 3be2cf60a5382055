// From an XTest key press to the hot key's action, against the floor of one
// X round trip measured on the same connection in the same run.

#include "PTHotKeyCenter.h"
#include "KeyCodeTable.h"
#include "X11HotKeyEventSource.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QObject>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

class Target : public QObject
{
    Q_OBJECT

public:
    Clock::time_point invokedAt;
    bool invoked = false;

    Q_INVOKABLE void hotKeyPressed(PTHotKey *)
    {
        invokedAt = Clock::now();
        invoked = true;
    }
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double microseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

void roundTrip(xcb_connection_t *c)
{
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

void fakeKey(xcb_connection_t *c, quint8 keyCode, bool press)
{
    xcb_test_fake_input(c, press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keyCode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;

    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "bench_hotkey_latency: needs an X display\n");
        xcb_disconnect(c);
        return 1;
    }

    auto source = std::make_shared<systemhotkeys::X11HotKeyEventSource>();
    PTHotKeyCenter center(source);
    Target target;
    auto hotKey = std::make_shared<PTHotKey>();
    hotKey->setName(QStringLiteral("bench"));
    hotKey->setKeyCombo(PTKeyCombo(40, 0x1200)); // Control Shift K
    hotKey->setTarget(&target);
    hotKey->setAction("hotKeyPressed");
    if (!center.registerHotKey(hotKey)) {
        std::fprintf(stderr, "bench_hotkey_latency: Control Shift K is taken\n");
        xcb_disconnect(c);
        return 1;
    }

    const quint8 control = *x11::KeyCodeTable::xKeyCode(59);
    const quint8 shift = *x11::KeyCodeTable::xKeyCode(56);
    const quint8 k = *x11::KeyCodeTable::xKeyCode(40);
    std::vector<double> latencies;
    std::vector<double> floors;
    int missed = 0;
    for (int i = 0; i < runs; ++i) {
        const Clock::time_point before = Clock::now();
        roundTrip(c);
        floors.push_back(microseconds(Clock::now() - before));

        fakeKey(c, control, true);
        fakeKey(c, shift, true);
        roundTrip(c); // the modifiers are down before the timed press
        target.invoked = false;
        const Clock::time_point pressed = Clock::now();
        fakeKey(c, k, true);
        xcb_flush(c);
        const QDeadlineTimer deadline(2000);
        while (!target.invoked && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        if (target.invoked)
            latencies.push_back(microseconds(target.invokedAt - pressed));
        else
            ++missed;
        fakeKey(c, k, false);
        fakeKey(c, shift, false);
        fakeKey(c, control, false);
        roundTrip(c);
        QCoreApplication::processEvents();
    }
    xcb_disconnect(c);

    if (latencies.empty()) {
        std::fprintf(stderr, "bench_hotkey_latency: the hot key never fired\n");
        return 1;
    }
    const double latency = median(latencies);
    const double floor = median(floors);
    std::printf("hot key latency (XTest press -> action), median of %zu: %.1f us\n", latencies.size(), latency);
    std::printf("X round trip floor, median of %zu:                    %.1f us\n", floors.size(), floor);
    std::printf("ratio: %.2f\n", latency / floor);
    if (missed)
        std::printf("presses that never fired: %d\n", missed);
    return missed ? 1 : 0;
}

#include "bench_hotkey_latency.moc"
