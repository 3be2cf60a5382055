#include "ToggleHotKey.h"

#include "PTHotKey.h"
#include "PTHotKeyCenter.h"
#include "KeyCodeTable.h"
#include "Session.h"

#include <QLoggingCategory>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcToggleHotKey, "quillvane.cursorapp.hotkey", QtInfoMsg)

namespace {

// For log lines: the display string needs the key names of the pane bundle.
QString describe(const PTKeyCombo &combo)
{
    return u"(key code %1, modifiers 0x%2)"_s.arg(combo.keyCode()).arg(combo.modifiers(), 0, 16);
}

} // namespace

ToggleHotKey::ToggleHotKey(PTHotKeyCenter &center, std::chrono::milliseconds retryInterval, QObject *parent)
    : QObject(parent)
    , m_center(center)
    , m_hotKey(std::make_shared<PTHotKey>())
{
    m_hotKey->setName(u"toggleCursorHotKey"_s);
    m_hotKey->setTarget(this);
    m_hotKey->setAction("hotKeyPressed");
    m_retryTimer.setInterval(retryInterval);
    connect(&m_retryTimer, &QTimer::timeout, this, &ToggleHotKey::registerCombo);
}

ToggleHotKey::~ToggleHotKey()
{
    m_center.unregisterHotKey(m_hotKey);
}

PTKeyCombo ToggleHotKey::keyCombo() const
{
    return m_hotKey->keyCombo();
}

bool ToggleHotKey::isRegistered() const
{
    return registration() != systemhotkeys::HotKeyRef::Null;
}

systemhotkeys::HotKeyRef ToggleHotKey::registration() const
{
    return m_hotKey->carbonHotKey();
}

void ToggleHotKey::setKeyCombo(const PTKeyCombo &combo)
{
    if (combo == m_hotKey->keyCombo()) {
        if (isRegistered() || !combo.isValidHotKeyCombo() || m_noSuchKey)
            return;
    } else {
        m_refusalLogged = false;
        m_noSuchKey = false;
    }
    m_hotKey->setKeyCombo(combo);
    registerCombo();
}

void ToggleHotKey::registerCombo()
{
    const PTKeyCombo combo = m_hotKey->keyCombo();
    // Unregisters the old combination too.
    m_center.updateHotKey(m_hotKey);
    if (isRegistered() || !combo.isValidHotKeyCombo()) {
        if (m_retryTimer.isActive())
            qCInfo(lcToggleHotKey).noquote() << "The hot key" << describe(combo) << "works now";
        m_retryTimer.stop();
        m_refusalLogged = false;
        return;
    }
    // A key code that names no key is refused every time: no use trying again.
    m_noSuchKey = x11::KeyCodeTable::xKeyCodes(combo.keyCode()).isEmpty();
    if (m_noSuchKey) {
        qCWarning(lcToggleHotKey) << "The hot key has the key code" << combo.keyCode()
                                  << ", which names no key: the pointer cannot be toggled from the keyboard";
        m_retryTimer.stop();
        return;
    }
    // In a Wayland session the desktop binds hot keys; a refusal means that it
    // offers no global shortcuts (said above), which trying again won't change.
    if (x11::isWaylandSession()) {
        if (!m_refusalLogged) {
            qCWarning(lcToggleHotKey).noquote()
                << "The hot key" << describe(combo)
                << "cannot be registered in this session; the pointer can still be toggled with Toggle on the bus";
            m_refusalLogged = true;
        }
        m_retryTimer.stop();
        return;
    }
    if (!m_refusalLogged) {
        qCWarning(lcToggleHotKey).nospace().noquote()
            << "The hot key " << describe(combo) << " is held by another program; trying again every "
            << std::chrono::duration<double>(m_retryTimer.intervalAsDuration()).count()
            << " s and whenever the settings are read";
        m_refusalLogged = true;
    }
    if (!m_retryTimer.isActive())
        m_retryTimer.start();
}

void ToggleHotKey::hotKeyPressed(PTHotKey *)
{
    Q_EMIT pressed();
}
