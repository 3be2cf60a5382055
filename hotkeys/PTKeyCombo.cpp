#include "PTKeyCombo.h"

#include "Bundle.h"
#include "KeyCodeTable.h"
#include "PropertyList.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <array>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcKeyComboDisplay, "quillvane.hotkeys.display", QtWarningMsg)

namespace {

struct ModifierGlyph
{
    quint64 mask;
    char16_t glyph;
};

// Always shown in this order, whatever the numeric order of the bits.
constexpr std::array<ModifierGlyph, 4> modToChar{{
    {x11::KeyCodeTable::CommandKey, u'\u2318'},
    {x11::KeyCodeTable::OptionKey, u'\u2325'},
    {x11::KeyCodeTable::ControlKey, u'\u005E'},
    {x11::KeyCodeTable::ShiftKey, u'\u21E7'},
}};

// Filled once the resource has been read; stays empty, and is looked for
// again at the next key name, while it is missing.
std::optional<QVariantMap> &keyCodes()
{
    static std::optional<QVariantMap> cache;
    return cache;
}

} // namespace

PTKeyCombo::PTKeyCombo(qint32 keyCode, qint32 modifiers)
    : mKeyCode(keyCode)
    , mModifiers(modifiers)
{
}

PTKeyCombo::PTKeyCombo(const QVariant &plistRepresentation)
    : PTKeyCombo(settings::StoredKeyCombo::fromDictionary(plistRepresentation))
{
}

PTKeyCombo::PTKeyCombo(const settings::StoredKeyCombo &stored)
    : mKeyCode(stored.keyCode)
    , mModifiers(stored.modifiers)
{
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
    return storedForm().dictionary();
}

bool PTKeyCombo::isEqual(const PTKeyCombo &other) const
{
    return keyCode() == other.keyCode() && modifiers() == other.modifiers();
}

// The display string: modifier glyphs followed by the key's name from the
// PTKeyCodes resource.
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

    const settings::Bundle bundle =
        settings::Bundle::forAddress(reinterpret_cast<const void *>(&PTKeyCombo::_keyCodesDictionary));
    const QString path = bundle.pathForResource(u"PTKeyCodes"_s, u"plist"_s);
    if (path.isEmpty())
        return std::nullopt;

    QString error;
    const QVariant dictionary = settings::PropertyList::readDictionaryFile(path, &error);
    if (!dictionary.isValid()) {
        qCWarning(lcKeyComboDisplay) << "Key names unavailable: cannot read" << path << ":" << error;
        return std::nullopt;
    }
    cache = dictionary.toMap();
    return cache;
}
