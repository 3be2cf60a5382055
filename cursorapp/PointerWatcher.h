#pragma once

#include "PointerInterfaces.h"

#include <QTimer>

#include <xcb/xcb.h>

#include <chrono>
#include <optional>

namespace x11 {
class XConnection;
}

// Where the pointer is, as a user would see it move.
struct PointerPosition
{
    xcb_window_t root = XCB_NONE; // the root window of the screen it is on
    int x = 0;
    int y = 0;
    friend bool operator==(const PointerPosition &, const PointerPosition &) = default;
};

// Tells when the pointer moves, without waking for every motion event.
//
// Movement (the pointer is hidden and waits for the user): the server's
// XInput 2 raw motion events are selected on the root windows and the first
// one wakes the watcher. It then stops the events and reads the pointer's
// position once per sample interval until a sample finds it still, and
// selects them again. A user moving the mouse for a minute thus costs ten
// position reads a second, whatever the mouse's rate. Raw button presses
// other than the scroll wheel's are passed on as they come.
//
// Stillness (the pointer is shown and the idle time counts): nothing is
// selected at all. When asked, the watcher reads the server's motion history,
// which holds the time of every motion, and finds the last one that counted:
// a pointer that keeps moving costs one such read per idle time, and a
// pointer that comes back to the same spot between two reads is still seen
// moving. Server times are turned into ours with the time stamp of a raw
// event; until one has come, raw motion stays selected.
//
// Movement is measured on the screen from an anchor, the position where the
// pointer last counted as moved: a pointer that wobbles within the jitter
// radius of its anchor has not moved, and scrolling, which leaves the
// pointer where it is, never counts. Slow drift adds up until it leaves the
// radius.
//
// Without XInput 2 the position is read once per sample interval all along;
// without a motion history, stillness is watched as movement is.
class PointerWatcher : public AbstractPointerWatcher
{
    Q_OBJECT

public:
    static constexpr int JitterRadius = 3; // pixels
    static constexpr std::chrono::milliseconds SampleInterval{100};

    explicit PointerWatcher(x11::XConnection &x, QObject *parent = nullptr);
    ~PointerWatcher() override;
    Q_DISABLE_COPY_MOVE(PointerWatcher)

    void watch(Watch what) override;
    Watch watching() const override { return m_watch; }
    void resetAnchor() override;
    Sample sample() override;
    void waitForButtonRelease() override;

private:
    using Clock = std::chrono::steady_clock;

    struct Reading
    {
        PointerPosition position;
        bool buttonsHeld = false;
    };

    std::optional<Reading> read();
    bool leftAnchor(const PointerPosition &position, Clock::time_point when);
    void readHistory(const PointerPosition &current);
    bool followsEachMove() const;
    void handleEvent(const xcb_generic_event_t &event);
    void handleMotionHint();
    void handleSampleTimeout();
    void checkButtons();
    void updateSelection();

    x11::XConnection &m_x;
    quint8 m_xiOpcode = 0;  // 0: no XInput 2
    bool m_history = false; // the server keeps a motion history
    Watch m_watch = Watch::Nothing;
    bool m_sampling = false; // between a motion hint and a still sample
    bool m_waitingForRelease = false;
    quint32 m_selectedMask = 0;
    PointerPosition m_anchor;
    Clock::time_point m_stillSince; // when the anchor was last set
    // Server time minus ours, in milliseconds, from the last raw event.
    std::optional<quint32> m_serverOffset;
    QTimer m_sampleTimer;
};
