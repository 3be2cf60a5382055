#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

class QSocketNotifier;

namespace x11 {

// An xcb reply or error, freed with free().
struct XcbFree
{
    void operator()(void *p) const { std::free(p); }
};
template<typename T>
using XcbReply = std::unique_ptr<T, XcbFree>;

// The type of an event with the bit cleared that the server sets on events
// a client sent with SendEvent.
inline quint8 eventType(const xcb_generic_event_t &event)
{
    constexpr quint8 SendEventBit = 0x80;
    return event.response_type & ~SendEventBit;
}

// Responses of type 0 are errors of requests sent without a check.
inline constexpr quint8 ErrorResponse = 0;

// A connection of its own to the X server. Events are read on the thread
// that opened it, through a socket notifier, and handed out in order through
// eventReceived().
class XConnection : public QObject
{
    Q_OBJECT

public:
    // Opens DISPLAYNAME, or $DISPLAY when it is empty. Null when there is no
    // X display to open; *ERRORSTRING then says why in one sentence.
    static std::unique_ptr<XConnection> open(const QByteArray &displayName, QString *errorString);

    ~XConnection() override;
    Q_DISABLE_COPY_MOVE(XConnection)

    xcb_connection_t *get() const { return m_connection.get(); }
    // The root window of every screen, the default screen's first.
    const QList<xcb_window_t> &roots() const { return m_roots; }
    xcb_window_t defaultRoot() const { return m_roots.constFirst(); }

    // False once the server has gone; connectionLost() has been emitted then.
    bool isConnected();

    // Sends what is buffered. Events that arrived while a request waited for
    // its reply sit in xcb's queue, where the socket notifier does not see
    // them, so they are handed out from the event loop soon after.
    void flush();
    // Hands out every event queued now, at once.
    void dispatchPending();

    // The major opcode of XInput 2.2 or later (whose raw events also arrive
    // while another client grabs the device), 0 when the server lacks it.
    quint8 xinputOpcode();
    // Selects the XInput raw events of MASK on every root window for USER,
    // beside those of the connection's other users: the server keeps one
    // selection per client and window, so they are merged here. An empty
    // mask ends USER's part.
    void selectRawEvents(const void *user, quint32 mask);

Q_SIGNALS:
    // Every event and every error of a request sent without a check.
    void eventReceived(const xcb_generic_event_t &event);
    // The server closed the connection or could not be read; emitted once.
    void connectionLost();

private:
    struct Disconnect
    {
        void operator()(xcb_connection_t *connection) const { xcb_disconnect(connection); }
    };

    XConnection(std::unique_ptr<xcb_connection_t, Disconnect> connection, int screenNumber);

    void scheduleDispatch();

    std::unique_ptr<xcb_connection_t, Disconnect> m_connection;
    std::unique_ptr<QSocketNotifier> m_notifier; // declared after the connection: goes first
    QList<xcb_window_t> m_roots;
    QHash<const void *, quint32> m_rawEventMasks;
    quint32 m_selectedRawEvents = 0;
    int m_xinputOpcode = -1; // -1: not asked yet
    bool m_lost = false;
    bool m_dispatchScheduled = false;
};

} // namespace x11
