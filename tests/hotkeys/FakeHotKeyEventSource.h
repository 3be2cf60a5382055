#pragma once

#include "platform/HotKeyEventSource.h"

#include <QHash>
#include <QList>
#include <QSet>

#include <optional>

// Stands in for the system's hot key service: keeps registrations in memory,
// refuses the combinations it is told to, and delivers events to the
// installed handler when a test says so.
class FakeHotKeyEventSource : public platform::HotKeyEventSource
{
public:
    struct Entry
    {
        quint32 keyCode;
        quint32 modifiers;
        platform::HotKeyID id;
    };

    Registration registerHotKey(quint32 keyCode, quint32 modifiers, platform::HotKeyID id) override
    {
        ++registerCalls;
        if (refused.contains({keyCode, modifiers}))
            return {platform::eventHotKeyExistsErr, platform::HotKeyRef::Null};
        registrations.insert(++lastRef, {keyCode, modifiers, id});
        return {platform::noErr, platform::HotKeyRef(lastRef)};
    }

    qint32 unregisterHotKey(platform::HotKeyRef ref) override
    {
        unregistered.append(ref);
        return registrations.remove(quint64(ref)) ? platform::noErr : platform::eventHotKeyInvalidErr;
    }

    qint32 installHandler(Handler newHandler) override
    {
        if (newHandler)
            ++installCount;
        handler = std::move(newHandler);
        return platform::noErr;
    }

    // What the system does with an event: hands it to the handler.
    qint32 deliver(const platform::HotKeyEvent &event) const
    {
        return handler ? handler(event) : platform::eventNotHandledErr;
    }
    qint32 deliver(quint32 kind, quint32 idNumber, quint32 signature = platform::osTypeFromString(u"PTHk")) const
    {
        return deliver(platform::HotKeyEvent(platform::kEventClassKeyboard, kind, platform::HotKeyID{signature, idNumber}));
    }

    std::optional<Entry> entry(platform::HotKeyRef ref) const
    {
        const auto it = registrations.constFind(quint64(ref));
        return it == registrations.cend() ? std::nullopt : std::optional<Entry>(*it);
    }

    QList<quint32> registeredIdNumbers() const
    {
        QList<quint32> ids;
        for (const Entry &e : registrations)
            ids.append(e.id.id);
        std::sort(ids.begin(), ids.end());
        return ids;
    }

    QSet<QPair<quint32, quint32>> refused;
    QHash<quint64, Entry> registrations;
    QList<platform::HotKeyRef> unregistered;
    int registerCalls = 0;
    int installCount = 0;
    Handler handler;

private:
    quint64 lastRef = 0;
};
