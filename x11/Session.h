#pragma once

namespace x11 {

// Whether the desktop session is a Wayland one (WAYLAND_DISPLAY set, or
// XDG_SESSION_TYPE "wayland"), where an X server named by DISPLAY is only
// XWayland: it reaches the windows of X11 programs, not the desktop's.
bool isWaylandSession();

} // namespace x11
