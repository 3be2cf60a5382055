#include "PointerHider.h"

#include "XConnection.h"

#include <xcb/xfixes.h>

using namespace Qt::StringLiterals;

std::unique_ptr<PointerHider> PointerHider::create(x11::XConnection &x, QString *errorString)
{
    xcb_connection_t *c = x.get();
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(c, &xcb_xfixes_id);
    // The version must be asked before any other XFixes request.
    const x11::XcbReply<xcb_xfixes_query_version_reply_t> version(
        extension && extension->present
            ? xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr)
            : nullptr);
    x.flush();
    if (!version || version->major_version < 4) {
        *errorString = u"the X server cannot hide the pointer (it lacks XFixes 4)"_s;
        return nullptr;
    }
    return std::unique_ptr<PointerHider>(new PointerHider(x));
}

PointerHider::PointerHider(x11::XConnection &x)
    : m_x(x)
{
    if (m_x.roots().size() > 1)
        m_events = QObject::connect(&m_x, &x11::XConnection::eventReceived, &m_x,
                                    [this](const xcb_generic_event_t &event) { handleEvent(event); });
}

// While hidden on a server of several screens, the root windows tell where
// the pointer goes: a warp or a move across screens sends motion there.
void PointerHider::selectRootEvents(bool select)
{
    if (m_x.roots().size() < 2)
        return;
    const quint32 mask = select ? XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_ENTER_WINDOW : 0;
    for (const xcb_window_t root : m_x.roots())
        xcb_change_window_attributes(m_x.get(), root, XCB_CW_EVENT_MASK, &mask);
}

// The server shows the pointer again when the connection closes.
PointerHider::~PointerHider()
{
    QObject::disconnect(m_events);
}

xcb_window_t PointerHider::pointerRoot()
{
    xcb_connection_t *c = m_x.get();
    const x11::XcbReply<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, m_x.defaultRoot()), nullptr));
    return reply && m_x.roots().contains(reply->root) ? reply->root : m_x.defaultRoot();
}

void PointerHider::hide()
{
    if (isHidden())
        return;
    // Selected first: a move after the pointer is read is heard of.
    selectRootEvents(true);
    m_hiddenRoot = pointerRoot();
    xcb_xfixes_hide_cursor(m_x.get(), m_hiddenRoot);
    m_x.flush();
}

void PointerHider::show()
{
    if (!isHidden())
        return;
    // The pointer left the screen before we heard of it: hidden there first,
    // shown there last, so that it is drawn where it is.
    const xcb_window_t root = pointerRoot();
    if (root != m_hiddenRoot)
        xcb_xfixes_hide_cursor(m_x.get(), root);
    xcb_xfixes_show_cursor(m_x.get(), m_hiddenRoot);
    if (root != m_hiddenRoot)
        xcb_xfixes_show_cursor(m_x.get(), root);
    m_hiddenRoot = XCB_NONE;
    selectRootEvents(false);
    m_x.flush();
}

void PointerHider::handleEvent(const xcb_generic_event_t &event)
{
    const quint8 type = x11::eventType(event);
    if ((type != XCB_MOTION_NOTIFY && type != XCB_ENTER_NOTIFY) || !isHidden())
        return;
    // Motion and crossing events have the same layout up to the root.
    const xcb_window_t root = reinterpret_cast<const xcb_motion_notify_event_t &>(event).root;
    if (root == m_hiddenRoot || !m_x.roots().contains(root))
        return;
    // Hidden on the new screen before the old one is shown, then shown and
    // hidden there once more: the server draws (or here, removes) the
    // pointer on the screen changed last, and leaves no trace on the old one.
    xcb_xfixes_hide_cursor(m_x.get(), root);
    xcb_xfixes_show_cursor(m_x.get(), m_hiddenRoot);
    xcb_xfixes_show_cursor(m_x.get(), root);
    xcb_xfixes_hide_cursor(m_x.get(), root);
    m_hiddenRoot = root;
    m_x.flush();
}
