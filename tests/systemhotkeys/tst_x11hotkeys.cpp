// The X11 hot key source against the shared X server, with the hot key center on top and another client typing
// through XTest.

#include "Doubles.h"
#include "XServer.h"
#include "XUser.h"

#include "PTHotKeyCenter.h"
#include "X11HotKeyEventSource.h"

#include <QSignalSpy>

using namespace Qt::StringLiterals;
using namespace testsupport;
using systemhotkeys::X11HotKeyEventSource;
using x11::KeyCodeTable;

namespace {

constexpr quint8 kKeyK = 45, kNumLockKey = 77, kScrollLockKey = 78; // X key codes
constexpr quint16 kLock = KeyCodeTable::XLock, kMod4 = KeyCodeTable::XMod4, kMod2 = 0x10, kMod3 = 0x20, kMod5 = 0x80;
constexpr int kMod3Row = 5, kMod5Row = 7;
const PTKeyCombo kCommandK(40, 0x100);
const PTKeyCombo kFenceCombo(111, 0x1200); // Control Shift F12: Control Option F-keys switch terminals

} // namespace

class TestX11HotKeys : public QObject
{
    Q_OBJECT

private:
    XUser user;
    XUser::ModifierMap savedMap, scrollLockMap;
    std::shared_ptr<X11HotKeyEventSource> source;
    std::unique_ptr<PTHotKeyCenter> center;
    HotKeyTarget target;
    std::shared_ptr<PTHotKey> fence;

    std::shared_ptr<PTHotKey> registered(const PTKeyCombo &combo)
    {
        const auto hotKey = makeHotKey(u"%1 %2"_s.arg(combo.keyCode()).arg(combo.modifiers()), combo, &target);
        return center->registerHotKey(hotKey) ? hotKey : nullptr;
    }

    // How often KEY has fired once the fence typed now has, when everything typed before has been dispatched;
    // -1 if the fence does not fire.
    int presses(const std::shared_ptr<PTHotKey> &key)
    {
        const int before = target.count(fence.get());
        user.type(kFenceCombo.keyCode(), quint32(kFenceCombo.modifiers()));
        return QTest::qWaitFor([&] { return target.count(fence.get()) > before; }) ? target.count(key.get()) : -1;
    }

    // How many of the eight lock variants of Command K another client cannot grab.
    int variantsHeld()
    {
        int held = 0;
        for (int i = 0; i < 8; ++i) {
            const quint16 variant = kMod4 | (i & 1 ? kLock : 0) | (i & 2 ? kMod2 : 0) | (i & 4 ? kMod3 : 0);
            held += !user.grabKey(kKeyK, variant);
            user.ungrabKey(kKeyK, variant); // only ever this client's own
        }
        return held;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(user.isValid());
        // Scroll Lock, on no modifier by default, locks Mod3 here.
        savedMap = user.modifierMap();
        scrollLockMap = XUser::movedKey(savedMap, kScrollLockKey, kMod3Row);
        QVERIFY(user.setModifierMap(scrollLockMap));
    }

    void init()
    {
        source = std::make_shared<X11HotKeyEventSource>();
        center = std::make_unique<PTHotKeyCenter>(source);
        QVERIFY(fence = registered(kFenceCombo));
    }

    void cleanup()
    {
        center.reset();
        source.reset(); // its connection closes, and the server drops its grabs
        target.pressed.clear();
        QVERIFY(user.setModifierMap(scrollLockMap));
        user.unlockAll();
    }

    void cleanupTestCase() { QVERIFY(user.setModifierMap(savedMap)); }

    void firesOncePerPress_data()
    {
        QTest::addColumn<PTKeyCombo>("combo");
        QTest::addColumn<int>("typedKey");
        QTest::newRow("Control Option K") << PTKeyCombo(40, 0x1800) << 45;
        QTest::newRow("Command Shift F1") << PTKeyCombo(122, 0x300) << 67;
        QTest::newRow("function key bit alone grabs the bare key") << PTKeyCombo(99, 0x8000) << 69;
        QTest::newRow("F13 combination on Print Screen") << PTKeyCombo(105, 0x100) << 107;
        QTest::newRow("F13 combination on F13") << PTKeyCombo(105, 0x100) << 191;
    }

