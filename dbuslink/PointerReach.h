#pragma once

#include <QString>

namespace dbuslink {

// Where the cursor program can hide the pointer. An X server hides it over
// every window; under XWayland it reaches only the windows of X11 programs,
// since no Wayland protocol lets one program hide the pointer over another's
// windows; without an X server it reaches nothing.
enum class PointerReach { Everywhere, X11WindowsOnly, Nowhere };

// The reach as the cursor program shows it on the bus (property
// PointerReach): "everywhere", "x11-windows-only" or "nowhere".
QString pointerReachName(PointerReach reach);

// The reach that the session's environment allows, decided without asking
// any server: a Wayland session (WAYLAND_DISPLAY set, or XDG_SESSION_TYPE
// "wayland") reaches X11 windows only when DISPLAY names an X server
// (XWayland) and nothing otherwise; any other session reaches everywhere
// when DISPLAY is set and nothing otherwise. *REASON is one sentence why.
PointerReach pointerReachFromEnvironment(QString *reason);

} // namespace dbuslink
