#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>

#include <xcb/xcb.h>

namespace x11 {
class XConnection;
}

// Tells when the user types, without taking a key from anyone: XInput 2 raw
// key presses on the root windows, which arrive whichever window has the
// focus and also while another program grabs the keyboard. Only selected
// while watching, so that nobody typing costs nothing.
//
// A modifier key by itself is not typing (Control-click, Shift-scroll and
// hot keys stay usable), and neither is the press of the hot key set with
// setHotKey(): it acts by itself.
class TypingWatcher : public QObject
{
    Q_OBJECT

public:
    explicit TypingWatcher(x11::XConnection &x, QObject *parent = nullptr);
    ~TypingWatcher() override;
    Q_DISABLE_COPY_MOVE(TypingWatcher)

    // False when the server lacks XInput 2.1: then nothing is ever typed.
    bool isAvailable() const { return m_xiOpcode != 0; }

    void setWatching(bool watching);
    bool isWatching() const { return m_watching; }

    // The X key codes and X modifiers of the hot key whose presses are not
    // typing; no key codes for none.
    void setHotKey(const QList<quint8> &keyCodes, quint16 xModifiers);

Q_SIGNALS:
    void typed();

private:
    void handleEvent(const xcb_generic_event_t &event);
    void handleKeyPress(quint8 keyCode);
    void readModifierKeys();
    quint16 heldModifiers() const;

    x11::XConnection &m_x;
    quint8 m_xiOpcode = 0;
    bool m_watching = false;
    // The modifier keys by X key code, with the modifier each one sets.
    QHash<quint8, quint16> m_modifierKeys;
    // Followed in the raw events, in the order the server saw them: a query
    // of the state after the fact could come too late.
    QSet<quint8> m_heldModifierKeys;
    // What was held when watching began, until those keys are let go.
    quint16 m_modifiersAtStart = 0;
    QList<quint8> m_hotKeyCodes;
    quint16 m_hotKeyModifiers = 0;
};
