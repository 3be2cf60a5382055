#pragma once

#include "PreferencesStore.h"
#include "StoredKeyCombo.h"

#include <QLatin1StringView>
#include <QVariant>

#include <optional>

// The cursor application's settings: the domain, its keys, the values that
// first use stores, and the rules by which the settings page and the cursor
// application both read them, so that the two never disagree about what a
// stored value means.
struct QuillvaneSettings
{
    static constexpr QLatin1StringView Domain{"org.quillvane.Quillvane"};
    static constexpr QLatin1StringView AutoShowKey{"autoShow"};
    static constexpr QLatin1StringView IdleHideKey{"idleHide"};
    static constexpr QLatin1StringView ToggleCursorHotKeyKey{"toggleCursorHotKey"};
    static constexpr QLatin1StringView HideWhileTypingKey{"hideWhileTyping"};

    // The defaults are the first-use values: on, 35 s, Control-Option-K.
    bool autoShow = true;
    float idleHide = 35.0f;
    settings::StoredKeyCombo toggleCursorHotKey{40, 0x1800};
    // Not stored by first use: missing reads as off, so files written before
    // it existed behave as they did.
    bool hideWhileTyping = false;

    bool operator==(const QuillvaneSettings &other) const = default;

    // Writes the first-use values into STORE's memory (not synchronised).
    static void setFirstUseValues(settings::PreferencesStore &store);

    // A stored boolean reads as itself, a stored number as true unless it is
    // zero. Any other type is logged and reads as true, the first-use value.
    static bool autoShowReading(const QVariant &stored);
    // A stored boolean reads as itself, a stored number as true unless it is
    // zero, a missing value as false. Any other type is logged and reads as
    // false.
    static bool hideWhileTypingReading(const QVariant &stored);
    // A stored number (or boolean) reads as its value as a 32-bit float, a
    // missing value as 0.0; a number beyond the float range reads as infinity
    // of its sign. Any other type is logged and reads as 0.0, as if missing.
    static float idleHideReading(const QVariant &stored);

    // The settings as stored, read from the store's memory (no
    // synchronisation); a missing hot key reads as no combination. nullopt
    // when the domain has never been seeded, that is when autoShow has no
    // value.
    static std::optional<QuillvaneSettings> readStored(settings::PreferencesStore &store);
};
