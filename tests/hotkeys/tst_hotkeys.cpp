// The hot key library without its widgets, over the hot key source double;
// in a bundle, for the key names.

#include "Doubles.h"
#include "Files.h"
#include "XUser.h"

#include "AssertionHandler.h"
#include "PTHotKeyCenter.h"
#include "PTKeyCodeTranslator.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QTranslator>

using namespace Qt::StringLiterals;
using namespace systemhotkeys;
using namespace testsupport;
using hotkeys::Notification;
using hotkeys::NotificationCenter;

namespace {

const PTKeyCombo kControlOptionK(40, 0x1800), kCommandA(0, 0x100), kShiftF1(122, 0x200);
const PTKeyCombo kRefused(12, 0x100); // the source double refuses it
const quint32 kSignature = 0x5054486B; // PTHk

// support candidate
std::shared_ptr<PTHotKey> makeHotKey(const QString &name, const PTKeyCombo &combo, QObject *target,
                                     const QByteArray &action = "hotKeyPressed")
{
    auto hotKey = std::make_shared<PTHotKey>();
    hotKey->setName(name);
    hotKey->setKeyCombo(combo);
    hotKey->setTarget(target);
    hotKey->setAction(action);
    return hotKey;
}

} // namespace

class LoggingHotKey : public PTHotKey
{
};

class TestHotKeys : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<HotKeyEventSourceDouble> source;
    std::unique_ptr<PTHotKeyCenter> center;
    HotKeyTarget target;

    std::shared_ptr<PTHotKey> registered(const QString &name, const PTKeyCombo &combo,
                                         const QByteArray &action = "hotKeyPressed")
    {
        auto hotKey = makeHotKey(name, combo, &target, action);
        return center->registerHotKey(hotKey) ? hotKey : nullptr;
    }

