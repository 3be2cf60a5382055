#pragma once

#include "Bundle.h"
#include "Export.h"

// Makes BUNDLE a login item exactly once: the first item that opens the
// bundle's own folder stays, every other item that opens a bundle with the
// same identifier goes, and the bundle is appended when no item opened it.
// An item that the user turned off and that opens the bundle or one with its
// identifier is the bundle's item, off: it stays as it is, nothing is
// appended, and enabled items of that identifier go. HIDDEN marks a newly
// appended item only. A bundle without identifier or folder changes nothing.
QUILLVANE_EXPORT void PTAddBundleToLoginItems(const settings::Bundle &bundle, bool hidden);

// Removes every login item that opens a bundle with BUNDLE's identifier,
// wherever that copy lies; items the user turned off stay.
QUILLVANE_EXPORT void PTRemoveBundleFromLoginItems(const settings::Bundle &bundle);

// Whether a login item opens BUNDLE's own folder; one the user turned off
// does not count, since it does not start. False when the list cannot be
// read.
QUILLVANE_EXPORT bool PTIsBundleInLoginItems(const settings::Bundle &bundle);

namespace loginitems {

// Whether the first login item that opens BUNDLE's own folder (the same place
// as PTIsBundleInLoginItems means) asks for a hidden start. False when none
// does or the list cannot be read.
bool isBundleHiddenInLoginItems(const settings::Bundle &bundle);

} // namespace loginitems
