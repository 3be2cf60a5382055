#include "TypingWatcher.h"

#include "KeyCodeTable.h"
#include "XConnection.h"

#include <xcb/xinput.h>

using x11::KeyCodeTable;

namespace {

// The modifiers a hot key can hold; locks and the rest do not count.
constexpr quint16 CombinationModifiers =
    KeyCodeTable::XShift | KeyCodeTable::XControl | KeyCodeTable::XMod1 | KeyCodeTable::XMod4;

} // namespace

TypingWatcher::TypingWatcher(x11::XConnection &x, QObject *parent)
    : QObject(parent)
    , m_x(x)
    , m_xiOpcode(x.xinputOpcode())
{
    connect(&m_x, &x11::XConnection::eventReceived, this, &TypingWatcher::handleEvent);
    readModifierKeys();
}

TypingWatcher::~TypingWatcher()
{
    m_x.selectRawEvents(this, 0);
}

void TypingWatcher::setWatching(bool watching)
{
    if (watching == m_watching)
        return;
    m_watching = watching;
    m_heldModifierKeys.clear();
    m_modifiersAtStart = 0;
    m_x.selectRawEvents(this, watching ? XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE
                                       : 0);
    if (watching && m_x.isConnected()) {
        xcb_connection_t *c = m_x.get();
        const x11::XcbReply<xcb_query_pointer_reply_t> pointer(
            xcb_query_pointer_reply(c, xcb_query_pointer(c, m_x.defaultRoot()), nullptr));
        m_x.flush();
        m_modifiersAtStart = pointer ? pointer->mask & CombinationModifiers : 0;
    }
}

quint16 TypingWatcher::heldModifiers() const
{
    quint16 held = m_modifiersAtStart;
    for (const quint8 key : m_heldModifierKeys)
        held |= m_modifierKeys.value(key);
    return held & CombinationModifiers;
}

void TypingWatcher::setHotKey(const QList<quint8> &keyCodes, quint16 xModifiers)
{
    m_hotKeyCodes = keyCodes;
    m_hotKeyModifiers = xModifiers & CombinationModifiers;
}

// Which keys are modifiers is the server's modifier map; a new keyboard
// mapping may change it.
void TypingWatcher::readModifierKeys()
{
    m_modifierKeys.clear();
    if (!m_x.isConnected())
        return;
    xcb_connection_t *c = m_x.get();
    const x11::XcbReply<xcb_get_modifier_mapping_reply_t> map(
        xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
    m_x.flush();
    if (!map)
        return;
    const xcb_keycode_t *keys = xcb_get_modifier_mapping_keycodes(map.get());
    const int perModifier = map->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < perModifier; ++i) {
            if (const xcb_keycode_t key = keys[modifier * perModifier + i])
                m_modifierKeys[key] |= quint16(1 << modifier);
        }
    }
}

void TypingWatcher::handleEvent(const xcb_generic_event_t &event)
{
    const quint8 type = x11::eventType(event);
    if (type == XCB_MAPPING_NOTIFY) {
        if (reinterpret_cast<const xcb_mapping_notify_event_t &>(event).request == XCB_MAPPING_MODIFIER)
            readModifierKeys();
        return;
    }
    if (!m_watching || !m_xiOpcode || type != XCB_GE_GENERIC)
        return;
    const auto &generic = reinterpret_cast<const xcb_ge_generic_event_t &>(event);
    if (generic.extension != m_xiOpcode)
        return;
    const auto &raw = reinterpret_cast<const xcb_input_raw_key_press_event_t &>(event);
    const quint8 keyCode = quint8(raw.detail);
    if (generic.event_type == XCB_INPUT_RAW_KEY_RELEASE) {
        m_heldModifierKeys.remove(keyCode);
        m_modifiersAtStart &= ~m_modifierKeys.value(keyCode);
    } else if (generic.event_type == XCB_INPUT_RAW_KEY_PRESS) {
        handleKeyPress(keyCode);
    }
}

void TypingWatcher::handleKeyPress(quint8 keyCode)
{
    if (m_modifierKeys.contains(keyCode)) {
        m_heldModifierKeys.insert(keyCode);
        return;
    }
    // The modifiers held tell the hot key from the same key typed.
    if (m_hotKeyCodes.contains(keyCode) && heldModifiers() == m_hotKeyModifiers)
        return;
    Q_EMIT typed();
}
