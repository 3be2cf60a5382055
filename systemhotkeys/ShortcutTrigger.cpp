#include "ShortcutTrigger.h"

#include "KeyCodeTable.h"

#include <QStringList>

#include <xkbcommon/xkbcommon.h>

#include <array>
#include <memory>
#include <utility>

using namespace Qt::StringLiterals;
using x11::KeyCodeTable;

namespace systemhotkeys {

namespace {

struct KeymapDeleter
{
    void operator()(xkb_keymap *keymap) const { xkb_keymap_unref(keymap); }
};

xkb_keymap *defaultKeymap()
{
    static const std::unique_ptr<xkb_keymap, KeymapDeleter> keymap = [] {
        xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        const xkb_rule_names names{};
        xkb_keymap *compiled = context ? xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS)
                                       : nullptr;
        xkb_context_unref(context);
        return std::unique_ptr<xkb_keymap, KeymapDeleter>(compiled);
    }();
    return keymap.get();
}

constexpr std::array<std::pair<quint32, const char16_t *>, 4> kModifierNames{{
    {KeyCodeTable::ControlKey, u"CTRL"},
    {KeyCodeTable::OptionKey, u"ALT"},
    {KeyCodeTable::ShiftKey, u"SHIFT"},
    {KeyCodeTable::CommandKey, u"LOGO"},
}};

} // namespace

QString shortcutTrigger(quint32 keyCode, quint32 carbonModifiers, xkb_keymap *keymap, quint32 layoutIndex)
{
    if (!keymap) {
        keymap = defaultKeymap();
        layoutIndex = 0;
    }
    const auto xKeyCode = KeyCodeTable::xKeyCode(qint32(keyCode));
    if (!keymap || !xKeyCode)
        return {};
    // A key with fewer layouts than the keymap wraps around, as the server does.
    const quint32 layouts = xkb_keymap_num_layouts_for_key(keymap, *xKeyCode);
    const xkb_keysym_t *keysyms = nullptr;
    if (layouts == 0
        || xkb_keymap_key_get_syms_by_level(keymap, *xKeyCode, layoutIndex % layouts, 0, &keysyms) < 1)
        return {};
    std::array<char, 64> name{};
    if (xkb_keysym_get_name(keysyms[0], name.data(), name.size()) < 1)
        return {};

    QStringList parts;
    for (const auto &[modifier, modifierName] : kModifierNames) {
        if (carbonModifiers & modifier)
            parts.append(QString::fromUtf16(modifierName));
    }
    parts.append(QString::fromLatin1(name.data()));
    return parts.join(u'+');
}

} // namespace systemhotkeys
