#pragma once

#include "PTHotKey.h"

#include <QList>
#include <QObject>

#include <functional>
#include <stdexcept>

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
