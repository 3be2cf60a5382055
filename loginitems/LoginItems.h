#pragma once

#include "platform/Bundle.h"
#include "platform/Export.h"

// Makes BUNDLE a login item exactly once: the first item that opens the
// bundle's own folder stays, every other item that opens a bundle with the
// same identifier goes, and the bundle is appended when no item opened it.
// HIDDEN marks a newly appended item only. A bundle without identifier or
// folder changes nothing.
QUILLVANE_EXPORT void PTAddBundleToLoginItems(const platform::Bundle &bundle, bool hidden);

// Removes every login item that opens a bundle with BUNDLE's identifier,
// wherever that copy lies.
QUILLVANE_EXPORT void PTRemoveBundleFromLoginItems(const platform::Bundle &bundle);

// Whether a login item opens BUNDLE's own folder. False when the list cannot
// be read.
QUILLVANE_EXPORT bool PTIsBundleInLoginItems(const platform::Bundle &bundle);
