#include "PortalHotKeyEventSource.h"

#include "KeyCodeTable.h"
#include "ShortcutTrigger.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QLoggingCategory>
#include <QRandomGenerator>

using namespace Qt::StringLiterals;

namespace systemhotkeys {

namespace {

Q_LOGGING_CATEGORY(lcPortalHotKeys, "quillvane.systemhotkeys.portal", QtInfoMsg)

const QString kPortalService = u"org.freedesktop.portal.Desktop"_s;
const QString kPortalPath = u"/org/freedesktop/portal/desktop"_s;
const QString kShortcutsInterface = u"org.freedesktop.portal.GlobalShortcuts"_s;
const QString kRequestInterface = u"org.freedesktop.portal.Request"_s;
const QString kSessionInterface = u"org.freedesktop.portal.Session"_s;

// How long the first registration waits to learn whether the portal offers
// global shortcuts. A portal that is still starting answers later; the
// registration goes ahead and waits for it without blocking.
constexpr int kProbeTimeoutMs = 1000;

// Request::Response codes.
constexpr uint kResponseSuccess = 0;
constexpr uint kResponseCancelled = 1;

// One shortcut as the portal takes and gives it: (sa{sv}).
struct Shortcut
{
    QString id;
    QVariantMap properties;
};

QDBusArgument &operator<<(QDBusArgument &argument, const Shortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, Shortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

// Containers arrive still marshalled.
QVariantMap toMap(const QVariant &value)
{
    if (value.canConvert<QDBusArgument>())
        return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    return value.toMap();
}

QString toPath(const QVariant &value)
{
    if (value.canConvert<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

// The registration ID as the shortcut's ID: its signature, where that is four
// printable characters, and its number.
QString shortcutIdFor(HotKeyID id)
{
    QString signature;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char((id.signature >> shift) & 0xff);
        if (c < 0x21 || c > 0x7e)
            return u"%1-%2"_s.arg(id.signature, 8, 16, QLatin1Char('0')).arg(id.id);
        signature.append(QLatin1Char(c));
    }
    return u"%1-%2"_s.arg(signature).arg(id.id);
}

QString responseName(uint response)
{
    return response == kResponseCancelled ? u"the user cancelled"_s : u"the desktop ended the request (%1)"_s.arg(response);
}

} // namespace

PortalHotKeyEventSource::PortalHotKeyEventSource(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
    , m_trigger([](quint32 keyCode, quint32 modifiers) { return shortcutTrigger(keyCode, modifiers); })
{
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
    m_syncTimer.setSingleShot(true);
    m_syncTimer.setInterval(0);
    connect(&m_syncTimer, &QTimer::timeout, this, &PortalHotKeyEventSource::sync);
}

PortalHotKeyEventSource::~PortalHotKeyEventSource()
{
    closeSession();
}

void PortalHotKeyEventSource::setTriggerFunction(TriggerFunction trigger)
{
    m_trigger = std::move(trigger);
}

void PortalHotKeyEventSource::setDescriptionFunction(DescriptionFunction description)
{
    m_description = std::move(description);
}

QString PortalHotKeyEventSource::boundTrigger(HotKeyRef ref) const
{
    const auto it = m_bindings.find(quint64(ref));
    return it == m_bindings.end() ? QString() : it->second.boundTrigger.value_or(QString());
}

// Asked once, at the first registration, with a bound: the portal answers
// its own property without asking the desktop.
bool PortalHotKeyEventSource::portalOffered()
{
    if (m_portal != Portal::Unknown)
        return m_portal == Portal::Offered;

    QString reason;
    if (!m_bus.isConnected()) {
        reason = u"there is no session bus"_s;
    } else {
        QDBusMessage get = QDBusMessage::createMethodCall(kPortalService, kPortalPath,
                                                          u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
        get << kShortcutsInterface << u"version"_s;
        const QDBusMessage reply = m_bus.call(get, QDBus::Block, kProbeTimeoutMs);
        const QString error = reply.errorName();
        if (reply.type() == QDBusMessage::ReplyMessage) {
            const uint version = reply.arguments().value(0).value<QDBusVariant>().variant().toUInt();
            qCInfo(lcPortalHotKeys).noquote()
                << u"Hot keys are global shortcuts of the desktop portal (interface version %1)"_s.arg(version);
        } else if (error == u"org.freedesktop.DBus.Error.NoReply"_s || error == u"org.freedesktop.DBus.Error.Timeout"_s) {
            qCWarning(lcPortalHotKeys) << "The desktop portal has not answered yet; hot keys wait for it";
        } else if (error == u"org.freedesktop.DBus.Error.ServiceUnknown"_s
                   || error == u"org.freedesktop.DBus.Error.NameHasNoOwner"_s) {
            reason = u"no desktop portal (%1) runs on the session bus"_s.arg(kPortalService);
        } else {
            reason = u"the desktop portal does not offer global shortcuts (%1: %2)"_s.arg(kShortcutsInterface,
                                                                                          reply.errorMessage());
        }
    }
    if (!reason.isEmpty()) {
        m_portal = Portal::Missing;
        qCWarning(lcPortalHotKeys).noquote()
            << "System-wide hot keys cannot be registered: in a Wayland session only the desktop grants them, "
               "through the desktop portal's global shortcuts, and"
            << reason + u". KDE Plasma 6, GNOME 48 and later, and Hyprland offer them."_s;
        return false;
    }
    m_portal = Portal::Offered;
    subscribeToShortcutSignals();
    return true;
}

void PortalHotKeyEventSource::subscribeToShortcutSignals()
{
    m_bus.connect(kPortalService, kPortalPath, kShortcutsInterface, u"Activated"_s, this,
                  SLOT(handleActivated(QDBusMessage)));
    m_bus.connect(kPortalService, kPortalPath, kShortcutsInterface, u"Deactivated"_s, this,
                  SLOT(handleDeactivated(QDBusMessage)));
    m_bus.connect(kPortalService, kPortalPath, kShortcutsInterface, u"ShortcutsChanged"_s, this,
                  SLOT(handleShortcutsChanged(QDBusMessage)));
}

PortalHotKeyEventSource::Registration PortalHotKeyEventSource::registerHotKey(quint32 keyCode, quint32 modifiers,
                                                                              HotKeyID id)
{
    if (x11::KeyCodeTable::xKeyCodes(qint32(keyCode)).isEmpty()) {
        qCDebug(lcPortalHotKeys) << "No key has the virtual key code" << keyCode;
        return {eventHotKeyInvalidErr, HotKeyRef::Null};
    }
    if (!portalOffered())
        return {eventInternalErr, HotKeyRef::Null};

    Binding binding{id, shortcutIdFor(id), m_trigger ? m_trigger(keyCode, modifiers) : QString(), std::nullopt};
    if (binding.preferredTrigger.isEmpty())
        qCWarning(lcPortalHotKeys) << "The keyboard layout gives the key" << keyCode
                                   << "no name: the desktop is asked for hot key" << binding.shortcutId
                                   << "without a preferred trigger";
    qCInfo(lcPortalHotKeys).noquote() << "Hot key" << binding.shortcutId << "asks the desktop for"
                                      << binding.preferredTrigger << "and is pending until the desktop answers";
    m_bindings.emplace(++m_lastRef, std::move(binding));
    scheduleSync();
    return {noErr, HotKeyRef(m_lastRef)};
}

qint32 PortalHotKeyEventSource::unregisterHotKey(HotKeyRef ref)
{
    const auto it = m_bindings.find(quint64(ref));
    if (it == m_bindings.end())
        return eventHotKeyInvalidErr;
    const bool wasBound = it->second.boundTrigger.has_value() && !it->second.boundTrigger->isEmpty();
    m_bindings.erase(it);
    scheduleSync();
    if (wasBound)
        Q_EMIT bindingsChanged();
    return noErr;
}

qint32 PortalHotKeyEventSource::installHandler(Handler handler)
{
    m_handler = std::move(handler);
    return noErr;
}

// Portal requests answer through a Request object's Response signal. Its
// path follows from the handle token, so the signal is subscribed to before
// the call: the answer may come before the call's reply does.
void PortalHotKeyEventSource::request(const QString &method, QVariantList arguments, QVariantMap options,
                                      ResponseHandler handler)
{
    const QString token = u"quillvane%1_%2"_s.arg(QRandomGenerator::global()->generate()).arg(++m_lastToken);
    const QString path = requestPath(token);
    m_bus.connect(kPortalService, path, kRequestInterface, u"Response"_s, this, SLOT(handleResponse(QDBusMessage)));
    m_requests.insert(path, handler);

    options.insert(u"handle_token"_s, token);
    arguments.append(options);
    QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kShortcutsInterface, method);
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, path, handler](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (reply.isError()) {
            if (m_requests.contains(path)) {
                forgetRequest(path);
                const QDBusError error = reply.error();
                handler(0, {}, &error);
            }
            return;
        }
        // Portals before the handle token chose the path themselves.
        const QString actual = reply.value().path();
        if (actual != path && m_requests.contains(path)) {
            forgetRequest(path);
            m_bus.connect(kPortalService, actual, kRequestInterface, u"Response"_s, this,
                          SLOT(handleResponse(QDBusMessage)));
            m_requests.insert(actual, handler);
        }
    });
}

void PortalHotKeyEventSource::forgetRequest(const QString &path)
{
    m_requests.remove(path);
    m_bus.disconnect(kPortalService, path, kRequestInterface, u"Response"_s, this,
                     SLOT(handleResponse(QDBusMessage)));
}

void PortalHotKeyEventSource::handleResponse(const QDBusMessage &message)
{
    const QString path = message.path();
    const auto it = m_requests.constFind(path);
    if (it == m_requests.cend())
        return;
    const ResponseHandler handler = *it;
    forgetRequest(path);
    const QVariantList arguments = message.arguments();
    handler(arguments.value(0).toUInt(), toMap(arguments.value(1)), nullptr);
}

// /org/freedesktop/portal/desktop/request/SENDER/TOKEN, SENDER being this
// connection's unique name without ':' and with '_' for '.'.
QString PortalHotKeyEventSource::requestPath(const QString &token) const
{
    QString sender = m_bus.baseService();
    sender.remove(0, sender.startsWith(u':') ? 1 : 0).replace(u'.', u'_');
    return u"%1/request/%2/%3"_s.arg(kPortalPath, sender, token);
}

void PortalHotKeyEventSource::scheduleSync()
{
    m_syncTimer.start();
}

// Brings the session in line with the registrations: opens it for the
// first, binds the set after every change, closes it after the last.
void PortalHotKeyEventSource::sync()
{
    if (m_portal != Portal::Offered)
        return;
    if (m_bindings.empty()) {
        closeSession();
        return;
    }
    switch (m_session) {
    case Session::None:
        createSession();
        return;
    case Session::Creating:
        return; // bound once it is there
    case Session::Open:
        break;
    }
    if (m_binding) {
        m_bindAgain = true;
        return;
    }
    bindShortcuts();
}

void PortalHotKeyEventSource::createSession()
{
    m_session = Session::Creating;
    const QString token = u"quillvane%1"_s.arg(QRandomGenerator::global()->generate());
    request(u"CreateSession"_s, {}, {{u"session_handle_token"_s, token}},
            [this](uint response, const QVariantMap &results, const QDBusError *error) {
                sessionCreated(response, results, error);
            });
}

void PortalHotKeyEventSource::sessionCreated(uint response, const QVariantMap &results, const QDBusError *error)
{
    m_session = Session::None;
    if (error) {
        portalFailed(*error);
        return;
    }
    const QString path = toPath(results.value(u"session_handle"_s));
    if (response != kResponseSuccess || path.isEmpty()) {
        qCWarning(lcPortalHotKeys).noquote() << "The desktop opened no hot key session:" << responseName(response)
                                             << "- the hot keys stay without trigger until they change";
        return;
    }
    m_session = Session::Open;
    m_sessionPath = path;
    m_bus.connect(kPortalService, m_sessionPath, kSessionInterface, u"Closed"_s, this,
                  SLOT(handleSessionClosed(QDBusMessage)));
    sync();
}

void PortalHotKeyEventSource::bindShortcuts()
{
    QList<Shortcut> shortcuts;
    QStringList asked;
    for (const auto &[ref, binding] : m_bindings) {
        QVariantMap properties{{u"description"_s, describe(ref, binding)}};
        if (!binding.preferredTrigger.isEmpty())
            properties.insert(u"preferred_trigger"_s, binding.preferredTrigger);
        shortcuts.append({binding.shortcutId, properties});
        asked.append(binding.shortcutId);
    }
    m_binding = true;
    m_bindAgain = false;
    const QString session = m_sessionPath;
    request(u"BindShortcuts"_s,
            {QVariant::fromValue(QDBusObjectPath(session)), QVariant::fromValue(shortcuts), QString()}, {},
            [this, session, asked](uint response, const QVariantMap &results, const QDBusError *error) {
                if (session != m_sessionPath)
                    return; // that session is over; a new one binds afresh
                shortcutsBound(asked, response, results, error);
            });
}

void PortalHotKeyEventSource::shortcutsBound(const QStringList &asked, uint response, const QVariantMap &results,
                                             const QDBusError *error)
{
    m_binding = false;
    if (error) {
        qCWarning(lcPortalHotKeys).noquote() << "Binding the hot keys" << asked.join(u", "_s)
                                             << "failed:" << error->message();
    } else if (response != kResponseSuccess) {
        qCWarning(lcPortalHotKeys).noquote() << "The hot keys" << asked.join(u", "_s) << "were not bound:"
                                             << responseName(response);
    } else {
        applyTriggers(results.value(u"shortcuts"_s), asked);
    }
    if (m_bindAgain)
        sync();
}

void PortalHotKeyEventSource::applyTriggers(const QVariant &shortcuts, const QStringList &asked)
{
    QHash<QString, QString> triggers;
    if (shortcuts.canConvert<QDBusArgument>()) {
        for (const Shortcut &shortcut : qdbus_cast<QList<Shortcut>>(shortcuts.value<QDBusArgument>()))
            triggers.insert(shortcut.id, shortcut.properties.value(u"trigger_description"_s).toString());
    }
    bool changed = false;
    for (auto &[ref, binding] : m_bindings) {
        const auto trigger = triggers.constFind(binding.shortcutId);
        if (trigger == triggers.cend() && !asked.contains(binding.shortcutId))
            continue;
        const std::optional<QString> now = trigger == triggers.cend() ? QString() : *trigger;
        if (binding.boundTrigger == now)
            continue;
        binding.boundTrigger = now;
        changed = true;
        if (now->isEmpty())
            qCWarning(lcPortalHotKeys).noquote()
                << u"Hot key %1 is bound to no trigger (asked for %2): it cannot be pressed until the desktop's "
                   "settings give it one"_s.arg(describe(ref, binding), binding.preferredTrigger);
        else
            qCInfo(lcPortalHotKeys).noquote() << u"Hot key %1 is bound to %2 (asked for %3)"_s.arg(
                describe(ref, binding), *now, binding.preferredTrigger);
    }
    if (changed)
        Q_EMIT bindingsChanged();
}

void PortalHotKeyEventSource::closeSession()
{
    if (m_session != Session::Open)
        return;
    m_bus.send(QDBusMessage::createMethodCall(kPortalService, m_sessionPath, kSessionInterface, u"Close"_s));
    qCInfo(lcPortalHotKeys) << "No hot keys left: closed the desktop's hot key session";
    forgetSession();
}

void PortalHotKeyEventSource::forgetSession()
{
    m_bus.disconnect(kPortalService, m_sessionPath, kSessionInterface, u"Closed"_s, this,
                     SLOT(handleSessionClosed(QDBusMessage)));
    m_session = Session::None;
    m_sessionPath.clear();
    m_binding = false;
    m_bindAgain = false;
}

void PortalHotKeyEventSource::handleSessionClosed(const QDBusMessage &message)
{
    if (m_session != Session::Open || message.path() != m_sessionPath)
        return;
    qCWarning(lcPortalHotKeys) << "The desktop closed the hot key session: the hot keys have no trigger until they "
                                  "change";
    forgetSession();
    bool changed = false;
    for (auto &[ref, binding] : m_bindings) {
        changed = changed || binding.boundTrigger.value_or(QString()) != QString();
        binding.boundTrigger.reset();
    }
    if (changed)
        Q_EMIT bindingsChanged();
}

// A call that failed outright. A portal that was still starting when it was
// first asked may turn out to have no global shortcuts after all; then no
// registration can succeed.
void PortalHotKeyEventSource::portalFailed(const QDBusError &error)
{
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
        m_portal = Portal::Missing;
        qCWarning(lcPortalHotKeys).noquote()
            << "System-wide hot keys cannot be registered: the desktop portal does not offer global shortcuts ("
                + error.message() + u")."_s;
        break;
    default:
        qCWarning(lcPortalHotKeys).noquote() << "The desktop portal did not open a hot key session:"
                                             << error.message() << "- the hot keys stay without trigger until they change";
        break;
    }
}

QString PortalHotKeyEventSource::describe(quint64 ref, const Binding &binding) const
{
    const QString description = m_description ? m_description(HotKeyRef(ref)) : QString();
    return description.isEmpty() ? binding.shortcutId : description;
}

void PortalHotKeyEventSource::handleShortcutsChanged(const QDBusMessage &message)
{
    const QVariantList arguments = message.arguments();
    if (m_session != Session::Open || toPath(arguments.value(0)) != m_sessionPath)
        return;
    applyTriggers(arguments.value(1), {});
}

void PortalHotKeyEventSource::handleActivated(const QDBusMessage &message)
{
    dispatch(message, kEventHotKeyPressed);
}

void PortalHotKeyEventSource::handleDeactivated(const QDBusMessage &message)
{
    dispatch(message, kEventHotKeyReleased);
}

void PortalHotKeyEventSource::dispatch(const QDBusMessage &message, quint32 kind)
{
    const QVariantList arguments = message.arguments();
    if (m_session != Session::Open || toPath(arguments.value(0)) != m_sessionPath)
        return;
    const QString shortcutId = arguments.value(1).toString();
    const auto it = std::find_if(m_bindings.cbegin(), m_bindings.cend(),
                                 [&](const auto &entry) { return entry.second.shortcutId == shortcutId; });
    if (it == m_bindings.cend()) {
        qCDebug(lcPortalHotKeys) << "Shortcut" << shortcutId << "is not registered (any more)";
        return;
    }
    if (!m_handler)
        return;
    const Handler handler = m_handler; // it may replace itself while it runs
    const qint32 status = handler(HotKeyEvent(kEventClassKeyboard, kind, it->second.id));
    if (status != noErr)
        qCDebug(lcPortalHotKeys) << "Hot key event" << shortcutId << "of kind" << kind << "not handled:" << status;
}

} // namespace systemhotkeys
