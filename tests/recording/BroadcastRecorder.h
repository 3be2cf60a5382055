#pragma once

#include "PTKeyBroadcaster.h"
#include "PTKeyCombo.h"
#include "NotificationCenter.h"

#include <QList>
#include <QTest>

// Records every key broadcast of one broadcaster (or of all) while it lives.
class BroadcastRecorder
{
public:
    explicit BroadcastRecorder(const QObject *sender = nullptr)
        : m_token(hotkeys::NotificationCenter::defaultCenter()->addObserver(
              PTKeyBroadcasterKeyEvent, sender, [this](const hotkeys::Notification &notification) {
                  senders.append(notification.object());
                  combos.append(notification.userInfo().value(PTKeyBroadcaster::keyComboKey()).value<PTKeyCombo>());
                  userInfoSizes.append(int(notification.userInfo().size()));
              }))
    {
    }
    ~BroadcastRecorder() { hotkeys::NotificationCenter::defaultCenter()->removeObserver(m_token); }
    Q_DISABLE_COPY_MOVE(BroadcastRecorder)

    QList<const QObject *> senders;
    QList<PTKeyCombo> combos;
    QList<int> userInfoSizes;

private:
    hotkeys::NotificationCenter::ObserverToken m_token;
};

// How a failed comparison shows a combination.
inline char *toString(const PTKeyCombo &combo)
{
    return QTest::toString(QStringLiteral("{%1, 0x%2}").arg(combo.keyCode()).arg(combo.modifiers(), 0, 16));
}
