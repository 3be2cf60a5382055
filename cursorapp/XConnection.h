#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

class QSocketNotifier;

// The cursor application's own connection to the X server (the hot key
// library keeps another). Events are read on the thread that opened it
// through a socket notifier and handed out in order through eventReceived.
class XConnection : public QObject
{
    Q_OBJECT

public:
    // Opens DISPLAYNAME, or $DISPLAY when it is empty. Null when there is no
    // X display to open; *WHYNOT then says why in one sentence.
    static std::unique_ptr<XConnection> open(const QByteArray &displayName, QString *whyNot);

    ~XConnection() override;
    Q_DISABLE_COPY_MOVE(XConnection)

    xcb_connection_t *get() const { return m_connection.get(); }
    // The root window of every screen, the default screen's first.
    const QList<xcb_window_t> &roots() const { return m_roots; }

    // False once the server has gone; connectionLost() has been emitted then.
    bool isConnected();

    // Sends what is buffered. Events that arrived while a request waited for
    // its reply sit in xcb's queue, where the socket notifier does not see
    // them, so they are handed out from the event loop soon after.
    void flush();

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

    void processEvents();
    void scheduleProcessing();

    std::unique_ptr<xcb_connection_t, Disconnect> m_connection;
    std::unique_ptr<QSocketNotifier> m_notifier; // declared after the connection: goes first
    QList<xcb_window_t> m_roots;
    bool m_lost = false;
    bool m_processingScheduled = false;
};

// An xcb reply or error, freed with free().
struct XcbFree
{
    void operator()(void *p) const { std::free(p); }
};
template<typename T>
using XcbReply = std::unique_ptr<T, XcbFree>;
