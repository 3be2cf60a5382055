#include "PTKeyBroadcaster.h"

#include "PTKeyCombo.h"
#include "KeyCodeTable.h"
#include "NotificationCenter.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>

#include <algorithm>
#include <array>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

using x11::KeyCodeTable;

// Key-event modifier flag, Carbon value.
constexpr std::array<std::array<quint64, 2>, 5> cocoaToCarbon{{
    {PTKeyBroadcaster::CommandKeyMask, KeyCodeTable::CommandKey},
    {PTKeyBroadcaster::AlternateKeyMask, KeyCodeTable::OptionKey},
    {PTKeyBroadcaster::ControlKeyMask, KeyCodeTable::ControlKey},
    {PTKeyBroadcaster::ShiftKeyMask, KeyCodeTable::ShiftKey},
    {PTKeyBroadcaster::FunctionKeyMask, KeyCodeTable::FunctionKey},
}};

struct KeyPosition
{
    int key; // Qt::Key
    qint16 keyCode;
};

// The virtual key code of a toolkit key, for events that carry no X key
// code: by the key's place on a US keyboard, shifted symbols included.
constexpr auto kMainKeys = std::to_array<KeyPosition>({
    {Qt::Key_A, 0},           {Qt::Key_S, 1},           {Qt::Key_D, 2},          {Qt::Key_F, 3},
    {Qt::Key_H, 4},           {Qt::Key_G, 5},           {Qt::Key_Z, 6},          {Qt::Key_X, 7},
    {Qt::Key_C, 8},           {Qt::Key_V, 9},           {Qt::Key_B, 11},         {Qt::Key_Q, 12},
    {Qt::Key_W, 13},          {Qt::Key_E, 14},          {Qt::Key_R, 15},         {Qt::Key_Y, 16},
    {Qt::Key_T, 17},          {Qt::Key_1, 18},          {Qt::Key_Exclam, 18},    {Qt::Key_2, 19},
    {Qt::Key_At, 19},         {Qt::Key_3, 20},          {Qt::Key_NumberSign, 20}, {Qt::Key_4, 21},
    {Qt::Key_Dollar, 21},     {Qt::Key_6, 22},          {Qt::Key_AsciiCircum, 22}, {Qt::Key_5, 23},
    {Qt::Key_Percent, 23},    {Qt::Key_Equal, 24},      {Qt::Key_Plus, 24},      {Qt::Key_9, 25},
    {Qt::Key_ParenLeft, 25},  {Qt::Key_7, 26},          {Qt::Key_Ampersand, 26}, {Qt::Key_Minus, 27},
    {Qt::Key_Underscore, 27}, {Qt::Key_8, 28},          {Qt::Key_Asterisk, 28},  {Qt::Key_0, 29},
    {Qt::Key_ParenRight, 29}, {Qt::Key_BracketRight, 30}, {Qt::Key_BraceRight, 30}, {Qt::Key_O, 31},
    {Qt::Key_U, 32},          {Qt::Key_BracketLeft, 33}, {Qt::Key_BraceLeft, 33}, {Qt::Key_I, 34},
    {Qt::Key_P, 35},          {Qt::Key_Return, 36},     {Qt::Key_L, 37},         {Qt::Key_J, 38},
    {Qt::Key_Apostrophe, 39}, {Qt::Key_QuoteDbl, 39},   {Qt::Key_K, 40},         {Qt::Key_Semicolon, 41},
    {Qt::Key_Colon, 41},      {Qt::Key_Backslash, 42},  {Qt::Key_Bar, 42},       {Qt::Key_Comma, 43},
    {Qt::Key_Less, 43},       {Qt::Key_Slash, 44},      {Qt::Key_Question, 44},  {Qt::Key_N, 45},
    {Qt::Key_M, 46},          {Qt::Key_Period, 47},     {Qt::Key_Greater, 47},   {Qt::Key_Tab, 48},
    {Qt::Key_Backtab, 48},    {Qt::Key_Space, 49},      {Qt::Key_QuoteLeft, 50}, {Qt::Key_AsciiTilde, 50},
    {Qt::Key_Backspace, 51},  {Qt::Key_Escape, 53},     {Qt::Key_Meta, 55},      {Qt::Key_Super_L, 55},
    {Qt::Key_Super_R, 54},    {Qt::Key_Shift, 56},      {Qt::Key_CapsLock, 57},  {Qt::Key_Alt, 58},
    {Qt::Key_AltGr, 61},      {Qt::Key_Control, 59},    {Qt::Key_F17, 64},       {Qt::Key_NumLock, 71},
    {Qt::Key_Clear, 71},      {Qt::Key_VolumeUp, 72},   {Qt::Key_VolumeDown, 73}, {Qt::Key_VolumeMute, 74},
    {Qt::Key_Enter, 76},      {Qt::Key_F18, 79},        {Qt::Key_F19, 80},       {Qt::Key_F20, 90},
    {Qt::Key_yen, 93},        {Qt::Key_F5, 96},         {Qt::Key_F6, 97},        {Qt::Key_F7, 98},
    {Qt::Key_F3, 99},         {Qt::Key_F8, 100},        {Qt::Key_F9, 101},       {Qt::Key_Muhenkan, 102},
    {Qt::Key_F11, 103},       {Qt::Key_Henkan, 104},    {Qt::Key_F13, 105},      {Qt::Key_Print, 105},
    {Qt::Key_F16, 106},       {Qt::Key_F14, 107},       {Qt::Key_ScrollLock, 107}, {Qt::Key_F10, 109},
    {Qt::Key_Menu, 110},      {Qt::Key_F12, 111},       {Qt::Key_F15, 113},      {Qt::Key_Pause, 113},
    {Qt::Key_Help, 114},      {Qt::Key_Insert, 114},    {Qt::Key_Home, 115},     {Qt::Key_PageUp, 116},
    {Qt::Key_Delete, 117},    {Qt::Key_F4, 118},        {Qt::Key_End, 119},      {Qt::Key_F2, 120},
    {Qt::Key_PageDown, 121},  {Qt::Key_F1, 122},        {Qt::Key_Left, 123},     {Qt::Key_Right, 124},
    {Qt::Key_Down, 125},      {Qt::Key_Up, 126},
});

