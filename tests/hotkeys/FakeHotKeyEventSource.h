#pragma once

#include "HotKeyEventSource.h"

#include <QHash>
#include <QList>
#include <QSet>

#include <optional>

// Stands in for the system's hot key service: keeps registrations in memory,
// refuses the combinations it is told to, and delivers events to the
// installed handler when a test says so.
class FakeHotKeyEventSource : public systemhotkeys::HotKeyEventSource
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
        return deliver(systemhotkeys::HotKeyEvent(systemhotkeys::kEventClassKeyboard, kind, systemhotkeys::HotKeyID{signature, idNumber}));
    }

    std::optional<Entry> entry(systemhotkeys::HotKeyRef ref) const
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
    QList<systemhotkeys::HotKeyRef> unregistered;
    int registerCalls = 0;
    int installCount = 0;
    Handler handler;

private:
    quint64 lastRef = 0;
};
