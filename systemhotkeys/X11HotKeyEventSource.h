#pragma once

#include "HotKeyEventSource.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTimer>

#include <xcb/xcb.h>

#include <memory>

namespace x11 {
class XConnection;
}

namespace systemhotkeys {

// Hot keys as passive key grabs on the X server's root window, made on a
// connection of this object's own and read through a socket notifier on the
// thread that made it (the main thread).
//
// Each registration grabs its key with every combination of the lock
// modifiers (Caps Lock, Num Lock, Scroll Lock), so that a hot key works
// whatever the locks are; when the server refuses any of them, none is kept.
// Without an X server every registration fails with eventInternalErr.
class X11HotKeyEventSource : public QObject, public HotKeyEventSource
{
    Q_OBJECT

public:
    // Connects to DISPLAYNAME, or to $DISPLAY when it is empty.
    explicit X11HotKeyEventSource(const QByteArray &displayName = {}, QObject *parent = nullptr);
    ~X11HotKeyEventSource() override;
    Q_DISABLE_COPY_MOVE(X11HotKeyEventSource)

    // Status eventHotKeyExistsErr when another program (or another
    // registration here) holds the combination, eventHotKeyInvalidErr for a
    // key code without key or a grab the server refuses otherwise.
    Registration registerHotKey(quint32 keyCode, quint32 modifiers, HotKeyID id) override;
    qint32 unregisterHotKey(HotKeyRef ref) override;
    qint32 installHandler(Handler handler) override;

    bool isConnected() const;
    // Whether a held key arrives as one press (the server marks repeats).
    bool hasDetectableAutoRepeat() const { return m_detectableAutoRepeat; }

Q_SIGNALS:
    // Every grab was made again: the lock modifiers moved.
    void grabsRenewed();
    // The X server went away; registrations fail from now on.
    void connectionLost();

private:
    struct KeyGrab
    {
        HotKeyID id;
        QList<quint8> keyCodes;
        quint16 modifiers = 0;           // the combination's X modifiers
        QList<quint16> grabbedModifiers; // every lock variant held now
        bool down = false;               // pressed and not released yet
        quint8 downKeyCode = 0;
    };

    void setUpXkb();
    void readLockModifiers();
    QList<quint16> lockVariants(quint16 modifiers) const;
    qint32 grab(KeyGrab &keyGrab);
    void ungrab(KeyGrab &keyGrab);
    void renewGrabs();

    void handleEvent(const xcb_generic_event_t &event);
    void handleKey(bool press, quint8 keyCode, quint16 state);
    void dispatch(quint32 kind, HotKeyID id);
    void handleConnectionLost();

    std::unique_ptr<x11::XConnection> m_x;
    quint32 m_root = 0;
    quint8 m_xkbFirstEvent = 0; // 0: no XKB
    bool m_detectableAutoRepeat = false;
    quint16 m_numLockMask = 0;
    quint16 m_scrollLockMask = 0;
    QTimer m_mappingTimer;
    QHash<quint64, KeyGrab> m_grabs;
    quint64 m_lastRef = 0;
    Handler m_handler;
};

} // namespace systemhotkeys
