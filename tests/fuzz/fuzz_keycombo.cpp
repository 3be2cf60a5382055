// A key combination from an arbitrary stored value: a property-list document
// when the input is one, else a dictionary whose entries are built from the
// bytes (numbers of every width, reals, strings, booleans, nested values,
// missing entries). The combination read is always clear-or-valid-shaped, its
// dictionary form reads back as itself, also through a settings file, and its
// display string is never empty and agrees with its parts.

#include "FuzzSupport.h"

#include "PTKeyCombo.h"
#include "PropertyList.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <limits>

using settings::PropertyList;

namespace {

QVariant arbitraryValue(FuzzedDataProvider &provider, int depth)
{
    switch (provider.ConsumeIntegralInRange<int>(0, 9)) {
    case 0:
        return QVariant(); // missing entry
    case 1:
        return qint64(provider.ConsumeIntegral<qint32>());
    case 2:
        return provider.ConsumeIntegral<qint64>();
    case 3:
        return provider.ConsumeIntegral<quint64>();
    case 4:
        return provider.ConsumeFloatingPoint<double>();
    case 5:
        return double(provider.ConsumeFloatingPoint<float>());
    case 6:
        return provider.ConsumeBool();
    case 7:
        return QString::fromStdString(provider.ConsumeRandomLengthString(16));
    case 8:
        if (depth < 3)
            return QVariantList{arbitraryValue(provider, depth + 1)};
        return QVariantList();
    default:
        if (depth < 3)
            return QVariantMap{{QStringLiteral("keyCode"), arbitraryValue(provider, depth + 1)}};
        return QVariantMap();
    }
}

QVariant arbitraryRepresentation(const QByteArray &input, const uint8_t *data, size_t size)
{
    if (const QVariant document = PropertyList::fromXml(input); document.isValid())
        return document;
    FuzzedDataProvider provider(data, size);
    if (provider.ConsumeIntegralInRange<int>(0, 7) == 0)
        return arbitraryValue(provider, 0); // not even a dictionary
    QVariantMap dictionary;
    for (const char *key : {"keyCode", "modifiers"}) {
        const QVariant value = arbitraryValue(provider, 0);
        if (value.isValid())
            dictionary.insert(QString::fromLatin1(key), value);
    }
    return dictionary;
}

QString describe(const PTKeyCombo &combo)
{
    return QStringLiteral("key code %1, modifiers %2").arg(combo.keyCode()).arg(combo.modifiers());
}

// What reading the dictionary form makes of a pair: a negative key code and
// modifiers below 1 stand for "none".
PTKeyCombo asRead(const PTKeyCombo &combo)
{
    return PTKeyCombo(combo.keyCode() < 0 ? -1 : combo.keyCode(), combo.modifiers() < 1 ? -1 : combo.modifiers());
}

void checkRoundTrip(const PTKeyCombo &combo)
{
    const QString where = describe(combo);
    const PTKeyCombo reread(QVariant(combo.plistRepresentation()));
    FUZZ_CHECK(reread == asRead(combo), where);
    const QVariant stored = PropertyList::fromXml(PropertyList::toXml(combo.plistRepresentation()));
    FUZZ_CHECK(PTKeyCombo(stored) == asRead(combo), where);
}

void checkDisplay(const PTKeyCombo &combo)
{
    const QString where = describe(combo);
    const QString description = combo.description();
    FUZZ_CHECK(!description.isEmpty(), where);
    if (!combo.isValidHotKeyCombo()) {
        FUZZ_CHECK(description == QStringLiteral("(None)"), where + QStringLiteral(": ") + description);
        return;
    }
    const QString glyphs = PTKeyCombo::_stringForModifiers(combo.modifiers());
    const QString key = PTKeyCombo::_stringForKeyCode(qint16(combo.keyCode()));
    FUZZ_CHECK(!key.isEmpty(), where);
    FUZZ_CHECK(description == glyphs + key, where + QStringLiteral(": ") + description);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::quietLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = fuzz::bytes(data, size);
    const PTKeyCombo combo(arbitraryRepresentation(input, data, size));
    FUZZ_CHECK(combo.keyCode() >= -1, QString::number(combo.keyCode()));
    FUZZ_CHECK(combo.modifiers() == -1 || combo.modifiers() >= 1, QString::number(combo.modifiers()));
    FUZZ_CHECK(asRead(combo) == combo, describe(combo));
    checkRoundTrip(combo);
    checkDisplay(combo);

    // Any pair made directly, as the key broadcaster makes them.
    FuzzedDataProvider provider(data, size);
    const PTKeyCombo made = PTKeyCombo::keyComboWithKeyCode(provider.ConsumeIntegral<qint32>(),
                                                            provider.ConsumeIntegral<qint32>());
    checkRoundTrip(made);
    checkDisplay(made);
    return 0;
}
