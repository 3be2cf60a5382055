// The cursor application hiding and showing the pointer on an X server of
// the test's own, judged as a user would judge it: by the pointer that the
// server draws on its screen.

#include "PropertyList.h"
#include "CursorLink.h"
#include "ServiceConnection.h"
#include "tests/cursorapp/TestSession.h"
#include "tests/cursorapp/XSession.h"
#include "PortalDouble.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <QTimer>

#include <chrono>
#include <memory>

#include <signal.h>

using namespace std::chrono_literals;
using namespace testsession;

namespace {

constexpr qint32 kK = 40;
constexpr qint32 kJ = 38;
constexpr quint32 kControlOption = 0x1800;
// The arrow of the cursor font has well over this many pixels in colour.
constexpr int kShownPixels = 20;

constexpr qint32 kShift = 56;
constexpr qint32 kControl = 59;

// Without HIDEWHILETYPING the file is one written before that setting existed.
QVariantMap storedSettings(bool autoShow, double idleHide, qint32 keyCode = kK,
                           std::optional<bool> hideWhileTyping = std::nullopt)
{
    QVariantMap stored{{QStringLiteral("autoShow"), autoShow},
                       {QStringLiteral("idleHide"), idleHide},
                       {QStringLiteral("toggleCursorHotKey"),
                        QVariantMap{{QStringLiteral("keyCode"), qint64(keyCode)},
                                    {QStringLiteral("modifiers"), qint64(kControlOption)}}}};
    if (hideWhileTyping)
        stored.insert(QStringLiteral("hideWhileTyping"), *hideWhileTyping);
    return stored;
}

} // namespace

// Every PropertiesChanged that the running cursor application announces;
// late ones of an application ended before do not count.
class PropertyLog : public QObject, protected QDBusContext
{
    Q_OBJECT

public:
    QString sender; // the unique bus name of the application, once it runs
    QList<QVariantMap> changes;

    QList<bool> hiddenValues() const
    {
        QList<bool> values;
        for (const QVariantMap &change : changes) {
            if (change.contains(QStringLiteral("Hidden")))
                values.append(change.value(QStringLiteral("Hidden")).toBool());
        }
        return values;
    }

public Q_SLOTS:
    void propertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &)
    {
        if (interface == QString(dbuslink::Interface) && message().service() == sender)
            changes.append(changed);
    }
};

class TestPointerHiding : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void requestsHideAndShow_data();
    void requestsHideAndShow();
    void hidesAfterIdleTime();
    void staysShownWhileAButtonIsHeld();
    void staysShownWhileMoving();
    void movementAfterHiding_data();
    void movementAfterHiding();
    void typing_data();
    void typing();
    void readPrefsSwitchesTheHotKey();
    void hotKeyHeldElsewhereWorksOnceLetGo();
    void waylandHotKeyGoesThroughThePortal();
    void silentPortalLeavesTheProgramResponsive();
    void pointerReturnsWhenKilled();
    void twoScreens_data();
    void twoScreens();
    void quitsWhenTheXServerGoes();
    void withoutDisplayServesSettingsOnly_data();
    void withoutDisplayServesSettingsOnly();
    void recordsTheHiddenLoginItem_data();
    void recordsTheHiddenLoginItem();

private:
    QProcessEnvironment environment() const;
    QProcess *startApp(const QVariantMap &stored, const QProcessEnvironment &environment, bool captureErrors = false);
    QProcess *startApp(const QVariantMap &stored) { return startApp(stored, environment()); }
    QProcessEnvironment waylandEnvironment() const;
    QDBusMessage call(const QString &method);
    QVariant property(const QString &name) { return cursorProperty(QDBusConnection::sessionBus(), name); }

    int cursorPixels(int screen = 0) const
    {
        return m_x->countPixels({xsession::User::CursorForeground, xsession::User::CursorBackground}, screen);
    }
    bool pointerShown() const { return cursorPixels() >= kShownPixels; }
    bool pointerHidden() const { return cursorPixels() == 0; }
    // Watches the screen for PERIOD; false as soon as the pointer shows.
    bool staysHidden(std::chrono::milliseconds period) const;
    bool staysShown(std::chrono::milliseconds period) const;

    PrivateBus m_bus;
    PropertyLog m_log;
    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<xsession::PrivateXServer> m_x;
    std::unique_ptr<xsession::User> m_user;
    Children m_children;
};

