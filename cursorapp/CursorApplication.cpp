#include "CursorApplication.h"

#include "Bundle.h"
#include "KeyCodeTable.h"
#include "LoginItems.h"
#include "PointerReach.h"
#include "PTHotKeyCenter.h"
#include "PortalHotKeyEventSource.h"
#include "SessionHotKeyEventSource.h"
#include "PointerHider.h"
#include "PointerVisibility.h"
#include "PointerWatcher.h"
#include "ToggleHotKey.h"
#include "TypingWatcher.h"
#include "XConnection.h"

#include <QLoggingCategory>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcCursorApp, "quillvane.cursorapp", QtInfoMsg)

CursorApplication::CursorApplication(settings::PreferencesStore &store, const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_controller(store)
    , m_server(m_controller, bus)
{
    connect(&m_server, &CursorServer::busDisconnected, this, [this] { Q_EMIT finished(0); });
    connect(&m_controller, &CursorController::quitRequested, this, [this] {
        qCInfo(lcCursorApp) << "Asked to quit";
        Q_EMIT finished(0);
    });
}

// Members go in reverse order: the hot key and the pointer before the
// connection they use.
CursorApplication::~CursorApplication() = default;

CursorServer::StartResult CursorApplication::start()
{
    // A second instance leaves at once, before it reaches for the hot key.
    if (m_server.nameIsTaken()) {
        qCInfo(lcCursorApp) << "Quillvane runs already; not starting again";
        return CursorServer::StartResult::AlreadyRunning;
    }

    const settings::Bundle bundle =
        settings::Bundle::forAddress(reinterpret_cast<const void *>(&CursorApplication::staticMetaObject));
    m_controller.setLoginItemHidden(loginitems::isBundleHiddenInLoginItems(bundle));
    m_controller.readPrefs();

    // Everything is ready before the name is taken: whoever sees the name can
    // use the hot key and hide the pointer at once.
    setUpPointer();
    if (m_visibility) {
        m_hotKey = std::make_unique<ToggleHotKey>(*PTHotKeyCenter::sharedCenter());
        connect(m_hotKey.get(), &ToggleHotKey::pressed, m_visibility.get(), &PointerVisibility::toggle);
        showBoundTrigger();
        connect(&m_controller, &CursorController::prefsRead, this, &CursorApplication::apply);
        apply(m_controller.settings());
    }

    const CursorServer::StartResult result = m_server.start();
    // Another instance took the name in the meantime: it holds the hot key.
    if (result != CursorServer::StartResult::Serving)
        m_hotKey.reset();
    return result;
}

// Where the desktop binds the hot key, the bus shows what it bound it to.
void CursorApplication::showBoundTrigger()
{
    const auto portal =
        std::dynamic_pointer_cast<systemhotkeys::PortalHotKeyEventSource>(systemhotkeys::sessionHotKeyEventSource());
    if (!portal)
        return;
    connect(portal.get(), &systemhotkeys::PortalHotKeyEventSource::bindingsChanged, this, [this, portal] {
        m_controller.setToggleCursorHotKeyTrigger(m_hotKey ? portal->boundTrigger(m_hotKey->registration())
                                                           : QString());
    });
}

void CursorApplication::setUpPointer()
{
    QString reason;
    dbuslink::PointerReach reach = dbuslink::pointerReachFromEnvironment(&reason);
    QString errorString;
    if (reach != dbuslink::PointerReach::Nowhere) {
        m_x = x11::XConnection::open({}, &errorString);
        if (m_x)
            m_hider = PointerHider::create(*m_x, &errorString);
    }
    if (!m_hider) {
        m_x.reset();
        if (reach != dbuslink::PointerReach::Nowhere) {
            reach = dbuslink::PointerReach::Nowhere;
            reason = errorString.left(1).toUpper() + errorString.mid(1) + u'.';
        }
        m_controller.setPointerReach(dbuslink::pointerReachName(reach), reason);
        qCWarning(lcCursorApp).noquote() << "The pointer cannot be hidden:" << reason << "Serving the settings only.";
        return;
    }
    m_controller.setPointerReach(dbuslink::pointerReachName(reach), reason);
    if (reach == dbuslink::PointerReach::X11WindowsOnly)
        qCWarning(lcCursorApp).noquote() << "The pointer can be hidden over X11 windows only:" << reason;
    else
        qCInfo(lcCursorApp).noquote() << "The pointer can be hidden everywhere:" << reason;
    connect(m_x.get(), &x11::XConnection::connectionLost, this, [this] {
        qCWarning(lcCursorApp) << "The connection to the X server is lost; quitting";
        Q_EMIT finished(1);
    });
    m_watcher = std::make_unique<PointerWatcher>(*m_x);
    m_visibility = std::make_unique<PointerVisibility>(*m_hider, *m_watcher);
    m_controller.setPointer(m_visibility.get());
    m_typing = std::make_unique<TypingWatcher>(*m_x);
    connect(m_typing.get(), &TypingWatcher::typed, m_visibility.get(), &PointerVisibility::hideForTyping);
    connect(m_visibility.get(), &PointerVisibility::hiddenChanged, this, &CursorApplication::updateTypingWatch);
}

void CursorApplication::updateTypingWatch()
{
    // A hidden pointer has nothing to hide: nobody typing, or the pointer
    // hidden, costs no wake-ups.
    m_typing->setWatching(m_hideWhileTyping && !m_visibility->isHidden());
}

void CursorApplication::apply(const QuillvaneSettings &settings)
{
    m_visibility->setAutoShow(settings.autoShow);
    m_visibility->setIdleHide(settings.idleHide);
    // Registers again a combination refused so far.
    const PTKeyCombo hotKey(settings.toggleCursorHotKey);
    m_hotKey->setKeyCombo(hotKey);
    // The hot key's own press toggles the pointer; it is not typing.
    if (hotKey.isValidHotKeyCombo()) {
        m_typing->setHotKey(x11::KeyCodeTable::xKeyCodes(hotKey.keyCode()),
                            x11::KeyCodeTable::xModifiers(quint32(hotKey.modifiers())));
    } else {
        m_typing->setHotKey({}, 0);
    }
    m_hideWhileTyping = settings.hideWhileTyping;
    updateTypingWatch();
}
