#include "PTKeyCodeTranslator.h"

#include "KeyCodeTable.h"
#include "XConnection.h"

#include <QByteArray>
#include <QLoggingCategory>

#include <xcb/xcb.h>
// xkb.h names a struct member "explicit".
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

Q_LOGGING_CATEGORY(lcKeyCodeTranslator, "quillvane.hotkeys.translator", QtWarningMsg)

struct FreeDeleter
{
    void operator()(void *p) const { std::free(p); }
};

struct ContextDeleter
{
    void operator()(xkb_context *context) const { xkb_context_unref(context); }
};

xkb_context *context()
{
    static const std::unique_ptr<xkb_context, ContextDeleter> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    return context.get();
}

std::shared_ptr<xkb_keymap> adoptKeymap(xkb_keymap *keymap)
{
    if (!keymap)
        return {};
    return std::shared_ptr<xkb_keymap>(keymap, xkb_keymap_unref);
}

QByteArray keymapText(xkb_keymap *keymap)
{
    const std::unique_ptr<char, FreeDeleter> text(xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1));
    return text ? QByteArray(text.get()) : QByteArray();
}

// A layout together with what makes it the same as another: the whole keymap
// and the active layout in it.
struct LayoutInUse
{
    PTKeyCodeTranslator::KeyboardLayout layout;
    QByteArray identity;
};

LayoutInUse layoutInUse(const std::shared_ptr<xkb_keymap> &keymap, const QByteArray &text, quint32 layoutIndex)
{
    return {{keymap, layoutIndex}, text + '\n' + QByteArray::number(layoutIndex)};
}

// The X server's core keyboard, on a connection of its own. Keyboard changes
// are noticed through XKB's notifications, which the connection hands out
// from the event loop or, at the latest, at the next look.
class KeyboardServer
{
public:
    // Null while there is no X display; connecting is tried again at the
    // next use, and so is reconnecting after the connection broke.
    static KeyboardServer *instance()
    {
        static std::unique_ptr<KeyboardServer> server;
        if (server && !server->m_x->isConnected()) {
            qCWarning(lcKeyCodeTranslator) << "Lost the connection to the X server";
            server.reset();
        }
        if (!server)
            server = connect();
        return server.get();
    }

    // Nothing when the server does not answer.
    std::optional<LayoutInUse> current()
    {
        xcb_connection_t *c = m_x->get();
        // The round trip also brings in every change notified before it.
        const x11::XcbReply<xcb_xkb_get_state_reply_t> state(
            xcb_xkb_get_state_reply(c, xcb_xkb_get_state(c, m_deviceId), nullptr));
        m_x->dispatchPending();
        if (!state)
            return std::nullopt;
        if (m_changed || !m_keymap) {
            const auto keymap = adoptKeymap(
                xkb_x11_keymap_new_from_device(context(), c, m_deviceId, XKB_KEYMAP_COMPILE_NO_FLAGS));
            if (!keymap)
                return std::nullopt;
            m_keymap = keymap;
            m_keymapText = keymapText(keymap.get());
            m_changed = false;
        }
        const quint32 layouts = xkb_keymap_num_layouts(m_keymap.get());
        return layoutInUse(m_keymap, m_keymapText, state->group < layouts ? state->group : 0);
    }

private:
    static std::unique_ptr<KeyboardServer> connect()
    {
        QString errorString;
        std::unique_ptr<x11::XConnection> x = x11::XConnection::open({}, &errorString);
        if (!x)
            return {};
        quint8 firstEvent = 0;
        if (!xkb_x11_setup_xkb_extension(x->get(), XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                         XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &firstEvent,
                                         nullptr)) {
            static bool warned = false;
            if (!std::exchange(warned, true))
                qCWarning(lcKeyCodeTranslator) << "The X server has no XKB; translating with the default keymap";
            return {};
        }
        const int32_t deviceId = xkb_x11_get_core_keyboard_device_id(x->get());
        if (deviceId < 0)
            return {};
        constexpr uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
        xcb_xkb_select_events(x->get(), xcb_xkb_device_spec_t(deviceId), events, 0, events, 0xffff, 0xffff,
                              nullptr);
        auto server = std::unique_ptr<KeyboardServer>(new KeyboardServer);
        QObject::connect(x.get(), &x11::XConnection::eventReceived, x.get(),
                         [server = server.get(), firstEvent](const xcb_generic_event_t &event) {
                             if (x11::eventType(event) == firstEvent)
                                 server->m_changed = true;
                         });
        x->flush();
        server->m_x = std::move(x);
        server->m_deviceId = deviceId;
        return server;
    }

    std::unique_ptr<x11::XConnection> m_x;
    int32_t m_deviceId = -1;
    bool m_changed = true;
    std::shared_ptr<xkb_keymap> m_keymap;
    QByteArray m_keymapText;
};

