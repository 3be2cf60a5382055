#pragma once

#include "KeyCodeTable.h"

#include <QList>

#include <xcb/xcb.h>
// xkb.h names a struct member "explicit".
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xcb/xtest.h>

#include <cstdlib>
#include <memory>

// Another X client, as a user at the keyboard or another program would be:
// types with XTest, holds key grabs of its own, reads and resets the lock
// state and the modifier map.
class XTestClient
{
public:
    struct ModifierMap
    {
        int keysPerModifier = 0;
        QList<quint8> keyCodes; // eight rows of keysPerModifier
    };

    XTestClient()
        : m_connection(xcb_connect(nullptr, nullptr))
    {
        if (!isValid())
            return;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(c())).data->root;
        std::free(xcb_xkb_use_extension_reply(c(), xcb_xkb_use_extension(c(), 1, 0), nullptr));
    }

    bool isValid() const { return !xcb_connection_has_error(c()); }
    xcb_connection_t *c() const { return m_connection.get(); }

    // The server waits DELAY milliseconds before it takes the event (and any
    // later request of this client).
    void key(quint8 keyCode, bool press, quint32 delay = 0)
    {
        xcb_test_fake_input(c(), press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keyCode, delay, XCB_NONE, 0, 0, 0);
    }

    // The keys that hold the modifiers of a Carbon mask.
    static QList<quint8> modifierKeys(quint32 carbonModifiers)
    {
        using x11::KeyCodeTable;
        QList<quint8> keys;
        const std::pair<quint32, qint32> modifierKeys[] = {
            {KeyCodeTable::CommandKey, 55},
            {KeyCodeTable::ShiftKey, 56},
            {KeyCodeTable::OptionKey, 58},
            {KeyCodeTable::ControlKey, 59},
        };
        for (const auto &[modifier, virtualKeyCode] : modifierKeys) {
            if (carbonModifiers & modifier)
                keys.append(*KeyCodeTable::xKeyCode(virtualKeyCode));
        }
        return keys;
    }

    // Holds the modifiers, presses and releases the X key, lets go of the
    // modifiers. A RELEASEDELAY keeps the key down that long.
    void type(quint8 keyCode, quint32 carbonModifiers, quint32 releaseDelay = 0)
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

    void tap(quint8 keyCode)
    {
        key(keyCode, true);
        key(keyCode, false);
        sync();
    }

    void sync() { std::free(xcb_get_input_focus_reply(c(), xcb_get_input_focus(c()), nullptr)); }

    // False when the server refuses it (another client holds it).
    bool grabKey(quint8 keyCode, quint16 modifiers)
    {
        xcb_generic_error_t *error = xcb_request_check(
            c(), xcb_grab_key_checked(c(), 1, m_root, modifiers, keyCode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return !error;
    }

    void ungrabKey(quint8 keyCode, quint16 modifiers)
    {
        xcb_ungrab_key(c(), keyCode, m_root, modifiers);
        sync();
    }

    quint8 lockedModifiers()
    {
        xcb_xkb_get_state_reply_t *state =
            xcb_xkb_get_state_reply(c(), xcb_xkb_get_state(c(), XCB_XKB_ID_USE_CORE_KBD), nullptr);
        const quint8 locked = state ? state->lockedMods : 0;
        std::free(state);
        return locked;
    }

    void unlockAll()
    {
        xcb_xkb_latch_lock_state(c(), XCB_XKB_ID_USE_CORE_KBD, 0xff, 0, 0, 0, 0, 0, 0);
        sync();
    }

    // Repeat delay and interval in milliseconds; 0 when keys do not repeat.
    std::pair<quint32, quint32> repeatTiming()
    {
        xcb_xkb_get_controls_reply_t *controls =
            xcb_xkb_get_controls_reply(c(), xcb_xkb_get_controls(c(), XCB_XKB_ID_USE_CORE_KBD), nullptr);
        std::pair<quint32, quint32> timing{0, 0};
        if (controls && (controls->enabledControls & XCB_XKB_BOOL_CTRL_REPEAT_KEYS))
            timing = {controls->repeatDelay, controls->repeatInterval};
        std::free(controls);
        return timing;
    }

    ModifierMap modifierMap()
    {
        ModifierMap map;
        xcb_get_modifier_mapping_reply_t *reply =
            xcb_get_modifier_mapping_reply(c(), xcb_get_modifier_mapping(c()), nullptr);
        if (reply) {
            map.keysPerModifier = reply->keycodes_per_modifier;
            const xcb_keycode_t *keys = xcb_get_modifier_mapping_keycodes(reply);
            map.keyCodes = QList<quint8>(keys, keys + 8 * map.keysPerModifier);
        }
        std::free(reply);
        return map;
    }

    bool setModifierMap(const ModifierMap &map)
    {
        xcb_set_modifier_mapping_reply_t *reply = xcb_set_modifier_mapping_reply(
            c(), xcb_set_modifier_mapping(c(), quint8(map.keysPerModifier), map.keyCodes.constData()), nullptr);
        const bool done = reply && reply->status == XCB_MAPPING_STATUS_SUCCESS;
        std::free(reply);
        return done;
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

private:
    struct Disconnect
    {
        void operator()(xcb_connection_t *c) const { xcb_disconnect(c); }
    };
    std::unique_ptr<xcb_connection_t, Disconnect> m_connection;
    xcb_window_t m_root = 0;
};
