#pragma once

#include "HotKeyEventSource.h"

#include <memory>

namespace systemhotkeys {

// The process's hot key event source, made at the first call from the main
// thread (with the application object existing) and never destroyed: in a
// Wayland session (x11::isWaylandSession()) the desktop portal's global shortcuts on the session bus
// (PortalHotKeyEventSource), where no program can grab keys from the others;
// in any other session X11 key grabs (X11HotKeyEventSource).
std::shared_ptr<HotKeyEventSource> sessionHotKeyEventSource();

} // namespace systemhotkeys