void TestPointerHiding::initTestCase()
{
    QString error;
    QVERIFY2(m_bus.start(true, &error, testsupport::busConfigFile()), qPrintable(error));
    QVERIFY(QDBusConnection::sessionBus().connect(
        QString(), QStringLiteral("/"), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"), &m_log, SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
}

void TestPointerHiding::init()
{
    m_log.sender.clear();
    m_log.changes.clear();
    m_config = std::make_unique<QTemporaryDir>();
    QVERIFY(m_config->isValid());

    m_x = std::make_unique<xsession::PrivateXServer>();
    QString error;
    QVERIFY2(m_x->start(&error), qPrintable(error));
    m_user = std::make_unique<xsession::User>(m_x->display());
    QVERIFY(m_user->isValid());
    m_user->giveRootACursor();
    m_user->moveTo(100, 100);
    QTRY_VERIFY2(pointerShown(), qPrintable(QStringLiteral("%1 pointer pixels").arg(cursorPixels())));
}

void TestPointerHiding::cleanup()
{
    m_children.killAll();
    // The next test's application must find the name free.
    QTRY_VERIFY(!nameHasOwner(QDBusConnection::sessionBus(), serverBusName()));
    m_user.reset();
    m_x.reset();
}

QProcessEnvironment TestPointerHiding::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config->path());
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_x->display()));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return environment;
}

// XWayland: the pointer can be hidden over X11 windows, hot keys come from
// the desktop.
QProcessEnvironment TestPointerHiding::waylandEnvironment() const
{
    QProcessEnvironment environment = this->environment();
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-quillvane-test"));
    return environment;
}

QProcess *TestPointerHiding::startApp(const QVariantMap &stored, const QProcessEnvironment &environment,
                                      bool captureErrors)
{
    QSaveFile file(m_config->filePath(QStringLiteral("org.quillvane.Quillvane.plist")));
    if (!file.open(QIODevice::WriteOnly) || file.write(settings::PropertyList::toXml(stored)) < 0 || !file.commit())
        return nullptr;
    QProcess *app = m_children.start(QStringLiteral(QUILLVANE_APP_EXECUTABLE), environment, captureErrors);
    const QDeadlineTimer deadline(10000);
    while (app && !nameHasOwner(QDBusConnection::sessionBus(), serverBusName())) {
        if (deadline.hasExpired() || app->state() != QProcess::Running)
            return nullptr;
        QTest::qWait(20);
    }
    if (app)
        m_log.sender = nameOwner(QDBusConnection::sessionBus(), serverBusName());
    return app;
}

QDBusMessage TestPointerHiding::call(const QString &method)
{
    return QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(serverBusName(), QStringLiteral("/"),
                                       QString(dbuslink::Interface), method),
        QDBus::Block, 5000);
}

bool TestPointerHiding::staysHidden(std::chrono::milliseconds period) const
{
    const QDeadlineTimer deadline(period);
    while (!deadline.hasExpired()) {
        if (!pointerHidden())
            return false;
        QTest::qWait(40);
    }
    return pointerHidden();
}

bool TestPointerHiding::staysShown(std::chrono::milliseconds period) const
{
    const QDeadlineTimer deadline(period);
    while (!deadline.hasExpired()) {
        if (!pointerShown())
            return false;
        QTest::qWait(40);
    }
    return pointerShown();
}

