// Hot keys in a Wayland session: the process's hot key center over the
// desktop portal's global shortcuts, against the real portal frontend on a
// bus of the test's own with a backend of the test's own as the desktop.

#include "tests/cursorapp/TestSession.h"
#include "tests/hotkeys/HotKeyTarget.h"
#include "PortalDouble.h"

#include "PTHotKeyCenter.h"
#include "PTKeyCodeTranslator.h"
#include "PortalHotKeyEventSource.h"
#include "SessionHotKeyEventSource.h"
#include "ShortcutTrigger.h"

#include <QRegularExpression>
#include <QTest>

using namespace testsupport;
using systemhotkeys::PortalHotKeyEventSource;

namespace {

// The lines of the portal source's log category.
QStringList *s_log = nullptr;
QtMessageHandler s_previousHandler = nullptr;

void collectLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (s_log && qstrcmp(context.category, "quillvane.systemhotkeys.portal") == 0)
        s_log->append(QString::fromLatin1(type == QtWarningMsg ? "warning: " : "info: ") + message);
    s_previousHandler(type, context, message);
}

std::shared_ptr<PortalHotKeyEventSource> sessionPortal()
{
    return std::dynamic_pointer_cast<PortalHotKeyEventSource>(systemhotkeys::sessionHotKeyEventSource());
}

} // namespace

class TestPortalHotKeys : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void triggerNamesTheKeyOfTheLayout_data();
    void triggerNamesTheKeyOfTheLayout();
    void bindsDispatchesAndRebinds();
    void userPicksAnotherTrigger_data();
    void userPicksAnotherTrigger();
    void silentPortalLeavesTheHotKeyPending();
    void withoutGlobalShortcutsRegistrationFails_data();
    void withoutGlobalShortcutsRegistrationFails();

private:
    std::shared_ptr<PTHotKey> hotKey(const QString &name, const PTKeyCombo &combo)
    {
        auto hotKey = std::make_shared<PTHotKey>();
        hotKey->setName(name);
        hotKey->setKeyCombo(combo);
        hotKey->setTarget(&m_target);
        hotKey->setAction("hotKeyPressed");
        return hotKey;
    }
    int logged(const QString &text) const { return int(m_log.filter(text).size()); }

    testsession::PrivateBus m_bus;
    TestPortal m_portal;
    HotKeyTarget m_target;
    QStringList m_log;
};

void TestPortalHotKeys::initTestCase()
{
    // A Wayland session, the layout from the default keymap rather than from
    // the shared X server, which other tests change.
    qputenv("WAYLAND_DISPLAY", "wayland-quillvane-test");
    qunsetenv("DISPLAY");
    QString error;
    QVERIFY2(m_bus.start(true, &error, busConfigFile()), qPrintable(error));
    QVERIFY2(m_portal.start(m_bus.address(), &error), qPrintable(error));
    s_log = &m_log;
    s_previousHandler = qInstallMessageHandler(collectLog);
}

void TestPortalHotKeys::cleanup()
{
    PTHotKeyCenter::sharedCenter()->unregisterAllHotKeys();
    // A session left open would carry over into the next test.
    QTRY_COMPARE(m_portal.backend.sessionsOpen, 0);
    m_portal.backend.reset();
    m_target.pressed.clear();
    m_target.names.clear();
    m_log.clear();
}

void TestPortalHotKeys::cleanupTestCase()
{
    qInstallMessageHandler(s_previousHandler);
    s_log = nullptr;
}

void TestPortalHotKeys::triggerNamesTheKeyOfTheLayout_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("keyCode");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("trigger");

    QTest::newRow("letters by their lower-case keysym") << "us" << 40 << 0x1800 << "CTRL+ALT+k";
    QTest::newRow("all modifiers in a fixed order") << "us" << 40 << 0x1b00 << "CTRL+ALT+SHIFT+LOGO+k";
    QTest::newRow("function keys by name") << "us" << 122 << 0x100 << "LOGO+F1";
    QTest::newRow("the key at the position in the layout") << "de" << 16 << 0x1000 << "CTRL+z";
    QTest::newRow("keys beyond ASCII by keysym name") << "de" << 41 << 0x200 << "SHIFT+odiaeresis";
    QTest::newRow("the function key bit is no modifier") << "us" << 49 << 0x8000 << "space";
    QTest::newRow("no key at the code, no trigger") << "us" << 52 << 0x1000 << "";
}

void TestPortalHotKeys::triggerNamesTheKeyOfTheLayout()
{
    QFETCH(QString, layout);
    QFETCH(int, keyCode);
    QFETCH(int, modifiers);
    QFETCH(QString, trigger);

    const auto keyboardLayout = PTKeyCodeTranslator::keyboardLayoutWithNames(layout);
    QVERIFY(keyboardLayout.keymap);
    QCOMPARE(systemhotkeys::shortcutTrigger(quint32(keyCode), quint32(modifiers), keyboardLayout.keymap.get()),
             trigger);
}

