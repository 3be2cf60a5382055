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
}

// The server shows the pointer again when the connection closes.
PointerHider::~PointerHider() = default;

void PointerHider::hide()
{
    if (m_hidden)
        return;
    for (const xcb_window_t root : m_x.roots())
        xcb_xfixes_hide_cursor(m_x.get(), root);
    m_x.flush();
    m_hidden = true;
}

void PointerHider::show()
{
    if (!m_hidden)
        return;
    for (const xcb_window_t root : m_x.roots())
        xcb_xfixes_show_cursor(m_x.get(), root);
    m_x.flush();
    m_hidden = false;
}
