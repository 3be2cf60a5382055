#include "platform/X11HotKeyEventSource.h"

#include "platform/KeyCodeTable.h"

#include <QLoggingCategory>
#include <QSocketNotifier>

#include <xcb/xcb.h>
// xkb.h names a struct member "explicit".
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <algorithm>
#include <chrono>
#include <cstdlib>

using namespace std::chrono_literals;

namespace platform {

namespace {

Q_LOGGING_CATEGORY(lcX11HotKeys, "quillvane.platform.x11hotkeys", QtWarningMsg)

// Layout tools change the keyboard mapping in many small steps, each with its
// own notification; the grabs are renewed once they have settled.
constexpr auto kMappingDebounce = 200ms;

constexpr xcb_keysym_t kNumLockKeysym = 0xff7f;
constexpr xcb_keysym_t kScrollLockKeysym = 0xff14;

// The modifiers a combination can hold; everything else in an event's state
// (locks, Mod2, Mod3, Mod5, pointer buttons) does not take part in matching.
constexpr quint16 kCombinationModifiers =
    KeyCodeTable::XShift | KeyCodeTable::XControl | KeyCodeTable::XMod1 | KeyCodeTable::XMod4;

// Responses with type 0 are errors of requests sent without a check.
constexpr quint8 kErrorResponse = 0;
// The bit the server sets on events that a client sent with SendEvent.
constexpr quint8 kSendEventBit = 0x80;

struct FreeDeleter
{
    void operator()(void *p) const { std::free(p); }
};
template<typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

} // namespace

void X11HotKeyEventSource::ConnectionDeleter::operator()(xcb_connection_t *connection) const
{
    xcb_disconnect(connection);
}

X11HotKeyEventSource::X11HotKeyEventSource(const QByteArray &displayName, QObject *parent)
    : QObject(parent)
{
    m_mappingTimer.setSingleShot(true);
    m_mappingTimer.setInterval(kMappingDebounce);
    connect(&m_mappingTimer, &QTimer::timeout, this, &X11HotKeyEventSource::renewGrabs);

    int screenNumber = 0;
    std::unique_ptr<xcb_connection_t, ConnectionDeleter> connection(
        xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), &screenNumber));
    if (xcb_connection_has_error(connection.get())) {
        qCWarning(lcX11HotKeys).nospace() << "No X display " << displayName << ": hot keys cannot be registered";
        return;
    }
    xcb_screen_iterator_t screen = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screenNumber && screen.rem > 1; ++i)
        xcb_screen_next(&screen);
    m_root = screen.data->root;
    m_connection = std::move(connection);

    setUpXkb();
    readLockModifiers();

    m_notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(m_connection.get()),
                                                   QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &X11HotKeyEventSource::processEvents);
    xcb_flush(m_connection.get());
    // Waiting for the replies above may have queued events already.
    scheduleProcessing();
}

X11HotKeyEventSource::~X11HotKeyEventSource() = default;

bool X11HotKeyEventSource::isConnected() const
{
    return m_connection && !m_connectionLost && !xcb_connection_has_error(m_connection.get());
}

