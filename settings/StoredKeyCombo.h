#pragma once

#include <QLatin1StringView>
#include <QVariant>
#include <QVariantMap>

namespace settings {

// A key combination as settings store it: a dictionary with the integer
// entries "keyCode" (a virtual key code, -1 for none) and "modifiers" (a
// modifier mask, -1 for none).
struct StoredKeyCombo
{
    static constexpr QLatin1StringView KeyCodeKey{"keyCode"};
    static constexpr QLatin1StringView ModifiersKey{"modifiers"};

    qint32 keyCode = -1;
    qint32 modifiers = -1;

    // Anything that is not a dictionary reads as no combination (-1, -1). A
    // real entry reads as its integer part; an entry that is missing, not a
    // number or outside the signed 32-bit range, a key code below 0 and
    // modifiers below 1 read as -1.
    static StoredKeyCombo fromDictionary(const QVariant &dictionary);
    QVariantMap dictionary() const;

    friend bool operator==(const StoredKeyCombo &, const StoredKeyCombo &) = default;
};

} // namespace settings
