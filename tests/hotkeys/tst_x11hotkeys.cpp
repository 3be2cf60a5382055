#include "HotKeyTarget.h"
#include "XTestClient.h"

#include "PTHotKeyCenter.h"
#include "X11HotKeyEventSource.h"

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using x11::KeyCodeTable;

namespace {

constexpr quint8 kKeyK = 45;        // KEY_K + 8
constexpr quint8 kCapsLockKey = 66; // KEY_CAPSLOCK + 8
constexpr quint8 kNumLockKey = 77;  // KEY_NUMLOCK + 8
constexpr quint16 kMod2 = 0x10;
constexpr quint16 kMod3 = 0x20;
constexpr int kMod3Row = 5;

const PTKeyCombo kCommandK(40, 0x100);
// Control Shift F12; with Control and Option, F-keys switch virtual terminals.
const PTKeyCombo kFenceCombo(111, 0x1200);

} // namespace

// The X11 hot key layer against the private X server, with the registry on
// top and a second client typing through XTest.
class TestX11HotKeys : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<XTestClient> client;
    std::shared_ptr<systemhotkeys::X11HotKeyEventSource> source;
    std::unique_ptr<PTHotKeyCenter> center;
    std::unique_ptr<HotKeyTarget> target;
    std::shared_ptr<PTHotKey> fence;
    XTestClient::ModifierMap savedModifierMap;
    QProcess privateServer;

    std::shared_ptr<PTHotKey> hotKey(const QString &name, const PTKeyCombo &combo)
    {
        auto hotKey = std::make_shared<PTHotKey>();
        hotKey->setName(name);
        hotKey->setKeyCombo(combo);
        hotKey->setTarget(target.get());
        hotKey->setAction("hotKeyPressed");
        return hotKey;
    }

    // Once the fence hot key typed now has fired, every event the client
    // caused before has been dispatched.
    bool fenceArrives()
    {
        const int before = target->count(fence.get());
        client->type(*KeyCodeTable::xKeyCode(kFenceCombo.keyCode()), kFenceCombo.modifiers());
        return QTest::qWaitFor([&] { return target->count(fence.get()) == before + 1; });
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X display");
        // The server may still be resetting after the previous client left.
        QTRY_VERIFY((client = std::make_unique<XTestClient>(), client->isValid()));
    }

    void init()
    {
        source = std::make_shared<systemhotkeys::X11HotKeyEventSource>();
        QVERIFY(source->isConnected());
        center = std::make_unique<PTHotKeyCenter>(source);
        target = std::make_unique<HotKeyTarget>();
        fence = hotKey(u"fence"_s, kFenceCombo);
        QVERIFY(center->registerHotKey(fence));
    }

    void cleanup()
    {
        center.reset();
        source.reset(); // its connection closes, and the server drops its grabs
        if (client) {
            if (savedModifierMap.keysPerModifier)
                QVERIFY(client->setModifierMap(savedModifierMap));
            savedModifierMap = {};
            client->unlockAll();
        }
        if (privateServer.state() != QProcess::NotRunning) {
            privateServer.kill();
            privateServer.waitForFinished();
        }
    }

    void pressInvokesOnceAndReleaseNothing_data()
    {
        QTest::addColumn<PTKeyCombo>("combo");
        QTest::addColumn<int>("typedKey");
        QTest::newRow("Control Option K") << PTKeyCombo(40, 0x1800) << 45;
        QTest::newRow("Command Shift F1") << PTKeyCombo(122, 0x300) << 67;
        QTest::newRow("function key bit alone grabs the bare key") << PTKeyCombo(99, 0x8000) << 69;
        QTest::newRow("F13 combination fires on Print Screen") << PTKeyCombo(105, 0x100) << 107;
        QTest::newRow("F13 combination fires on F13") << PTKeyCombo(105, 0x100) << 191;
    }

    void pressInvokesOnceAndReleaseNothing()
    {
        QFETCH(PTKeyCombo, combo);
        QFETCH(int, typedKey);
        const auto key = hotKey(u"toggle the cursor"_s, combo);
        QVERIFY(center->registerHotKey(key));

        client->type(quint8(typedKey), quint32(combo.modifiers()));
        QVERIFY(fenceArrives());
        QCOMPARE(target->count(key.get()), 1);

        client->type(quint8(typedKey), quint32(combo.modifiers()));
        QVERIFY(fenceArrives());
        QCOMPARE(target->count(key.get()), 2);
    }

    void otherModifiersDoNotFire()
    {
        const auto key = hotKey(u"toggle the cursor"_s, kCommandK);
        QVERIFY(center->registerHotKey(key));
        client->type(kKeyK, 0x100 | 0x200);
        client->type(kKeyK, 0);
        QVERIFY(fenceArrives());
        QCOMPARE(target->count(key.get()), 0);
    }

    void firesWithLocksOn_data()
    {
        QTest::addColumn<QList<quint8>>("lockKeys");
        QTest::addColumn<quint8>("lockedModifiers");
        QTest::newRow("Caps Lock") << QList<quint8>{kCapsLockKey} << quint8(KeyCodeTable::XLock);
        QTest::newRow("Num Lock") << QList<quint8>{kNumLockKey} << quint8(kMod2);
        QTest::newRow("Caps Lock and Num Lock") << QList<quint8>{kCapsLockKey, kNumLockKey}
                                                << quint8(KeyCodeTable::XLock | kMod2);
    }

    void firesWithLocksOn()
    {
        QFETCH(QList<quint8>, lockKeys);
        QFETCH(quint8, lockedModifiers);
        const auto key = hotKey(u"toggle the cursor"_s, kCommandK);
        QVERIFY(center->registerHotKey(key));
        for (const quint8 lockKey : lockKeys)
            client->tap(lockKey);
        QCOMPARE(client->lockedModifiers(), lockedModifiers);

        client->type(kKeyK, 0x100);
        QVERIFY(fenceArrives());
        QCOMPARE(target->count(key.get()), 1);
    }

    void keyHeldByAnotherClient_data()
    {
        QTest::addColumn<quint16>("heldLocks");
        QTest::newRow("plain combination held") << quint16(0);
        QTest::newRow("Caps Lock variant held") << KeyCodeTable::XLock;
        QTest::newRow("Num Lock variant held") << kMod2;
    }

    void keyHeldByAnotherClient()
    {
        QFETCH(quint16, heldLocks);
                QVERIFY(client->grabKey(kKeyK, KeyCodeTable::XMod4 | heldLocks));

        const auto key = hotKey(u"toggle the cursor"_s, kCommandK);
        QVERIFY(!center->registerHotKey(key));
        QCOMPARE(key->carbonHotKey(), systemhotkeys::HotKeyRef::Null);
        QVERIFY(!center->hotKeyForName(u"toggle the cursor"_s));
        const auto direct = source->registerHotKey(40, 0x100, {});
        QCOMPARE(direct.status, systemhotkeys::eventHotKeyExistsErr);

        // None of the variants granted before the refusal was kept.
        client->ungrabKey(kKeyK, KeyCodeTable::XMod4 | heldLocks);
        for (const quint16 locks : {quint16(0), KeyCodeTable::XLock, kMod2, quint16(KeyCodeTable::XLock | kMod2)})
            QVERIFY2(client->grabKey(kKeyK, KeyCodeTable::XMod4 | locks), qPrintable(u"lock variant %1"_s.arg(locks)));
        for (const quint16 locks : {quint16(0), KeyCodeTable::XLock, kMod2, quint16(KeyCodeTable::XLock | kMod2)})
            client->ungrabKey(kKeyK, KeyCodeTable::XMod4 | locks);

        QVERIFY(center->registerHotKey(key));
        client->type(kKeyK, 0x100);
        QVERIFY(fenceArrives());
        QCOMPARE(target->count(key.get()), 1);
    }

    void unregisteredKeyIsFree()
    {
        const auto key = hotKey(u"toggle the cursor"_s, kCommandK);
        QVERIFY(center->registerHotKey(key));
        center->unregisterHotKey(key);

        client->type(kKeyK, 0x100);
        QVERIFY(fenceArrives());
        QCOMPARE(target->count(key.get()), 0);
                for (const quint16 locks : {quint16(0), KeyCodeTable::XLock, kMod2, quint16(KeyCodeTable::XLock | kMod2)}) {
            QVERIFY(client->grabKey(kKeyK, KeyCodeTable::XMod4 | locks));
            client->ungrabKey(kKeyK, KeyCodeTable::XMod4 | locks);
        }
    }

    void sameCombinationTwiceIsRefused()
    {
        QVERIFY(center->registerHotKey(hotKey(u"first"_s, kCommandK)));
        QVERIFY(!center->registerHotKey(hotKey(u"second"_s, kCommandK)));
        QCOMPARE(center->allHotKeys().size(), 2); // the fence and the first
    }

    void heldKeyIsOnePress()
    {
        const auto [delay, interval] = client->repeatTiming();
        if (!delay)
            QSKIP("keys do not repeat on this X server");
        QVERIFY(source->hasDetectableAutoRepeat());
        const auto key = hotKey(u"toggle the cursor"_s, kCommandK);
        QVERIFY(center->registerHotKey(key));

        // The server repeats the key several times before it takes the release.
        client->type(kKeyK, 0x100, delay + 4 * interval);
        QVERIFY(fenceArrives());
        QCOMPARE(target->count(key.get()), 1);
    }

    void pressQueuedBeforeUnregisteringIsDropped()
    {
        const auto key = hotKey(u"toggle the cursor"_s, kCommandK);
        QVERIFY(center->registerHotKey(key));
        client->type(kKeyK, 0x100); // read by the source only once the event loop runs
        center->unregisterHotKey(key);

        QVERIFY(fenceArrives());
        QCOMPARE(target->count(key.get()), 0);
        QCOMPARE(center->sendCarbonEvent(systemhotkeys::HotKeyEvent(systemhotkeys::kEventClassKeyboard,
                                                               systemhotkeys::kEventHotKeyPressed,
                                                               systemhotkeys::HotKeyID{0x4F746872, 2})),
                 systemhotkeys::eventNotHandledErr);
    }

    // Moving Num Lock to another modifier makes the old lock variants useless;
    // the grabs follow the new modifier map.
    void grabsFollowModifierMapChange()
    {
        const auto key = hotKey(u"toggle the cursor"_s, kCommandK);
        QVERIFY(center->registerHotKey(key));
        QSignalSpy renewed(source.get(), &systemhotkeys::X11HotKeyEventSource::grabsRenewed);
        savedModifierMap = client->modifierMap();
        QVERIFY(savedModifierMap.keysPerModifier > 0);

        QVERIFY(client->setModifierMap(XTestClient::movedKey(savedModifierMap, kNumLockKey, kMod3Row)));
        QVERIFY(renewed.wait());
        client->tap(kNumLockKey);
        QCOMPARE(client->lockedModifiers(), quint8(kMod3));

        client->type(kKeyK, 0x100);
        QVERIFY(fenceArrives());
        QCOMPARE(target->count(key.get()), 1);
    }

    void withoutDisplayEveryRegistrationFails()
    {
        const QByteArray display = qgetenv("DISPLAY");
        qunsetenv("DISPLAY");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^No X display"_s));
        const auto offline = std::make_shared<systemhotkeys::X11HotKeyEventSource>();
        qputenv("DISPLAY", display);

        QVERIFY(!offline->isConnected());
        QVERIFY(offline->registerHotKey(40, 0x100, {}).status != systemhotkeys::noErr);
        PTHotKeyCenter offlineCenter(offline);
        const auto key = hotKey(u"toggle the cursor"_s, kCommandK);
        QVERIFY(!offlineCenter.registerHotKey(key));
        offlineCenter.updateHotKey(key);
        QVERIFY(offlineCenter.allHotKeys().isEmpty());
    }

    void serverGoingAway()
    {
        const QString xvfb = QStandardPaths::findExecutable(u"Xvfb"_s);
        if (xvfb.isEmpty())
            QSKIP("needs Xvfb");
        // Xvfb picks a free display and writes its number to standard output once it accepts connections.
        privateServer.start(xvfb, {u"-displayfd"_s, u"1"_s, u"-nolisten"_s, u"tcp"_s, u"-screen"_s, u"0"_s,
                                   u"64x64x24"_s});
        QTRY_VERIFY_WITH_TIMEOUT(privateServer.canReadLine(), 10000);
        const QByteArray display = ':' + privateServer.readLine().trimmed();

        systemhotkeys::X11HotKeyEventSource doomed(display);
        QVERIFY(doomed.isConnected());
        QCOMPARE(doomed.registerHotKey(40, 0x100, {}).status, systemhotkeys::noErr);
        QSignalSpy lost(&doomed, &systemhotkeys::X11HotKeyEventSource::connectionLost);

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Lost the connection to the X server"_s));
        privateServer.kill();
        privateServer.waitForFinished();
        QVERIFY(lost.wait());
        QTest::failOnWarning(QRegularExpression(u"^Lost the connection"_s));

        QCOMPARE(doomed.registerHotKey(41, 0x100, {}).status, systemhotkeys::eventInternalErr);
        QVERIFY(!doomed.isConnected());
        QCoreApplication::processEvents();
        QCOMPARE(lost.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestX11HotKeys)
#include "tst_x11hotkeys.moc"
