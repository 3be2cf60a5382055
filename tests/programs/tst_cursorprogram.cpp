// The cursor program run whole on a bus and a two-screen X server of the test's own, judged by the bus and by
// the pointer that the server draws on its screens.

#include "Bus.h"
#include "Files.h"
#include "PortalDouble.h"
#include "Processes.h"
#include "QuillvaneSettings.h"
#include "XServer.h"
#include "XUser.h"

#include <QTemporaryDir>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace testsupport;

namespace {

constexpr qint32 kK = 40, kJ = 38, kOption = 58, kControl = 59, kControlOption = 0x1800;
constexpr int kShownPixels = 20; // the arrow has well over this many
const QString kProgram = QStringLiteral(QUILLVANE_APP_EXECUTABLE);

QVariantMap stored(bool autoShow, double idleHide, qint32 keyCode = kK, bool hideWhileTyping = false)
{
    return {{u"autoShow"_s, autoShow}, {u"idleHide"_s, idleHide}, {u"hideWhileTyping"_s, hideWhileTyping},
            {u"toggleCursorHotKey"_s,
             QVariantMap{{u"keyCode"_s, qint64(keyCode)}, {u"modifiers"_s, qint64(kControlOption)}}}};
}

} // namespace

class TestCursorProgram : public QObject, protected QDBusContext
{
    Q_OBJECT

public Q_SLOTS:
    // What the program running now announces (not late ones of one ended before).
    void propertiesChanged(const QString &, const QVariantMap &changed, const QStringList &)
    {
        for (auto it = changed.cbegin(); it != changed.cend() && message().service() == m_sender; ++it)
            m_announced[it.key()] << it.value();
    }

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void busPropertiesFollowTheSettings();
    void commandLine();
    void reachFollowsTheSession_data();
    void reachFollowsTheSession();
    void idleHideAndMovement();
    void hotKeyClicksAndScrolls();
    void typing();
    void twoScreensAndTheKilledProgram();
    void hotKeyThroughThePortal();
    void bothProgramsEndWithTheXServer();
    void endsWithItsBus(); // last: it takes the test's bus away

private:
    QProcessEnvironment environment(const QString &display = {}, const QString &wayland = {}) const
    {
        return environmentWith({{u"XDG_CONFIG_HOME"_s, m_config.path()}, {u"DISPLAY"_s, display},
                                {u"WAYLAND_DISPLAY"_s, wayland}, {u"XDG_SESSION_TYPE"_s, {}}});
    }
    bool store(const QVariantMap &values) const
    {
        const QString file = settingsFile(m_config.path(), QuillvaneSettings::Domain);
        return writeFile(file, settings::PropertyList::toXml(values));
    }
    QProcess *start(const QVariantMap &values, const QProcessEnvironment &environment);
    QProcess *start(const QVariantMap &values) { return start(values, environment(m_x.display())); }
    QDBusMessage call(const QString &method, QDBus::CallMode mode = QDBus::Block)
    {
        return QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(cursorBusName(), dbuslink::ObjectPath, dbuslink::Interface, method), mode);
    }
    int pixels(int screen) const { return m_x.countPixels({XUser::CursorForeground, XUser::CursorBackground}, screen); }
    // As the program says (once it has handled what came before) and the screen shows.
    bool isHidden(int screen = 0) { return cursorProperty(u"Hidden"_s).toBool() && pixels(screen) == 0; }
    bool isShown(int screen = 0) { return !cursorProperty(u"Hidden"_s).toBool() && pixels(screen) >= kShownPixels; }
    bool staysHidden(int ms, int screen = 0) { return !QTest::qWaitFor([&] { return !isHidden(screen); }, ms); }
    bool staysShown(int ms) { return !QTest::qWaitFor([&] { return !isShown(); }, ms); }

    PrivateBus m_bus;
    PrivateXServer m_x;
    std::unique_ptr<XUser> m_user;
    QTemporaryDir m_config;
    QString m_sender; // the program's unique name on the bus
    QHash<QString, QVariantList> m_announced;
    Children m_children;
};

