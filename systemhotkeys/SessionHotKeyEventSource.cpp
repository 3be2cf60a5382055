#include "SessionHotKeyEventSource.h"

#include "PortalHotKeyEventSource.h"
#include "Session.h"
#include "X11HotKeyEventSource.h"

#include <QDBusConnection>

namespace systemhotkeys {

std::shared_ptr<HotKeyEventSource> sessionHotKeyEventSource()
{
    // Never destroyed: its users live as long as the process.
    static const auto *source = new std::shared_ptr<HotKeyEventSource>([]() -> std::shared_ptr<HotKeyEventSource> {
        // Under XWayland an X11 grab would see the key only while an X11
        // window has the focus.
        if (x11::isWaylandSession())
            return std::make_shared<PortalHotKeyEventSource>(QDBusConnection::sessionBus());
        return std::make_shared<X11HotKeyEventSource>();
    }());
    return *source;
}

} // namespace systemhotkeys
