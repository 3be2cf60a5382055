#pragma once

#include "PointerInterfaces.h"

#include <QMetaObject>
#include <QString>

#include <xcb/xcb.h>

#include <memory>

namespace x11 {
class XConnection;
}

// Hides the pointer with XFixes on the screen it is on. The server counts the
// hides of each client and shows the pointer again when that client goes
// away, so a pointer hidden here never outlives the program, even one that
// crashed. Hides and shows are kept balanced: a show without a hide is an X
// error.
//
// The server draws the pointer on the screen whose hide or show came last,
// wherever the pointer is. So only the pointer's own screen is hidden: when
// the program dies, the one show the server makes for it is on the right
// screen. While hidden, the hide follows the pointer to another screen (told
// by motion on the root windows, selected only then and only with several
// screens), and a show ends on the pointer's screen.
class PointerHider : public AbstractPointerHider
{
public:
    // Null when the server lacks XFixes 4; *ERRORSTRING then says so.
    static std::unique_ptr<PointerHider> create(x11::XConnection &x, QString *errorString);

    ~PointerHider() override;
    Q_DISABLE_COPY_MOVE(PointerHider)

    bool isHidden() const override { return m_hiddenRoot != XCB_NONE; }
    void hide() override;
    void show() override;

private:
    explicit PointerHider(x11::XConnection &x);

    xcb_window_t pointerRoot();
    void selectRootEvents(bool select);
    void handleEvent(const xcb_generic_event_t &event);

    x11::XConnection &m_x;
    xcb_window_t m_hiddenRoot = XCB_NONE;
    QMetaObject::Connection m_events;
};
