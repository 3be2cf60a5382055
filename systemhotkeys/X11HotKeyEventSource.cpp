#include "X11HotKeyEventSource.h"

#include "KeyCodeTable.h"
#include "XConnection.h"

#include <QLoggingCategory>

#include <xcb/xcb.h>
// xkb.h names a struct member "explicit".
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <algorithm>
#include <chrono>

using namespace std::chrono_literals;
using x11::KeyCodeTable;
using x11::XcbReply;

namespace systemhotkeys {

namespace {

Q_LOGGING_CATEGORY(lcX11HotKeys, "quillvane.systemhotkeys.x11", QtWarningMsg)

// Layout tools change the keyboard mapping in many small steps, each with its
// own notification; the grabs are renewed once they have settled.
constexpr auto kMappingDebounce = 200ms;

constexpr xcb_keysym_t kNumLockKeysym = 0xff7f;
constexpr xcb_keysym_t kScrollLockKeysym = 0xff14;

// The modifiers a combination can hold; everything else in an event's state
// (locks, Mod2, Mod3, Mod5, pointer buttons) does not take part in matching.
constexpr quint16 kCombinationModifiers =
    KeyCodeTable::XShift | KeyCodeTable::XControl | KeyCodeTable::XMod1 | KeyCodeTable::XMod4;

} // namespace

X11HotKeyEventSource::X11HotKeyEventSource(const QByteArray &displayName, QObject *parent)
    : QObject(parent)
{
    m_mappingTimer.setSingleShot(true);
    m_mappingTimer.setInterval(kMappingDebounce);
    connect(&m_mappingTimer, &QTimer::timeout, this, &X11HotKeyEventSource::renewGrabs);

    QString errorString;
    m_x = x11::XConnection::open(displayName, &errorString);
    if (!m_x) {
        qCWarning(lcX11HotKeys).noquote() << "No X display: hot keys cannot be registered, for" << errorString;
        return;
    }
    m_root = m_x->defaultRoot();
    connect(m_x.get(), &x11::XConnection::eventReceived, this, &X11HotKeyEventSource::handleEvent);
    connect(m_x.get(), &x11::XConnection::connectionLost, this, &X11HotKeyEventSource::handleConnectionLost);

    setUpXkb();
    readLockModifiers();
    // Waiting for the replies above may have queued events already.
    m_x->flush();
}

X11HotKeyEventSource::~X11HotKeyEventSource() = default;

bool X11HotKeyEventSource::isConnected() const
{
    return m_x && m_x->isConnected();
}

void X11HotKeyEventSource::setUpXkb()
{
    xcb_connection_t *c = m_x->get();
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(c, &xcb_xkb_id);
    XcbReply<xcb_xkb_use_extension_reply_t> use;
    if (extension && extension->present) {
        use.reset(xcb_xkb_use_extension_reply(
            c, xcb_xkb_use_extension(c, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION), nullptr));
    }
    if (!use || !use->supported) {
        qCWarning(lcX11HotKeys) << "The X server has no XKB: a held hot key fires again with every repeat";
        return;
    }
    m_xkbFirstEvent = extension->first_event;

    // Held keys then repeat as presses without releases in between, so a
    // repeat can be told from a new press.
    constexpr uint32_t detectable = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
    const XcbReply<xcb_xkb_per_client_flags_reply_t> flags(xcb_xkb_per_client_flags_reply(
        c, xcb_xkb_per_client_flags(c, XCB_XKB_ID_USE_CORE_KBD, detectable, detectable, 0, 0, 0), nullptr));
    m_detectableAutoRepeat = flags && (flags->value & detectable);
    if (!m_detectableAutoRepeat)
        qCWarning(lcX11HotKeys) << "No detectable auto-repeat: a held hot key fires again with every repeat";

    // A client that uses XKB no longer gets the core MappingNotify for a new
    // keyboard description (a layout switch), only XKB's own events.
    constexpr uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
    xcb_xkb_select_events(c, XCB_XKB_ID_USE_CORE_KBD, events, 0, events, 0xffff, 0xffff, nullptr);
}

// Num Lock and Scroll Lock are whichever modifiers the keys carrying those
// keysyms are mapped to; usually Mod2 and none.
void X11HotKeyEventSource::readLockModifiers()
{
    m_numLockMask = 0;
    m_scrollLockMask = 0;
    xcb_connection_t *c = m_x->get();
    const xcb_setup_t *setup = xcb_get_setup(c);
    const quint8 minKeyCode = setup->min_keycode;
    const auto mapCookie = xcb_get_keyboard_mapping(c, minKeyCode, setup->max_keycode - minKeyCode + 1);
    const auto modifierCookie = xcb_get_modifier_mapping(c);
    const XcbReply<xcb_get_keyboard_mapping_reply_t> map(xcb_get_keyboard_mapping_reply(c, mapCookie, nullptr));
    const XcbReply<xcb_get_modifier_mapping_reply_t> modifiers(
        xcb_get_modifier_mapping_reply(c, modifierCookie, nullptr));
    if (!map || !modifiers)
        return;

    const xcb_keysym_t *keysyms = xcb_get_keyboard_mapping_keysyms(map.get());
    const int keysymCount = xcb_get_keyboard_mapping_keysyms_length(map.get());
    const int perKey = map->keysyms_per_keycode;
    const auto keyHas = [&](xcb_keycode_t key, xcb_keysym_t keysym) {
        const int first = (key - minKeyCode) * perKey;
        for (int i = first; key >= minKeyCode && i < first + perKey && i < keysymCount; ++i) {
            if (keysyms[i] == keysym)
                return true;
        }
        return false;
    };

    const xcb_keycode_t *keys = xcb_get_modifier_mapping_keycodes(modifiers.get());
    const int perModifier = modifiers->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < perModifier; ++i) {
            const xcb_keycode_t key = keys[modifier * perModifier + i];
            if (key && keyHas(key, kNumLockKeysym))
                m_numLockMask |= quint16(1 << modifier);
            if (key && keyHas(key, kScrollLockKeysym))
                m_scrollLockMask |= quint16(1 << modifier);
        }
    }
}

