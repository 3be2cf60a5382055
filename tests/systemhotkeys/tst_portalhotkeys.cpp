// Hot keys in a Wayland session: the process's hot key center over the desktop portal's global shortcuts,
// against the real portal frontend on a bus of the test's own with the portal double as the desktop.

#include "Bus.h"
#include "Doubles.h"
#include "PortalDouble.h"

#include "PTHotKeyCenter.h"
#include "PTKeyCodeTranslator.h"
#include "PortalHotKeyEventSource.h"
#include "SessionHotKeyEventSource.h"
#include "ShortcutTrigger.h"

#include <QSignalSpy>

using namespace Qt::StringLiterals;
using namespace testsupport;
using namespace systemhotkeys;

namespace {

const PTKeyCombo kControlOptionK(40, 0x1800), kCommandJ(38, 0x100);

} // namespace

class TestPortalHotKeys : public QObject
{
    Q_OBJECT

private:
    PrivateBus bus;
    TestPortal portal;
    HotKeyTarget target;
    const std::shared_ptr<PTHotKey> toggle = makeHotKey(u"toggle"_s, kControlOptionK, &target);
    const std::shared_ptr<PTHotKey> other = makeHotKey(u"other"_s, kCommandJ, &target);

private Q_SLOTS:
    void initTestCase()
    {
        // A Wayland session; the layout from the default keymap, not from an X server.
        qputenv("WAYLAND_DISPLAY", "wayland-quillvane-test");
        qunsetenv("DISPLAY");
        QString error;
        QVERIFY2(bus.start(&error, busConfigFile()), qPrintable(error));
        QVERIFY2(portal.start(bus.address(), &error), qPrintable(error));
    }

    void cleanup()
    {
        PTHotKeyCenter::sharedCenter()->unregisterAllHotKeys();
        // A session left open would carry over into the next test.
        QTRY_COMPARE(portal.backend.sessionsOpen, 0);
        portal.backend.reset();
        target.names.clear();
    }

    // The modifiers in a fixed order, then the keysym at the key's position.
    void triggerNamesTheKeyOfTheLayout()
    {
        const auto german = PTKeyCodeTranslator::keyboardLayoutWithNames(u"de"_s);
        QCOMPARE(shortcutTrigger(40, 0x1b00), u"CTRL+ALT+SHIFT+LOGO+k"_s);
        QCOMPARE(shortcutTrigger(41, 0x200, german.keymap.get()), u"SHIFT+odiaeresis"_s);
        QCOMPARE(shortcutTrigger(49, 0x8000), u"space"_s); // the function key bit is no modifier
        QCOMPARE(shortcutTrigger(52, 0x1000), QString()); // no key at the code
    }

    // One session for the set, bound again as a whole after every change, closed after the last hot key; the
    // desktop may bind other triggers.
    void bindsDispatchesAndRebinds()
    {
        GlobalShortcutsBackend &desktop = portal.backend;
        PTHotKeyCenter *center = PTHotKeyCenter::sharedCenter();
        const auto source = std::dynamic_pointer_cast<PortalHotKeyEventSource>(sessionHotKeyEventSource());
        QVERIFY(source);
        QSignalSpy changed(source.get(), &PortalHotKeyEventSource::bindingsChanged);
        desktop.picked.insert(u"other"_s, QString()); // the user gives it no trigger in the desktop's dialog

        QVERIFY(center->registerHotKey(toggle));
        QTRY_COMPARE(desktop.lastBind(), QStringList{"toggle CTRL+ALT+k"});
        QVERIFY2(desktop.idOf("toggle").startsWith("PTHk-"), qPrintable(desktop.idOf("toggle")));
        QTRY_COMPARE(source->boundTrigger(toggle->carbonHotKey()), u"CTRL+ALT+k"_s);
        QVERIFY(center->registerHotKey(other));
        QTRY_COMPARE(desktop.lastBind(), (QStringList{"toggle CTRL+ALT+k", "other LOGO+j"}));
        QTRY_COMPARE(changed.size(), 2); // other, bound to nothing
        QCOMPARE(desktop.sessionsCreated, 1);
        // Later the user picks another trigger in the desktop's settings.
        desktop.changeTrigger(desktop.idOf("toggle"), u"Meta+H"_s);
        QTRY_COMPARE(source->boundTrigger(toggle->carbonHotKey()), u"Meta+H"_s);

        // Signals of one sender arrive in order.
        desktop.activate(desktop.idOf("toggle"));
        desktop.deactivate(desktop.idOf("toggle"));
        desktop.activate(desktop.idOf("other"));
        QTRY_COMPARE(target.names, (QStringList{"toggle", "other"}));

        center->unregisterHotKey(toggle);
        QTRY_COMPARE(desktop.lastBind(), QStringList{"other LOGO+j"});
        QVERIFY(desktop.closedSessions.isEmpty());
        center->unregisterHotKey(other);
        QTRY_COMPARE(desktop.closedSessions.size(), 1);
        QCOMPARE(desktop.binds.size(), 3);
    }

    void silentPortalLeavesTheHotKeyPending()
    {
        portal.backend.silent = true;
        PTHotKeyCenter center(std::make_shared<PortalHotKeyEventSource>(QDBusConnection::sessionBus()));
        QVERIFY(center.registerHotKey(toggle)); // answered before the desktop is even asked
        QCOMPARE(portal.backend.sessionsCreated, 0);
        QTRY_COMPARE(portal.backend.sessionsCreated, 1);
        center.unregisterHotKey(toggle);
    }

    void withoutGlobalShortcutsRegistrationFails_data()
    {
        QTest::addColumn<bool>("portalRuns");
        QTest::newRow("no portal on the bus") << false;
        QTest::newRow("a portal without global shortcuts") << true;
    }

    // Registrations fail, and the log says why once.
    void withoutGlobalShortcutsRegistrationFails()
    {
        QFETCH(bool, portalRuns);
        PrivateBus otherBus;
        TestPortal otherPortal;
        QString error;
        QVERIFY2(otherBus.start(&error, busConfigFile()), qPrintable(error));
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
        if (portalRuns)
            QVERIFY2(otherPortal.start(otherBus.address(), &error, false), qPrintable(error));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"cannot be registered"_s));
        QTest::failOnWarning(QRegularExpression(u"cannot be registered"_s));
        PTHotKeyCenter center(std::make_shared<PortalHotKeyEventSource>(
            QDBusConnection::connectToBus(otherBus.address(), QString::fromLatin1(QTest::currentDataTag()))));
        QVERIFY(!center.registerHotKey(toggle) && !center.registerHotKey(other));
    }
};

QTEST_GUILESS_MAIN(TestPortalHotKeys)
#include "tst_portalhotkeys.moc"
