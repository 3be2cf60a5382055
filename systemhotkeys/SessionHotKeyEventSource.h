#pragma once

#include "HotKeyEventSource.h"

#include <memory>

namespace systemhotkeys {

// Whether this is a Wayland session: WAYLAND_DISPLAY set, or
// XDG_SESSION_TYPE "wayland", whether or not DISPLAY names an X server too.
bool isWaylandSession();

// The process's hot key event source, made at the first call from the main
// thread (with the application object existing) and never destroyed: in a
// Wayland session the desktop portal's global shortcuts on the session bus
// (PortalHotKeyEventSource), where no program can grab keys from the others;
// in any other session X11 key grabs (X11HotKeyEventSource).
std::shared_ptr<HotKeyEventSource> sessionHotKeyEventSource();

} // namespace systemhotkeys
