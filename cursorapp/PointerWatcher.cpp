#include "PointerWatcher.h"

#include "XConnection.h"

#include <QLoggingCategory>

#include <xcb/xinput.h>

#include <algorithm>

Q_LOGGING_CATEGORY(lcPointerWatcher, "quillvane.cursorapp.watcher", QtWarningMsg)

namespace {

constexpr quint16 kButtonMasks = XCB_KEY_BUT_MASK_BUTTON_1 | XCB_KEY_BUT_MASK_BUTTON_2 | XCB_KEY_BUT_MASK_BUTTON_3
                                 | XCB_KEY_BUT_MASK_BUTTON_4 | XCB_KEY_BUT_MASK_BUTTON_5;

// Buttons 4 to 7 are the scroll wheel's, up, down, left and right.
bool isScrollButton(quint32 button)
{
    return button >= 4 && button <= 7;
}

// Milliseconds of our clock, cut to the 32 bits of an X time stamp.
quint32 clockMilliseconds(std::chrono::steady_clock::time_point when)
{
    using namespace std::chrono;
    return quint32(duration_cast<milliseconds>(when.time_since_epoch()).count());
}

} // namespace

PointerWatcher::PointerWatcher(x11::XConnection &x, QObject *parent)
    : AbstractPointerWatcher(parent)
    , m_x(x)
{
    m_sampleTimer.setInterval(SampleInterval);
    connect(&m_sampleTimer, &QTimer::timeout, this, &PointerWatcher::handleSampleTimeout);
    connect(&m_x, &x11::XConnection::eventReceived, this, &PointerWatcher::handleEvent);

    // Raw events arrive even while another client grabs the pointer (a
    // drag, an open menu).
    m_xiOpcode = m_x.xinputOpcode();
    m_history = m_xiOpcode && xcb_get_setup(m_x.get())->motion_buffer_size > 0;
    m_x.flush();
    if (!m_xiOpcode)
        qCWarning(lcPointerWatcher) << "The X server lacks XInput 2: the pointer's position is read"
                                    << SampleInterval.count() << "ms apart to see it move";
    else if (!m_history)
        qCWarning(lcPointerWatcher) << "The X server keeps no motion history: the pointer's position is read"
                                    << SampleInterval.count() << "ms apart while it moves";
}

PointerWatcher::~PointerWatcher() = default;

void PointerWatcher::watch(Watch what)
{
    if (what == m_watch)
        return;
    m_watch = what;
    m_sampling = false;
    // Selected before the anchor is read: a movement after that read sends
    // an event, one before it is in the anchor.
    updateSelection();
    if (m_watch != Watch::Nothing)
        resetAnchor();
}

void PointerWatcher::resetAnchor()
{
    if (const std::optional<Reading> reading = read())
        m_anchor = reading->position;
    m_stillSince = Clock::now();
}

PointerWatcher::Sample PointerWatcher::sample()
{
    const std::optional<Reading> reading = read();
    if (!reading)
        return {};
    if (m_watch == Watch::Stillness && m_history && m_serverOffset)
        readHistory(reading->position);
    // Moved without a trace in the history (warped by a program), or
    // found by sampling: moved now.
    leftAnchor(reading->position, Clock::now());
    const auto stillFor = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_stillSince);
    return {std::max(stillFor, std::chrono::milliseconds(0)), reading->buttonsHeld};
}

// The history lists each motion with its time and the position it left.
// Every motion since the anchor was set is held against the anchor; the last
// one that leaves it gives the time the pointer has been still since.
void PointerWatcher::readHistory(const PointerPosition &current)
{
    xcb_connection_t *c = m_x.get();
    const Clock::time_point now = Clock::now();
    const quint32 serverNow = clockMilliseconds(now) + *m_serverOffset;
    const quint32 since = clockMilliseconds(m_stillSince) + *m_serverOffset + 1;

    struct Motion
    {
        quint32 time;
        PointerPosition from;
    };
    QList<Motion> motions;
    QList<xcb_get_motion_events_cookie_t> cookies;
    for (const xcb_window_t root : m_x.roots())
        cookies.append(xcb_get_motion_events(c, root, since, XCB_CURRENT_TIME));
    for (qsizetype i = 0; i < cookies.size(); ++i) {
        const x11::XcbReply<xcb_get_motion_events_reply_t> reply(
            xcb_get_motion_events_reply(c, cookies[i], nullptr));
        if (!reply)
            continue;
        const xcb_timecoord_t *events = xcb_get_motion_events_events(reply.get());
        for (int e = 0; e < xcb_get_motion_events_events_length(reply.get()); ++e)
            motions.append(Motion{events[e].time, {m_x.roots()[i], events[e].x, events[e].y}});
    }
    m_x.flush();
    // Times compared as the server does, across the 32-bit wrap.
    std::stable_sort(motions.begin(), motions.end(),
                     [serverNow](const Motion &a, const Motion &b) { return serverNow - a.time > serverNow - b.time; });
    for (qsizetype i = 0; i < motions.size(); ++i) {
        const PointerPosition &to = i + 1 < motions.size() ? motions[i + 1].from : current;
        const auto age = std::chrono::milliseconds(qint32(serverNow - motions[i].time));
        leftAnchor(to, now - std::max(age, std::chrono::milliseconds(0)));
    }
}

