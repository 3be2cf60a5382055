// The cursor program's rules in-process: when the pointer hides and shows, over doubles of the X side; the
// toggle hot key over a hot key service that refuses.

#include "Doubles.h"
#include "PTHotKeyCenter.h"
#include "PointerInterfaces.h"
#include "PointerVisibility.h"
#include "ToggleHotKey.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>

#include <limits>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using Watch = AbstractPointerWatcher::Watch;

namespace {

constexpr qint32 kK = 40, kControlOption = 0x1800;

// Keeps to the contract (hiding a hidden pointer does nothing); records every change: H hidden, S shown.
struct RecordingHider : AbstractPointerHider
{
    bool isHidden() const override { return hidden; }
    void hide() override { changes += std::exchange(hidden, true) ? u""_s : u"H"_s; }
    void show() override { changes += std::exchange(hidden, false) ? u"S"_s : u""_s; }
    bool hidden = false;
    QString changes;
};

// Sees the user only as far as it is asked to watch, as the X side does: moves and clicks are told only while
// it watches for Movement.
struct ScriptedWatcher : AbstractPointerWatcher
{
    ScriptedWatcher() { still.start(); }
    void watch(Watch what) override
    {
        if (std::exchange(watched, what) != what)
            still.start();
    }
    Watch watching() const override { return watched; }
    void resetAnchor() override { still.start(); }
    Sample sample() override { return {std::chrono::milliseconds(still.elapsed()), buttonsHeld}; }
    void waitForButtonRelease() override { waitingForRelease = true; }

    Watch watched = Watch::Nothing;
    QElapsedTimer still; // since the pointer last moved
    bool buttonsHeld = false;
    bool waitingForRelease = false;
};

} // namespace

class TestCursorApp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void visibility_data();
    void visibility();
    void idleInterval();
    void hotKeyRegistration_data();
    void hotKeyRegistration();
};

void TestCursorApp::visibility_data()
{
    // Requests Hide, Show, Toggle; type; the user's move and click; settings read anew: autoShow=0/1, idle (30
    // ms) or idle=1h; wait till the idle time has passed; hold and release a button. autoShow is on at first.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("announced"); // H hidden, S shown

    QTest::newRow("Toggle hides, Toggle shows") << "Toggle Toggle" << "HS";
    QTest::newRow("Show of a shown pointer changes nothing") << "Show Hide" << "H";
    QTest::newRow("one Show undoes two Hides") << "Hide Hide Show" << "HS";
    QTest::newRow("autoShow on: movement shows a requested hide") << "Hide move" << "HS";
    QTest::newRow("autoShow on: a click shows a requested hide") << "Toggle click" << "HS";
    QTest::newRow("autoShow off: a requested hide waits for a request") << "autoShow=0 Hide move click Toggle" << "HS";
    QTest::newRow("autoShow off: movement ends idleness") << "autoShow=0 idle wait move" << "HS";
    QTest::newRow("autoShow off: a click ends idleness") << "autoShow=0 idle wait click" << "HS";
    QTest::newRow("Hide of an idle pointer waits for a request") << "autoShow=0 idle wait Hide move" << "H";
    QTest::newRow("autoShow off: movement ends a hide for typing") << "autoShow=0 type type move" << "HS";
    QTest::newRow("autoShow off: a click ends a hide for typing") << "autoShow=0 type click" << "HS";
    QTest::newRow("typing leaves a requested hide as it is") << "autoShow=0 Hide type move" << "H";
    QTest::newRow("autoShow read anew: movement shows") << "autoShow=0 Hide autoShow=1 move" << "HS";
    QTest::newRow("autoShow read anew: movement no longer shows") << "Hide autoShow=0 move" << "H";
    QTest::newRow("a shorter idle time read anew counts at once") << "idle=1h idle wait" << "H";
    QTest::newRow("no hide while a button is held") << "hold idle release wait" << "H";
}