// The same toolkit keys on the numeric keypad.
constexpr auto kKeypadKeys = std::to_array<KeyPosition>({
    {Qt::Key_Period, 65}, {Qt::Key_Asterisk, 67}, {Qt::Key_Plus, 69}, {Qt::Key_Slash, 75},
    {Qt::Key_Enter, 76},  {Qt::Key_Minus, 78},    {Qt::Key_Equal, 81}, {Qt::Key_0, 82},
    {Qt::Key_1, 83},      {Qt::Key_2, 84},        {Qt::Key_3, 85},     {Qt::Key_4, 86},
    {Qt::Key_5, 87},      {Qt::Key_6, 88},        {Qt::Key_7, 89},     {Qt::Key_8, 91},
    {Qt::Key_9, 92},      {Qt::Key_Comma, 95},
});

// The keys whose presses carry the function-key flag: F1 to F20, the
// arrows, Home, End, Page Up, Page Down, Help and Forward Delete.
constexpr auto kFunctionFlagKeyCodes = std::to_array<qint16>({
    64, 79, 80, 90, 96, 97, 98, 99, 100, 101, 103, 105, 106, 107, 109, 111, 113,
    114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126,
});

// Shift, Control, Option, Command (both sides), Caps Lock and Function.
bool isModifierKeyCode(qint32 keyCode)
{
    return keyCode >= 54 && keyCode <= 63;
}

template<size_t N>
std::optional<qint16> lookUp(const std::array<KeyPosition, N> &table, int key)
{
    const auto it = std::find_if(table.cbegin(), table.cend(), [key](const KeyPosition &p) { return p.key == key; });
    if (it == table.cend())
        return std::nullopt;
    return it->keyCode;
}

std::optional<qint16> keyCodeFromNative(const QKeyEvent &event)
{
    const quint32 scanCode = event.nativeScanCode();
    if (scanCode == 0 || scanCode > 0xff)
        return std::nullopt;
    const std::optional<qint32> keyCode = KeyCodeTable::virtualKeyCode(quint8(scanCode));
    if (!keyCode)
        return std::nullopt;
    return qint16(*keyCode);
}

} // namespace

QString PTKeyBroadcaster::keyComboKey()
{
    return u"keyCombo"_s;
}

PTKeyBroadcaster::PTKeyBroadcaster(QWidget *parent)
    : QPushButton(parent)
{
}

qint64 PTKeyBroadcaster::cocoaModifiersAsCarbonModifiers(qint64 cocoaModifiers) const
{
    qint64 carbonModifiers = 0;
    for (const auto &[cocoaFlag, carbonValue] : cocoaToCarbon) {
        if (quint64(cocoaModifiers) & cocoaFlag)
            carbonModifiers += qint64(carbonValue);
    }
    return carbonModifiers;
}