void PointerWatcher::waitForButtonRelease()
{
    m_waitingForRelease = true;
    updateSelection();
    QMetaObject::invokeMethod(this, &PointerWatcher::checkButtons, Qt::QueuedConnection);
}

std::optional<PointerWatcher::Reading> PointerWatcher::read()
{
    if (!m_x.isConnected() || m_x.roots().isEmpty())
        return std::nullopt;
    xcb_connection_t *c = m_x.get();
    const x11::XcbReply<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, m_x.defaultRoot()), nullptr));
    m_x.flush();
    if (!reply)
        return std::nullopt;
    return Reading{{reply->root, reply->root_x, reply->root_y}, (reply->mask & kButtonMasks) != 0};
}

bool PointerWatcher::leftAnchor(const PointerPosition &position, Clock::time_point when)
{
    const int dx = position.x - m_anchor.x;
    const int dy = position.y - m_anchor.y;
    if (position.root == m_anchor.root && dx * dx + dy * dy <= JitterRadius * JitterRadius)
        return false;
    m_anchor = position;
    m_stillSince = std::max(m_stillSince, when);
    return true;
}

// Whether each move is followed as it comes: always while the pointer is
// hidden, and while it is shown when there is no history to read afterwards.
bool PointerWatcher::followsEachMove() const
{
    return m_watch == Watch::Movement || (m_watch == Watch::Stillness && !m_history);
}

void PointerWatcher::handleEvent(const xcb_generic_event_t &event)
{
    if (!m_xiOpcode || x11::eventType(event) != XCB_GE_GENERIC)
        return;
    const auto &generic = reinterpret_cast<const xcb_ge_generic_event_t &>(event);
    if (generic.extension != m_xiOpcode)
        return;
    switch (generic.event_type) {
    case XCB_INPUT_RAW_MOTION:
    case XCB_INPUT_RAW_BUTTON_PRESS:
    case XCB_INPUT_RAW_BUTTON_RELEASE: {
        // All three have the layout of a raw button press.
        const auto &raw = reinterpret_cast<const xcb_input_raw_button_press_event_t &>(event);
        const bool firstTimeStamp = !m_serverOffset;
        m_serverOffset = raw.time - clockMilliseconds(Clock::now());
        if (generic.event_type == XCB_INPUT_RAW_BUTTON_RELEASE)
            checkButtons();
        else if (generic.event_type == XCB_INPUT_RAW_BUTTON_PRESS && m_watch == Watch::Movement
                 && !isScrollButton(raw.detail))
            Q_EMIT buttonPressed();
        else if (generic.event_type == XCB_INPUT_RAW_MOTION && followsEachMove())
            handleMotionHint();
        else if (firstTimeStamp)
            updateSelection(); // the history can be read now
        break;
    }
    default:
        break;
    }
}

// Raw motion says that some device moved: perhaps the pointer, perhaps only
// a scroll wheel. Further events are not wanted until the pointer is still.
void PointerWatcher::handleMotionHint()
{
    // Events sent before the selection changed still come in.
    if (m_sampling)
        return;
    m_sampling = true;
    updateSelection();
    const std::optional<Reading> reading = read();
    if (reading && leftAnchor(reading->position, Clock::now()))
        Q_EMIT moved();
}

void PointerWatcher::handleSampleTimeout()
{
    if (m_waitingForRelease && !m_xiOpcode)
        checkButtons();
    if (!followsEachMove() && m_xiOpcode)
        return;
    if (m_watch == Watch::Nothing)
        return;

    std::optional<Reading> reading = read();
    if (!reading)
        return;
    const bool moving = leftAnchor(reading->position, Clock::now());
    if (moving || !m_xiOpcode) {
        if (moving)
            Q_EMIT moved();
        return;
    }

    // Still since the last sample: wait for the next event again, and read
    // once more, since the pointer may have moved before the selection took.
    m_sampling = false;
    updateSelection();
    reading = read();
    if (reading && leftAnchor(reading->position, Clock::now())) {
        m_sampling = true;
        updateSelection();
        Q_EMIT moved();
    }
}

void PointerWatcher::checkButtons()
{
    if (!m_waitingForRelease)
        return;
    const std::optional<Reading> reading = read();
    if (!reading || reading->buttonsHeld)
        return;
    m_waitingForRelease = false;
    updateSelection();
    Q_EMIT buttonsReleased();
}

void PointerWatcher::updateSelection()
{
    const bool follow = followsEachMove();
    const bool sampleAllAlong = !m_xiOpcode && (m_watch != Watch::Nothing || m_waitingForRelease);
    if ((follow && m_sampling) || sampleAllAlong) {
        if (!m_sampleTimer.isActive())
            m_sampleTimer.start();
    } else {
        m_sampleTimer.stop();
    }

    if (!m_xiOpcode)
        return;
    quint32 mask = 0;
    // Stillness needs one time stamp to read the history by.
    if ((follow && !m_sampling) || (m_watch == Watch::Stillness && !m_serverOffset))
        mask |= XCB_INPUT_XI_EVENT_MASK_RAW_MOTION;
    if (m_watch == Watch::Movement)
        mask |= XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS;
    if (m_waitingForRelease)
        mask |= XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE;
    if (mask == m_selectedMask)
        return;
    m_selectedMask = mask;
    // Merged with the connection's other users of raw events.
    m_x.selectRawEvents(this, mask);
}
