#include "PTKeyCombo.h"

#include "Bundle.h"
#include "KeyCodeTable.h"
#include "PropertyList.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QStringList>

#include <algorithm>
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

struct ModifierWord
{
    quint64 mask;
    const char *word;
};

// The modifiers in words, in the order PC programs name them.
constexpr std::array<ModifierWord, 4> modifierWords{{
    {x11::KeyCodeTable::CommandKey, QT_TRANSLATE_NOOP("PTKeyCombo", "Super")},
    {x11::KeyCodeTable::ControlKey, QT_TRANSLATE_NOOP("PTKeyCombo", "Control")},
    {x11::KeyCodeTable::OptionKey, QT_TRANSLATE_NOOP("PTKeyCombo", "Alt")},
    {x11::KeyCodeTable::ShiftKey, QT_TRANSLATE_NOOP("PTKeyCombo", "Shift")},
}};

struct KeyWord
{
    qint16 keyCode;
    const char *word;
};

constexpr const char *enterWord = QT_TRANSLATE_NOOP("PTKeyCombo", "Enter");

// The keys whose display name is a glyph, or a name of the other platform's
// keyboards, by the names that PC keyboards print on them. Where a PC has
// another key in the same place (F13 is Print Screen), that key's name.
constexpr auto keyWords = std::to_array<KeyWord>({
    {36, enterWord},
    {48, QT_TRANSLATE_NOOP("PTKeyCombo", "Tab")},
    {49, QT_TRANSLATE_NOOP("PTKeyCombo", "Space")},
    {51, QT_TRANSLATE_NOOP("PTKeyCombo", "Backspace")},
    {53, QT_TRANSLATE_NOOP("PTKeyCombo", "Esc")},
    {54, QT_TRANSLATE_NOOP("PTKeyCombo", "Right Super")},
    {55, QT_TRANSLATE_NOOP("PTKeyCombo", "Super")},
    {56, QT_TRANSLATE_NOOP("PTKeyCombo", "Shift")},
    {57, QT_TRANSLATE_NOOP("PTKeyCombo", "Caps Lock")},
    {58, QT_TRANSLATE_NOOP("PTKeyCombo", "Alt")},
    {59, QT_TRANSLATE_NOOP("PTKeyCombo", "Control")},
    {60, QT_TRANSLATE_NOOP("PTKeyCombo", "Right Shift")},
    {61, QT_TRANSLATE_NOOP("PTKeyCombo", "Right Alt")},
    {62, QT_TRANSLATE_NOOP("PTKeyCombo", "Right Control")},
    {63, QT_TRANSLATE_NOOP("PTKeyCombo", "Fn")},
    {71, QT_TRANSLATE_NOOP("PTKeyCombo", "Num Lock")},
    {72, QT_TRANSLATE_NOOP("PTKeyCombo", "Volume Up")},
    {73, QT_TRANSLATE_NOOP("PTKeyCombo", "Volume Down")},
    {74, QT_TRANSLATE_NOOP("PTKeyCombo", "Mute")},
    {105, QT_TRANSLATE_NOOP("PTKeyCombo", "Print Screen")},
    {107, QT_TRANSLATE_NOOP("PTKeyCombo", "Scroll Lock")},
    {110, QT_TRANSLATE_NOOP("PTKeyCombo", "Menu")},
    {113, QT_TRANSLATE_NOOP("PTKeyCombo", "Pause")},
    {114, QT_TRANSLATE_NOOP("PTKeyCombo", "Insert")},
    {115, QT_TRANSLATE_NOOP("PTKeyCombo", "Home")},
    {116, QT_TRANSLATE_NOOP("PTKeyCombo", "Page Up")},
    {117, QT_TRANSLATE_NOOP("PTKeyCombo", "Delete")},
    {119, QT_TRANSLATE_NOOP("PTKeyCombo", "End")},
    {121, QT_TRANSLATE_NOOP("PTKeyCombo", "Page Down")},
    {123, QT_TRANSLATE_NOOP("PTKeyCombo", "Left Arrow")},
    {124, QT_TRANSLATE_NOOP("PTKeyCombo", "Right Arrow")},
    {125, QT_TRANSLATE_NOOP("PTKeyCombo", "Down Arrow")},
    {126, QT_TRANSLATE_NOOP("PTKeyCombo", "Up Arrow")},
});

// The keypad's keys by the sign on them, Enter by its name.
constexpr auto keypadSigns = std::to_array<KeyWord>({
    {65, "."}, {67, "*"}, {69, "+"}, {75, "/"}, {76, nullptr}, {78, "-"}, {81, "="}, {82, "0"}, {83, "1"},
    {84, "2"}, {85, "3"}, {86, "4"}, {87, "5"}, {88, "6"}, {89, "7"}, {91, "8"}, {92, "9"}, {95, ","},
});

const KeyWord *findKey(const auto &table, qint16 keyCode)
{
    const auto it =
        std::find_if(table.cbegin(), table.cend(), [keyCode](const KeyWord &row) { return row.keyCode == keyCode; });
    return it == table.cend() ? nullptr : &*it;
}

QString translated(const char *word)
{
    return QCoreApplication::translate("PTKeyCombo", word);
}

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

QString PTKeyCombo::descriptionInWords() const
{
    if (!isValidHotKeyCombo())
        return description();
    QStringList words;
    for (const ModifierWord &row : modifierWords) {
        if (quint64(modifiers()) & row.mask)
            words << translated(row.word);
    }
    const auto keyCode = qint16(this->keyCode());
    if (const KeyWord *key = findKey(keyWords, keyCode)) {
        words << translated(key->word);
    } else if (const KeyWord *keypadKey = findKey(keypadSigns, keyCode)) {
        const QString sign = keypadKey->word ? QString::fromLatin1(keypadKey->word) : translated(enterWord);
        words << QCoreApplication::translate("PTKeyCombo", "Keypad %1").arg(sign);
    } else {
        // Letters, digits, signs and function keys are named as the display names them.
        words << _stringForKeyCode(keyCode);
    }
    return words.join(u'+');
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
