// The hot key library without its widgets, over the hot key source double; in a bundle, for the key names.

#include "Doubles.h"
#include "Files.h"
#include "XUser.h"

#include "AssertionHandler.h"
#include "PTHotKeyCenter.h"
#include "PTKeyCodeTranslator.h"

#include <QProcess>
#include <QTranslator>

using namespace Qt::StringLiterals;
using namespace systemhotkeys;
using namespace testsupport;
using settings::PropertyList;

namespace {

const PTKeyCombo kControlOptionK(40, 0x1800), kCommandA(0, 0x100), kShiftF1(122, 0x200);
const PTKeyCombo kRefused(12, 0x100); // the source double refuses it
const quint32 kSignature = 0x5054486B; // PTHk

} // namespace

class TestHotKeys : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<HotKeyEventSourceDouble> source;
    std::unique_ptr<PTHotKeyCenter> center;
    HotKeyTarget target;

    std::shared_ptr<PTHotKey> registered(const QString &name, const PTKeyCombo &combo)
    {
        const auto hotKey = makeHotKey(name, combo, &target);
        return center->registerHotKey(hotKey) ? hotKey : nullptr;
    }

private Q_SLOTS:
    void init()
    {
        source = std::make_shared<HotKeyEventSourceDouble>();
        source->refused.insert({quint32(kRefused.keyCode()), quint32(kRefused.modifiers())});
        center = std::make_unique<PTHotKeyCenter>(source);
        target.pressed.clear();
        target.onPress = nullptr;
    }

    // Runs first, before the key names are in place: looked for at each display until they are found, then
    // kept. Every key of a full-size ANSI or ISO keyboard has one, and in words one that a screen reader can
    // say; the host's translation gives them in German.
    void keyNames()
    {
        const QString names = QCoreApplication::applicationDirPath() + u"/../Resources/PTKeyCodes.plist"_s;
        QFile::remove(names);
        QCOMPARE(kControlOptionK.description(), u"⌥^28"_s);
        QVERIFY(writeFile(names, readFile(QUILLVANE_SOURCE_DIR "/resources/PTKeyCodes.plist"_L1)));
        QCOMPARE(kControlOptionK.description(), u"⌥^K"_s);
        QVERIFY(QFile::remove(names));
        const QVariantMap kept = PTKeyCombo::_keyCodesDictionary().value_or(QVariantMap());
        const QRegularExpression glyph(u"[\\x{2190}-\\x{23FF}]"_s);
        for (int code = 0; code <= 126; ++code) {
            const QString words = PTKeyCombo(code, 0x100).descriptionInWords();
            if (!QList{52, 66, 68, 70, 77, 108, 112}.contains(code)) // none on these keyboards
                QVERIFY2(kept.contains(QString::number(code)) && !words.contains(glyph), qPrintable(words));
        }
        QTranslator german;
        QVERIFY(german.load(u"settings-host_de"_s, QFileInfo(SETTINGS_HOST).path() + u"/translations"_s));
        QVERIFY(QCoreApplication::installTranslator(&german));
        QCOMPARE(PTKeyCombo().description(), u"(Keiner)"_s);
        QCOMPARE(PTKeyCombo(76, 0x1a00).descriptionInWords(), u"Strg+Alt+Umschalt+Ziffernblock Eingabe"_s);
        QVERIFY(QCoreApplication::removeTranslator(&german));
    }

    void display_data()
    {
        QTest::addColumn<PTKeyCombo>("combo");
        QTest::addColumn<QString>("glyphs");
        QTest::addColumn<QString>("words"); // with the names PC keyboards print
        QTest::newRow("clear") << PTKeyCombo() << "(None)" << "(None)";
        QTest::newRow("key without modifiers") << PTKeyCombo(3, 0) << "(None)" << "(None)";
        QTest::newRow("modifier bit 31 set") << PTKeyCombo(5, int(0x80000100u)) << "(None)" << "(None)";
        QTest::newRow("all four in their order") << PTKeyCombo(40, 0x1B00) << "⌘⌥^⇧K" << "Super+Control+Alt+Shift+K";
        QTest::newRow("function key bit shows nothing") << PTKeyCombo(5, 0x8200) << "⇧G" << "Shift+G";
        QTest::newRow("F13 in words is Print Screen") << PTKeyCombo(105, 0x100) << "⌘F13" << "Super+Print Screen";
        QTest::newRow("glyph key by its name in words") << PTKeyCombo(36, 0x800) << "⌥↩" << "Alt+Enter";
        QTest::newRow("keypad key by its sign") << PTKeyCombo(87, 0x800) << "⌥Keypad 5" << "Alt+Keypad 5";
        QTest::newRow("keypad Enter") << PTKeyCombo(76, 0x800) << "⌥⌤" << "Alt+Keypad Enter";
        QTest::newRow("key without a name in hexadecimal") << PTKeyCombo(0x7F, 0x100) << "⌘7F" << "Super+7F";
    }

    void display()
    {
        QFETCH(PTKeyCombo, combo);
        QFETCH(QString, glyphs);
        QFETCH(QString, words);
        QCOMPARE(combo.description(), glyphs);
        QCOMPARE(combo.descriptionInWords(), words);
    }

    // As the settings file holds it; anything else than a dictionary is clear.
    void plistRoundTrip()
    {
        for (const PTKeyCombo &combo : {kControlOptionK, PTKeyCombo(0, 0x8000), PTKeyCombo()})
            QCOMPARE(PTKeyCombo(PropertyList::fromXml(PropertyList::toXml(combo.plistRepresentation()))), combo);
        QCOMPARE(PTKeyCombo(QVariant(QVariantList{40, 6144})), PTKeyCombo());
        QVERIFY(PTKeyCombo().isClearCombo() && !PTKeyCombo(12, -1).isClearCombo() && !PTKeyCombo(-1, 1).isClearCombo());
    }

    void registration()
    {
        const auto first = registered(u"registered"_s, kCommandA);
        QVERIFY(first);
        const HotKeyRef firstRef = first->carbonHotKey();
        // An invalid combination is accepted without registering, before any other check.
        for (const PTKeyCombo &invalid : {PTKeyCombo(), PTKeyCombo(3, 0), PTKeyCombo(-1, 0x100)})
            QVERIFY(center->registerHotKey(makeHotKey(QString(), invalid)));
        // Refused: by the source, without a name, registered already, also under another name.
        QVERIFY(!center->registerHotKey(makeHotKey(u"new"_s, kRefused)));
        QVERIFY(!center->registerHotKey(makeHotKey(QString(), kShiftF1)));
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
        const auto entry = source->entry(next ? next->carbonHotKey() : HotKeyRef::Null);
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
        center->unregisterHotKey(makeHotKey(u"toggle"_s, kControlOptionK));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(u"in unregisterHotKey.*PTHotKeyCenter:113: $"_s));
        key->setCarbonHotKey(HotKeyRef::Null); // a programming error, thrown
        QVERIFY_THROWS_EXCEPTION(hotkeys::AssertionFailure, center->unregisterHotKey(key));
        key->setCarbonHotKey(ref);
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
        QVERIFY(!center->hotKeyForName(u"toggle"_s) && key->carbonHotKey() == HotKeyRef::Null);
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

    // What the center does with each event it is handed; programming errors are reported with the line they
    // stand for and answered "not handled".
    void dispatch()
    {
        const auto failing = registered(u"failing"_s, kShiftF1);
        failing->setAction("hotKeyFails");
        auto key = registered(u"toggle"_s, kControlOptionK);
        QCOMPARE(source->deliver(kEventHotKeyPressed, 2), noErr);
        QCOMPARE(source->deliver(kEventHotKeyReleased, 2), noErr);
        QCOMPARE(target.count(key.get()), 1); // pressed once, released nothing
        QCOMPARE(source->deliver(kEventHotKeyPressed, 2, 0x4F746872), eventNotHandledErr); // another component's
        QCOMPARE(source->deliver(kEventHotKeyPressed, 7), eventNotHandledErr); // never registered
        QCOMPARE(source->deliver(HotKeyEvent(kEventClassKeyboard, kEventHotKeyPressed)), eventParameterNotFoundErr);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"not handled: the action failed"_s));
        QCOMPARE(source->deliver(kEventHotKeyPressed, 1), eventNotHandledErr); // its action throws
        failing->setAction("noSuchMethod");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"cannot call \"noSuchMethod\""_s));
        QCOMPARE(source->deliver(kEventHotKeyPressed, 1), noErr);
        failing->setTarget(std::make_unique<HotKeyTarget>().get()); // destroyed at once
        QVERIFY(!failing->target());
        const std::pair<HotKeyEvent, QString> errors[] = {
            {HotKeyEvent(0x6D6F7573, kEventHotKeyPressed, HotKeyID{kSignature, 2}), u"208: Unknown event class"_s},
            {HotKeyEvent(kEventClassKeyboard, 7, HotKeyID{kSignature, 2}), u"239: Unknown event kind"_s},
        };
        for (const auto &[event, report] : errors) {
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(u"in sendCarbonEvent.*PTHotKeyCenter:"_s + report));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Hot key event not handled: .*:"_s + report));
            QCOMPARE(source->deliver(event), eventNotHandledErr);
        }
        QCOMPARE(target.count(key.get()), 1);
        // An action may unregister its own hot key, held by the center alone.
        target.onPress = [this](PTHotKey *hotKey) { center->unregisterHotKeyForName(hotKey->name()); };
        const PTHotKey *const pressed = std::exchange(key, nullptr).get();
        QCOMPARE(source->deliver(kEventHotKeyPressed, 2), noErr);
        QCOMPARE(target.pressed, (QList<const PTHotKey *>{pressed, pressed}));
        QVERIFY(!center->hotKeyForName(u"toggle"_s) && source->registrations.size() == 1);
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
        auto key = makeHotKey(u"toggle"_s, kControlOptionK);
        if (situation != u"fresh")
            QVERIFY(center->registerHotKey(key));
        if (situation == u"same name")
            key = makeHotKey(u"toggle"_s, kControlOptionK);
        if (situation == u"renamed")
            key->setName(u"renamed"_s);
        key->setKeyCombo(combo);
        center->updateHotKey(key);
        QCOMPARE(center->allHotKeys().size(), registeredAfter ? 1 : 0);
        QCOMPARE(center->hotKeyForName(key->name()) == key, registeredAfter);
        QCOMPARE(source->registrations.size(), registeredAfter ? 1 : 0);
        const auto entry = source->entry(key->carbonHotKey());
        QVERIFY(registeredAfter ? entry && entry->keyCode == 0 && entry->modifiers == 0x100 : !entry);
    }

    void notifications()
    {
        hotkeys::NotificationCenter notifications;
        QStringList calls;
        hotkeys::NotificationCenter::ObserverToken second{};
        notifications.addObserver(u"A"_s, nullptr, [&](auto &) {
            calls << u"first"_s;
            notifications.removeObserver(second); // not called for this one any more
            notifications.addObserver(u"A"_s, nullptr, [&](auto &) { calls << u"new"_s; });
        });
        second = notifications.addObserver(u"A"_s, nullptr, [&](auto &) { calls << u"second"_s; });
        auto context = std::make_unique<QObject>(), sender = std::make_unique<QObject>();
        notifications.addObserver(QString(), nullptr, [&](auto &) { calls << u"context"_s; }, context.get());
        notifications.addObserver(u"A"_s, sender.get(), [&](auto &) { calls << u"sender"_s; });
        context.reset();
        // A new object at a destroyed sender's address is another sender.
        QObject *const address = sender.get();
        sender.reset();
        notifications.postNotificationName(u"A"_s, address);
        QCOMPARE(calls, QStringList{u"first"_s});
        notifications.postNotificationName(u"A"_s, nullptr);
        QCOMPARE(calls, (QStringList{u"first"_s, u"first"_s, u"new"_s}));
    }

    // The unshifted character at a key's position. The current translator is made anew once the server's layout
    // changes, the active one of two included; those handed out before keep theirs.
    void translators()
    {
        XUser user; // keeps the server from resetting between the steps
        xcb_xkb_latch_lock_state(user.c(), XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, 0, 0, 0, 0); // the first layout active
        user.sync();
        const auto before = PTKeyCodeTranslator::currentTranslator();
        QCOMPARE(PTKeyCodeTranslator::currentTranslator(), before);
        const auto restore = qScopeGuard([] { QProcess::execute(u"setxkbmap"_s, {u"-layout"_s, u"us"_s}); });
        QCOMPARE(QProcess::execute(u"setxkbmap"_s, {u"-layout"_s, u"de,fr"_s}), 0);
        const auto de = PTKeyCodeTranslator::currentTranslator();
        QCOMPARE(de->description(), u"PTKeyCodeTranslator layout=German (uchr)"_s);
        xcb_xkb_latch_lock_state(user.c(), XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, 1, 0, 0, 0);
        user.sync();
        const auto fr = PTKeyCodeTranslator::currentTranslator();
        QCOMPARE(fr->layoutName(), u"French"_s);
        QCOMPARE(fr->translateKeyCode(0), u"q"_s);
        QCOMPARE(fr->translateKeyCode(18), u"&"_s); // a digit's position gives its unshifted sign
        QCOMPARE(de->translateKeyCode(16), u"z"_s);
        QCOMPARE(de->translateKeyCode(41), u"ö"_s);
        QCOMPARE(de->translateKeyCode(24), u"´"_s); // a dead key gives its accent
        QCOMPARE(before->translateKeyCode(16), u"y"_s);
        const QString none(QChar(u'\0'));
        QCOMPARE(before->translateKeyCode(83), none); // the keypad without Num Lock
        QCOMPARE(before->translateKeyCode(-1), none);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"does not compile"_s));
        const PTKeyCodeTranslator broken(PTKeyCodeTranslator::keyboardLayoutWithNames(u"no-such-layout"_s));
        QCOMPARE(broken.translateKeyCode(16), none);
    }
};

QTEST_GUILESS_MAIN(TestHotKeys)
#include "tst_hotkeys.moc"
