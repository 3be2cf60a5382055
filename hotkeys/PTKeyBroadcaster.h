#pragma once

#include "Export.h"

#include <QLatin1StringView>
#include <QPushButton>

class QKeyEvent;

// The notification that a key press became a key combination: posted on the
// default notification center with the broadcaster as object and the
// combination under "keyCombo" in its user info.
inline constexpr QLatin1StringView PTKeyBroadcasterKeyEvent{"PTKeyBroadcasterKeyEvent"};

// A button that records instead of acting: every key press that reaches it,
// including those that would otherwise trigger a shortcut elsewhere, becomes
// a PTKeyCombo of the key's virtual key code and Carbon modifier mask and is
// posted once as PTKeyBroadcasterKeyEvent. Tab and Backtab are recorded like
// any key, and once it has the keyboard focus it keeps it within its window.
// Pressing or releasing a modifier by itself posts nothing.
class QUILLVANE_EXPORT PTKeyBroadcaster : public QPushButton
{
    Q_OBJECT

public:
    // The key-event modifier flags that the conversion reads.
    static constexpr qint64 AlphaShiftKeyMask = 0x10000; // Caps Lock on
    static constexpr qint64 ShiftKeyMask = 0x20000;
    static constexpr qint64 ControlKeyMask = 0x40000;
    static constexpr qint64 AlternateKeyMask = 0x80000; // Option
    static constexpr qint64 CommandKeyMask = 0x100000;
    static constexpr qint64 NumericPadKeyMask = 0x200000;
    static constexpr qint64 FunctionKeyMask = 0x800000;

    // The user info key of the posted combination.
    static QString keyComboKey();

    explicit PTKeyBroadcaster(QWidget *parent = nullptr);

    // The Carbon modifier mask of a set of key-event modifier flags: the sum
    // of the Carbon values of the Command, Option, Control, Shift and
    // function-key flags present; every other bit is dropped. Replace it in a
    // subclass to convert differently: key presses use the object's own.
    virtual qint64 cocoaModifiersAsCarbonModifiers(qint64 cocoaModifiers) const;

    // The virtual key code of a key event: from the X key code where the
    // event carries one the table knows, else from the toolkit's key; -1 for
    // a key without a position.
    static qint16 keyCodeForEvent(const QKeyEvent &event);
    // The key-event modifier flags of a key event: Super is Command, Alt is
    // Option; Caps Lock and the keypad give their own flags; the function-key
    // flag goes with the keys that carry it on the keyboards the stored key
    // codes come from (F-keys, arrows, Home, End, Page Up, Page Down, Help,
    // Forward Delete).
    static qint64 modifierFlagsForEvent(const QKeyEvent &event, qint16 keyCode);
    // Whether the event presses a modifier key (or a lock) by itself.
    static bool isModifierKeyEvent(const QKeyEvent &event);

    // Refuses to give up the keyboard focus.
    bool resignFirstResponder();
    // A key press: posted.
    void keyDown(QKeyEvent *event);
    // A key press about to trigger a shortcut: claimed, so that it reaches
    // keyDown() as an ordinary key press (and is posted there, once) instead.
    // Always true: handled.
    bool performKeyEquivalent(QKeyEvent *event);

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void _bcastKeyCode(qint16 keyCode, qint64 modifiers);
    void _bcastEvent(QKeyEvent *event);

    bool m_reclaimingFocus = false;
};