LayoutInUse currentLayout()
{
    if (KeyboardServer *server = KeyboardServer::instance()) {
        if (const auto current = server->current())
            return *current;
    }
    static const LayoutInUse fallback = [] {
        const auto layout = PTKeyCodeTranslator::keyboardLayoutWithNames({});
        return layoutInUse(layout.keymap, layout.keymap ? keymapText(layout.keymap.get()) : QByteArray(), 0);
    }();
    return fallback;
}

// Dead keys have no character of their own; shown as their spacing accent.
constexpr std::array<std::pair<xkb_keysym_t, char16_t>, 13> kDeadKeyAccents{{
    {XKB_KEY_dead_grave, u'`'},
    {XKB_KEY_dead_acute, u'\u00B4'},
    {XKB_KEY_dead_circumflex, u'^'},
    {XKB_KEY_dead_tilde, u'~'},
    {XKB_KEY_dead_macron, u'\u00AF'},
    {XKB_KEY_dead_breve, u'\u02D8'},
    {XKB_KEY_dead_abovedot, u'\u02D9'},
    {XKB_KEY_dead_diaeresis, u'\u00A8'},
    {XKB_KEY_dead_abovering, u'\u02DA'},
    {XKB_KEY_dead_doubleacute, u'\u02DD'},
    {XKB_KEY_dead_caron, u'\u02C7'},
    {XKB_KEY_dead_cedilla, u'\u00B8'},
    {XKB_KEY_dead_ogonek, u'\u02DB'},
}};

char32_t characterOf(xkb_keysym_t keysym)
{
    if (const char32_t c = xkb_keysym_to_utf32(keysym))
        return c;
    for (const auto &[deadKey, accent] : kDeadKeyAccents) {
        if (deadKey == keysym)
            return accent;
    }
    return 0;
}

} // namespace

std::shared_ptr<PTKeyCodeTranslator> PTKeyCodeTranslator::currentTranslator()
{
    static std::shared_ptr<PTKeyCodeTranslator> current;
    static QByteArray currentIdentity;
    LayoutInUse inUse = currentLayout();
    if (!current || inUse.identity != currentIdentity) {
        current = std::make_shared<PTKeyCodeTranslator>(std::move(inUse.layout));
        currentIdentity = inUse.identity;
    }
    return current;
}

PTKeyCodeTranslator::KeyboardLayout PTKeyCodeTranslator::keyboardLayoutWithNames(const QString &layout,
                                                                                 const QString &variant,
                                                                                 const QString &model,
                                                                                 const QString &rules,
                                                                                 const QString &options)
{
    const QByteArray names[] = {rules.toUtf8(), model.toUtf8(), layout.toUtf8(), variant.toUtf8(), options.toUtf8()};
    const auto orDefault = [](const QByteArray &name) { return name.isEmpty() ? nullptr : name.constData(); };
    const xkb_rule_names ruleNames{orDefault(names[0]), orDefault(names[1]), orDefault(names[2]),
                                   orDefault(names[3]), orDefault(names[4])};
    KeyboardLayout keyboardLayout;
    if (xkb_context *ctx = context())
        keyboardLayout.keymap = adoptKeymap(xkb_keymap_new_from_names(ctx, &ruleNames, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keyboardLayout.keymap) {
        qCWarning(lcKeyCodeTranslator).nospace() << "Keyboard layout " << layout << " (variant " << variant
                                                 << ", model " << model << ", rules " << rules << ", options "
                                                 << options << ") does not compile";
    }
    return keyboardLayout;
}

PTKeyCodeTranslator::PTKeyCodeTranslator(KeyboardLayout keyboardLayout)
    : mKeyboardLayout(std::move(keyboardLayout))
{
}

PTKeyCodeTranslator::~PTKeyCodeTranslator() = default;

QString PTKeyCodeTranslator::translateKeyCode(qint16 keyCode) const
{
    char32_t character = 0;
    xkb_keymap *keymap = mKeyboardLayout.keymap.get();
    const auto xKeyCode = x11::KeyCodeTable::xKeyCode(keyCode);
    if (keymap && xKeyCode) {
        // A key with fewer layouts than the keymap wraps around, as the
        // server does.
        const quint32 layouts = xkb_keymap_num_layouts_for_key(keymap, *xKeyCode);
        const xkb_keysym_t *keysyms = nullptr;
        if (layouts > 0
            && xkb_keymap_key_get_syms_by_level(keymap, *xKeyCode, mKeyboardLayout.layoutIndex % layouts, 0, &keysyms)
                > 0) {
            character = characterOf(keysyms[0]);
        }
    }
    if (character > 0xffff || QChar::isSurrogate(character))
        character = 0;
    return QString(QChar(char16_t(character)));
}

QString PTKeyCodeTranslator::layoutName() const
{
    if (!mKeyboardLayout.keymap)
        return {};
    return QString::fromUtf8(xkb_keymap_layout_get_name(mKeyboardLayout.keymap.get(), mKeyboardLayout.layoutIndex));
}

QString PTKeyCodeTranslator::description() const
{
    return u"PTKeyCodeTranslator layout=%1 (%2)"_s.arg(layoutName(), u"uchr"_s);
}
