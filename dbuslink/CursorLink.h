#pragma once

#include <QLatin1StringView>

namespace dbuslink {

// How the settings page and the cursor program meet on the session bus: the
// one definition both sides use.
//
// The cursor program registers the name RegisteredName, the bus name
// BusNamePrefix + RegisteredName; its controller lives at ObjectPath under
// Interface.
inline constexpr QLatin1StringView RegisteredName{"QuillvaneServer"};
inline constexpr QLatin1StringView BusNamePrefix{"org.quillvane."};
inline constexpr QLatin1StringView ObjectPath{"/"};
inline constexpr QLatin1StringView Interface{"org.quillvane.CursorController"};

// The method that asks the cursor program to re-read its settings.
inline constexpr QLatin1StringView ReadPrefsMethod{"readPrefs"};
// The method that ends the cursor program, the pointer shown.
inline constexpr QLatin1StringView QuitMethod{"Quit"};
// The error that Hide, Show and Toggle answer with where no pointer can be hidden.
inline constexpr QLatin1StringView NoDisplayError{"org.quillvane.CursorController.Error.NoDisplay"};

} // namespace dbuslink
