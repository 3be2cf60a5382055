#include "hotkeys/PTKeyCombo.h"

#include <cmath>
#include <limits>

namespace {

// The integer reading of one entry of the dictionary form; nullopt for a
// missing entry, for anything that is not a number, and for a number outside
// the signed 32-bit range, so that a stray value never wraps into another key.
std::optional<qint32> readEntry(const QVariantMap &dictionary, const QString &key)
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
        // A real takes its integer part, as a number's integer reading does.
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

PTKeyCombo::PTKeyCombo(qint32 keyCode, qint32 modifiers)
    : mKeyCode(keyCode)
    , mModifiers(modifiers)
{
}

PTKeyCombo::PTKeyCombo(const QVariant &plistRepresentation)
{
    // Anything but a dictionary reads as no dictionary: the clear combination.
    const QVariantMap dictionary = plistRepresentation.typeId() == QMetaType::QVariantMap
        ? plistRepresentation.toMap()
        : QVariantMap();
    // Key code 0 is a real key (A): only negative key codes mean "no key".
    const qint32 keyCode = readEntry(dictionary, QStringLiteral("keyCode")).value_or(-1);
    const qint32 modifiers = readEntry(dictionary, QStringLiteral("modifiers")).value_or(-1);
    mKeyCode = keyCode < 0 ? -1 : keyCode;
    mModifiers = modifiers < 1 ? -1 : modifiers;
}

PTKeyCombo PTKeyCombo::clearKeyCombo()
{
    return keyComboWithKeyCode(-1, -1);
}

PTKeyCombo PTKeyCombo::keyComboWithKeyCode(qint32 keyCode, qint32 modifiers)
{
    return PTKeyCombo(keyCode, modifiers);
}

QVariantMap PTKeyCombo::plistRepresentation() const
{
    return {
        {QStringLiteral("keyCode"), qint64(keyCode())},
        {QStringLiteral("modifiers"), qint64(modifiers())},
    };
}

bool PTKeyCombo::isEqual(const PTKeyCombo &other) const
{
    return keyCode() == other.keyCode() && modifiers() == other.modifiers();
}
