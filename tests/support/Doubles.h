#pragma once
// Stand-ins for the services around the code under test: the system's hot key service, the object a hot key
// calls, a key broadcast listener, the user's login items and the cursor program's bus service.

#include "HotKeyEventSource.h"
#include "LoginItemsList.h"
#include "LoginItemsListFactory.h"
#include "NotificationCenter.h"
#include "PTHotKey.h"
#include "PTKeyBroadcaster.h"
#include "PTKeyCombo.h"

#include "Bus.h"

#include <QDBusContext>
#include <QSet>
#include <QTest>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

namespace testsupport {

using namespace Qt::StringLiterals;

class HotKeyEventSourceDouble : public systemhotkeys::HotKeyEventSource
{
public:
    struct Entry
    {
        quint32 keyCode;
        quint32 modifiers;
        systemhotkeys::HotKeyID id;
    };

    Registration registerHotKey(quint32 keyCode, quint32 modifiers, systemhotkeys::HotKeyID id) override
    {
        ++registerCalls;
        if (refused.contains({keyCode, modifiers}))
            return {systemhotkeys::eventHotKeyExistsErr, systemhotkeys::HotKeyRef::Null};
        registrations.insert(++lastRef, {keyCode, modifiers, id});
        return {systemhotkeys::noErr, systemhotkeys::HotKeyRef(lastRef)};
    }

    qint32 unregisterHotKey(systemhotkeys::HotKeyRef ref) override
    {
        unregistered.append(ref);
        return registrations.remove(quint64(ref)) ? systemhotkeys::noErr : systemhotkeys::eventHotKeyInvalidErr;
    }

    qint32 installHandler(Handler newHandler) override
    {
        if (newHandler)
            ++installCount;
        handler = std::move(newHandler);
        return systemhotkeys::noErr;
    }

    // What the system does with an event: hands it to the handler.
    qint32 deliver(const systemhotkeys::HotKeyEvent &event) const
    {
        return handler ? handler(event) : systemhotkeys::eventNotHandledErr;
    }
    qint32 deliver(quint32 kind, quint32 idNumber, quint32 signature = systemhotkeys::osTypeFromString(u"PTHk")) const
    {
        using namespace systemhotkeys;
        return deliver(HotKeyEvent(kEventClassKeyboard, kind, HotKeyID{signature, idNumber}));
    }

    std::optional<Entry> entry(systemhotkeys::HotKeyRef ref) const
    {
        const auto it = registrations.constFind(quint64(ref));
        return it == registrations.cend() ? std::nullopt : std::optional<Entry>(*it);
    }

    QSet<QPair<quint32, quint32>> refused;
    QHash<quint64, Entry> registrations;
    QList<systemhotkeys::HotKeyRef> unregistered;
    int registerCalls = 0;
    int installCount = 0;
    Handler handler;

private:
    quint64 lastRef = 0;
};

// The object a hot key calls: records every hot key it was called with.
class HotKeyTarget : public QObject
{
    Q_OBJECT

public:
    int count(const PTHotKey *hotKey) const { return int(pressed.count(hotKey)); }

    Q_INVOKABLE void hotKeyPressed(PTHotKey *hotKey)
    {
        pressed.append(hotKey);
        names.append(hotKey->name());
        if (onPress)
            onPress(hotKey);
    }

    Q_INVOKABLE void hotKeyFails(PTHotKey *) { throw std::runtime_error("the action failed"); }

    QList<const PTHotKey *> pressed;
    QStringList names;
    std::function<void(PTHotKey *)> onPress;
};

// Hot key NAME on COMBO that calls hotKeyPressed() of TARGET.
inline std::shared_ptr<PTHotKey> makeHotKey(const QString &name, const PTKeyCombo &combo, QObject *target = nullptr)
{
    auto hotKey = std::make_shared<PTHotKey>();
    hotKey->setName(name);
    hotKey->setKeyCombo(combo);
    hotKey->setTarget(target);
    hotKey->setAction("hotKeyPressed");
    return hotKey;
}

// Records every key broadcast of one broadcaster (or of all) while it lives.
class BroadcastRecorder
{
public:
    explicit BroadcastRecorder(const QObject *sender = nullptr)
        : m_token(hotkeys::NotificationCenter::defaultCenter()->addObserver(
              PTKeyBroadcasterKeyEvent, sender, [this](const hotkeys::Notification &notification) {
                  combos.append(notification.userInfo().value(PTKeyBroadcaster::keyComboKey()).value<PTKeyCombo>());
              }))
    {
    }
    ~BroadcastRecorder() { hotkeys::NotificationCenter::defaultCenter()->removeObserver(m_token); }
    Q_DISABLE_COPY_MOVE(BroadcastRecorder)

