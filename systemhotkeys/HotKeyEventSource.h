#pragma once


#include <QStringView>
#include <QtGlobal>

#include <functional>
#include <optional>

namespace systemhotkeys {

// A four-character code as a big-endian 32-bit number ("keyb" = 0x6B657962);
// 0 for anything but four Latin-1 characters.
quint32 osTypeFromString(QStringView code);

// Event classes, kinds and parameters of hot key events.
inline constexpr quint32 kEventClassKeyboard = 0x6B657962; // keyb
inline constexpr quint32 kEventHotKeyPressed = 5;
inline constexpr quint32 kEventHotKeyReleased = 6;
inline constexpr quint32 kEventParamDirectObject = 0x2D2D2D2D; // ----
inline constexpr quint32 typeEventHotKeyID = 0x686B6964;       // hkid

// Statuses; 0 is success.
inline constexpr qint32 noErr = 0;
inline constexpr qint32 paramErr = -50;
inline constexpr qint32 eventInternalErr = -9868;        // no X server to talk to
inline constexpr qint32 eventParameterNotFoundErr = -9870;
inline constexpr qint32 eventNotHandledErr = -9874;
inline constexpr qint32 eventHotKeyExistsErr = -9878;    // another program holds the combination
inline constexpr qint32 eventHotKeyInvalidErr = -9879;   // no such key, or the X server refused it

// The 8-byte ID a hot key is registered under: a signature naming the
// registering component and a number of its choosing.
struct HotKeyID
{
    quint32 signature = 0;
    quint32 id = 0;
    friend bool operator==(const HotKeyID &, const HotKeyID &) = default;
};

// An opaque reference to one registration; Null is "none".
enum class HotKeyRef : quint64 { Null = 0 };

// A hot key pressed or released event as the installed handler receives it.
class HotKeyEvent
{
public:
    HotKeyEvent(quint32 eventClass, quint32 eventKind, std::optional<HotKeyID> hotKeyID = std::nullopt);

    quint32 eventClass() const { return m_class; }
    quint32 eventKind() const { return m_kind; }
    // Reads the hot key ID the event carries: with kEventParamDirectObject and
    // typeEventHotKeyID, noErr and *out written; otherwise a non-zero status
    // and *out untouched.
    qint32 parameter(quint32 name, quint32 type, HotKeyID *out) const;

private:
    quint32 m_class;
    quint32 m_kind;
    std::optional<HotKeyID> m_hotKeyID;
};

// The system's hot key service: register a key combination under an ID, end
// a registration, and deliver pressed and released events carrying the ID to
// one handler on the main thread.
class HotKeyEventSource
{
public:
    // Returns the status the registry passes on; eventNotHandledErr means "not mine".
    using Handler = std::function<qint32(const HotKeyEvent &)>;

    struct Registration
    {
        qint32 status = noErr;
        HotKeyRef ref = HotKeyRef::Null; // Null unless status is noErr
    };

    virtual ~HotKeyEventSource() = default;

    // KEYCODE is a virtual key code, MODIFIERS a Carbon modifier mask.
    virtual Registration registerHotKey(quint32 keyCode, quint32 modifiers, HotKeyID id) = 0;
    virtual qint32 unregisterHotKey(HotKeyRef ref) = 0;
    // Replaces the handler; an empty one removes it.
    virtual qint32 installHandler(Handler handler) = 0;
};

} // namespace systemhotkeys