    // A press fires once, its release nothing; other modifiers make another hot key.
    void firesOncePerPress()
    {
        QFETCH(PTKeyCombo, combo);
        QFETCH(int, typedKey);
        const PTKeyCombo withControl(combo.keyCode(), combo.modifiers() ^ 0x1000);
        const auto key = registered(combo), other = registered(withControl);
        QVERIFY(key && other && !registered(combo)); // not the same combination twice
        user.typeX(quint8(typedKey), quint32(combo.modifiers()));
        user.typeX(quint8(typedKey), quint32(withControl.modifiers()));
        user.typeX(quint8(typedKey), quint32(combo.modifiers()));
        QCOMPARE(presses(key), 2);
        QCOMPARE(target.count(other.get()), 1);
    }

    void everyLockVariant_data()
    {
        QTest::addColumn<quint16>("heldElsewhere");
        QTest::addColumn<quint16>("locked");
        QTest::newRow("plain combination held; Caps Lock on") << quint16(0) << kLock;
        QTest::newRow("Caps and Num Lock variant held; Num Lock on") << quint16(kLock | kMod2) << kMod2;
        QTest::newRow("Scroll Lock variant held; Scroll Lock on") << kMod3 << kMod3;
        QTest::newRow("all three held; all on") << quint16(kLock | kMod2 | kMod3) << quint16(kLock | kMod2 | kMod3);
    }

    // Grabbed with every combination of the locks, so that it fires whatever locks are on; all of them or none:
    // a refused variant rolls the others back.
    void everyLockVariant()
    {
        QFETCH(quint16, heldElsewhere);
        QFETCH(quint16, locked);
        QVERIFY(user.grabKey(kKeyK, kMod4 | heldElsewhere));
        QCOMPARE(source->registerHotKey(40, 0x100, {}).status, systemhotkeys::eventHotKeyExistsErr);
        user.ungrabKey(kKeyK, kMod4 | heldElsewhere);
        QCOMPARE(variantsHeld(), 0);
        const auto key = registered(kCommandK);
        QCOMPARE(variantsHeld(), 8);
        xcb_xkb_latch_lock_state(user.c(), XCB_XKB_ID_USE_CORE_KBD, locked, locked, 0, 0, 0, 0, 0);
        user.typeX(kKeyK, KeyCodeTable::CommandKey);
        QCOMPARE(presses(key), 1);
        center->unregisterHotKey(key);
        QCOMPARE(variantsHeld(), 0);
        QVERIFY(center->registerHotKey(key));
    }

    // Num Lock moves from Mod2 to Mod5: the grabs follow the new modifier. The key is held there: one press,
    // however often the server repeats it.
    void grabsFollowModifierMapChange()
    {
        const auto [delay, interval] = user.repeatTiming();
        QVERIFY(delay && source->hasDetectableAutoRepeat());
        const auto key = registered(kCommandK);
        QSignalSpy renewed(source.get(), &X11HotKeyEventSource::grabsRenewed);
        QVERIFY(user.setModifierMap(XUser::movedKey(scrollLockMap, kNumLockKey, kMod5Row)));
        QVERIFY(renewed.wait());
        user.typeX(kNumLockKey);
        QCOMPARE(user.lockedModifiers(), quint8(kMod5));
        user.typeX(kKeyK, KeyCodeTable::CommandKey, delay + 4 * interval);
        QCOMPARE(presses(key), 1);
        center->unregisterHotKey(key);
        QCOMPARE(variantsHeld(), 0); // the old Mod2 variants too
    }

    // Without a server, or once it is gone, registrations fail.
    void withoutServerEveryRegistrationFails()
    {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^No X display"_s));
        X11HotKeyEventSource offline(":65535");
        QCOMPARE(offline.registerHotKey(40, 0x100, {}).status, systemhotkeys::eventInternalErr);
        PrivateXServer server;
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));
        X11HotKeyEventSource doomed(server.display().toLatin1());
        QCOMPARE(doomed.registerHotKey(40, 0x100, {}).status, systemhotkeys::noErr);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Lost the connection to the X server"_s));
        server.stop();
        QTRY_VERIFY(!doomed.isConnected());
        QCOMPARE(doomed.registerHotKey(41, 0x100, {}).status, systemhotkeys::eventInternalErr);
    }
};

QTEST_GUILESS_MAIN(TestX11HotKeys)
#include "tst_x11hotkeys.moc"
