#include "NotificationCenter.h"

#include <QLoggingCategory>

#include <algorithm>

namespace hotkeys {

namespace {

Q_LOGGING_CATEGORY(lcNotifications, "quillvane.hotkeys.notifications", QtWarningMsg)

} // namespace

Notification::Notification(const QString &name, QObject *object, const QVariantMap &userInfo)
    : m_name(name)
    , m_object(object)
    , m_userInfo(userInfo)
{
}

NotificationCenter *NotificationCenter::defaultCenter()
{
    static NotificationCenter *center = new NotificationCenter;
    return center;
}

NotificationCenter::NotificationCenter() = default;

NotificationCenter::~NotificationCenter()
{
    // The context connections call back into this center.
    for (const Entry &entry : m_entries)
        QObject::disconnect(entry.contextConnection);
}

NotificationCenter::ObserverToken NotificationCenter::addObserver(const QString &name, const QObject *sender,
                                                                  Observer observer, const QObject *context)
{
    if (!observer) {
        qCWarning(lcNotifications) << "Not registering an empty observer for" << name;
        return ObserverToken::Null;
    }
    const auto token = ObserverToken(++m_lastToken);
    Entry entry{token, name, sender != nullptr, sender, sender, std::make_shared<Observer>(std::move(observer)), {}};
    if (context) {
        entry.contextConnection =
            QObject::connect(context, &QObject::destroyed, [this, token] { removeObserver(token); });
    }
    m_entries.push_back(std::move(entry));
    return token;
}

void NotificationCenter::removeObserver(ObserverToken token)
{
    const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                 [token](const Entry &entry) { return entry.token == token; });
    if (it == m_entries.end())
        return;
    QObject::disconnect(it->contextConnection);
    m_entries.erase(it);
}

bool NotificationCenter::matches(const Entry &entry, const Notification &notification)
{
    if (!entry.name.isEmpty() && entry.name != notification.name())
        return false;
    if (!entry.forOneSender)
        return true;
    // A new object at a destroyed sender's address is another sender.
    return entry.sender && entry.senderAddress == notification.object();
}

void NotificationCenter::postNotification(const Notification &notification)
{
    // Observers may add and remove registrations while they run: work from
    // the registrations that match now, and skip those removed meanwhile.
    std::vector<ObserverToken> recipients;
    for (const Entry &entry : m_entries) {
        if (matches(entry, notification))
            recipients.push_back(entry.token);
    }
    for (const ObserverToken token : recipients) {
        const auto it = std::find_if(m_entries.cbegin(), m_entries.cend(),
                                     [token](const Entry &entry) { return entry.token == token; });
        if (it == m_entries.cend())
            continue;
        // Kept alive while it runs, even if it removes itself.
        const std::shared_ptr<Observer> observer = it->observer;
        (*observer)(notification);
    }
}

void NotificationCenter::postNotificationName(const QString &name, QObject *object, const QVariantMap &userInfo)
{
    postNotification(Notification(name, object, userInfo));
}

} // namespace hotkeys