void TestPointerHiding::requestsHideAndShow_data()
{
    QTest::addColumn<QStringList>("requests"); // bus methods, or "key" for the hot key
    QTest::addColumn<QList<bool>>("announced");

    QTest::newRow("hot key hides") << QStringList{"key"} << QList<bool>{true};
    QTest::newRow("hot key again shows") << QStringList{"key", "key"} << QList<bool>{true, false};
    QTest::newRow("hot key shows what Hide hid") << QStringList{"Hide", "key"} << QList<bool>{true, false};
    QTest::newRow("Toggle hides") << QStringList{"Toggle"} << QList<bool>{true};
    QTest::newRow("Toggle again shows") << QStringList{"Toggle", "Toggle"} << QList<bool>{true, false};
    QTest::newRow("Hide then Show") << QStringList{"Hide", "Show"} << QList<bool>{true, false};
    QTest::newRow("Show of a shown pointer changes nothing") << QStringList{"Show", "Hide"} << QList<bool>{true};
    QTest::newRow("one Show undoes two Hides") << QStringList{"Hide", "Hide", "Show"} << QList<bool>{true, false};
}

void TestPointerHiding::requestsHideAndShow()
{
    QFETCH(QStringList, requests);
    QFETCH(QList<bool>, announced);

    QVERIFY(startApp(storedSettings(true, 0)));
    bool hiddenNow = false;
    for (const QString &request : std::as_const(requests)) {
        if (request == QLatin1String("key")) {
            m_user->typeHotKey(kK, kControlOption);
            // The next request only once this one is through.
            hiddenNow = !hiddenNow;
            QTRY_COMPARE(property(QStringLiteral("Hidden")).toBool(), hiddenNow);
        } else {
            hiddenNow = request == QLatin1String("Hide") || (request == QLatin1String("Toggle") && !hiddenNow);
            const QDBusMessage reply = call(request);
            QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
        }
    }
    const bool hidden = announced.constLast();
    QTRY_COMPARE(m_log.hiddenValues(), announced);
    QCOMPARE(property(QStringLiteral("Hidden")).toBool(), hidden);
    if (hidden)
        QTRY_VERIFY(pointerHidden());
    else
        QTRY_VERIFY(pointerShown());
}

void TestPointerHiding::hidesAfterIdleTime()
{
    QVERIFY(startApp(storedSettings(true, 0.3)));
    QTRY_VERIFY(pointerHidden());
    QCOMPARE(property(QStringLiteral("Hidden")), QVariant(true));

    m_user->moveTo(200, 150);
    QTRY_VERIFY(pointerShown());
    QTRY_VERIFY(pointerHidden());
    QTRY_COMPARE(m_log.hiddenValues(), (QList<bool>{true, false, true}));
}

void TestPointerHiding::staysShownWhileAButtonIsHeld()
{
    m_user->button(1, true);
    QVERIFY(startApp(storedSettings(true, 0.3)));
    QVERIFY2(staysShown(1s), "the pointer hid while a button was held");

    m_user->button(1, false);
    QTRY_VERIFY(pointerHidden());
}

// A pointer that darts away and back between two reads of its position
// still moves.
void TestPointerHiding::staysShownWhileMoving()
{
    QVERIFY(startApp(storedSettings(true, 1.0)));
    QTimer darting;
    connect(&darting, &QTimer::timeout, this, [this] {
        m_user->moveTo(300, 100);
        m_user->moveTo(100, 100);
    });
    darting.start(50);
    QVERIFY2(staysShown(2000ms), "the pointer hid while it moved");
    darting.stop();
    QTRY_VERIFY(pointerHidden());
}

void TestPointerHiding::movementAfterHiding_data()
{
    QTest::addColumn<bool>("autoShow");
    QTest::addColumn<QString>("hiddenBy"); // "key", "Hide" (over the bus), "idle" or "typing"
    QTest::addColumn<QString>("input");    // "move", "jitter", "scroll" or "click"
    QTest::addColumn<bool>("shows");

    QTest::newRow("autoShow on: movement shows a pointer hidden with the hot key") << true << "key" << "move" << true;
    QTest::newRow("autoShow off: a pointer hidden with the hot key stays hidden")
        << false << "key" << "move" << false;
    QTest::newRow("autoShow off: a pointer hidden over the bus stays hidden") << false << "Hide" << "move" << false;
    QTest::newRow("autoShow off: movement shows a pointer hidden for idleness") << false << "idle" << "move" << true;
    QTest::newRow("jitter is not movement") << true << "key" << "jitter" << false;
    QTest::newRow("scrolling is not movement") << true << "key" << "scroll" << false;
    QTest::newRow("scrolling does not end idleness") << true << "idle" << "scroll" << false;
    QTest::newRow("autoShow on: a click shows a pointer hidden with the hot key") << true << "key" << "click" << true;
    QTest::newRow("autoShow off: a click leaves a pointer hidden with the hot key")
        << false << "key" << "click" << false;
    QTest::newRow("a click ends idleness") << false << "idle" << "click" << true;
    QTest::newRow("autoShow off: movement shows a pointer hidden by typing") << false << "typing" << "move" << true;
    QTest::newRow("autoShow off: a click shows a pointer hidden by typing") << false << "typing" << "click" << true;
    QTest::newRow("scrolling does not show a pointer hidden by typing") << false << "typing" << "scroll" << false;
}

