#include "PointerWatcher.h"

#include "XConnection.h"

#include <QLoggingCategory>

#include <xcb/xinput.h>

Q_LOGGING_CATEGORY(lcPointerWatcher, "quillvane.cursorapp.watcher", QtWarningMsg)

namespace {

constexpr quint16 kButtonMasks = XCB_KEY_BUT_MASK_BUTTON_1 | XCB_KEY_BUT_MASK_BUTTON_2 | XCB_KEY_BUT_MASK_BUTTON_3
                                 | XCB_KEY_BUT_MASK_BUTTON_4 | XCB_KEY_BUT_MASK_BUTTON_5;

} // namespace

PointerWatcher::PointerWatcher(x11::XConnection &x, QObject *parent)
    : AbstractPointerWatcher(parent)
    , m_x(x)
{
    m_sampleTimer.setInterval(SampleInterval);
    connect(&m_sampleTimer, &QTimer::timeout, this, &PointerWatcher::handleSampleTimeout);
    connect(&m_x, &x11::XConnection::eventReceived, this, &PointerWatcher::handleEvent);

    xcb_connection_t *c = m_x.get();
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(c, &xcb_input_id);
    if (extension && extension->present) {
        // 2.1 and later deliver raw events even while another client grabs
        // the pointer (a drag, an open menu).
        const x11::XcbReply<xcb_input_xi_query_version_reply_t> version(
            xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
        if (version && version->major_version >= 2)
            m_xiOpcode = extension->major_opcode;
    }
    m_x.flush();
    if (!m_xiOpcode)
        qCWarning(lcPointerWatcher) << "The X server lacks XInput 2: the pointer's position is read"
                                    << SampleInterval.count() << "ms apart to see it move";
}

PointerWatcher::~PointerWatcher() = default;

void PointerWatcher::setWatching(bool watching)
{
    if (watching == m_watching)
        return;
    m_watching = watching;
    m_sampling = false;
    // Selected before the anchor is read: a movement after that read sends
    // an event, one before it is in the anchor.
    updateSelection();
    if (m_watching)
        resetAnchor();
}

void PointerWatcher::resetAnchor()
{
    if (const std::optional<Reading> reading = read())
        m_anchor = reading->position;
}

PointerWatcher::Sample PointerWatcher::sample()
{
    const std::optional<Reading> reading = read();
    if (!reading)
        return {};
    return {leftAnchor(reading->position), reading->buttonsHeld};
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

bool PointerWatcher::leftAnchor(const PointerPosition &position)
{
    const int dx = position.x - m_anchor.x;
    const int dy = position.y - m_anchor.y;
    if (position.root == m_anchor.root && dx * dx + dy * dy <= JitterRadius * JitterRadius)
        return false;
    m_anchor = position;
    return true;
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
        handleMotionHint();
        break;
    case XCB_INPUT_RAW_BUTTON_RELEASE:
        checkButtons();
        break;
    default:
        break;
    }
}

// Raw motion says that some device moved: perhaps the pointer, perhaps only
// a scroll wheel. Further events are not wanted until the pointer is still.
void PointerWatcher::handleMotionHint()
{
    // Events sent before the selection changed still come in.
    if (!m_watching || m_sampling)
        return;
    m_sampling = true;
    updateSelection();
    const std::optional<Reading> reading = read();
    if (reading && leftAnchor(reading->position))
        Q_EMIT moved();
}

void PointerWatcher::handleSampleTimeout()
{
    if (m_waitingForRelease && !m_xiOpcode)
        checkButtons();
    if (!m_watching)
        return;

    std::optional<Reading> reading = read();
    if (!reading)
        return;
    const bool moving = leftAnchor(reading->position);
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
    if (reading && leftAnchor(reading->position)) {
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
    const bool sampleAllAlong = !m_xiOpcode && (m_watching || m_waitingForRelease);
    if (m_sampling || sampleAllAlong) {
        if (!m_sampleTimer.isActive())
            m_sampleTimer.start();
    } else {
        m_sampleTimer.stop();
    }

    if (!m_xiOpcode)
        return;
    quint32 mask = 0;
    if (m_watching && !m_sampling)
        mask |= XCB_INPUT_XI_EVENT_MASK_RAW_MOTION;
    if (m_waitingForRelease)
        mask |= XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE;
    if (mask == m_selectedMask)
        return;
    m_selectedMask = mask;

    struct
    {
        xcb_input_event_mask_t head;
        quint32 mask;
    } selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, mask};
    // Raw events go to root windows only.
    for (const xcb_window_t root : m_x.roots())
        xcb_input_xi_select_events(m_x.get(), root, 1, &selection.head);
    m_x.flush();
}
