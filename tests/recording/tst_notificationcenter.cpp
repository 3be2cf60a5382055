#include "NotificationCenter.h"

#include <QTest>

#include <memory>

using hotkeys::Notification;
using hotkeys::NotificationCenter;

class TestNotificationCenter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void observersChangingRegistrationsWhileDelivered()
    {
        NotificationCenter center;
        QStringList calls;
        NotificationCenter::ObserverToken second{};
        center.addObserver(QStringLiteral("A"), nullptr, [&](const Notification &) {
            calls << QStringLiteral("first");
            center.removeObserver(second);
            center.addObserver(QStringLiteral("A"), nullptr, [&](const Notification &) { calls << QStringLiteral("new"); });
        });
        second = center.addObserver(QStringLiteral("A"), nullptr, [&](const Notification &) { calls << "second"; });
        center.postNotificationName(QStringLiteral("A"), nullptr);
        QCOMPARE(calls, QStringList{QStringLiteral("first")});
        calls.clear();
        center.postNotificationName(QStringLiteral("A"), nullptr);
        QCOMPARE(calls, (QStringList{QStringLiteral("first"), QStringLiteral("new")}));
    }

    void destroyedContextAndSenderEndObservation()
    {
        NotificationCenter center;
        int seen = 0;
        auto context = std::make_unique<QObject>();
        auto sender = std::make_unique<QObject>();
        center.addObserver(QString(), nullptr, [&](const Notification &) { ++seen; }, context.get());
        center.addObserver(QStringLiteral("A"), sender.get(), [&](const Notification &) { ++seen; });
        context.reset();
        QCOMPARE(center.observerCount(), 1);
        // A new object at a destroyed sender's address is another sender.
        QObject *const address = sender.get();
        sender.reset();
        center.postNotificationName(QStringLiteral("A"), address);
        QCOMPARE(seen, 0);
    }
};

QTEST_GUILESS_MAIN(TestNotificationCenter)
#include "tst_notificationcenter.moc"