// The combination with every subset of the lock modifiers added.
QList<quint16> X11HotKeyEventSource::lockVariants(quint16 modifiers) const
{
    QList<quint16> variants{modifiers};
    quint16 used = modifiers;
    for (const quint16 lock : {KeyCodeTable::XLock, m_numLockMask, m_scrollLockMask}) {
        if (!lock || (used & lock))
            continue;
        used |= lock;
        for (qsizetype i = 0, n = variants.size(); i < n; ++i)
            variants.append(variants[i] | lock);
    }
    return variants;
}

qint32 X11HotKeyEventSource::grab(KeyGrab &keyGrab)
{
    xcb_connection_t *c = m_x->get();
    keyGrab.grabbedModifiers = lockVariants(keyGrab.modifiers);
    QList<xcb_void_cookie_t> cookies;
    for (const quint8 keyCode : std::as_const(keyGrab.keyCodes)) {
        for (const quint16 modifiers : std::as_const(keyGrab.grabbedModifiers)) {
            cookies.append(xcb_grab_key_checked(c, 1, m_root, modifiers, keyCode, XCB_GRAB_MODE_ASYNC,
                                                XCB_GRAB_MODE_ASYNC));
        }
    }
    qint32 status = noErr;
    for (const xcb_void_cookie_t &cookie : std::as_const(cookies)) {
        const XcbReply<xcb_generic_error_t> error(xcb_request_check(c, cookie));
        if (error && status == noErr)
            status = error->error_code == XCB_ACCESS ? eventHotKeyExistsErr : eventHotKeyInvalidErr;
    }
    // A broken connection answers every check with "no error".
    if (!isConnected())
        return eventInternalErr;
    if (status != noErr)
        ungrab(keyGrab); // only ever releases this connection's own grabs
    return status;
}

// Waits until the server has taken the requests: another program may try
// to grab the key as soon as this returns, and the server could take its
// requests before ours.
void X11HotKeyEventSource::ungrab(KeyGrab &keyGrab)
{
    if (!isConnected())
        return;
    xcb_connection_t *c = m_x->get();
    QList<xcb_void_cookie_t> cookies;
    for (const quint8 keyCode : std::as_const(keyGrab.keyCodes)) {
        for (const quint16 modifiers : std::as_const(keyGrab.grabbedModifiers))
            cookies.append(xcb_ungrab_key_checked(c, keyCode, m_root, modifiers));
    }
    keyGrab.grabbedModifiers.clear();
    for (const xcb_void_cookie_t &cookie : std::as_const(cookies))
        XcbReply<xcb_generic_error_t>(xcb_request_check(c, cookie));
    m_x->flush();
}

