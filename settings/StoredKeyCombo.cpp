#include "StoredKeyCombo.h"

#include <cmath>
#include <limits>
#include <optional>

namespace settings {

namespace {

// The integer reading of one entry; nullopt for a missing entry, for anything
// that is not a number, and for a number outside the signed 32-bit range, so
// that a stray value never wraps into another key.
std::optional<qint32> readEntry(const QVariantMap &dictionary, QLatin1StringView key)
{
    const QVariant value = dictionary.value(key);
    constexpr qint64 low = std::numeric_limits<qint32>::min();
    constexpr qint64 high = std::numeric_limits<qint32>::max();
    switch (value.typeId()) {
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong: {
        const qint64 number = value.toLongLong();
        if (number >= low && number <= high)
            return qint32(number);
        return std::nullopt;
    }
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const quint64 number = value.toULongLong();
        if (number <= quint64(high))
            return qint32(number);
        return std::nullopt;
    }
    case QMetaType::Float:
    case QMetaType::Double: {
        const double number = std::trunc(value.toDouble());
        if (std::isfinite(number) && number >= double(low) && number <= double(high))
            return qint32(number);
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

} // namespace

StoredKeyCombo StoredKeyCombo::fromDictionary(const QVariant &dictionary)
{
    const QVariantMap entries =
        dictionary.typeId() == QMetaType::QVariantMap ? dictionary.toMap() : QVariantMap();
    // Key code 0 is a real key (A): only negative key codes mean "no key".
    const qint32 keyCode = readEntry(entries, KeyCodeKey).value_or(-1);
    const qint32 modifiers = readEntry(entries, ModifiersKey).value_or(-1);
    return {keyCode < 0 ? -1 : keyCode, modifiers < 1 ? -1 : modifiers};
}

QVariantMap StoredKeyCombo::dictionary() const
{
    return {{KeyCodeKey, qint64(keyCode)}, {ModifiersKey, qint64(modifiers)}};
}

} // namespace settings
