#pragma once

#include "Export.h"
#include "Notification.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <vector>

namespace hotkeys {

// Announcements within one process. Observers register for a name (or every
// name) and optionally for one sender; a post calls every matching observer,
// in the order in which they registered, before it returns. Main thread only.
//
// A static library linked into both a host and a plug-in exists twice in
// that process, each copy with its own defaultCenter(): senders and observers
// meet only when they are built into the same module.
class QUILLVANE_EXPORT NotificationCenter
{
public:
    using Observer = std::function<void(const Notification &)>;
    // Names one registration; Null is "none".
    enum class ObserverToken : quint64 { Null = 0 };

    // The process's center (this module's), made on first use, never destroyed.
    static NotificationCenter *defaultCenter();

    NotificationCenter();
    ~NotificationCenter();
    Q_DISABLE_COPY_MOVE(NotificationCenter)

    // Calls OBSERVER for every notification named NAME (an empty NAME: every
    // notification) whose object is SENDER (null: any object). A SENDER that
    // has been destroyed matches nothing any more. When CONTEXT is given, the
    // registration ends when CONTEXT is destroyed. Returns Null, registering
    // nothing, for an empty OBSERVER.
    ObserverToken addObserver(const QString &name, const QObject *sender, Observer observer,
                              const QObject *context = nullptr);
    // Ends a registration; an unknown token (or Null) changes nothing. An
    // observer removed while a notification is being delivered is not called
    // for it any more.
    void removeObserver(ObserverToken token);

    // Delivers the notification synchronously. Observers added while it is
    // being delivered first see the next one.
    void postNotification(const Notification &notification);
    void postNotificationName(const QString &name, QObject *object, const QVariantMap &userInfo = {});

    // The number of live registrations.
    int observerCount() const { return int(m_entries.size()); }

private:
    struct Entry
    {
        ObserverToken token;
        QString name;
        bool forOneSender;
        QPointer<const QObject> sender;
        const QObject *senderAddress;
        std::shared_ptr<Observer> observer;
        QMetaObject::Connection contextConnection;
    };

    static bool matches(const Entry &entry, const Notification &notification);

    std::vector<Entry> m_entries;
    quint64 m_lastToken = 0;
};

} // namespace hotkeys
