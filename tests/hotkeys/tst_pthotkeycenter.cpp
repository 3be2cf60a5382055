#include "FakeHotKeyEventSource.h"
#include "HotKeyTarget.h"

#include "PTHotKeyCenter.h"
#include "AssertionHandler.h"

#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

using systemhotkeys::HotKeyRef;
using systemhotkeys::kEventHotKeyPressed;
using systemhotkeys::kEventHotKeyReleased;

namespace {

const PTKeyCombo kControlOptionK(40, 0x1800);
const PTKeyCombo kCommandA(0, 0x100);
const PTKeyCombo kShiftF1(122, 0x200);
const PTKeyCombo kRefused(12, 0x100); // the fake source refuses it

} // namespace

class TestPTHotKeyCenter : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<FakeHotKeyEventSource> source;
    std::unique_ptr<PTHotKeyCenter> center;
    std::unique_ptr<HotKeyTarget> target;

    std::shared_ptr<PTHotKey> hotKey(const QString &name, const PTKeyCombo &combo,
                                     const QByteArray &action = "hotKeyPressed")
    {
        auto hotKey = std::make_shared<PTHotKey>();
        hotKey->setKeyCombo(combo);
        hotKey->setName(name);
        hotKey->setTarget(target.get());
        hotKey->setAction(action);
        return hotKey;
    }

    // The ID number the hot key is registered under with the source.
    quint32 idNumber(const std::shared_ptr<PTHotKey> &hotKey) const
    {
        const auto entry = source->entry(hotKey->carbonHotKey());
        return entry ? entry->id.id : 0;
    }

