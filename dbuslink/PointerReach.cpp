#include "PointerReach.h"

#include "Session.h"

using namespace Qt::StringLiterals;

namespace dbuslink {

QString pointerReachName(PointerReach reach)
{
    switch (reach) {
    case PointerReach::Everywhere:
        return u"everywhere"_s;
    case PointerReach::X11WindowsOnly:
        return u"x11-windows-only"_s;
    case PointerReach::Nowhere:
        break;
    }
    return u"nowhere"_s;
}

PointerReach pointerReachFromEnvironment(QString *reason)
{
    const bool wayland = x11::isWaylandSession();
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    if (wayland && x11) {
        *reason = u"This is a Wayland session: the pointer can be hidden only over the windows of X11 programs "
                  "(XWayland), since no program may hide the pointer over another's Wayland windows."_s;
        return PointerReach::X11WindowsOnly;
    }
    if (wayland) {
        *reason = u"This is a Wayland session without XWayland, and no program may hide the pointer over "
                  "another's Wayland windows."_s;
        return PointerReach::Nowhere;
    }
    if (!x11) {
        *reason = u"There is no X display (DISPLAY is not set)."_s;
        return PointerReach::Nowhere;
    }
    *reason = u"The X server hides the pointer over every window."_s;
    return PointerReach::Everywhere;
}

} // namespace dbuslink