private Q_SLOTS:
    void init()
    {
        source = std::make_shared<HotKeyEventSourceDouble>();
        source->refused.insert({quint32(kRefused.keyCode()), quint32(kRefused.modifiers())});
        center = std::make_unique<PTHotKeyCenter>(source);
        target.pressed.clear();
    }

    // Runs first: the key names are not in place yet.
    void keyNamesMissingThenAppearing()
    {
        const QString names = QCoreApplication::applicationDirPath() + u"/../Resources/PTKeyCodes.plist"_s;
        QFile::remove(names);
        QCOMPARE(PTKeyCombo(40, 0x1800).description(), u"⌥^28"_s);
        QVERIFY(writeFile(names, "<plist version=\"1.0\"><array/></plist>")); // no dictionary, no names
        QCOMPARE(PTKeyCombo(40, 0x1800).description(), u"⌥^28"_s);
        QVERIFY(QFile::remove(names) && QFile::copy(QUILLVANE_SOURCE_DIR "/resources/PTKeyCodes.plist"_L1, names));
        QCOMPARE(PTKeyCombo(40, 0x1800).description(), u"⌥^K"_s); // looked for at each display
        QVERIFY(QFile::remove(names));
        QCOMPARE(PTKeyCombo(40, 0x1800).description(), u"⌥^K"_s); // then kept
    }

    void display_data()
    {
        QTest::addColumn<PTKeyCombo>("combo");
        QTest::addColumn<QString>("glyphs");
        QTest::addColumn<QString>("words"); // with the names PC keyboards print
        QTest::newRow("clear") << PTKeyCombo() << "(None)" << "(None)";
        QTest::newRow("key without modifiers") << PTKeyCombo(3, 0) << "(None)" << "(None)";
        QTest::newRow("modifier bit 31 set") << PTKeyCombo(5, int(0x80000100u)) << "(None)" << "(None)";
        QTest::newRow("all four, each in its order") << PTKeyCombo(40, 0x1B00) << "⌘⌥^⇧K" << "Super+Control+Alt+Shift+K";
        QTest::newRow("function key bit shows nothing") << PTKeyCombo(5, 0x8200) << "⇧G" << "Shift+G";
        QTest::newRow("F13 in words is Print Screen") << PTKeyCombo(105, 0x100) << "⌘F13" << "Super+Print Screen";
        QTest::newRow("glyph key by its name in words") << PTKeyCombo(36, 0x800) << "⌥↩" << "Alt+Enter";
        QTest::newRow("keypad key by its sign") << PTKeyCombo(87, 0x800) << "⌥Keypad 5" << "Alt+Keypad 5";
        QTest::newRow("keypad Enter") << PTKeyCombo(76, 0x800) << "⌥⌤" << "Alt+Keypad Enter";
        QTest::newRow("key without a name in hexadecimal") << PTKeyCombo(0x7F, 0x100) << "⌘7F" << "Super+7F";
        QTest::newRow("large key code by its low 16 bits") << PTKeyCombo(0x10028, 0x100) << "⌘K" << "Super+K";
    }

    void display()
    {
        QFETCH(PTKeyCombo, combo);
        QFETCH(QString, glyphs);
        QFETCH(QString, words);
        QCOMPARE(combo.description(), glyphs);
        QCOMPARE(combo.descriptionInWords(), words);
    }

    void translatedByTheHost()
    {
        QTranslator german;
        QVERIFY(german.load(u"settings-host_de"_s, QFileInfo(SETTINGS_HOST).path() + u"/translations"_s));
        QVERIFY(QCoreApplication::installTranslator(&german));
        QCOMPARE(PTKeyCombo().description(), u"(Keiner)"_s);
        QCOMPARE(PTKeyCombo().descriptionInWords(), u"(Keiner)"_s);
        QCOMPARE(PTKeyCombo(76, 0x1a00).descriptionInWords(), u"Strg+Alt+Umschalt+Ziffernblock Eingabe"_s);
        QVERIFY(QCoreApplication::removeTranslator(&german));
    }

    // Every key of a full-size ANSI or ISO keyboard has a name, and in words
    // one that a screen reader can say.
    void everyKeyHasAName()
    {
        const QVariantMap names = PTKeyCombo::_keyCodesDictionary().value_or(QVariantMap());
        for (int code = 0; code <= 126; ++code) {
            if (QList{52, 66, 68, 70, 77, 108, 112}.contains(code))
                continue; // no key of these keyboards
            const QString words = PTKeyCombo(code, 0x100).descriptionInWords();
            QVERIFY2(!names.value(QString::number(code)).toString().isEmpty(), qPrintable(QString::number(code)));
            QVERIFY2(!words.contains(QRegularExpression(u"[\\x{2190}-\\x{23FF}]"_s)), qPrintable(words));
        }
    }

    // As the settings file holds it; anything else than a dictionary is clear.
    void plistRoundTrip()
    {
        for (const PTKeyCombo &combo : {kControlOptionK, PTKeyCombo(0, 0x8000), PTKeyCombo()}) {
            const QByteArray file = settings::PropertyList::toXml(combo.plistRepresentation());
            QCOMPARE(PTKeyCombo(settings::PropertyList::fromXml(file)), combo);
        }
        QCOMPARE(PTKeyCombo(QVariant(QVariantList{40, 6144})), PTKeyCombo());
        QVERIFY(PTKeyCombo().isClearCombo() && !PTKeyCombo(12, -1).isClearCombo() && !PTKeyCombo(-1, 1).isClearCombo());
    }

    void hotKeyCallsItsAction()
    {
        LoggingHotKey hotKey;
        QCOMPARE(hotKey.description(), u"<LoggingHotKey: (None)>"_s);
        hotKey.setTarget(&target);
        hotKey.invoke(); // without an action
        hotKey.setAction("hotKeyPressed");
        hotKey.invoke();
        QCOMPARE(target.pressed, QList<const PTHotKey *>{&hotKey});
        hotKey.setAction("noSuchMethod");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"cannot call \"noSuchMethod\""_s));
        hotKey.invoke();
        hotKey.setTarget(std::make_unique<HotKeyTarget>().get()); // destroyed at once
        QVERIFY(!hotKey.target());
    }

    void registration()
    {
        const auto first = registered(u"registered"_s, kCommandA);
        QVERIFY(first);
        const HotKeyRef firstRef = first->carbonHotKey();
        // An invalid combination is accepted without registering, before any other check.
        QVERIFY(center->registerHotKey(makeHotKey(QString(), PTKeyCombo(), &target)));
        QVERIFY(center->registerHotKey(makeHotKey(u"new"_s, PTKeyCombo(3, 0), &target)));
        QVERIFY(center->registerHotKey(makeHotKey(u"new"_s, PTKeyCombo(-1, 0x100), &target)));
        first->setKeyCombo(PTKeyCombo());
        QVERIFY(center->registerHotKey(first));
        first->setKeyCombo(kCommandA);
        // Refused.
        QVERIFY(!center->registerHotKey(makeHotKey(u"new"_s, kRefused, &target)));
        QVERIFY(!center->registerHotKey(makeHotKey(QString(), kShiftF1, &target)));
        QVERIFY(!center->registerHotKey(first));
        first->setName(u"renamed"_s);
        QVERIFY(!center->registerHotKey(first));
        // None of it changed anything; only the first and the refused one asked the source.
        QCOMPARE(source->registerCalls, 2);
        QCOMPARE(source->registrations.size(), 1);
        QCOMPARE(center->allHotKeys(), QList{first});
        QCOMPARE(first->carbonHotKey(), firstRef);
        // The next takes the next number; failed attempts take none.
        const auto next = registered(u"next"_s, kControlOptionK);
        QVERIFY(next);
        const auto entry = source->entry(next->carbonHotKey());
        QVERIFY(entry && entry->id == (HotKeyID{kSignature, 2}) && entry->keyCode == 40 && entry->modifiers == 0x1800);
    }

    void unregistration_data()
    {
        QTest::addColumn<int>("unused");
        QTest::newRow("the hot key") << 0;
        QTest::newRow("by its name") << 0;
        QTest::newRow("disabling its name") << 0;
        QTest::newRow("all hot keys") << 0;
    }

    void unregistration()
    {
        const QByteArray how = QTest::currentDataTag();
        const auto key = registered(u"toggle"_s, kControlOptionK);
        QVERIFY(key && registered(u"other"_s, kCommandA));
        const HotKeyRef ref = key->carbonHotKey();
        // None of these ends it.
        center->unregisterHotKeyForName(u"unknown"_s);
        center->setHotKeyRegistrationForName(u"toggle"_s, true);
        center->unregisterHotKey(nullptr);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"another hot key is registered under that name"_s));
        center->unregisterHotKey(makeHotKey(u"toggle"_s, kControlOptionK, &target));
        key->setName(u"renamed"_s);
        center->unregisterHotKey(key);
        key->setName(u"toggle"_s);
        QVERIFY(source->unregistered.isEmpty());
        QCOMPARE(source->deliver(kEventHotKeyPressed, 1), noErr);

        if (how == "the hot key")
            center->unregisterHotKey(key);
        if (how == "by its name")
            center->unregisterHotKeyForName(u"toggle"_s);
        if (how == "disabling its name")
            center->setHotKeyRegistrationForName(u"toggle"_s, false);
        if (how == "all hot keys")
            center->unregisterAllHotKeys();
        QVERIFY(!center->hotKeyForName(u"toggle"_s));
        QCOMPARE(key->carbonHotKey(), HotKeyRef::Null);
        QVERIFY(source->unregistered.contains(ref) && !source->entry(ref));
        QCOMPARE(source->registrations.size(), how == "all hot keys" ? 0 : 1);
        // A press of its ID, queued before it ended, is not handled.
        QCOMPARE(source->deliver(kEventHotKeyPressed, 1), eventNotHandledErr);
        QCOMPARE(target.count(key.get()), 1);
        // The handler stays until the center goes.
        QVERIFY(center->registerHotKey(key));
        QCOMPARE(source->installCount, 1);
        center.reset();
        QVERIFY(!source->handler);
    }

    void dispatch()
    {
        QVERIFY(registered(u"failing"_s, kShiftF1, "hotKeyFails"));
        const auto key = registered(u"toggle"_s, kControlOptionK);
        QVERIFY(key);
        QCOMPARE(source->deliver(kEventHotKeyPressed, 2), noErr);
        QCOMPARE(source->deliver(kEventHotKeyReleased, 2), noErr);
        QCOMPARE(target.count(key.get()), 1); // pressed once, released nothing
        QCOMPARE(source->deliver(kEventHotKeyPressed, 2, 0x4F746872), eventNotHandledErr); // another component's
        QCOMPARE(source->deliver(kEventHotKeyPressed, 7), eventNotHandledErr); // never registered
        QCOMPARE(source->deliver(HotKeyEvent(kEventClassKeyboard, kEventHotKeyPressed)), eventParameterNotFoundErr);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"not handled: the action failed"_s));
        QCOMPARE(source->deliver(kEventHotKeyPressed, 1), eventNotHandledErr); // its action throws
        QCOMPARE(target.count(key.get()), 1);
    }

    void programmingErrors_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("message");
        QTest::newRow("unregistering without reference") << "unregisterHotKey" << 113 << "";
        QTest::newRow("event of another class") << "sendCarbonEvent" << 208 << "Unknown event class";
        QTest::newRow("event of another kind") << "sendCarbonEvent" << 239 << "Unknown event kind";
    }

    // Reported with the line they stand for, and thrown; where events come
    // in, answered "not handled" instead.
    void programmingErrors()
    {
        QFETCH(QString, method);
        QFETCH(int, line);
        QFETCH(QString, message);
        const auto key = registered(u"toggle"_s, kControlOptionK);
        QVERIFY(key);
        const QString report = u"Assertion failure in %1.*PTHotKeyCenter:%2: %3$"_s.arg(method).arg(line).arg(message);
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(report));
        if (line == 113) {
            key->setCarbonHotKey(HotKeyRef::Null);
            QVERIFY_THROWS_EXCEPTION(hotkeys::AssertionFailure, center->unregisterHotKey(key));
            QCOMPARE(center->hotKeyForName(u"toggle"_s), key);
            return;
        }
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Hot key event not handled: "_s + report));
        const HotKeyEvent event(line == 208 ? 0x6D6F7573 : kEventClassKeyboard, line == 239 ? 7 : kEventHotKeyPressed,
                                HotKeyID{kSignature, 1});
        QCOMPARE(source->deliver(event), eventNotHandledErr);
        QVERIFY(target.pressed.isEmpty());
    }

    void actionMayUnregisterItsOwnHotKey()
    {
        auto key = registered(u"one shot"_s, kControlOptionK);
        const PTHotKey *pressed = key.get();
        target.onPress = [this](PTHotKey *hotKey) { center->unregisterHotKeyForName(hotKey->name()); };
        key.reset(); // only the center holds it now
        QCOMPARE(source->deliver(kEventHotKeyPressed, 1), noErr);
        target.onPress = nullptr;
        QCOMPARE(target.pressed, QList<const PTHotKey *>{pressed});
        QVERIFY(center->allHotKeys().isEmpty() && source->registrations.isEmpty());
    }

    void updateHotKey_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<PTKeyCombo>("combo");
        QTest::addColumn<bool>("registeredAfter");
        QTest::newRow("never registered hot key gets registered") << "fresh" << kCommandA << true;
        QTest::newRow("new combination") << "registered" << kCommandA << true;
        QTest::newRow("cleared combination ends the registration") << "registered" << PTKeyCombo() << false;
        QTest::newRow("refused combination ends the registration") << "registered" << kRefused << false;
        QTest::newRow("renamed hot key under its new name") << "renamed" << kCommandA << true;
        QTest::newRow("another hot key of the same name replaced") << "same name" << kCommandA << true;
    }

    void updateHotKey()
    {
        QFETCH(QString, situation);
        QFETCH(PTKeyCombo, combo);
        QFETCH(bool, registeredAfter);
        auto key = makeHotKey(u"toggle"_s, kControlOptionK, &target);
        if (situation != u"fresh")
            QVERIFY(center->registerHotKey(key));
        if (situation == u"same name")
            key = makeHotKey(u"toggle"_s, kControlOptionK, &target);
        if (situation == u"renamed")
            key->setName(u"renamed"_s);
        key->setKeyCombo(combo);
        center->updateHotKey(key);
        QCOMPARE(source->registrations.size(), registeredAfter ? 1 : 0);
        QCOMPARE(center->allHotKeys().size(), registeredAfter ? 1 : 0);
        QCOMPARE(center->hotKeyForName(key->name()) == key, registeredAfter);
        const auto entry = source->entry(key->carbonHotKey());
        QCOMPARE(entry.has_value(), registeredAfter);
        QVERIFY(!entry || (entry->keyCode == 0 && entry->modifiers == 0x100));
    }

    void notifications()
    {
        NotificationCenter notifications;
        QStringList calls;
        NotificationCenter::ObserverToken second{};
        notifications.addObserver(u"A"_s, nullptr, [&](const Notification &) {
            calls << u"first"_s;
            notifications.removeObserver(second); // not called for this one any more
            notifications.addObserver(u"A"_s, nullptr, [&](const Notification &) { calls << u"new"_s; });
        });
        second = notifications.addObserver(u"A"_s, nullptr, [&](const Notification &) { calls << u"second"_s; });
        auto context = std::make_unique<QObject>(), sender = std::make_unique<QObject>();
        notifications.addObserver(QString(), nullptr, [&](const Notification &) { calls << u"context"_s; }, context.get());
        notifications.addObserver(u"A"_s, sender.get(), [&](const Notification &) { calls << u"sender"_s; });
        context.reset();
        // A new object at a destroyed sender's address is another sender.
        QObject *const address = sender.get();
        sender.reset();
        notifications.postNotificationName(u"A"_s, address);
        QCOMPARE(calls, QStringList{u"first"_s});
        notifications.postNotificationName(u"A"_s, nullptr);
        QCOMPARE(calls, (QStringList{u"first"_s, u"first"_s, u"new"_s}));
    }

    void translateKeyCode_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<QString>("character");
        const QString none(QChar(u'\0'));
        QTest::newRow("de: beyond ASCII") << "de" << 41 << "ö";
        QTest::newRow("fr: a digit position gives its unshifted sign") << "fr" << 18 << "&";
        QTest::newRow("de: a dead key gives its accent") << "de" << 24 << "´";
        QTest::newRow("us: keypad without Num Lock gives none") << "us" << 83 << none;
        QTest::newRow("us: no key recorded") << "us" << -1 << none;
        QTest::newRow("a layout that does not compile gives none") << "no-such-layout" << 16 << none;
    }

    void translateKeyCode()
    {
        QFETCH(QString, layout);
        QFETCH(int, keyCode);
        QFETCH(QString, character);
        if (layout == u"no-such-layout")
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"does not compile"_s));
        const PTKeyCodeTranslator translator(PTKeyCodeTranslator::keyboardLayoutWithNames(layout));
        QCOMPARE(translator.translateKeyCode(qint16(keyCode)), character);
    }

    // A new translator once the server's layout changes, the active one of
    // two included; those handed out before keep theirs.
    void currentTranslatorFollowsTheServer()
    {
        XUser user; // keeps the server from resetting between the steps
        const auto setxkbmap = [](const QString &layout) {
            return QProcess::execute(u"setxkbmap"_s, {u"-layout"_s, layout}) == 0;
        };
        const auto before = PTKeyCodeTranslator::currentTranslator();
        QCOMPARE(PTKeyCodeTranslator::currentTranslator(), before);
        const auto restore = qScopeGuard([&] { setxkbmap(u"us"_s); });
        QVERIFY(setxkbmap(u"de,fr"_s));
        const auto de = PTKeyCodeTranslator::currentTranslator();
        QCOMPARE(de->description(), u"PTKeyCodeTranslator layout=German (uchr)"_s);
        xcb_xkb_latch_lock_state(user.c(), XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, 1, 0, 0, 0);
        user.sync();
        const auto fr = PTKeyCodeTranslator::currentTranslator();
        QCOMPARE(fr->layoutName(), u"French"_s);
        QCOMPARE(fr->translateKeyCode(0), u"q"_s);
        QCOMPARE(de->translateKeyCode(16), u"z"_s);
        QCOMPARE(before->translateKeyCode(16), u"y"_s);
    }
};

QTEST_GUILESS_MAIN(TestHotKeys)
#include "tst_hotkeys.moc"
