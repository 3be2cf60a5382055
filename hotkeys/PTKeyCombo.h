#pragma once

#include "Export.h"
#include "StoredKeyCombo.h"

#include <QMetaType>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

// One keyboard shortcut: a virtual key code and a modifier mask (Command
// 0x100, Shift 0x200, Option 0x800, Control 0x1000, function key 0x8000).
// An immutable value; the default value is the clear combination (-1, -1).
class QUILLVANE_EXPORT PTKeyCombo
{
public:
    PTKeyCombo() = default;
    PTKeyCombo(qint32 keyCode, qint32 modifiers);
    // Reads the dictionary form {"keyCode", "modifiers"} by the rule of
    // settings::StoredKeyCombo: anything that is not a dictionary reads as the
    // clear combination.
    explicit PTKeyCombo(const QVariant &plistRepresentation);
    explicit PTKeyCombo(const settings::StoredKeyCombo &stored);

    static PTKeyCombo clearKeyCombo();
    static PTKeyCombo keyComboWithKeyCode(qint32 keyCode, qint32 modifiers);

    QVariantMap plistRepresentation() const;
    settings::StoredKeyCombo storedForm() const { return {mKeyCode, mModifiers}; }

    qint32 keyCode() const { return mKeyCode; }
    qint32 modifiers() const { return mModifiers; }

    bool isValidHotKeyCombo() const { return mKeyCode >= 0 && mModifiers > 0; }
    bool isClearCombo() const { return mKeyCode == -1 && mModifiers == -1; }

    bool isEqual(const PTKeyCombo &other) const;
    friend bool operator==(const PTKeyCombo &a, const PTKeyCombo &b) { return a.isEqual(b); }
    friend size_t qHash(const PTKeyCombo &combo, size_t seed = 0) noexcept
    {
        return qHashMulti(seed, combo.mKeyCode, combo.mModifiers);
    }

    // The display string: modifier glyphs followed by the key name, or the
    // translation of "(None)" when this is not a valid hot key combination.
    QString description() const;
    // The same in words, with the names that PC keyboards print on their keys
    // (Command is Super, Option is Alt): "Control+Alt+K" for ⌥^K, for screen
    // readers and the README; translated like "(None)", which it also gives
    // for an invalid combination.
    QString descriptionInWords() const;

    // Display helpers.
    static QString _stringForModifiers(qint64 modifiers);
    static QString _stringForKeyCode(qint16 keyCode);
    // The key-code names from the PTKeyCodes.plist resource of the bundle that
    // holds this code; nullopt (and nothing cached) while it cannot be read.
    static std::optional<QVariantMap> _keyCodesDictionary();

private:
    qint32 mKeyCode = -1;
    qint32 mModifiers = -1;
};

Q_DECLARE_METATYPE(PTKeyCombo)
