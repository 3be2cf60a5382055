#pragma once

#include "Export.h"

#include <QString>
#include <QtGlobal>

#include <memory>

struct xkb_keymap;

// Which character a key produces under a keyboard layout with no modifiers
// held. Translators are compared by identity: currentTranslator() hands out
// the same one for as long as the keyboard layout stays the same.
class QUILLVANE_EXPORT PTKeyCodeTranslator
{
public:
    // A compiled keymap and which of its layouts (XKB groups) is meant.
    struct KeyboardLayout
    {
        std::shared_ptr<xkb_keymap> keymap;
        quint32 layoutIndex = 0;
    };

    // The translator for the layout in use now: the active layout of the X
    // server's core keyboard, or, without an X display, the default keymap
    // (XKB_DEFAULT_* from the environment, else the built-in default). A new
    // translator once the keymap or the active layout changed; translators
    // handed out before keep working with the layout they were made for.
    static std::shared_ptr<PTKeyCodeTranslator> currentTranslator();

    // A layout compiled from XKB names; empty names take the defaults. Its
    // keymap is null, with a log line, when the names do not compile.
    static KeyboardLayout keyboardLayoutWithNames(const QString &layout, const QString &variant = {},
                                                  const QString &model = {}, const QString &rules = {},
                                                  const QString &options = {});

    explicit PTKeyCodeTranslator(KeyboardLayout keyboardLayout);
    ~PTKeyCodeTranslator();
    Q_DISABLE_COPY_MOVE(PTKeyCodeTranslator)

    // The character of the key at a virtual key code, unshifted, as a string
    // of exactly one UTF-16 unit. A dead key gives its accent as a spacing
    // character (´ for dead acute). A key that gives no character of its own
    // (modifiers, function and cursor keys, codes without a key, keys this
    // layout leaves empty) or one outside the Basic Multilingual Plane gives
    // U+0000; so does every key of a layout without keymap.
    QString translateKeyCode(qint16 keyCode) const;

    const KeyboardLayout &keyboardLayout() const { return mKeyboardLayout; }
    // The name of the layout, such as "English (US)"; empty without keymap.
    QString layoutName() const;
    // "PTKeyCodeTranslator layout=<layout name> (uchr)"
    QString description() const;

private:
    KeyboardLayout mKeyboardLayout;
};
