#pragma once

#include <QList>
#include <QtGlobal>

#include <array>
#include <optional>

namespace x11 {

// Virtual key codes (the stored numbering of keys by their position on the
// keyboard, 40 is K) against X11 key codes (Linux input code + 8, the evdev
// numbering), and Carbon modifier masks against X modifier masks.
class KeyCodeTable
{
public:
    // Carbon modifier bits.
    static constexpr quint32 CommandKey = 0x100;
    static constexpr quint32 ShiftKey = 0x200;
    static constexpr quint32 OptionKey = 0x800;
    static constexpr quint32 ControlKey = 0x1000;
    static constexpr quint32 FunctionKey = 0x8000;

    // X modifier bits (core protocol key and button masks).
    static constexpr quint16 XShift = 0x01;
    static constexpr quint16 XLock = 0x02;
    static constexpr quint16 XControl = 0x04;
    static constexpr quint16 XMod1 = 0x08; // Alt
    static constexpr quint16 XMod4 = 0x40; // Super

    // The modifiers a combination can hold, in the order in which they are
    // shown (Command, Option, Control, Shift), with their X modifiers.
    struct Modifier
    {
        quint32 carbon;
        quint16 x;
    };
    static constexpr std::array<Modifier, 4> Modifiers{{
        {CommandKey, XMod4},
        {OptionKey, XMod1},
        {ControlKey, XControl},
        {ShiftKey, XShift},
    }};

    // The X key codes of the key at a virtual key code's position: usually
    // one; two where a PC keyboard has another key in that place (F13 and
    // Print Screen, Help and Insert...), the one the code was named for first.
    // Empty for a code that names no key.
    static QList<quint8> xKeyCodes(qint32 virtualKeyCode);
    // The first of xKeyCodes(), or nothing.
    static std::optional<quint8> xKeyCode(qint32 virtualKeyCode);
    // The virtual key code of an X key code, or nothing for a key that has no
    // virtual key code.
    static std::optional<qint32> virtualKeyCode(quint8 xKeyCode);

    // Command -> Mod4, Option -> Mod1, Control -> Control, Shift -> Shift.
    // The function key bit and unknown bits have no X modifier.
    static quint16 xModifiers(quint32 carbonModifiers);
    // The reverse of xModifiers(); other X modifiers (locks, Mod2, Mod3,
    // Mod5, buttons) are dropped.
    static quint32 carbonModifiers(quint16 xModifierState);
};

} // namespace x11
