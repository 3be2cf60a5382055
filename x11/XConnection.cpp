#include "XConnection.h"

#include "Session.h"

#include <QAbstractEventDispatcher>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <xcb/xinput.h>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcXConnection, "quillvane.x11.connection", QtWarningMsg)

namespace x11 {

namespace {

QString connectionError(int error)
{
    switch (error) {
    case XCB_CONN_ERROR:
        return u"the server could not be reached"_s;
    case XCB_CONN_CLOSED_EXT_NOTSUPPORTED:
        return u"an extension is missing"_s;
    case XCB_CONN_CLOSED_MEM_INSUFFICIENT:
        return u"out of memory"_s;
    case XCB_CONN_CLOSED_REQ_LEN_EXCEED:
        return u"a request was too long"_s;
    case XCB_CONN_CLOSED_PARSE_ERR:
        return u"the display name is not valid"_s;
    case XCB_CONN_CLOSED_INVALID_SCREEN:
        return u"the display has no such screen"_s;
    default:
        return u"error %1"_s.arg(error);
    }
}

} // namespace

std::unique_ptr<XConnection> XConnection::open(const QByteArray &displayName, QString *errorString)
{
    const QByteArray name = displayName.isEmpty() ? qgetenv("DISPLAY") : displayName;
    if (name.isEmpty()) {
        *errorString = !isWaylandSession()
            ? u"there is no X display (DISPLAY is not set)"_s
            : u"this is a Wayland session without an X server (DISPLAY is not set), "
              "and a Wayland compositor lets no other program hide its pointer"_s;
        return nullptr;
    }
    int screenNumber = 0;
    std::unique_ptr<xcb_connection_t, Disconnect> connection(xcb_connect(name.constData(), &screenNumber));
    if (const int error = xcb_connection_has_error(connection.get())) {
        *errorString = u"the X display \"%1\" cannot be opened (%2)"_s.arg(QString::fromLocal8Bit(name),
                                                                          connectionError(error));
        return nullptr;
    }
    return std::unique_ptr<XConnection>(new XConnection(std::move(connection), screenNumber));
}

XConnection::XConnection(std::unique_ptr<xcb_connection_t, Disconnect> connection, int screenNumber)
    : m_connection(std::move(connection))
{
    int index = 0;
    for (auto screen = xcb_setup_roots_iterator(xcb_get_setup(get())); screen.rem; xcb_screen_next(&screen), ++index) {
        if (index == screenNumber)
            m_roots.prepend(screen.data->root);
        else
            m_roots.append(screen.data->root);
    }
    // Without an event loop on this thread the owner reads events itself
    // with dispatchPending().
    if (QAbstractEventDispatcher::instance()) {
        m_notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(get()), QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &XConnection::dispatchPending);
    }
}

XConnection::~XConnection() = default;

bool XConnection::isConnected()
{
    if (m_lost)
        return false;
    if (!xcb_connection_has_error(get()))
        return true;
    m_lost = true;
    // The notifier would otherwise fire again and again on the closed socket.
    if (m_notifier)
        m_notifier->setEnabled(false);
    Q_EMIT connectionLost();
    return false;
}

void XConnection::flush()
{
    if (!isConnected())
        return;
    xcb_flush(get());
    scheduleDispatch();
}

void XConnection::scheduleDispatch()
{
    if (m_dispatchScheduled || !m_notifier)
        return;
    m_dispatchScheduled = true;
    QMetaObject::invokeMethod(this, &XConnection::dispatchPending, Qt::QueuedConnection);
}

void XConnection::dispatchPending()
{
    m_dispatchScheduled = false;
    if (!isConnected())
        return;
    while (const XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(get())}) {
        if (eventType(*event) == ErrorResponse) {
            const auto *error = reinterpret_cast<const xcb_generic_error_t *>(event.get());
            qCDebug(lcXConnection) << "X error" << error->error_code << "for request" << error->major_code << "."
                                   << error->minor_code;
        }
        Q_EMIT eventReceived(*event);
        if (!isConnected())
            return;
    }
    isConnected();
}

quint8 XConnection::xinputOpcode()
{
    if (m_xinputOpcode >= 0)
        return quint8(m_xinputOpcode);
    m_xinputOpcode = 0;
    if (!isConnected())
        return 0;
    xcb_connection_t *c = get();
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(c, &xcb_input_id);
    if (extension && extension->present) {
        const XcbReply<xcb_input_xi_query_version_reply_t> version(
            xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
        if (version && (version->major_version > 2 || (version->major_version == 2 && version->minor_version >= 1)))
            m_xinputOpcode = extension->major_opcode;
    }
    flush();
    return quint8(m_xinputOpcode);
}

void XConnection::selectRawEvents(const void *user, quint32 mask)
{
    if (mask)
        m_rawEventMasks.insert(user, mask);
    else
        m_rawEventMasks.remove(user);
    quint32 merged = 0;
    for (const quint32 part : std::as_const(m_rawEventMasks))
        merged |= part;
    if (merged == m_selectedRawEvents || !xinputOpcode())
        return;
    m_selectedRawEvents = merged;
    struct
    {
        xcb_input_event_mask_t head;
        quint32 mask;
    } selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, merged};
    // Raw events go to root windows only.
    for (const xcb_window_t root : std::as_const(m_roots))
        xcb_input_xi_select_events(get(), root, 1, &selection.head);
    flush();
}

} // namespace x11