void TestPointerHiding::typing_data()
{
    QTest::addColumn<std::optional<bool>>("hideWhileTyping");
    QTest::addColumn<qint32>("key");
    QTest::addColumn<quint32>("modifiers");
    QTest::addColumn<bool>("hides");

    QTest::newRow("a typed letter hides") << std::optional(true) << kJ << 0u << true;
    QTest::newRow("Shift alone does not hide") << std::optional(true) << kShift << 0u << false;
    QTest::newRow("Control alone does not hide") << std::optional(true) << kControl << 0u << false;
    QTest::newRow("the hot key hides once, not counted as typing too") << std::optional(true) << kK
                                                                       << kControlOption << true;
    QTest::newRow("the hot key's letter typed alone hides") << std::optional(true) << kK << 0u << true;
    QTest::newRow("turned off: typing leaves it shown") << std::optional(false) << kJ << 0u << false;
    QTest::newRow("a file without the setting: typing leaves it shown") << std::optional<bool>() << kJ << 0u
                                                                       << false;
}

void TestPointerHiding::typing()
{
    QFETCH(std::optional<bool>, hideWhileTyping);
    QFETCH(qint32, key);
    QFETCH(quint32, modifiers);
    QFETCH(bool, hides);

    QVERIFY(startApp(storedSettings(false, 0, kK, hideWhileTyping)));
    QCOMPARE(property(QStringLiteral("HideWhileTyping")).toBool(), hideWhileTyping.value_or(false));
    m_user->typeHotKey(key, modifiers);
    if (hides) {
        QTRY_VERIFY(pointerHidden());
        QVERIFY2(staysHidden(300ms), "the pointer came back by itself");
        QTRY_COMPARE(m_log.hiddenValues(), QList<bool>{true});
    } else {
        QVERIFY2(staysShown(400ms), "the pointer hid");
    }
}

void TestPointerHiding::movementAfterHiding()
{
    QFETCH(bool, autoShow);
    QFETCH(QString, hiddenBy);
    QFETCH(QString, input);
    QFETCH(bool, shows);

    const bool typing = hiddenBy == QLatin1String("typing");
    QVERIFY(startApp(storedSettings(autoShow, hiddenBy == QLatin1String("idle") ? 0.3 : 0, kK, typing)));
    if (hiddenBy == QLatin1String("key"))
        m_user->typeHotKey(kK, kControlOption);
    else if (typing)
        m_user->typeHotKey(kJ, 0);
    else if (hiddenBy == QLatin1String("Hide"))
        QCOMPARE(call(hiddenBy).type(), QDBusMessage::ReplyMessage);
    QTRY_VERIFY(pointerHidden());
    QTRY_COMPARE(m_log.hiddenValues(), QList<bool>{true});

    if (input == QLatin1String("move"))
        m_user->moveTo(300, 200);
    else if (input == QLatin1String("jitter"))
        m_user->moveTo(102, 101);
    else if (input == QLatin1String("click")) {
        m_user->button(1, true);
        m_user->button(1, false);
    } else
        m_user->scroll(3);

    if (shows) {
        QTRY_VERIFY(pointerShown());
        return;
    }
    QVERIFY2(staysHidden(600ms), "the pointer showed");
    // It was still listening: what shows it shows it now.
    if (autoShow || hiddenBy == QLatin1String("idle") || typing)
        m_user->moveTo(400, 300);
    else
        m_user->typeHotKey(kK, kControlOption);
    QTRY_VERIFY(pointerShown());
}