    QList<PTKeyCombo> combos;

private:
    hotkeys::NotificationCenter::ObserverToken m_token;
};

// The login items of a test: entries in memory, with switches that make the list fail as a real one can.
struct LoginItemsDouble
{
    struct Entry
    {
        QString key;
        loginitems::LoginItemsList::Resolution resolution;
        bool hidden = false;
    };

    QList<Entry> entries;
    int nextKey = 1;
    int snapshots = 0;
    bool failCreate = false;
    bool failSnapshot = false;
    bool failInsert = false;

    void append(const loginitems::LoginItemsList::Resolution &resolution, bool hidden = false)
    {
        entries.append(Entry{QString::number(nextKey++), resolution, hidden});
    }

    Entry *find(const loginitems::LoginItemsList::Item &item)
    {
        const auto it = std::find_if(entries.begin(), entries.end(), [&](const Entry &e) { return e.key == item.key; });
        return it == entries.end() ? nullptr : &*it;
    }

    LoginItemsListFactory factory();
};

class LoginItemsListDouble final : public loginitems::LoginItemsList
{
public:
    explicit LoginItemsListDouble(LoginItemsDouble &items) : m_items(items) {}

    std::optional<QList<Item>> snapshot() const override
    {
        ++m_items.snapshots;
        if (m_items.failSnapshot)
            return std::nullopt;
        QList<Item> items;
        for (const auto &entry : std::as_const(m_items.entries))
            items.append(Item{entry.key});
        return items;
    }

    Resolution resolve(const Item &item) const override
    {
        const auto *entry = m_items.find(item);
        return entry ? entry->resolution : Resolution{};
    }

    bool remove(const Item &item) override
    {
        return m_items.entries.removeIf([&](const auto &entry) { return entry.key == item.key; }) > 0;
    }

    std::optional<Item> insertAtEnd(const QUrl &url) override
    {
        if (m_items.failInsert)
            return std::nullopt;
        m_items.append(Resolution{ResolveStatus::Resolved, url});
        return Item{m_items.entries.last().key};
    }

    bool setHidden(const Item &item, bool hidden) override
    {
        auto *entry = m_items.find(item);
        if (entry)
            entry->hidden = hidden;
        return entry != nullptr;
    }

    bool isHidden(const Item &item) const override
    {
        const auto *entry = m_items.find(item);
        return entry && entry->resolution.status == ResolveStatus::Resolved && entry->hidden;
    }

private:
    LoginItemsDouble &m_items;
};

inline LoginItemsListFactory LoginItemsDouble::factory()
{
    return [this]() -> std::unique_ptr<loginitems::LoginItemsList> {
        if (failCreate)
            return nullptr;
        return std::make_unique<LoginItemsListDouble>(*this);
    };
}

// The cursor program's bus service, on a connection of its own so that it is a separate peer to the code under
// test, as the real program is.
class CursorServiceDouble : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.quillvane.CursorController")

public:
    explicit CursorServiceDouble(const QString &connectionName = u"cursor service double"_s)
        : m_connectionName(connectionName)
        , m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName))
    {
        m_bus.registerObject(u"/"_s, this, QDBusConnection::ExportAllSlots);
        registered = m_bus.interface()->registerService(cursorBusName(), QDBusConnectionInterface::DontQueueService)
                         .value()
            == QDBusConnectionInterface::ServiceRegistered;
    }
    ~CursorServiceDouble() override
    {
        m_bus.unregisterObject(u"/"_s);
        QDBusConnection::disconnectFromBus(m_connectionName);
    }

    bool registered = false;
    int readPrefsCount = 0;
    bool replyRequested = false; // some readPrefs came as a call that wants an answer

public Q_SLOTS:
    Q_NOREPLY void readPrefs()
    {
        ++readPrefsCount;
        replyRequested = replyRequested || message().isReplyRequired();
    }
    // Answered in order after everything the caller sent before.
    int received() { return readPrefsCount; }

private:
    QString m_connectionName;
    QDBusConnection m_bus;
};

} // namespace testsupport

// How a failed comparison shows a combination.
inline char *toString(const PTKeyCombo &combo)
{
    return QTest::toString(QStringLiteral("{%1, 0x%2}").arg(combo.keyCode()).arg(combo.modifiers(), 0, 16));
}
