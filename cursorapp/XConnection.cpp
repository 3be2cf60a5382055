#include "cursorapp/XConnection.h"

#include <QLoggingCategory>
#include <QSocketNotifier>

Q_LOGGING_CATEGORY(lcXConnection, "quillvane.cursorapp.x11", QtWarningMsg)

namespace {

QString connectionError(int error)
{
    switch (error) {
    case XCB_CONN_ERROR:
        return QStringLiteral("the server could not be reached");
    case XCB_CONN_CLOSED_EXT_NOTSUPPORTED:
        return QStringLiteral("an extension is missing");
    case XCB_CONN_CLOSED_MEM_INSUFFICIENT:
        return QStringLiteral("out of memory");
    case XCB_CONN_CLOSED_REQ_LEN_EXCEED:
        return QStringLiteral("a request was too long");
    case XCB_CONN_CLOSED_PARSE_ERR:
        return QStringLiteral("the display name is not valid");
    case XCB_CONN_CLOSED_INVALID_SCREEN:
        return QStringLiteral("the display has no such screen");
    default:
        return QStringLiteral("error %1").arg(error);
    }
}

} // namespace

std::unique_ptr<XConnection> XConnection::open(const QByteArray &displayName, QString *whyNot)
{
    const QByteArray name = displayName.isEmpty() ? qgetenv("DISPLAY") : displayName;
    if (name.isEmpty()) {
        *whyNot = qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                      ? QStringLiteral("there is no X display (DISPLAY is not set)")
                      : QStringLiteral("this is a Wayland session without an X server (WAYLAND_DISPLAY is set, "
                                       "DISPLAY is not), and a Wayland compositor lets no other program hide "
                                       "its pointer");
        return nullptr;
    }
    int screenNumber = 0;
    std::unique_ptr<xcb_connection_t, Disconnect> connection(xcb_connect(name.constData(), &screenNumber));
    if (const int error = xcb_connection_has_error(connection.get())) {
        *whyNot = QStringLiteral("the X display \"%1\" cannot be opened (%2)")
                      .arg(QString::fromLocal8Bit(name), connectionError(error));
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
    m_notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(get()), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &XConnection::processEvents);
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
    m_notifier->setEnabled(false);
    Q_EMIT connectionLost();
    return false;
}

void XConnection::flush()
{
    if (!isConnected())
        return;
    xcb_flush(get());
    scheduleProcessing();
}

void XConnection::scheduleProcessing()
{
    if (m_processingScheduled)
        return;
    m_processingScheduled = true;
    QMetaObject::invokeMethod(this, &XConnection::processEvents, Qt::QueuedConnection);
}

void XConnection::processEvents()
{
    m_processingScheduled = false;
    if (!isConnected())
        return;
    while (const XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(get())}) {
        if (event->response_type == 0) {
            const auto *error = reinterpret_cast<const xcb_generic_error_t *>(event.get());
            qCWarning(lcXConnection) << "X error" << error->error_code << "for request" << error->major_code << "."
                                     << error->minor_code;
        }
        Q_EMIT eventReceived(*event);
        if (!isConnected())
            return;
    }
    isConnected();
}