void TestPointerHiding::readPrefsSwitchesTheHotKey()
{
    QVERIFY(startApp(storedSettings(true, 0, kK)));
    QTRY_VERIFY(m_user->hotKeyIsHeldElsewhere(kK, kControlOption));

    // Another process, the settings page, stores J instead and says so.
    QSaveFile file(m_config->filePath(QStringLiteral("org.quillvane.Quillvane.plist")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(settings::PropertyList::toXml(storedSettings(true, 0, kJ)));
    QVERIFY(file.commit());
    const auto connection =
        dbuslink::ServiceConnection::connectionWithRegisteredName(QStringLiteral("QuillvaneServer"));
    QVERIFY(connection);
    connection->rootProxy()->readPrefs();
    QCOMPARE(property(QStringLiteral("ToggleCursorHotKey")).toMap().value(QStringLiteral("keyCode")), QVariant(kJ));

    QVERIFY2(!m_user->hotKeyIsHeldElsewhere(kK, kControlOption), "the old hot key is still held");
    QCOMPARE(property(QStringLiteral("ToggleCursorHotKeyTrigger")), QVariant(QString()));
    QVERIFY2(m_user->hotKeyIsHeldElsewhere(kJ, kControlOption), "the new hot key is not held");
    m_user->typeHotKey(kK, kControlOption);
    m_user->typeHotKey(kJ, kControlOption);
    QTRY_COMPARE(m_log.hiddenValues(), QList<bool>{true});
    QTRY_VERIFY(pointerHidden());

    // The change was announced with the new value.
    const auto hotKeyChange = std::find_if(m_log.changes.cbegin(), m_log.changes.cend(), [](const QVariantMap &c) {
        return c.contains(QStringLiteral("ToggleCursorHotKey"));
    });
    QVERIFY(hotKeyChange != m_log.changes.cend());
}

void TestPointerHiding::hotKeyHeldElsewhereWorksOnceLetGo()
{
    QVERIFY(m_user->grabHotKey(kK, kControlOption));
    QVERIFY(startApp(storedSettings(true, 0)));
    m_user->typeHotKey(kK, kControlOption); // reaches the holder only

    m_user->ungrabHotKey(kK, kControlOption);
    QTRY_VERIFY_WITH_TIMEOUT(m_user->hotKeyIsHeldElsewhere(kK, kControlOption), 10000);
    m_user->typeHotKey(kK, kControlOption);
    QTRY_COMPARE(m_log.hiddenValues(), QList<bool>{true});
    QTRY_VERIFY(pointerHidden());
}

void TestPointerHiding::waylandHotKeyGoesThroughThePortal()
{
    testsupport::TestPortal portal;
    QString error;
    QVERIFY2(portal.start(m_bus.address(), &error), qPrintable(error));
    portal.backend.picked.insert(QStringLiteral("toggleCursorHotKey"), QStringLiteral("Meta+H"));
    QProcess *app = startApp(storedSettings(true, 0), waylandEnvironment(), true);
    QVERIFY(app);

    // Asked for the stored combination, bound to what the user picked; no X11 grab.
    QTRY_COMPARE(portal.backend.lastBind(), QStringList{"toggleCursorHotKey CTRL+ALT+k"});
    QTRY_COMPARE(property(QStringLiteral("ToggleCursorHotKeyTrigger")).toString(), QStringLiteral("Meta+H"));
    QVERIFY(!m_user->hotKeyIsHeldElsewhere(kK, kControlOption));

    const QString id = portal.backend.idOf(QStringLiteral("toggleCursorHotKey"));
    portal.backend.activate(id);
    QTRY_COMPARE(m_log.hiddenValues(), QList<bool>{true});
    QTRY_VERIFY(pointerHidden());
    // The release changes nothing; the trigger changed in the desktop's
    // settings afterwards comes in after it.
    portal.backend.deactivate(id);
    portal.backend.changeTrigger(id, QStringLiteral("Ctrl+Alt+J"));
    const auto announcedTriggers = [this] {
        QStringList triggers;
        for (const QVariantMap &change : std::as_const(m_log.changes)) {
            if (change.contains(QStringLiteral("ToggleCursorHotKeyTrigger")))
                triggers << change.value(QStringLiteral("ToggleCursorHotKeyTrigger")).toString();
        }
        return triggers;
    };
    QTRY_COMPARE(announcedTriggers(), (QStringList{"Meta+H", "Ctrl+Alt+J"}));
    QCOMPARE(m_log.hiddenValues(), QList<bool>{true});

    app->kill();
    QVERIFY(app->waitForFinished(5000));
    const QString log = QString::fromLocal8Bit(app->readAllStandardError());
    QVERIFY2(log.contains(QLatin1String("toggleCursorHotKey is bound to Meta+H")), qPrintable(log));
}

void TestPointerHiding::silentPortalLeavesTheProgramResponsive()
{
    testsupport::TestPortal portal;
    QString error;
    QVERIFY2(portal.start(m_bus.address(), &error), qPrintable(error));
    portal.backend.silent = true;
    // It takes its name only once the hot key is registered.
    QVERIFY(startApp(storedSettings(true, 0), waylandEnvironment()));
    QTRY_COMPARE(portal.backend.sessionsCreated, 1);

    QCOMPARE(property(QStringLiteral("ToggleCursorHotKeyTrigger")), QVariant(QString()));
    QCOMPARE(call(QStringLiteral("Toggle")).type(), QDBusMessage::ReplyMessage);
    QTRY_VERIFY(pointerHidden());
}

void TestPointerHiding::pointerReturnsWhenKilled()
{
    QProcess *app = startApp(storedSettings(true, 0));
    QVERIFY(app);
    QCOMPARE(call(QStringLiteral("Hide")).type(), QDBusMessage::ReplyMessage);
    QTRY_VERIFY(pointerHidden());

    ::kill(pid_t(app->processId()), SIGKILL);
    QVERIFY(app->waitForFinished(5000));
    QTRY_VERIFY(pointerShown());
}

void TestPointerHiding::twoScreens_data()
{
    QTest::addColumn<QString>("ending"); // what shows the pointer again
    QTest::addColumn<int>("screen");     // where it is then

    QTest::newRow("Show") << "Show" << 0;
    QTest::newRow("the hot key") << "key" << 0;
    QTest::newRow("the program killed") << "kill" << 0;
    QTest::newRow("Show after a move to the other screen") << "Show" << 1;
    QTest::newRow("the program killed after a move to the other screen") << "kill" << 1;
}

// The server draws the pointer on the screen whose hide or show came last:
// when it is shown again, it is shown where it is, at once.
void TestPointerHiding::twoScreens()
{
    QFETCH(QString, ending);
    QFETCH(int, screen);

    m_user.reset();
    m_x = std::make_unique<xsession::PrivateXServer>();
    QString error;
    QVERIFY2(m_x->start(&error, 2), qPrintable(error));
    m_user = std::make_unique<xsession::User>(m_x->display());
    QVERIFY(m_user->isValid());
    m_user->giveRootACursor();
    m_user->moveTo(100, 100);
    QTRY_VERIFY(pointerShown());

    QProcess *app = startApp(storedSettings(false, 0));
    QVERIFY(app);
    m_user->typeHotKey(kK, kControlOption);
    QTRY_VERIFY(pointerHidden());
    if (screen == 1) {
        m_user->warpTo(200, 200, 1);
        QTRY_COMPARE(cursorPixels(1), 0);
    }
    QCOMPARE(cursorPixels(1 - screen), 0);

    if (ending == QLatin1String("kill")) {
        ::kill(pid_t(app->processId()), SIGKILL);
        QVERIFY(app->waitForFinished(5000));
    } else if (ending == QLatin1String("key")) {
        m_user->typeHotKey(kK, kControlOption);
    } else {
        QCOMPARE(call(ending).type(), QDBusMessage::ReplyMessage);
    }
    QTRY_VERIFY2(cursorPixels(screen) >= kShownPixels, "the pointer stays invisible where it is");
    QCOMPARE(cursorPixels(1 - screen), 0);
}

void TestPointerHiding::quitsWhenTheXServerGoes()
{
    QProcess *app = startApp(storedSettings(true, 35));
    QVERIFY(app);
    m_user.reset();
    m_x->stop();
    QVERIFY2(app->waitForFinished(5000), "the cursor application outlives its X server");
    QCOMPARE(app->exitStatus(), QProcess::NormalExit);
    QVERIFY(app->exitCode() != 0);
}

void TestPointerHiding::withoutDisplayServesSettingsOnly_data()
{
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("waylandDisplay");
    QTest::addColumn<QString>("reason");

    QTest::newRow("no display at all") << QString() << QString() << "DISPLAY is not set";
    QTest::newRow("Wayland without an X server") << QString() << "wayland-quillvane" << "Wayland session";
    QTest::newRow("display that nobody serves") << ":4711" << QString() << "cannot be opened";
}

void TestPointerHiding::withoutDisplayServesSettingsOnly()
{
    QFETCH(QString, display);
    QFETCH(QString, waylandDisplay);
    QFETCH(QString, reason);

    QProcessEnvironment environment = this->environment();
    environment.remove(QStringLiteral("DISPLAY"));
    if (!display.isEmpty())
        environment.insert(QStringLiteral("DISPLAY"), display);
    if (!waylandDisplay.isEmpty())
        environment.insert(QStringLiteral("WAYLAND_DISPLAY"), waylandDisplay);
    QProcess *app = startApp(storedSettings(false, 12.5), environment, true);
    QVERIFY(app);

    // Still the settings page's partner.
    const auto connection =
        dbuslink::ServiceConnection::connectionWithRegisteredName(QStringLiteral("QuillvaneServer"));
    QVERIFY(connection);
    connection->rootProxy()->readPrefs();
    QCOMPARE(property(QStringLiteral("IdleHide")), QVariant(12.5));
    QCOMPARE(property(QStringLiteral("Hidden")), QVariant(false));
    const QDBusMessage reply = call(QStringLiteral("Hide"));
    QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
    QCOMPARE(reply.errorName(), QStringLiteral("org.quillvane.CursorController.Error.NoDisplay"));

    // Said once, with the reason.
    app->kill();
    QVERIFY(app->waitForFinished(5000));
    const QStringList lines = QString::fromLocal8Bit(app->readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.constFirst().contains(reason), qPrintable(lines.constFirst()));
    QCOMPARE(m_log.hiddenValues(), QList<bool>{});
}

void TestPointerHiding::recordsTheHiddenLoginItem_data()
{
    QTest::addColumn<QString>("entry"); // empty: no login item
    QTest::addColumn<bool>("hidden");

    const QString entry = QStringLiteral("[Desktop Entry]\nType=Application\nName=Quillvane\nExec=%1\n")
                              .arg(QStringLiteral(QUILLVANE_APP_EXECUTABLE));
    QTest::newRow("no login item") << QString() << false;
    QTest::newRow("login item") << entry << false;
    QTest::newRow("hidden login item") << entry + QStringLiteral("X-Quillvane-Hidden=true\n") << true;
}

void TestPointerHiding::recordsTheHiddenLoginItem()
{
    QFETCH(QString, entry);
    QFETCH(bool, hidden);

    if (!entry.isEmpty()) {
        QVERIFY(QDir(m_config->path()).mkpath(QStringLiteral("autostart")));
        QFile file(m_config->filePath(QStringLiteral("autostart/org.quillvane.Quillvane.desktop")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(entry.toUtf8());
    }
    QVERIFY(startApp(storedSettings(true, 0)));
    QCOMPARE(property(QStringLiteral("LoginItemHidden")), QVariant(hidden));
    QVERIFY(pointerShown());
}

QTEST_GUILESS_MAIN(TestPointerHiding)
#include "tst_pointerhiding.moc"
