#pragma once

#include <QString>
#include <QtGlobal>

struct xkb_keymap;

namespace systemhotkeys {

// A key combination as a trigger in the XDG shortcuts format, the way a
// desktop's global shortcuts take it: the modifiers CTRL, ALT, SHIFT and LOGO
// (Control, Option, Shift, Command) in that order, then the name of the
// keysym that the key at KEYCODE's position gives without modifiers in the
// keymap's layout LAYOUTINDEX, joined by "+": "CTRL+ALT+k", "LOGO+F1",
// "SHIFT+udiaeresis". A null KEYMAP means the default keymap (XKB_DEFAULT_*
// from the environment, else the built-in default). Empty when the key code
// names no key or the layout gives that key no keysym.
QString shortcutTrigger(quint32 keyCode, quint32 carbonModifiers, xkb_keymap *keymap = nullptr,
                        quint32 layoutIndex = 0);

} // namespace systemhotkeys
