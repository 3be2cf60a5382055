#pragma once
// Another X client, as the user at the keyboard and mouse or another program would be: types and clicks with
// XTest, holds key grabs of its own, reads and resets the lock state and the modifier map, finds a program's
// window and reads what the screen shows.

#include "KeyCodeTable.h"

#include <QImage>
#include <QRect>

#include <xcb/xcb.h>
// xkb.h names a struct member "explicit".
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xcb/xtest.h>

#include <cstdlib>
#include <memory>
#include <utility>

namespace testsupport {

template<typename T>
using XReply = std::unique_ptr<T, decltype(&std::free)>;

class XUser
{
public:
    static constexpr quint32 CursorForeground = 0xff0000;
    static constexpr quint32 CursorBackground = 0x00ff00;

    struct ModifierMap
    {
        int keysPerModifier = 0;
        QList<quint8> keyCodes; // eight rows of keysPerModifier
    };

    // On DISPLAY, or on $DISPLAY when it is empty.
    explicit XUser(const QString &display = {})
        : m_connection(xcb_connect(display.isEmpty() ? nullptr : display.toLatin1().constData(), nullptr))
    {
        if (!isValid())
            return;
        for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c())); it.rem; xcb_screen_next(&it))
            m_roots.append(it.data->root);
        std::free(xcb_xkb_use_extension_reply(c(), xcb_xkb_use_extension(c(), 1, 0), nullptr));
    }

    bool isValid() const { return !xcb_connection_has_error(c()); }
    xcb_connection_t *c() const { return m_connection.get(); }
    xcb_window_t root(int screen = 0) const { return m_roots.value(screen); }
    void sync() const { std::free(xcb_get_input_focus_reply(c(), xcb_get_input_focus(c()), nullptr)); }

    // The arrow of the cursor font in the two colours above, on every screen; the server takes it back when
    // this client leaves.
    void giveRootACursor()
    {
        constexpr quint16 leftPointer = 68; // its mask is the next glyph
        const xcb_font_t font = xcb_generate_id(c());
        xcb_open_font(c(), font, 6, "cursor");
        const xcb_cursor_t cursor = xcb_generate_id(c());
        xcb_create_glyph_cursor(c(), cursor, font, font, leftPointer, leftPointer + 1, 0xffff, 0, 0, 0, 0xffff, 0);
        for (const xcb_window_t window : std::as_const(m_roots))
            xcb_change_window_attributes(c(), window, XCB_CW_CURSOR, &cursor);
        xcb_close_font(c(), font);
        sync();
    }
    void moveTo(int x, int y)
    {
        xcb_test_fake_input(c(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root(), qint16(x), qint16(y), 0);
        sync();
    }
    // Xvfb's pointer does not move across screens; a warp takes it there.
    void warpTo(int x, int y, int screen)
    {
        xcb_warp_pointer(c(), XCB_NONE, root(screen), 0, 0, 0, 0, qint16(x), qint16(y));
        sync();
    }
    void button(quint8 button, bool press)
    {
        xcb_test_fake_input(c(), press ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, button, XCB_CURRENT_TIME, XCB_NONE,
                            0, 0, 0);
        sync();
    }
    void click(const QPoint &point, quint8 buttonNumber = 1)
    {
        moveTo(point.x(), point.y());
        button(buttonNumber, true);
        button(buttonNumber, false);
    }

    // The server takes the event DELAY milliseconds later (and any later request of this client).
    void key(quint8 keyCode, bool press, quint32 delay = 0)
    {
        xcb_test_fake_input(c(), press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keyCode, delay, XCB_NONE, 0, 0, 0);
    }
    // The left-hand keys that hold the modifiers of a Carbon mask.
    static QList<quint8> modifierKeys(quint32 carbonModifiers)
    {
        using x11::KeyCodeTable;
        const std::pair<quint32, qint32> modifierKeys[] = {
            {KeyCodeTable::CommandKey, 55}, {KeyCodeTable::ShiftKey, 56},
            {KeyCodeTable::OptionKey, 58}, {KeyCodeTable::ControlKey, 59}};
        QList<quint8> keys;
        for (const auto &[modifier, virtualKeyCode] : modifierKeys) {
            if (carbonModifiers & modifier)
                keys.append(*KeyCodeTable::xKeyCode(virtualKeyCode));
        }
        return keys;
    }
    // Holds the modifiers, taps the X key KEYCODE (held RELEASEDELAY ms), lets go of the modifiers.
    void typeX(quint8 keyCode, quint32 carbonModifiers = 0, quint32 releaseDelay = 0)
    {
        const QList<quint8> modifiers = modifierKeys(carbonModifiers);
        for (const quint8 modifier : modifiers)
            key(modifier, true);
        key(keyCode, true);
        key(keyCode, false, releaseDelay);
        for (auto it = modifiers.crbegin(); it != modifiers.crend(); ++it)
            key(*it, false);
        sync();
    }
    // The same by virtual key code.
    void type(qint32 virtualKeyCode, quint32 carbonModifiers = 0, quint32 releaseDelay = 0)
    {
        typeX(*x11::KeyCodeTable::xKeyCode(virtualKeyCode), carbonModifiers, releaseDelay);
    }
    // False when the server refuses (another client holds it).
    bool grabKey(quint8 keyCode, quint16 xModifiers)
    {
        const XReply<xcb_generic_error_t> error(
            xcb_request_check(c(), xcb_grab_key_checked(c(), 1, root(), xModifiers, keyCode, XCB_GRAB_MODE_ASYNC,
                                                        XCB_GRAB_MODE_ASYNC)),
            &std::free);
        return !error;
    }
    void ungrabKey(quint8 keyCode, quint16 xModifiers)
    {
        xcb_ungrab_key(c(), keyCode, root(), xModifiers);
        sync();
    }
    bool grabHotKey(qint32 virtualKeyCode, quint32 carbonModifiers)
    {
        return grabKey(*x11::KeyCodeTable::xKeyCode(virtualKeyCode), x11::KeyCodeTable::xModifiers(carbonModifiers));
    }
    void ungrabHotKey(qint32 virtualKeyCode, quint32 carbonModifiers)
    {
        ungrabKey(*x11::KeyCodeTable::xKeyCode(virtualKeyCode), x11::KeyCodeTable::xModifiers(carbonModifiers));
    }
    // Whether another client holds the combination: probes with a grab of its own that it lets go at once.
    bool hotKeyIsHeldElsewhere(qint32 virtualKeyCode, quint32 carbonModifiers)
    {
        if (!grabHotKey(virtualKeyCode, carbonModifiers))
            return true;
        ungrabHotKey(virtualKeyCode, carbonModifiers);
        return false;
    }
    quint8 lockedModifiers() const
    {
        const XReply<xcb_xkb_get_state_reply_t> state(
            xcb_xkb_get_state_reply(c(), xcb_xkb_get_state(c(), XCB_XKB_ID_USE_CORE_KBD), nullptr), &std::free);
        return state ? state->lockedMods : 0;
    }
    void unlockAll()
    {
        xcb_xkb_latch_lock_state(c(), XCB_XKB_ID_USE_CORE_KBD, 0xff, 0, 0, 0, 0, 0, 0);
        sync();
    }
    // Repeat delay and interval in milliseconds; 0 when keys do not repeat.
    std::pair<quint32, quint32> repeatTiming() const
    {
        const XReply<xcb_xkb_get_controls_reply_t> controls(
            xcb_xkb_get_controls_reply(c(), xcb_xkb_get_controls(c(), XCB_XKB_ID_USE_CORE_KBD), nullptr), &std::free);
        if (!controls || !(controls->enabledControls & XCB_XKB_BOOL_CTRL_REPEAT_KEYS))
            return {0, 0};
        return {controls->repeatDelay, controls->repeatInterval};
    }
    ModifierMap modifierMap() const
    {
        ModifierMap map;
        const XReply<xcb_get_modifier_mapping_reply_t> reply(
            xcb_get_modifier_mapping_reply(c(), xcb_get_modifier_mapping(c()), nullptr), &std::free);
        if (reply) {
            map.keysPerModifier = reply->keycodes_per_modifier;
            const xcb_keycode_t *keys = xcb_get_modifier_mapping_keycodes(reply.get());
            map.keyCodes = QList<quint8>(keys, keys + 8 * map.keysPerModifier);
        }
        return map;
    }
    bool setModifierMap(const ModifierMap &map)
    {
        const XReply<xcb_set_modifier_mapping_reply_t> reply(
            xcb_set_modifier_mapping_reply(
                c(), xcb_set_modifier_mapping(c(), quint8(map.keysPerModifier), map.keyCodes.constData()), nullptr),
            &std::free);
        return reply && reply->status == XCB_MAPPING_STATUS_SUCCESS;
    }
    // MAP with KEYCODE taken out of every row and added to row MODIFIER.
    static ModifierMap movedKey(const ModifierMap &map, quint8 keyCode, int modifier)
    {
        ModifierMap moved{map.keysPerModifier + 1, QList<quint8>(8 * (map.keysPerModifier + 1), 0)};
        for (int row = 0; row < 8; ++row) {
            int column = 0;
            for (int i = 0; i < map.keysPerModifier; ++i) {
                const quint8 key = map.keyCodes[row * map.keysPerModifier + i];
                if (key && key != keyCode)
                    moved.keyCodes[row * moved.keysPerModifier + column++] = key;
            }
            if (row == modifier)
                moved.keyCodes[row * moved.keysPerModifier + column] = keyCode;
        }
        return moved;
    }

    // The window that has the keyboard focus; none while the focus follows the pointer or is nowhere.
    xcb_window_t focusWindow() const
    {
        const XReply<xcb_get_input_focus_reply_t> reply(
            xcb_get_input_focus_reply(c(), xcb_get_input_focus(c()), nullptr), &std::free);
        return reply && reply->focus > XCB_INPUT_FOCUS_POINTER_ROOT && reply->focus != root() ? reply->focus
                                                                                              : XCB_NONE;
    }
    // The process that WINDOW says it belongs to (_NET_WM_PID), 0 if none.
    qint64 windowPid(xcb_window_t window) const
    {
        static const char name[] = "_NET_WM_PID";
        const XReply<xcb_intern_atom_reply_t> atom(
            xcb_intern_atom_reply(c(), xcb_intern_atom(c(), true, sizeof name - 1, name), nullptr), &std::free);
        if (!atom || atom->atom == XCB_NONE || !window)
            return 0;
        const XReply<xcb_get_property_reply_t> property(
            xcb_get_property_reply(c(), xcb_get_property(c(), false, window, atom->atom, XCB_ATOM_CARDINAL, 0, 1),
                                   nullptr),
            &std::free);
        if (!property || xcb_get_property_value_length(property.get()) != 4)
            return 0;
        return *static_cast<const quint32 *>(xcb_get_property_value(property.get()));
    }
    // The viewable top-level window of process PID (without a window manager, a direct child of the root); none
    // if it has none.
    xcb_window_t windowOf(qint64 pid) const
    {
        const XReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c(), xcb_query_tree(c(), root()), nullptr),
                                                  &std::free);
        if (!tree)
            return XCB_NONE;
        const xcb_window_t *children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            const XReply<xcb_get_window_attributes_reply_t> attributes(
                xcb_get_window_attributes_reply(c(), xcb_get_window_attributes(c(), children[i]), nullptr),
                &std::free);
            if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE && windowPid(children[i]) == pid)
                return children[i];
        }
        return XCB_NONE;
    }
    // WINDOW's place on the screen.
    QRect geometry(xcb_window_t window) const
    {
        const XReply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(c(), xcb_get_geometry(c(), window), nullptr), &std::free);
        const XReply<xcb_translate_coordinates_reply_t> origin(
            xcb_translate_coordinates_reply(c(), xcb_translate_coordinates(c(), window, root(), 0, 0), nullptr),
            &std::free);
        return geometry && origin ? QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height) : QRect();
    }
    // What the screen shows in AREA (a null image when it cannot be read).
    QImage grab(const QRect &area) const
    {
        const XReply<xcb_get_image_reply_t> image(
            xcb_get_image_reply(c(),
                                xcb_get_image(c(), XCB_IMAGE_FORMAT_Z_PIXMAP, root(), qint16(area.x()),
                                              qint16(area.y()), quint16(area.width()), quint16(area.height()), ~0u),
                                nullptr),
            &std::free);
        if (!image || xcb_get_image_data_length(image.get()) < area.width() * area.height() * 4)
            return {};
        return QImage(xcb_get_image_data(image.get()), area.width(), area.height(), area.width() * 4,
                      QImage::Format_RGB32)
            .copy();
    }

private:
    struct Disconnect
    {
        void operator()(xcb_connection_t *connection) const { xcb_disconnect(connection); }
    };
    std::unique_ptr<xcb_connection_t, Disconnect> m_connection;
    QList<xcb_window_t> m_roots;
};

} // namespace testsupport