void TestPortalHotKeys::bindsDispatchesAndRebinds()
{
    GlobalShortcutsBackend &desktop = m_portal.backend;
    PTHotKeyCenter *center = PTHotKeyCenter::sharedCenter();
    QVERIFY(sessionPortal());
    const auto toggle = hotKey(QStringLiteral("toggle"), PTKeyCombo(40, 0x1800));
    const auto other = hotKey(QStringLiteral("other"), PTKeyCombo(38, 0x100));

    QVERIFY(center->registerHotKey(toggle));
    QTRY_COMPARE(desktop.lastBind(), QStringList{"toggle CTRL+ALT+k"});
    QVERIFY2(QRegularExpression(QStringLiteral("^PTHk-\\d+$")).match(desktop.idOf("toggle")).hasMatch(),
             qPrintable(desktop.idOf("toggle")));
    QTRY_COMPARE(logged(QStringLiteral("toggle is bound to CTRL+ALT+k")), 1);

    QVERIFY(center->registerHotKey(other));
    QTRY_COMPARE(desktop.lastBind(), (QStringList{"toggle CTRL+ALT+k", "other LOGO+j"}));
    QCOMPARE(desktop.sessionsCreated, 1);

    // Signals of one sender arrive in order: once "other" is through, so is
    // everything before it.
    desktop.activate(desktop.idOf("toggle"));
    desktop.deactivate(desktop.idOf("toggle"));
    desktop.activate(desktop.idOf("other"));
    QTRY_COMPARE(m_target.names, (QStringList{"toggle", "other"}));

    center->unregisterHotKey(toggle);
    QTRY_COMPARE(desktop.lastBind(), QStringList{"other LOGO+j"});
    QCOMPARE(desktop.closedSessions, QStringList());
    center->unregisterHotKey(other);
    QTRY_COMPARE(desktop.closedSessions.size(), 1);
    QCOMPARE(desktop.binds.size(), 3);
}

void TestPortalHotKeys::userPicksAnotherTrigger_data()
{
    QTest::addColumn<bool>("inTheDialog"); // else later, in the desktop's settings
    QTest::addColumn<QString>("picked");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("another trigger in the dialog") << true << "Meta+H" << "info: Hot key toggle is bound to Meta+H";
    QTest::newRow("no trigger in the dialog") << true << "" << "warning: Hot key toggle is bound to no trigger";
    QTest::newRow("another trigger in the settings") << false << "Meta+H"
                                                     << "info: Hot key toggle is bound to Meta+H";
}

void TestPortalHotKeys::userPicksAnotherTrigger()
{
    QFETCH(bool, inTheDialog);
    QFETCH(QString, picked);
    QFETCH(QString, logLine);

    GlobalShortcutsBackend &desktop = m_portal.backend;
    const auto portal = sessionPortal();
    QVERIFY(portal);
    const auto toggle = hotKey(QStringLiteral("toggle"), PTKeyCombo(40, 0x1800));
    if (inTheDialog)
        desktop.picked.insert(QStringLiteral("toggle"), picked);
    QVERIFY(PTHotKeyCenter::sharedCenter()->registerHotKey(toggle));
    if (!inTheDialog) {
        QTRY_COMPARE(portal->boundTrigger(toggle->carbonHotKey()), QStringLiteral("CTRL+ALT+k"));
        desktop.changeTrigger(desktop.idOf("toggle"), picked);
    }
    QTRY_COMPARE(logged(logLine), 1);
    QCOMPARE(portal->boundTrigger(toggle->carbonHotKey()), picked);
}

void TestPortalHotKeys::silentPortalLeavesTheHotKeyPending()
{
    m_portal.backend.silent = true;
    PTHotKeyCenter center(std::make_shared<PortalHotKeyEventSource>(QDBusConnection::sessionBus()));
    const auto toggle = hotKey(QStringLiteral("toggle"), PTKeyCombo(40, 0x1800));
    // Answered before the desktop is even asked.
    QVERIFY(center.registerHotKey(toggle));
    QCOMPARE(m_portal.backend.sessionsCreated, 0);
    QTRY_COMPARE(m_portal.backend.sessionsCreated, 1);
    QCOMPARE(logged(QStringLiteral("pending until the desktop answers")), 1);
    center.unregisterHotKey(toggle);
}

void TestPortalHotKeys::withoutGlobalShortcutsRegistrationFails_data()
{
    QTest::addColumn<bool>("portal");
    QTest::addColumn<QString>("reason");

    QTest::newRow("no portal on the bus") << false << "no desktop portal";
    QTest::newRow("a portal without global shortcuts") << true << "does not offer global shortcuts";
}

void TestPortalHotKeys::withoutGlobalShortcutsRegistrationFails()
{
    QFETCH(bool, portal);
    QFETCH(QString, reason);

    testsession::PrivateBus otherBus;
    QString error;
    QVERIFY2(otherBus.start(false, &error, busConfigFile()), qPrintable(error));
    TestPortal otherPortal;
    if (portal)
        QVERIFY2(otherPortal.start(otherBus.address(), &error, false), qPrintable(error));
    const QString connection = QStringLiteral("without global shortcuts");
    auto disconnect = qScopeGuard([&] { QDBusConnection::disconnectFromBus(connection); });
    {
        PTHotKeyCenter center(std::make_shared<PortalHotKeyEventSource>(
            QDBusConnection::connectToBus(otherBus.address(), connection)));
        QVERIFY(!center.registerHotKey(hotKey(QStringLiteral("toggle"), PTKeyCombo(40, 0x1800))));
        QVERIFY(!center.registerHotKey(hotKey(QStringLiteral("other"), PTKeyCombo(38, 0x100))));
    }
    // Said once, with the reason.
    QCOMPARE(m_log.size(), 1);
    QVERIFY2(m_log.constFirst().startsWith(QLatin1String("warning: ")) && m_log.constFirst().contains(reason),
             qPrintable(m_log.constFirst()));
}

QTEST_GUILESS_MAIN(TestPortalHotKeys)
#include "tst_portalhotkeys.moc"
