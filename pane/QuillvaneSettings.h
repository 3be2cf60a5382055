#pragma once

#include "hotkeys/PTKeyCombo.h"

#include <QLatin1StringView>
#include <QVariant>

#include <optional>

namespace platform {
class PreferencesStore;
}

// The cursor application's three settings and the rules by which the pane and
// the cursor application both read them from the settings domain, so that the
// two never disagree about what a stored value means.
struct QuillvaneSettings
{
    static constexpr QLatin1StringView Domain{"org.quillvane.Quillvane"};
    static constexpr QLatin1StringView AutoShowKey{"autoShow"};
    static constexpr QLatin1StringView IdleHideKey{"idleHide"};
    static constexpr QLatin1StringView ToggleCursorHotKeyKey{"toggleCursorHotKey"};

    // Defaults are the values that first use stores: Control-Option-K.
    bool autoShow = true;
    float idleHide = 35.0f;
    PTKeyCombo toggleCursorHotKey{40, 0x1800};

    bool operator==(const QuillvaneSettings &other) const = default;

    // A stored boolean reads as itself, a stored number as true unless it is
    // zero. Any other type is logged and reads as true, the first-use value.
    static bool autoShowReading(const QVariant &stored);
    // A stored number (or boolean) reads as its value as a 32-bit float, a
    // missing value as 0.0; a number beyond the float range reads as infinity
    // of its sign. Any other type is logged and reads as 0.0, as if missing.
    static float idleHideReading(const QVariant &stored);

    // The settings as stored, read from the store's memory (no
    // synchronisation): the hot key by PTKeyCombo's dictionary reading, so a
    // missing one is the clear combination. nullopt when the domain has never
    // been seeded, that is when autoShow has no value.
    static std::optional<QuillvaneSettings> readStored(platform::PreferencesStore &store);
};
