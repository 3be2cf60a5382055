#include "CursorController.h"

#include "CursorLink.h"
#include "PointerVisibility.h"

using namespace Qt::StringLiterals;

CursorController::CursorController(settings::PreferencesStore &store, QObject *parent)
    : QObject(parent)
    , m_store(store)
{
}

CursorController::~CursorController() = default;

QVariantMap CursorController::toggleCursorHotKey() const
{
    // Always both entries as 32-bit integers, whatever the stored form held.
    return {
        {settings::StoredKeyCombo::KeyCodeKey, m_settings.toggleCursorHotKey.keyCode},
        {settings::StoredKeyCombo::ModifiersKey, m_settings.toggleCursorHotKey.modifiers},
    };
}

void CursorController::setToggleCursorHotKeyTrigger(const QString &trigger)
{
    if (trigger == m_toggleCursorHotKeyTrigger)
        return;
    m_toggleCursorHotKeyTrigger = trigger;
    Q_EMIT toggleCursorHotKeyTriggerChanged(trigger);
}

bool CursorController::hidden() const
{
    return m_pointer && m_pointer->isHidden();
}

void CursorController::setPointer(PointerVisibility *pointer)
{
    if (m_pointer)
        disconnect(m_pointer, nullptr, this, nullptr);
    m_pointer = pointer;
    if (m_pointer)
        connect(m_pointer, &PointerVisibility::hiddenChanged, this, &CursorController::hiddenChanged);
}

QVariantMap CursorController::properties() const
{
    return {
        {u"AutoShow"_s, autoShow()},
        {u"IdleHide"_s, idleHide()},
        {u"ToggleCursorHotKey"_s, toggleCursorHotKey()},
        {u"ToggleCursorHotKeyTrigger"_s, toggleCursorHotKeyTrigger()},
        {u"HideWhileTyping"_s, hideWhileTyping()},
        {u"Hidden"_s, hidden()},
        {u"LoginItemHidden"_s, loginItemHidden()},
        {u"PointerReach"_s, pointerReach()},
        {u"PointerReachReason"_s, pointerReachReason()},
    };
}

void CursorController::readPrefs()
{
    // A failed synchronisation is logged by the store; what is in memory
    // still reads.
    m_store.appSynchronize(QuillvaneSettings::Domain);
    const QuillvaneSettings read = QuillvaneSettings::readStored(m_store).value_or(QuillvaneSettings());

    const bool changed = read != m_settings;
    m_settings = read;
    Q_EMIT prefsRead(m_settings);
    if (changed)
        Q_EMIT settingsChanged(m_settings);
}

bool CursorController::hasPointer()
{
    if (m_pointer)
        return true;
    if (calledFromDBus())
        sendErrorReply(dbuslink::NoDisplayError, u"There is no X display on which to hide the pointer"_s);
    return false;
}

void CursorController::Hide()
{
    if (hasPointer())
        m_pointer->hide();
}

void CursorController::Show()
{
    if (hasPointer())
        m_pointer->show();
}

void CursorController::Toggle()
{
    if (hasPointer())
        m_pointer->toggle();
}

void CursorController::Quit()
{
    if (m_pointer)
        m_pointer->show();
    Q_EMIT quitRequested();
}

void CursorController::setPointerReach(const QString &reach, const QString &reason)
{
    m_pointerReach = reach;
    m_pointerReachReason = reason;
}
