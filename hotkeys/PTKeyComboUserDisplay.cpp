// The display string of a key combination: modifier glyphs followed by the
// key's name from the PTKeyCodes resource.

#include "hotkeys/PTKeyCombo.h"

#include "platform/Bundle.h"
#include "platform/PropertyList.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <array>

Q_LOGGING_CATEGORY(lcKeyComboDisplay, "quillvane.hotkeys.display", QtWarningMsg)

namespace {

struct ModifierGlyph
{
    quint64 mask;
    char16_t glyph;
};

// Always shown in this order, whatever the numeric order of the bits.
constexpr std::array<ModifierGlyph, 4> modToChar{{
    {0x100, u'\u2318'},  // Command
    {0x800, u'\u2325'},  // Option
    {0x1000, u'\u005E'}, // Control
    {0x200, u'\u21E7'},  // Shift
}};

// Filled once the resource has been read; stays empty, and is looked for
// again at the next key name, while it is missing.
std::optional<QVariantMap> &keyCodes()
{
    static std::optional<QVariantMap> cache;
    return cache;
}

} // namespace

QString PTKeyCombo::description() const
{
    if (!isValidHotKeyCombo()) {
        // Looked up through the application's translators, so that the host
        // localises it; without one, the text itself.
        return QCoreApplication::translate("PTKeyCombo", "(None)");
    }
    return _stringForModifiers(qint64(modifiers())) + _stringForKeyCode(qint16(keyCode()));
}

QString PTKeyCombo::_stringForModifiers(qint64 modifiers)
{
    QString glyphs;
    for (const ModifierGlyph &row : modToChar) {
        if (quint64(modifiers) & row.mask)
            glyphs += QChar(row.glyph);
    }
    return glyphs;
}

QString PTKeyCombo::_stringForKeyCode(qint16 keyCode)
{
    if (const std::optional<QVariantMap> names = _keyCodesDictionary()) {
        const QVariant name = names->value(QString::number(keyCode));
        if (name.typeId() == QMetaType::QString)
            return name.toString();
    }
    // Upper-case hexadecimal of the key code widened with its sign to 32 bits.
    return QString::number(quint32(qint32(keyCode)), 16).toUpper();
}

std::optional<QVariantMap> PTKeyCombo::_keyCodesDictionary()
{
    std::optional<QVariantMap> &cache = keyCodes();
    if (cache)
        return cache;

    const platform::Bundle bundle =
        platform::Bundle::forAddress(reinterpret_cast<const void *>(&PTKeyCombo::_keyCodesDictionary));
    const QString path = bundle.pathForResource(QStringLiteral("PTKeyCodes"), QStringLiteral("plist"));
    if (path.isEmpty())
        return std::nullopt;

    QString error;
    const QVariant dictionary = platform::PropertyList::readDictionaryFile(path, &error);
    if (!dictionary.isValid()) {
        qCWarning(lcKeyComboDisplay) << "Key names unavailable: cannot read" << path << ":" << error;
        return std::nullopt;
    }
    cache = dictionary.toMap();
    return cache;
}
