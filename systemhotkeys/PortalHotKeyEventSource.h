#pragma once

#include "HotKeyEventSource.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>
#include <optional>

class QDBusError;
class QDBusMessage;

namespace systemhotkeys {

// Hot keys as global shortcuts of the desktop, through the desktop portal's
// GlobalShortcuts interface on the session bus: where no program may grab
// keys (Wayland), the desktop binds them, usually after asking the user.
//
// The process has one shortcut session with the portal, opened with the
// first registration and closed when the last one ends. Each registration
// is one shortcut in it, named by the registration's ID ("PTHk-1"), with the
// key combination as its preferred trigger. Every change of the set binds
// the whole set again; changes made in one pass of the event loop go out as
// one binding. The desktop's Activated becomes a pressed event and its
// Deactivated a released event for the installed handler.
//
// Nothing here waits for the portal, except once: the first registration
// asks whether the portal offers global shortcuts at all, for at most a
// second. registerHotKey() therefore answers before the desktop has bound
// anything: noErr means the shortcut is asked for and pending. What the
// desktop bound it to, another trigger the user chose or none, is logged
// when the answer comes and can be read with boundTrigger(). A desktop that
// never answers leaves the shortcut pending, said in the log.
//
// Without a portal that offers global shortcuts every registration fails
// with eventInternalErr, and one log line says why.
class PortalHotKeyEventSource : public QObject, public HotKeyEventSource
{
    Q_OBJECT

public:
    // The preferred trigger of a key combination (virtual key code, Carbon
    // modifiers) in the XDG shortcuts format; empty for none.
    using TriggerFunction = std::function<QString(quint32 keyCode, quint32 modifiers)>;
    // What the desktop shows the user for a registration; empty for the
    // shortcut's ID.
    using DescriptionFunction = std::function<QString(HotKeyRef ref)>;

    // Triggers from the default keymap until setTriggerFunction().
    explicit PortalHotKeyEventSource(const QDBusConnection &bus, QObject *parent = nullptr);
    // Closes the session.
    ~PortalHotKeyEventSource() override;
    Q_DISABLE_COPY_MOVE(PortalHotKeyEventSource)

    // Status eventHotKeyInvalidErr for a key code that names no key,
    // eventInternalErr without a portal that offers global shortcuts.
    Registration registerHotKey(quint32 keyCode, quint32 modifiers, HotKeyID id) override;
    qint32 unregisterHotKey(HotKeyRef ref) override;
    qint32 installHandler(Handler handler) override;

    // Asked at registration.
    void setTriggerFunction(TriggerFunction trigger);
    // Asked when the shortcut is bound, after registerHotKey() has returned.
    void setDescriptionFunction(DescriptionFunction description);

    // The trigger the desktop bound a registration to, as the desktop
    // describes it ("Ctrl+Alt+K"): empty while the desktop has not answered,
    // when it bound the shortcut to nothing, and for an unknown REF.
    QString boundTrigger(HotKeyRef ref) const;

Q_SIGNALS:
    // boundTrigger() of some registration changed.
    void bindingsChanged();

private Q_SLOTS:
    // Connected by name: signals of the portal, read from the message.
    void handleResponse(const QDBusMessage &message);
    void handleActivated(const QDBusMessage &message);
    void handleDeactivated(const QDBusMessage &message);
    void handleShortcutsChanged(const QDBusMessage &message);
    void handleSessionClosed(const QDBusMessage &message);

private:
    enum class Portal { Unknown, Offered, Missing };

    struct Binding
    {
        HotKeyID id;
        QString shortcutId;
        QString preferredTrigger;
        std::optional<QString> boundTrigger; // none: the desktop has not answered
    };

    // A request's Response: RESPONSE and RESULTS as the portal sent them,
    // or ERROR when the call itself failed.
    using ResponseHandler = std::function<void(uint response, const QVariantMap &results, const QDBusError *error)>;

    bool portalOffered();
    void subscribeToShortcutSignals();
    void request(const QString &method, QVariantList arguments, QVariantMap options, ResponseHandler handler);
    void forgetRequest(const QString &path);
    QString requestPath(const QString &token) const;

    void scheduleSync();
    void sync();
    void createSession();
    void sessionCreated(uint response, const QVariantMap &results, const QDBusError *error);
    void bindShortcuts();
    void shortcutsBound(const QStringList &asked, uint response, const QVariantMap &results, const QDBusError *error);
    void closeSession();
    void forgetSession();
    void portalFailed(const QDBusError &error);
    // Records the triggers in SHORTCUTS, the desktop's list; the shortcuts
    // of ASKED that it leaves out are bound to nothing.
    void applyTriggers(const QVariant &shortcuts, const QStringList &asked);
    QString describe(quint64 ref, const Binding &binding) const;
    void dispatch(const QDBusMessage &message, quint32 kind);

    QDBusConnection m_bus;
    Portal m_portal = Portal::Unknown;
    TriggerFunction m_trigger;
    DescriptionFunction m_description;
    Handler m_handler;

    std::map<quint64, Binding> m_bindings; // by registration, in registration order
    quint64 m_lastRef = 0;
    QHash<QString, ResponseHandler> m_requests; // by request object path
    quint64 m_lastToken = 0;
    QTimer m_syncTimer;

    enum class Session { None, Creating, Open };
    Session m_session = Session::None;
    QString m_sessionPath;
    bool m_binding = false;     // a BindShortcuts waits for its Response
    bool m_bindAgain = false;   // the set changed since that one went out
};

} // namespace systemhotkeys