void TestCursorProgram::initTestCase()
{
    QString error;
    QVERIFY2(m_bus.start(&error, busConfigFile()), qPrintable(error));
    QVERIFY2(m_x.start(&error, 2), qPrintable(error));
    m_user = std::make_unique<XUser>(m_x.display());
    QVERIFY(m_user->isValid() && m_config.isValid());
    m_user->giveRootACursor();
    QVERIFY(QDBusConnection::sessionBus().connect({}, dbuslink::ObjectPath, u"org.freedesktop.DBus.Properties"_s,
                                                  u"PropertiesChanged"_s, this,
                                                  SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
}

void TestCursorProgram::cleanup()
{
    m_children.endAll();
    QTRY_VERIFY(!nameHasOwner(cursorBusName()));
    m_sender.clear(), m_announced.clear();
    m_user->button(1, false);
    m_user->warpTo(100, 100, 0);
    QTRY_VERIFY(isShown());
}

QProcess *TestCursorProgram::start(const QVariantMap &values, const QProcessEnvironment &environment)
{
    QProcess *program = store(values) ? m_children.start(kProgram, {}, environment) : nullptr;
    const auto serving = [&] { return nameOwnerPid(cursorBusName()) == pid_t(program->processId()); };
    if (!program || !QTest::qWaitFor(serving, 10000))
        return nullptr;
    m_sender = QDBusConnection::sessionBus().interface()->serviceOwner(cursorBusName());
    return program;
}

void TestCursorProgram::busPropertiesFollowTheSettings()
{
    QVERIFY(writeFile(m_config.filePath(u"autostart/org.quillvane.Quillvane.desktop"_s),
                      "[Desktop Entry]\nType=Application\nName=Quillvane\nExec=" QUILLVANE_APP_EXECUTABLE
                      "\nX-Quillvane-Hidden=true\n"));
    QProcess *program = start(stored(true, 12.5, kJ, true));
    QVERIFY(program);
    const auto compareProperties = [](const QVariantMap &expected) {
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            QCOMPARE_VALUE(cursorProperty(it.key()), it.value());
    };
    compareProperties({{u"AutoShow"_s, true}, {u"IdleHide"_s, 12.5}, {u"HideWhileTyping"_s, true},
                       {u"ToggleCursorHotKey"_s, QVariantMap{{u"keyCode"_s, kJ}, {u"modifiers"_s, kControlOption}}},
                       {u"ToggleCursorHotKeyTrigger"_s, QString()}, {u"Hidden"_s, false}, {u"LoginItemHidden"_s, true},
                       {u"PointerReach"_s, u"everywhere"_s}});

    // A second copy leaves at once, before it reaches for the hot key.
    const Run second = Children::run(kProgram, {}, environment(m_x.display()), 10000);
    QVERIFY2(second.finished && second.exitCode == 0, qPrintable(second.output));
    QCOMPARE(nameOwnerPid(cursorBusName()), pid_t(program->processId()));

    // Another process stores new settings and says so: the program applies them.
    QVERIFY(store(stored(false, 35, kK)));
    call(dbuslink::ReadPrefsMethod, QDBus::NoBlock);
    compareProperties({{u"AutoShow"_s, false}, {u"IdleHide"_s, 35.0}, {u"HideWhileTyping"_s, false}});
    QVERIFY2(!m_user->hotKeyIsHeldElsewhere(kJ, kControlOption), "the old hot key is still held");
    m_user->type(kJ);
    QVERIFY2(staysShown(400), "typing hid the pointer with the setting off");
    QTRY_COMPARE(m_announced.value(u"IdleHide"_s), QVariantList{35.0});
    m_user->type(kK, kControlOption);
    QTRY_COMPARE(m_announced.value(u"Hidden"_s), QVariantList{true});
    m_user->moveTo(300, 200);
    QVERIFY2(staysHidden(400), "with autoShow off, movement showed a pointer hidden on request");
}

void TestCursorProgram::commandLine()
{
    // Nothing is started: --quit finds nothing to end.
    const std::pair<QString, int> runs[] = {{u"--help"_s, 0}, {u"--version"_s, 0}, {u"--quit"_s, 1}};
    for (const auto &[option, exitCode] : runs) {
        const Run run = Children::run(kProgram, {option}, environment(m_x.display()), 10000);
        QVERIFY2(run.finished && run.exitCode == exitCode && !run.output.isEmpty(), qPrintable(option + run.output));
    }
    QVERIFY(!nameHasOwner(cursorBusName()));
}

void TestCursorProgram::reachFollowsTheSession_data()
{
    QTest::addColumn<QString>("display"); // "x": the test's X server
    QTest::addColumn<bool>("wayland");
    QTest::addColumn<QString>("reach");

    QTest::newRow("X11 session") << "x" << false << "everywhere";
    QTest::newRow("Wayland session with XWayland") << "x" << true << "x11-windows-only";
    QTest::newRow("Wayland session without XWayland") << "" << true << "nowhere";
    QTest::newRow("no display") << "" << false << "nowhere";
    QTest::newRow("a display that nobody serves") << ":4711" << false << "nowhere";
}

void TestCursorProgram::reachFollowsTheSession()
{
    QFETCH(QString, display);
    QFETCH(bool, wayland);
    QFETCH(QString, reach);

    const QProcessEnvironment environment =
        this->environment(display == "x"_L1 ? m_x.display() : display, wayland ? u"wayland-0"_s : QString());
    QProcess *program = start(stored(true, 0), environment);
    QVERIFY(program);
    QCOMPARE(cursorProperty(u"PointerReach"_s).toString(), reach);
    QVERIFY(!cursorProperty(u"PointerReachReason"_s).toString().isEmpty());
    // Without a display it still serves the settings; the pointer it cannot hide.
    QCOMPARE(call(u"Toggle"_s).errorName(), reach == "nowhere"_L1 ? QString(dbuslink::NoDisplayError) : QString());
    QCOMPARE(cursorProperty(u"Hidden"_s), QVariant(reach != "nowhere"_L1));

    const Run quit = Children::run(kProgram, {u"--quit"_s}, environment, 10000);
    QCOMPARE(quit.exitCode, 0);
    QVERIFY2(program->waitForFinished(5000), "Quit leaves the program running");
    QCOMPARE(program->exitStatus(), QProcess::NormalExit);
    QCOMPARE(program->exitCode(), 0);
}

void TestCursorProgram::idleHideAndMovement()
{
    m_user->button(1, true);
    QVERIFY(start(stored(true, 0.3)));
    QVERIFY2(staysShown(1000), "the pointer hid while a button was held");
    m_user->button(1, false);
    QTRY_VERIFY(isHidden());

    // Movement shows it; a pointer that darts away and back between two looks has moved.
    QTimer darting;
    connect(&darting, &QTimer::timeout, this, [this] { m_user->moveTo(300, 100), m_user->moveTo(100, 100); });
    darting.start(50);
    QTRY_VERIFY(isShown());
    QVERIFY2(staysShown(1500), "the pointer hid while it moved");
    darting.stop();
    QTRY_VERIFY(isHidden());
}

void TestCursorProgram::hotKeyClicksAndScrolls()
{
    QVERIFY(m_user->grabHotKey(kK, kControlOption));
    QVERIFY(start(stored(true, 0)));
    m_user->type(kK, kControlOption); // reaches the holder only
    m_user->ungrabHotKey(kK, kControlOption);
    QTRY_VERIFY_WITH_TIMEOUT(m_user->hotKeyIsHeldElsewhere(kK, kControlOption), 10000); // tried again by the timer
    m_user->type(kK, kControlOption);
    QTRY_VERIFY(isHidden());
    m_user->moveTo(102, 101); // within the jitter radius
    for (const quint8 wheel : {4, 5, 6, 7})
        m_user->button(wheel, true), m_user->button(wheel, false);
    QVERIFY2(staysHidden(600), "jitter or scrolling showed the pointer");
    m_user->button(8, true), m_user->button(8, false);
    QTRY_VERIFY(isShown());

    // Hides and shows stay balanced with the server: one Show undoes two Hides.
    for (const QString &method : {u"Hide"_s, u"Hide"_s, u"Show"_s})
        QCOMPARE(call(method).type(), QDBusMessage::ReplyMessage);
    QTRY_VERIFY(isShown());
    QCOMPARE(call(u"Toggle"_s).type(), QDBusMessage::ReplyMessage);
    QTRY_VERIFY(isHidden());
    m_user->button(1, true), m_user->button(1, false);
    QTRY_VERIFY(isShown());
    QTRY_COMPARE(m_announced.value(u"Hidden"_s), (QVariantList{true, false, true, false, true, false}));
}

void TestCursorProgram::typing()
{
    QVERIFY(start(stored(false, 0, kK, true)));
    m_user->type(kControl), m_user->type(kOption);
    QVERIFY2(staysShown(400), "a modifier alone hid the pointer");
    m_user->type(kK); // the hot key's letter alone is typing, whatever was held before
    QTRY_VERIFY(isHidden());
    m_user->moveTo(300, 200);
    QTRY_VERIFY(isShown());
    m_user->type(kK, kControlOption); // hides once, not counted as typing as well
    QTRY_VERIFY(isHidden());
    m_user->type(kK, kControlOption);
    QTRY_VERIFY(isShown());
    m_user->type(kJ);
    QTRY_VERIFY(isHidden());
    QTRY_COMPARE(m_announced.value(u"Hidden"_s), (QVariantList{true, false, true, false, true}));
}

// The server draws the pointer on the screen whose hide or show came last: shown again, it is shown where it
// is, and a program killed while it is hidden leaves it visible there.
void TestCursorProgram::twoScreensAndTheKilledProgram()
{
    QProcess *program = start(stored(false, 0));
    QVERIFY(program);
    m_user->type(kK, kControlOption);
    QTRY_VERIFY(isHidden(0));
    m_user->warpTo(200, 200, 1); // drawn there at once, until the hide follows
    QTRY_VERIFY2(isHidden(1), "the pointer shows on the screen it went to");
    QCOMPARE(call(u"Show"_s).type(), QDBusMessage::ReplyMessage);
    QTRY_VERIFY(isShown(1));
    QCOMPARE(pixels(0), 0);

    QCOMPARE(call(u"Hide"_s).type(), QDBusMessage::ReplyMessage);
    QTRY_VERIFY(isHidden(1));
    m_user->warpTo(100, 100, 0);
    QTRY_VERIFY2(isHidden(0), "the pointer shows on the screen it went to");
    program->kill();
    QTRY_VERIFY2(isShown(0), "the killed program leaves the pointer hidden");
    QCOMPARE(pixels(1), 0);
}

// In a Wayland session the desktop binds the hot key; the program asks it for the stored one and shows what the
// user picked instead.
void TestCursorProgram::hotKeyThroughThePortal()
{
    TestPortal portal;
    QString error;
    QVERIFY2(portal.start(m_bus.address(), &error), qPrintable(error));
    portal.backend.picked.insert(u"toggleCursorHotKey"_s, u"Meta+H"_s);
    QVERIFY(start(stored(false, 0), environment(m_x.display(), u"wayland-0"_s)));
    QVERIFY2(!m_user->hotKeyIsHeldElsewhere(kK, kControlOption), "an X11 grab in a Wayland session");
    QTRY_COMPARE(portal.backend.lastBind(), QStringList{u"toggleCursorHotKey CTRL+ALT+k"_s});
    QTRY_COMPARE(cursorProperty(u"ToggleCursorHotKeyTrigger"_s), QVariant(u"Meta+H"_s));
    const QString id = portal.backend.idOf(u"toggleCursorHotKey"_s);
    portal.backend.activate(id);
    QTRY_VERIFY(isHidden());
    portal.backend.deactivate(id); // changes nothing
    portal.backend.changeTrigger(id, u"Ctrl+Alt+J"_s);
    QTRY_COMPARE(m_announced.value(u"ToggleCursorHotKeyTrigger"_s), (QVariantList{u"Meta+H"_s, u"Ctrl+Alt+J"_s}));
    QTRY_COMPARE(m_announced.value(u"Hidden"_s), QVariantList{true});
}

// Each ends by itself, without crashing.
void TestCursorProgram::bothProgramsEndWithTheXServer()
{
    PrivateXServer server;
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    QProcessEnvironment environment = this->environment(server.display());
    environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    QProcess *program = start(stored(true, 35), environment);
    QVERIFY(program);
    const QList<pid_t> ours{pid_t(program->processId())};
    QProcess *host = m_children.start(QStringLiteral(SETTINGS_HOST), {QStringLiteral(PANE_BUNDLE)}, environment);
    QVERIFY(host);
    const XUser user(server.display());
    QTRY_VERIFY_WITH_TIMEOUT(user.windowOf(host->processId()) || host->state() != QProcess::Running, 20000);
    QCOMPARE(host->state(), QProcess::Running);
    // The copy that the page launched has seen the name taken and left: it cannot take the name over once ours
    // is gone.
    QTRY_COMPARE_WITH_TIMEOUT(processesRunning(kProgram), ours, 20000);

    server.stop();
    QVERIFY2(host->waitForFinished(15000), "settings-host still runs without its X server");
    QVERIFY2(program->waitForFinished(15000), "the cursor program still runs without its X server");
    QCOMPARE(host->exitStatus(), QProcess::NormalExit);
    QCOMPARE(program->exitStatus(), QProcess::NormalExit);
    QCOMPARE(program->exitCode(), 1);
}

void TestCursorProgram::endsWithItsBus()
{
    QProcess *program = start(stored(true, 0));
    QVERIFY(program);
    m_bus.stop();
    QVERIFY2(program->waitForFinished(5000), "the cursor program outlives its session bus");
    QCOMPARE(program->exitStatus(), QProcess::NormalExit);
    QCOMPARE(program->exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestCursorProgram)
#include "tst_cursorprogram.moc"