void X11HotKeyEventSource::setUpXkb()
{
    xcb_connection_t *c = m_connection.get();
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(c, &xcb_xkb_id);
    Reply<xcb_xkb_use_extension_reply_t> use;
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
    const Reply<xcb_xkb_per_client_flags_reply_t> flags(xcb_xkb_per_client_flags_reply(
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
    xcb_connection_t *c = m_connection.get();
    const xcb_setup_t *setup = xcb_get_setup(c);
    const quint8 minKeyCode = setup->min_keycode;
    const auto mapCookie = xcb_get_keyboard_mapping(c, minKeyCode, setup->max_keycode - minKeyCode + 1);
    const auto modifierCookie = xcb_get_modifier_mapping(c);
    const Reply<xcb_get_keyboard_mapping_reply_t> map(xcb_get_keyboard_mapping_reply(c, mapCookie, nullptr));
    const Reply<xcb_get_modifier_mapping_reply_t> modifiers(
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
    xcb_connection_t *c = m_connection.get();
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
        const Reply<xcb_generic_error_t> error(xcb_request_check(c, cookie));
        if (error && status == noErr)
            status = error->error_code == XCB_ACCESS ? eventHotKeyExistsErr : eventHotKeyInvalidErr;
    }
    // A broken connection answers every check with "no error".
    if (!checkConnection())
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
    xcb_connection_t *c = m_connection.get();
    QList<xcb_void_cookie_t> cookies;
    for (const quint8 keyCode : std::as_const(keyGrab.keyCodes)) {
        for (const quint16 modifiers : std::as_const(keyGrab.grabbedModifiers))
            cookies.append(xcb_ungrab_key_checked(c, keyCode, m_root, modifiers));
    }
    keyGrab.grabbedModifiers.clear();
    for (const xcb_void_cookie_t &cookie : std::as_const(cookies))
        std::free(xcb_request_check(c, cookie));
    scheduleProcessing();
}

X11HotKeyEventSource::Registration X11HotKeyEventSource::registerHotKey(quint32 keyCode, quint32 modifiers,
                                                                        HotKeyID id)
{
    if (!checkConnection())
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
    scheduleProcessing();
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
    if (!checkConnection())
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
    scheduleProcessing();
    emit grabsRenewed();
}

// Requests that wait for a reply read whatever events arrive before it into
// xcb's queue, where the socket notifier no longer sees them.
void X11HotKeyEventSource::scheduleProcessing()
{
    if (m_processingScheduled || !isConnected())
        return;
    m_processingScheduled = true;
    QMetaObject::invokeMethod(this, &X11HotKeyEventSource::processEvents, Qt::QueuedConnection);
}

void X11HotKeyEventSource::processEvents()
{
    m_processingScheduled = false;
    if (!isConnected())
        return;
    while (const Reply<xcb_generic_event_t> event{xcb_poll_for_event(m_connection.get())}) {
        handleEvent(event.get());
        if (!isConnected())
            return;
    }
    checkConnection();
}

void X11HotKeyEventSource::handleEvent(const void *generic)
{
    const auto &event = *static_cast<const xcb_generic_event_t *>(generic);
    const quint8 type = event.response_type & ~kSendEventBit;
    switch (type) {
    case kErrorResponse: {
        const auto &error = reinterpret_cast<const xcb_generic_error_t &>(event);
        qCDebug(lcX11HotKeys) << "X error" << error.error_code << "for request" << error.major_code;
        break;
    }
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

// The boundary between the X event dispatch and the registry: nothing thrown
// by a handler gets past it.
void X11HotKeyEventSource::dispatch(quint32 kind, HotKeyID id)
{
    if (!m_handler)
        return;
    const Handler handler = m_handler; // it may replace itself while it runs
    try {
        const qint32 status = handler(HotKeyEvent(kEventClassKeyboard, kind, id));
        if (status != noErr)
            qCDebug(lcX11HotKeys) << "Hot key event" << id.id << "of kind" << kind << "not handled:" << status;
    } catch (const std::exception &e) {
        qCWarning(lcX11HotKeys) << "Hot key event handler failed:" << e.what();
    } catch (...) {
        qCWarning(lcX11HotKeys) << "Hot key event handler failed";
    }
}

bool X11HotKeyEventSource::checkConnection()
{
    if (!m_connection || m_connectionLost)
        return false;
    if (!xcb_connection_has_error(m_connection.get()))
        return true;
    // Said once; the notifier would otherwise keep firing on the closed socket.
    m_connectionLost = true;
    m_notifier->setEnabled(false);
    m_mappingTimer.stop();
    qCWarning(lcX11HotKeys) << "Lost the connection to the X server: hot keys stop working";
    emit connectionLost();
    return false;
}

} // namespace platform