qint16 PTKeyBroadcaster::keyCodeForEvent(const QKeyEvent &event)
{
    if (const std::optional<qint16> keyCode = keyCodeFromNative(event))
        return *keyCode;
    const int key = event.key();
    if (event.modifiers() & Qt::KeypadModifier) {
        if (const std::optional<qint16> keyCode = lookUp(kKeypadKeys, key))
            return *keyCode;
    }
    // Letters arrive as upper case keys whatever the Shift state.
    return lookUp(kMainKeys, key).value_or(-1);
}

qint64 PTKeyBroadcaster::modifierFlagsForEvent(const QKeyEvent &event, qint16 keyCode)
{
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    qint64 flags = 0;
    if (modifiers & Qt::MetaModifier)
        flags |= CommandKeyMask;
    if (modifiers & Qt::AltModifier)
        flags |= AlternateKeyMask;
    if (modifiers & Qt::ControlModifier)
        flags |= ControlKeyMask;
    if (modifiers & Qt::ShiftModifier)
        flags |= ShiftKeyMask;
    if (modifiers & Qt::KeypadModifier)
        flags |= NumericPadKeyMask;
    // Only an event from the X server has its key state as native modifiers.
    if (event.nativeScanCode() != 0 && (event.nativeModifiers() & KeyCodeTable::XLock))
        flags |= AlphaShiftKeyMask;
    if (std::find(kFunctionFlagKeyCodes.cbegin(), kFunctionFlagKeyCodes.cend(), keyCode)
        != kFunctionFlagKeyCodes.cend()) {
        flags |= FunctionKeyMask;
    }
    return flags;
}

bool PTKeyBroadcaster::isModifierKeyEvent(const QKeyEvent &event)
{
    if (const std::optional<qint16> keyCode = keyCodeFromNative(event))
        return isModifierKeyCode(*keyCode);
    switch (event.key()) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_Mode_switch:
        return true;
    default:
        return false;
    }
}

bool PTKeyBroadcaster::resignFirstResponder()
{
    return false;
}

void PTKeyBroadcaster::keyDown(QKeyEvent *event)
{
    event->accept();
    _bcastEvent(event);
}

bool PTKeyBroadcaster::performKeyEquivalent(QKeyEvent *event)
{
    event->accept();
    return true;
}

bool PTKeyBroadcaster::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        return performKeyEquivalent(static_cast<QKeyEvent *>(event));
    case QEvent::KeyPress:
        // Straight to the key handler: the inherited handling would take Tab
        // and Backtab for moving the focus.
        keyPressEvent(static_cast<QKeyEvent *>(event));
        return true;
    default:
        return QPushButton::event(event);
    }
}

void PTKeyBroadcaster::keyPressEvent(QKeyEvent *event)
{
    event->accept();
    // A held key repeats, but it is still one press; a modifier by itself
    // is a change of modifiers, not a key press.
    if (event->isAutoRepeat() || isModifierKeyEvent(*event))
        return;
    keyDown(event);
}

void PTKeyBroadcaster::keyReleaseEvent(QKeyEvent *event)
{
    // The inherited handling would click the button on Space.
    event->accept();
}

void PTKeyBroadcaster::focusOutEvent(QFocusEvent *event)
{
    QPushButton::focusOutEvent(event);
    if (m_reclaimingFocus)
        return;
    // Another window taking over is not a move within this one.
    switch (event->reason()) {
    case Qt::ActiveWindowFocusReason:
    case Qt::PopupFocusReason:
    case Qt::MenuBarFocusReason:
        return;
    default:
        break;
    }
    // Hidden or disabled, it cannot keep the focus.
    if (!isVisible() || !isEnabled())
        return;
    const QWidget *next = QApplication::focusWidget();
    if (next && next->window() != window())
        return;
    if (resignFirstResponder())
        return;
    m_reclaimingFocus = true;
    setFocus(Qt::OtherFocusReason);
    m_reclaimingFocus = false;
}

void PTKeyBroadcaster::_bcastKeyCode(qint16 keyCode, qint64 modifiers)
{
    const PTKeyCombo keyCombo = PTKeyCombo::keyComboWithKeyCode(qint32(keyCode), qint32(modifiers));
    const QVariantMap userInfo{{keyComboKey(), QVariant::fromValue(keyCombo)}};
    hotkeys::NotificationCenter::defaultCenter()->postNotificationName(PTKeyBroadcasterKeyEvent, this, userInfo);
}

void PTKeyBroadcaster::_bcastEvent(QKeyEvent *event)
{
    const qint16 keyCode = keyCodeForEvent(*event);
    const qint64 flags = modifierFlagsForEvent(*event, keyCode);
    _bcastKeyCode(keyCode, cocoaModifiersAsCarbonModifiers(flags));
}