private slots:
    void init()
    {
        source = std::make_shared<FakeHotKeyEventSource>();
        source->refused.insert({quint32(kRefused.keyCode()), quint32(kRefused.modifiers())});
        center = std::make_unique<PTHotKeyCenter>(source);
        target = std::make_unique<HotKeyTarget>();
    }

    void cleanup()
    {
        center.reset();
        source.reset();
        target.reset();
    }

    void idNumbersSkipFailedAttempts()
    {
        const auto first = hotKey(u"first"_s, kControlOptionK);
        QVERIFY(center->registerHotKey(first));
        QVERIFY(!center->registerHotKey(hotKey(u"refused"_s, kRefused)));
        QVERIFY(center->registerHotKey(hotKey(u"cleared"_s, PTKeyCombo())));
        QVERIFY(!center->registerHotKey(hotKey(QString(), kShiftF1)));
        const auto second = hotKey(u"second"_s, kCommandA);
        QVERIFY(center->registerHotKey(second));
        center->unregisterHotKey(first);
        const auto third = hotKey(u"third"_s, kShiftF1);
        QVERIFY(center->registerHotKey(third));

        QCOMPARE(idNumber(second), 2u);
        QCOMPARE(idNumber(third), 3u);
        QCOMPARE(source->registeredIdNumbers(), (QList<quint32>{2, 3}));
        for (const auto &entry : std::as_const(source->registrations))
            QCOMPARE(entry.id.signature, 0x5054486Bu);
        const auto registered = source->entry(third->carbonHotKey());
        QCOMPARE(registered->keyCode, 122u);
        QCOMPARE(registered->modifiers, 0x200u);
    }

    void invalidCombinationRegistersNothing_data()
    {
        QTest::addColumn<PTKeyCombo>("combo");
        QTest::addColumn<QString>("situation");
        QTest::newRow("clear combination") << PTKeyCombo() << QString();
        QTest::newRow("no key with modifiers") << PTKeyCombo(-1, 0x100) << QString();
        QTest::newRow("key without modifiers") << PTKeyCombo(3, 0) << QString();
        // The validity test comes before the name and table checks.
        QTest::newRow("clear combination without a name") << PTKeyCombo() << u"unnamed"_s;
        QTest::newRow("cleared combination of a registered hot key") << PTKeyCombo() << u"twice"_s;
    }

    void invalidCombinationRegistersNothing()
    {
        QFETCH(PTKeyCombo, combo);
        QFETCH(QString, situation);
        const bool twice = situation == u"twice";
        const auto key = hotKey(situation == u"unnamed" ? QString() : u"toggle the cursor"_s, twice ? kCommandA : combo);
        if (twice) {
            QVERIFY(center->registerHotKey(key));
            key->setKeyCombo(combo);
        }
        const int registrations = twice ? 1 : 0;
        QVERIFY(center->registerHotKey(key));
        QCOMPARE(center->allHotKeys().size(), registrations);
        QCOMPARE(source->registerCalls, registrations);
        QCOMPARE(source->installCount, registrations);
        QCOMPARE(key->carbonHotKey() == HotKeyRef::Null, !twice);
    }

    void refusedRegistrationChangesNothing_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::newRow("system refuses the combination") << u"refused"_s;
        QTest::newRow("hot key without a name") << u"unnamed"_s;
        QTest::newRow("hot key registered already") << u"twice"_s;
        QTest::newRow("hot key renamed since its registration") << u"renamed"_s;
    }

    void refusedRegistrationChangesNothing()
    {
        QFETCH(QString, situation);
        const auto registered = hotKey(u"registered"_s, kCommandA);
        QVERIFY(center->registerHotKey(registered));
        const HotKeyRef registeredRef = registered->carbonHotKey();

        std::shared_ptr<PTHotKey> attempt = hotKey(u"attempt"_s, kRefused);
        if (situation == u"unnamed")
            attempt = hotKey(QString(), kShiftF1);
        if (situation == u"twice")
            attempt = registered;
        if (situation == u"renamed") {
            attempt = registered;
            attempt->setName(u"new name"_s);
        }
        const int callsBefore = source->registerCalls;

        QVERIFY(!center->registerHotKey(attempt));
        QCOMPARE(source->registrations.size(), 1);
        QCOMPARE(center->allHotKeys(), QList<std::shared_ptr<PTHotKey>>{registered});
        QCOMPARE(center->hotKeyForName(u"registered"_s), registered);
        QCOMPARE(registered->carbonHotKey(), registeredRef);
        if (situation != u"refused")
            QCOMPARE(source->registerCalls, callsBefore);

        // The number the attempt did not take goes to the next registration.
        const auto next = hotKey(u"next"_s, kControlOptionK);
        QVERIFY(center->registerHotKey(next));
        QCOMPARE(idNumber(next), 2u);
    }

    void tablesFollowRegistrations()
    {
        const auto key = hotKey(u"toggle the cursor"_s, kControlOptionK);
        QVERIFY(center->registerHotKey(key));
        QCOMPARE(center->hotKeyForName(u"toggle the cursor"_s), key);
        QCOMPARE(center->allHotKeys(), QList<std::shared_ptr<PTHotKey>>{key});
        const HotKeyRef ref = key->carbonHotKey();
        QVERIFY(ref != HotKeyRef::Null);

        center->unregisterHotKey(key);
        QVERIFY(!center->hotKeyForName(u"toggle the cursor"_s));
        QVERIFY(center->allHotKeys().isEmpty());
        QCOMPARE(source->unregistered, QList<HotKeyRef>{ref});
        QVERIFY(source->registrations.isEmpty());
        QCOMPARE(key->carbonHotKey(), HotKeyRef::Null);
        // Its old ID is gone too: a press of it is not handled.
        QCOMPARE(source->deliver(kEventHotKeyPressed, 1), systemhotkeys::eventNotHandledErr);
        QVERIFY(target->pressed.isEmpty());
    }

    void unregisterLeavesOtherHotKeysAlone_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::newRow("name not registered") << u"unknown name"_s;
        QTest::newRow("other hot key with the same name and combination") << u"lookalike"_s;
        QTest::newRow("registered hot key renamed since") << u"renamed"_s;
        QTest::newRow("null hot key") << u"null"_s;
    }

    void unregisterLeavesOtherHotKeysAlone()
    {
        QFETCH(QString, situation);
        const auto registered = hotKey(u"toggle the cursor"_s, kControlOptionK);
        QVERIFY(center->registerHotKey(registered));

        std::shared_ptr<PTHotKey> other;
        if (situation == u"unknown name")
            other = hotKey(u"something else"_s, kControlOptionK);
        if (situation == u"lookalike")
            other = hotKey(u"toggle the cursor"_s, kControlOptionK);
        if (situation == u"renamed") {
            other = registered;
            other->setName(u"renamed"_s);
        }
        if (situation == u"lookalike")
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"another hot key is registered under that name"_s));

        center->unregisterHotKey(other);
        center->unregisterHotKeyForName(u"something else"_s);
        QCOMPARE(center->allHotKeys(), QList<std::shared_ptr<PTHotKey>>{registered});
        QCOMPARE(source->registrations.size(), 1);
        QVERIFY(source->unregistered.isEmpty());
        QVERIFY(registered->carbonHotKey() != HotKeyRef::Null);
        QCOMPARE(source->deliver(kEventHotKeyPressed, 1), systemhotkeys::noErr);
        QCOMPARE(target->count(registered.get()), 1);
    }

    void unregisterAllKeepsTheHandler()
    {
        const auto key = hotKey(u"toggle the cursor"_s, kControlOptionK);
        QVERIFY(center->registerHotKey(key));
        QVERIFY(center->registerHotKey(hotKey(u"other"_s, kCommandA)));
        QVERIFY(center->registerHotKey(hotKey(u"third"_s, kShiftF1)));
        QCOMPARE(source->installCount, 1);
        center->unregisterAllHotKeys();
        QVERIFY(center->allHotKeys().isEmpty());
        QVERIFY(source->registrations.isEmpty());
        QVERIFY(source->handler);
        QVERIFY(center->registerHotKey(key));
        QCOMPARE(source->installCount, 1);

        // A center that goes away takes its handler along.
        center.reset();
        QVERIFY(!source->handler);
    }

    void dispatch_data()
    {
        QTest::addColumn<quint32>("kind");
        QTest::addColumn<int>("invocations");
        QTest::newRow("pressed invokes the hot key once") << kEventHotKeyPressed << 1;
        QTest::newRow("released invokes nothing") << kEventHotKeyReleased << 0;
    }

    void dispatch()
    {
        QFETCH(quint32, kind);
        QFETCH(int, invocations);
        const auto first = hotKey(u"first"_s, kControlOptionK);
        const auto second = hotKey(u"second"_s, kCommandA);
        QVERIFY(center->registerHotKey(first));
        QVERIFY(center->registerHotKey(second));

        QCOMPARE(source->deliver(kind, 2), systemhotkeys::noErr);
        QCOMPARE(target->count(second.get()), invocations);
        QCOMPARE(target->count(first.get()), 0);
    }

    void eventsThatAreNotOurs_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<qint32>("status");
        QTest::newRow("another component's signature") << u"foreign"_s << systemhotkeys::eventNotHandledErr;
        QTest::newRow("ID number never registered") << u"unknown id"_s << systemhotkeys::eventNotHandledErr;
        QTest::newRow("press queued before its registration ended") << u"stale"_s << systemhotkeys::eventNotHandledErr;
        QTest::newRow("ID that cannot be read") << u"unreadable"_s << systemhotkeys::eventParameterNotFoundErr;
    }

    void eventsThatAreNotOurs()
    {
        QFETCH(QString, situation);
        QFETCH(qint32, status);
        const auto key = hotKey(u"toggle the cursor"_s, kControlOptionK);
        QVERIFY(center->registerHotKey(key));

        systemhotkeys::HotKeyEvent event(systemhotkeys::kEventClassKeyboard, kEventHotKeyPressed,
                                    systemhotkeys::HotKeyID{systemhotkeys::osTypeFromString(u"PTHk"), 1});
        if (situation == u"foreign")
            event = systemhotkeys::HotKeyEvent(systemhotkeys::kEventClassKeyboard, kEventHotKeyPressed,
                                          systemhotkeys::HotKeyID{systemhotkeys::osTypeFromString(u"Othr"), 1});
        if (situation == u"unknown id")
            event = systemhotkeys::HotKeyEvent(systemhotkeys::kEventClassKeyboard, kEventHotKeyPressed,
                                          systemhotkeys::HotKeyID{systemhotkeys::osTypeFromString(u"PTHk"), 7});
        if (situation == u"stale")
            center->unregisterHotKey(key);
        if (situation == u"unreadable")
            event = systemhotkeys::HotKeyEvent(systemhotkeys::kEventClassKeyboard, kEventHotKeyPressed);

        QCOMPARE(center->sendCarbonEvent(event), status);
        QCOMPARE(source->deliver(event), status);
        QVERIFY(target->pressed.isEmpty());
    }

    void programmingErrorsAreReported_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("message");
        QTest::newRow("event of another class") << u"class"_s << 208 << u"Unknown event class"_s;
        QTest::newRow("event of another kind") << u"kind"_s << 239 << u"Unknown event kind"_s;
    }

    // Reported as they stand, but an event dispatch boundary answers "not
    // handled" instead of letting the exception through.
    void programmingErrorsAreReported()
    {
        QFETCH(QString, situation);
        QFETCH(int, line);
        QFETCH(QString, message);
        const auto key = hotKey(u"toggle the cursor"_s, kControlOptionK);
        QVERIFY(center->registerHotKey(key));
        const systemhotkeys::HotKeyID id{systemhotkeys::osTypeFromString(u"PTHk"), 1};
        const systemhotkeys::HotKeyEvent event = situation == u"class"
            ? systemhotkeys::HotKeyEvent(systemhotkeys::osTypeFromString(u"mous"), kEventHotKeyPressed, id)
            : systemhotkeys::HotKeyEvent(systemhotkeys::kEventClassKeyboard, 7, id);

        const QString report = u"Assertion failure in sendCarbonEvent.*PTHotKeyCenter:%1: %2"_s.arg(line).arg(message);
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(report));
        try {
            center->sendCarbonEvent(event);
            QFAIL("no exception");
        } catch (const hotkeys::AssertionFailure &failure) {
            QCOMPARE(failure.fileName(), u"PTHotKeyCenter"_s);
            QCOMPARE(failure.line(), line);
            QCOMPARE(failure.description(), message);
        }

        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(report));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"Hot key event not handled: "_s + report));
        QCOMPARE(source->deliver(event), systemhotkeys::eventNotHandledErr);
        QVERIFY(target->pressed.isEmpty());
    }

    void failingActionDoesNotEscapeDispatch()
    {
        QVERIFY(center->registerHotKey(hotKey(u"failing"_s, kControlOptionK, "hotKeyFails")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"not handled: the action failed"_s));
        QCOMPARE(source->deliver(kEventHotKeyPressed, 1), systemhotkeys::eventNotHandledErr);
    }

    void unregisteringWithoutReferenceReportsLine113()
    {
        const auto key = hotKey(u"toggle the cursor"_s, kControlOptionK);
        QVERIFY(center->registerHotKey(key));
        key->setCarbonHotKey(HotKeyRef::Null);

        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(u"unregisterHotKey.*PTHotKeyCenter:113: $"_s));
        QVERIFY_THROWS_EXCEPTION(hotkeys::AssertionFailure, center->unregisterHotKey(key));
        QCOMPARE(center->hotKeyForName(u"toggle the cursor"_s), key);
        QCOMPARE(source->registrations.size(), 1);
    }

    void actionMayUnregisterItsOwnHotKey()
    {
        auto key = hotKey(u"one shot"_s, kControlOptionK);
        QVERIFY(center->registerHotKey(key));
        const PTHotKey *pressed = key.get();
        target->onPress = [this](PTHotKey *hotKey) { center->unregisterHotKeyForName(hotKey->name()); };
        key.reset(); // only the tables hold it now

        QCOMPARE(source->deliver(kEventHotKeyPressed, 1), systemhotkeys::noErr);
        QCOMPARE(target->pressed, QList<const PTHotKey *>{pressed});
        QVERIFY(center->allHotKeys().isEmpty());
        QVERIFY(source->registrations.isEmpty());
    }

    void sameNameReplacesNameTableEntry()
    {
        const auto first = hotKey(u"toggle the cursor"_s, kControlOptionK);
        const auto second = hotKey(u"toggle the cursor"_s, kCommandA);
        QVERIFY(center->registerHotKey(first));
        QVERIFY(center->registerHotKey(second));

        QCOMPARE(center->hotKeyForName(u"toggle the cursor"_s), second);
        QCOMPARE(center->allHotKeys().size(), 1);
        // The first stays registered and still fires.
        QCOMPARE(source->registrations.size(), 2);
        QCOMPARE(source->deliver(kEventHotKeyPressed, 1), systemhotkeys::noErr);
        QCOMPARE(target->count(first.get()), 1);

        // updateHotKey is how a hot key replaces another of the same name.
        const auto third = hotKey(u"toggle the cursor"_s, kShiftF1);
        center->updateHotKey(third);
        QCOMPARE(center->hotKeyForName(u"toggle the cursor"_s), third);
        QCOMPARE(second->carbonHotKey(), HotKeyRef::Null);
        QCOMPARE(source->registeredIdNumbers(), (QList<quint32>{1, 3}));
    }

    void updateHotKey_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<PTKeyCombo>("newCombo");
        QTest::addColumn<bool>("registeredAfter");
        QTest::newRow("never registered hot key gets registered") << u"fresh"_s << kCommandA << true;
        QTest::newRow("new combination re-registers") << u"registered"_s << kCommandA << true;
        QTest::newRow("cleared combination ends the registration") << u"registered"_s << PTKeyCombo() << false;
        QTest::newRow("refused combination ends the registration") << u"registered"_s << kRefused << false;
        QTest::newRow("renamed hot key is registered under its new name") << u"renamed"_s << kCommandA << true;
    }

    void updateHotKey()
    {
        QFETCH(QString, situation);
        QFETCH(PTKeyCombo, newCombo);
        QFETCH(bool, registeredAfter);
        const auto key = hotKey(u"toggle the cursor"_s, kControlOptionK);
        if (situation != u"fresh")
            QVERIFY(center->registerHotKey(key));
        if (situation == u"renamed")
            key->setName(u"renamed"_s);
        key->setKeyCombo(newCombo);

        center->updateHotKey(key);

        QCOMPARE(source->registrations.size(), registeredAfter ? 1 : 0);
        QCOMPARE(center->allHotKeys().size(), registeredAfter ? 1 : 0);
        QCOMPARE(center->hotKeyForName(key->name()) == key, registeredAfter);
        QCOMPARE(key->carbonHotKey() != HotKeyRef::Null, registeredAfter);
        if (registeredAfter) {
            const auto entry = source->entry(key->carbonHotKey());
            QCOMPARE(entry->keyCode, quint32(newCombo.keyCode()));
            QCOMPARE(entry->modifiers, quint32(newCombo.modifiers()));
        }
    }

    void setHotKeyRegistrationForName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("enable");
        QTest::addColumn<bool>("registeredAfter");
        QTest::newRow("disable a registered name") << u"toggle the cursor"_s << false << false;
        QTest::newRow("enable a registered name changes nothing") << u"toggle the cursor"_s << true << true;
        QTest::newRow("disable an unknown name changes nothing") << u"unknown"_s << false << true;
        QTest::newRow("enable an unknown name changes nothing") << u"unknown"_s << true << true;
    }

    void setHotKeyRegistrationForName()
    {
        QFETCH(QString, name);
        QFETCH(bool, enable);
        QFETCH(bool, registeredAfter);
        const auto key = hotKey(u"toggle the cursor"_s, kControlOptionK);
        QVERIFY(center->registerHotKey(key));

        center->setHotKeyRegistrationForName(name, enable);
        QCOMPARE(source->registrations.size(), registeredAfter ? 1 : 0);
        QCOMPARE(source->registerCalls, 1);
        QCOMPARE(center->hotKeyForName(u"toggle the cursor"_s) == key, registeredAfter);
    }
};

QTEST_GUILESS_MAIN(TestPTHotKeyCenter)
#include "tst_pthotkeycenter.moc"