X11HotKeyEventSource::Registration X11HotKeyEventSource::registerHotKey(quint32 keyCode, quint32 modifiers,
                                                                        HotKeyID id)
{
    if (!isConnected())
        return {eventInternalErr, HotKeyRef::Null};
    KeyGrab keyGrab{id, KeyCodeTable::xKeyCodes(qint32(keyCode)), KeyCodeTable::xModifiers(modifiers), {}, false, 0};
    if (keyGrab.keyCodes.isEmpty()) {
        qCDebug(lcX11HotKeys) << "No key has the virtual key code" << keyCode;
        return {eventHotKeyInvalidErr, HotKeyRef::Null};
    }
    // The server lets a client grab the same combination twice, and the first
    // ungrab would end both.
    for (const KeyGrab &other : std::as_const(m_grabs)) {
        const bool sameKey = std::any_of(keyGrab.keyCodes.cbegin(), keyGrab.keyCodes.cend(),
                                         [&](quint8 code) { return other.keyCodes.contains(code); });
        if (sameKey && other.modifiers == keyGrab.modifiers)
            return {eventHotKeyExistsErr, HotKeyRef::Null};
    }

    const qint32 status = grab(keyGrab);
    m_x->flush();
    if (status != noErr)
        return {status, HotKeyRef::Null};
    m_grabs.insert(++m_lastRef, keyGrab);
    return {noErr, HotKeyRef(m_lastRef)};
}

qint32 X11HotKeyEventSource::unregisterHotKey(HotKeyRef ref)
{
    const auto it = m_grabs.find(quint64(ref));
    if (it == m_grabs.end())
        return eventHotKeyInvalidErr;
    KeyGrab keyGrab = it.value();
    m_grabs.erase(it);
    ungrab(keyGrab);
    return noErr;
}

qint32 X11HotKeyEventSource::installHandler(Handler handler)
{
    m_handler = std::move(handler);
    return noErr;
}

// Grabs are made on key codes, which a new mapping leaves alone; what can
// change under them is which modifiers Num Lock and Scroll Lock are.
void X11HotKeyEventSource::renewGrabs()
{
    if (!isConnected())
        return;
    const quint16 numLockMask = m_numLockMask;
    const quint16 scrollLockMask = m_scrollLockMask;
    readLockModifiers();
    if (numLockMask == m_numLockMask && scrollLockMask == m_scrollLockMask)
        return;
    // All released first: the old variants of one hot key may be among the
    // new ones of another.
    for (KeyGrab &keyGrab : m_grabs)
        ungrab(keyGrab);
    for (KeyGrab &keyGrab : m_grabs) {
        if (grab(keyGrab) != noErr)
            qCWarning(lcX11HotKeys) << "A hot key could not be grabbed again after the keyboard changed";
    }
    m_x->flush();
    Q_EMIT grabsRenewed();
}

void X11HotKeyEventSource::handleEvent(const xcb_generic_event_t &event)
{
    const quint8 type = x11::eventType(event);
    switch (type) {
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE: {
        const auto &key = reinterpret_cast<const xcb_key_press_event_t &>(event);
        handleKey(type == XCB_KEY_PRESS, key.detail, key.state);
        break;
    }
    case XCB_MAPPING_NOTIFY:
        if (reinterpret_cast<const xcb_mapping_notify_event_t &>(event).request != XCB_MAPPING_POINTER)
            m_mappingTimer.start();
        break;
    default:
        // Only the keyboard change notifications were selected.
        if (m_xkbFirstEvent && type == m_xkbFirstEvent)
            m_mappingTimer.start();
        break;
    }
}

void X11HotKeyEventSource::handleKey(bool press, quint8 keyCode, quint16 state)
{
    for (KeyGrab &keyGrab : m_grabs) {
        if (press && keyGrab.keyCodes.contains(keyCode) && (state & kCombinationModifiers) == keyGrab.modifiers) {
            if (keyGrab.down)
                return; // an auto-repeat
            keyGrab.down = true;
            keyGrab.downKeyCode = keyCode;
            dispatch(kEventHotKeyPressed, keyGrab.id);
            return;
        }
        // The modifiers may have been let go before the key.
        if (!press && keyGrab.down && keyGrab.downKeyCode == keyCode) {
            keyGrab.down = false;
            dispatch(kEventHotKeyReleased, keyGrab.id);
            return;
        }
    }
}

void X11HotKeyEventSource::dispatch(quint32 kind, HotKeyID id)
{
    if (!m_handler)
        return;
    const Handler handler = m_handler; // it may replace itself while it runs
    const qint32 status = handler(HotKeyEvent(kEventClassKeyboard, kind, id));
    if (status != noErr)
        qCDebug(lcX11HotKeys) << "Hot key event" << id.id << "of kind" << kind << "not handled:" << status;
}

void X11HotKeyEventSource::handleConnectionLost()
{
    m_mappingTimer.stop();
    qCWarning(lcX11HotKeys) << "Lost the connection to the X server: hot keys stop working";
    Q_EMIT connectionLost();
}

} // namespace systemhotkeys
