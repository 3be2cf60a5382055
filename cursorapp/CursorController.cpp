#include "cursorapp/CursorController.h"

#include "cursorapp/PointerVisibility.h"
#include "platform/PreferencesStore.h"

CursorController::CursorController(platform::PreferencesStore &store, QObject *parent)
    : QObject(parent)
    , m_store(store)
{
}

CursorController::~CursorController() = default;

QVariantMap CursorController::toggleCursorHotKey() const
{
    // Always both entries as 32-bit integers, whatever the stored form held.
    return {
        {QStringLiteral("keyCode"), m_settings.toggleCursorHotKey.keyCode()},
        {QStringLiteral("modifiers"), m_settings.toggleCursorHotKey.modifiers()},
    };
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
        {QStringLiteral("AutoShow"), autoShow()},
        {QStringLiteral("IdleHide"), idleHide()},
        {QStringLiteral("ToggleCursorHotKey"), toggleCursorHotKey()},
        {QStringLiteral("Hidden"), hidden()},
        {QStringLiteral("LoginItemHidden"), loginItemHidden()},
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
        sendErrorReply(noDisplayError(), QStringLiteral("There is no X display on which to hide the pointer"));
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