void TestCursorApp::visibility()
{
    QFETCH(QString, steps);
    QFETCH(QString, announced);

    RecordingHider hider;
    ScriptedWatcher watcher;
    PointerVisibility visibility(hider, watcher);
    const QHash<QString, std::function<void()>> act{
        {u"Hide"_s, [&] { visibility.hide(); }},
        {u"Show"_s, [&] { visibility.show(); }},
        {u"Toggle"_s, [&] { visibility.toggle(); }},
        {u"type"_s, [&] { visibility.hideForTyping(); }},
        {u"move"_s, [&] { if (watcher.watched == Watch::Movement) Q_EMIT watcher.moved(); }},
        {u"click"_s, [&] { if (watcher.watched == Watch::Movement) Q_EMIT watcher.buttonPressed(); }},
        {u"autoShow=0"_s, [&] { visibility.setAutoShow(false); }},
        {u"autoShow=1"_s, [&] { visibility.setAutoShow(true); }},
        {u"idle"_s, [&] { visibility.setIdleHide(0.03f); }},
        {u"idle=1h"_s, [&] { visibility.setIdleHide(3600); }},
        {u"wait"_s, [&] { QTRY_VERIFY2(hider.hidden, "the idle time passed and the pointer is still shown"); }},
        {u"hold"_s, [&] { watcher.buttonsHeld = true; }},
        {u"release"_s, [&] {
             QTRY_VERIFY2(watcher.waitingForRelease, "the idle time passed and it does not wait for the release");
             watcher.buttonsHeld = false;
             Q_EMIT watcher.buttonsReleased();
         }},
    };
    QString said;
    connect(&visibility, &PointerVisibility::hiddenChanged, this, [&](bool hidden) { said += hidden ? u'H' : u'S'; });
    for (const QString &step : steps.split(u' ')) {
        act.value(step, [&] { QFAIL(qPrintable(u"no step "_s + step)); })();
        QCOMPARE(hider.changes, said);
    }
    QCOMPARE(said, announced);
}

// Never for zero, a negative time, NaN and beyond a timer's range; else to the nearest ms, at least one.
void TestCursorApp::idleInterval()
{
    const std::pair<float, qint64> cases[] = {{0.0f, -1}, {-5.0f, -1}, {std::numeric_limits<float>::quiet_NaN(), -1},
                                              {3.0e6f, -1}, {0.3f, 300}, {1.0e-6f, 1}};
    for (const auto &[seconds, milliseconds] : cases) {
        const auto interval = PointerVisibility::idleInterval(seconds);
        QCOMPARE(interval ? interval->count() : qint64(-1), milliseconds);
    }
}

void TestCursorApp::hotKeyRegistration_data()
{
    QTest::addColumn<qint32>("keyCode");
    QTest::addColumn<qint32>("modifiers");
    QTest::addColumn<QString>("refusal"); // none, "X11" or "Wayland"
    QTest::addColumn<bool>("retrying");   // by the timer
    QTest::addColumn<int>("warnings");
    QTest::addColumn<int>("triesOnReading"); // when the same settings are read again

    // Registering again would free the key for a moment, for anyone to take.
    QTest::newRow("registered: left alone") << kK << kControlOption << "" << false << 0 << 0;
    QTest::newRow("held elsewhere: said once, retried") << kK << kControlOption << "X11" << true << 1 << 1;
    QTest::newRow("Wayland refusal: said once, no timer") << kK << kControlOption << "Wayland" << false << 1 << 1;
    QTest::newRow("no such key: said once, never again") << 300 << kControlOption << "X11" << false << 1 << 0;
    QTest::newRow("clear combination: nothing, quietly") << -1 << -1 << "" << false << 0 << 0;
    QTest::newRow("no modifiers: nothing, quietly") << kK << 0 << "" << false << 0 << 0;
}

void TestCursorApp::hotKeyRegistration()
{
    QFETCH(qint32, keyCode);
    QFETCH(qint32, modifiers);
    QFETCH(QString, refusal);
    QFETCH(bool, retrying);
    QFETCH(int, warnings);
    QFETCH(int, triesOnReading);

    if (refusal == "Wayland"_L1)
        qputenv("WAYLAND_DISPLAY", "wayland-quillvane-test");
    const auto unsetWayland = qScopeGuard([] { qunsetenv("WAYLAND_DISPLAY"); });
    const auto source = std::make_shared<testsupport::HotKeyEventSourceDouble>();
    if (!refusal.isEmpty())
        source->refused.insert({quint32(keyCode), quint32(modifiers)});
    PTHotKeyCenter center(source);
    QTest::failOnWarning(QRegularExpression(u"."_s)); // but the ones expected:
    for (int i = 0; i < warnings; ++i)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"."_s));
    ToggleHotKey hotKey(center, 10ms);
    hotKey.setKeyCombo({keyCode, modifiers});
    QCOMPARE(hotKey.isRegistered(), refusal.isEmpty() && modifiers > 0);
    QCOMPARE(source->registrations.size(), hotKey.isRegistered() ? 1 : 0);
    QCOMPARE(hotKey.isRetrying(), retrying);

    const int calls = source->registerCalls;
    hotKey.setKeyCombo({keyCode, modifiers});
    QCOMPARE(source->registerCalls - calls, triesOnReading);
    if (retrying) {
        // Said once however often it is tried; works once its holder lets go.
        QTRY_VERIFY(source->registerCalls >= calls + 4);
        source->refused.clear();
        QTRY_VERIFY(hotKey.isRegistered());
        QVERIFY(!hotKey.isRetrying());
    }
}

QTEST_GUILESS_MAIN(TestCursorApp)
#include "tst_cursorapp.moc"
