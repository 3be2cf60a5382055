// The key broadcaster as a widget on the offscreen platform.

#include "BroadcastRecorder.h"

#include "KeyCodeTable.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QShortcut>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

namespace {

using B = PTKeyBroadcaster;
using x11::KeyCodeTable;

// A dialog as the recording panel has one: the broadcaster and a field that
// could take the focus.
struct Window
{
    QDialog dialog;
    PTKeyBroadcaster *broadcaster = new PTKeyBroadcaster(&dialog);
    QLineEdit *field = new QLineEdit(&dialog);

    Window()
    {
        auto *layout = new QVBoxLayout(&dialog);
        layout->addWidget(broadcaster);
        layout->addWidget(field);
    }

    bool showWithFocus()
    {
        dialog.show();
        if (!QTest::qWaitForWindowActive(&dialog))
            return false;
        broadcaster->setFocus();
        return QApplication::focusWidget() == broadcaster;
    }
};

class DoublingBroadcaster : public PTKeyBroadcaster
{
public:
    qint64 cocoaModifiersAsCarbonModifiers(qint64 cocoaModifiers) const override
    {
        return 2 * PTKeyBroadcaster::cocoaModifiersAsCarbonModifiers(cocoaModifiers);
    }
};

void press(QWidget *widget, int key, Qt::KeyboardModifiers modifiers, quint32 scanCode = 0,
           quint32 nativeModifiers = 0, bool autoRepeat = false)
{
    QKeyEvent event(QEvent::KeyPress, key, modifiers, scanCode, 0, nativeModifiers, QString(), autoRepeat);
    QApplication::sendEvent(widget, &event);
}

quint8 xKey(qint32 virtualKeyCode)
{
    return *KeyCodeTable::xKeyCode(virtualKeyCode);
}

} // namespace

class TestKeyBroadcaster : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void convertsModifierFlags();
    void convertsKeyEvents_data();
    void convertsKeyEvents();
    void modifierOnlyAndRepeatedPressesPostNothing_data();
    void modifierOnlyAndRepeatedPressesPostNothing();
    void wouldBeShortcutIsPostedOnceAndHandled();
    void keepsTheFocus();
    void subclassConversionIsUsed();
    void notificationsCarryTheirBroadcaster();
};

void TestKeyBroadcaster::convertsModifierFlags()
{
    // Only the five rows count, whatever else the flags hold; never -1.
    const PTKeyBroadcaster broadcaster;
    QCOMPARE(broadcaster.cocoaModifiersAsCarbonModifiers(-1), qint64(0x9B00));
    QCOMPARE(broadcaster.cocoaModifiersAsCarbonModifiers(B::AlphaShiftKeyMask | B::NumericPadKeyMask | 0xff), qint64(0));
}

void TestKeyBroadcaster::convertsKeyEvents_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<quint32>("scanCode");
    QTest::addColumn<quint32>("nativeModifiers");
    QTest::addColumn<PTKeyCombo>("posted");

    const auto row = [](const char *name, int key, Qt::KeyboardModifiers modifiers, PTKeyCombo posted,
                        quint32 scanCode = 0, quint32 nativeModifiers = 0) {
        QTest::newRow(name) << key << modifiers << scanCode << nativeModifiers << posted;
    };
    row("Super is Command, with Shift", Qt::Key_K, Qt::MetaModifier | Qt::ShiftModifier, {40, 0x300});
    row("Alt is Option, with Control", Qt::Key_K, Qt::AltModifier | Qt::ControlModifier, {40, 0x1800});
    row("no modifiers: mask 0", Qt::Key_A, Qt::NoModifier, {0, 0});
    row("F-keys carry the function flag", Qt::Key_F5, Qt::ControlModifier, {96, 0x9000});
    row("arrows carry the function flag", Qt::Key_Left, Qt::NoModifier, {123, 0x8000});
    row("Backspace does not", Qt::Key_Backspace, Qt::NoModifier, {51, 0});
    row("a shifted symbol is its key", Qt::Key_Exclam, Qt::ShiftModifier, {18, 0x200});
    row("keypad digit", Qt::Key_5, Qt::KeypadModifier, {87, 0});
    row("Tab", Qt::Key_Tab, Qt::NoModifier, {48, 0});
    row("Backtab is Shift-Tab", Qt::Key_Backtab, Qt::ShiftModifier, {48, 0x200});
    row("a key without a position", Qt::Key_LaunchMail, Qt::ControlModifier, {-1, 0x1000});
    // From the X server: the key's position decides, whatever the layout calls it.
    row("X key code before the toolkit key", Qt::Key_L, Qt::NoModifier, {40, 0}, xKey(40));
    row("Caps Lock on changes nothing", Qt::Key_K, Qt::ControlModifier, {40, 0x1000}, xKey(40),
        KeyCodeTable::XLock | KeyCodeTable::XControl);
    row("an X key code the table lacks falls back", Qt::Key_J, Qt::NoModifier, {38, 0}, 255);
}

void TestKeyBroadcaster::convertsKeyEvents()
{
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(quint32, scanCode);
    QFETCH(quint32, nativeModifiers);
    QFETCH(PTKeyCombo, posted);

    PTKeyBroadcaster broadcaster;
    BroadcastRecorder recorder;
    press(&broadcaster, key, modifiers, scanCode, nativeModifiers);
    QCOMPARE(recorder.combos, QList<PTKeyCombo>{posted});
    QCOMPARE(recorder.userInfoSizes, QList<int>{1});
}

void TestKeyBroadcaster::modifierOnlyAndRepeatedPressesPostNothing_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<quint32>("scanCode");
    QTest::addColumn<bool>("autoRepeat");

    QTest::newRow("Shift") << int(Qt::Key_Shift) << 0u << false;
    QTest::newRow("Caps Lock") << int(Qt::Key_CapsLock) << 0u << false;
    QTest::newRow("right Control by its X key code") << int(Qt::Key_unknown) << quint32(xKey(62)) << false;
    QTest::newRow("a held key repeating") << int(Qt::Key_K) << 0u << true;
}

void TestKeyBroadcaster::modifierOnlyAndRepeatedPressesPostNothing()
{
    QFETCH(int, key);
    QFETCH(quint32, scanCode);
    QFETCH(bool, autoRepeat);

    PTKeyBroadcaster broadcaster;
    BroadcastRecorder recorder;
    press(&broadcaster, key, Qt::ShiftModifier, scanCode, 0, autoRepeat);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, scanCode, 0, 0);
    QApplication::sendEvent(&broadcaster, &release);
    QCOMPARE(recorder.combos.size(), 0);
}

void TestKeyBroadcaster::wouldBeShortcutIsPostedOnceAndHandled()
{
    Window window;
    auto *shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_S), &window.dialog);
    QSignalSpy activated(shortcut, &QShortcut::activated);
    QSignalSpy clicked(window.broadcaster, &QPushButton::clicked);
    QVERIFY(window.showWithFocus());

    BroadcastRecorder recorder;
    QTest::keyClick(window.broadcaster, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(recorder.combos, QList<PTKeyCombo>{PTKeyCombo(1, 0x1000)});
    QCOMPARE(activated.count(), 0);

    // Keys that a dialog or a button would act on are only recorded.
    QTest::keyClick(window.broadcaster, Qt::Key_Escape);
    QTest::keyClick(window.broadcaster, Qt::Key_Return);
    QTest::keyClick(window.broadcaster, Qt::Key_Space);
    QCOMPARE(recorder.combos.size(), 4);
    QVERIFY(window.dialog.isVisible());
    QCOMPARE(clicked.count(), 0);
}

void TestKeyBroadcaster::keepsTheFocus()
{
    Window window;
    QVERIFY(window.showWithFocus());
    BroadcastRecorder recorder;

    QTest::keyClick(window.broadcaster, Qt::Key_Tab);
    QTest::keyClick(window.broadcaster, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(recorder.combos, (QList<PTKeyCombo>{{48, 0}, {48, 0x200}}));
    QCOMPARE(QApplication::focusWidget(), window.broadcaster);

    window.field->setFocus(Qt::MouseFocusReason);
    QCOMPARE(QApplication::focusWidget(), window.broadcaster);
    window.broadcaster->clearFocus();
    QCOMPARE(QApplication::focusWidget(), window.broadcaster);

    // Once hidden, it lets go.
    window.broadcaster->hide();
    window.field->setFocus();
    QCOMPARE(QApplication::focusWidget(), window.field);
}

void TestKeyBroadcaster::subclassConversionIsUsed()
{
    DoublingBroadcaster broadcaster;
    BroadcastRecorder recorder;
    press(&broadcaster, Qt::Key_K, Qt::ControlModifier);
    QCOMPARE(recorder.combos, QList<PTKeyCombo>{PTKeyCombo(40, 0x2000)});
}

void TestKeyBroadcaster::notificationsCarryTheirBroadcaster()
{
    PTKeyBroadcaster first, second;
    BroadcastRecorder all;
    BroadcastRecorder onlyFirst(&first);
    press(&second, Qt::Key_K, Qt::NoModifier);
    press(&first, Qt::Key_J, Qt::NoModifier);
    QCOMPARE(all.senders, (QList<const QObject *>{&second, &first}));
    QCOMPARE(onlyFirst.combos, QList<PTKeyCombo>{PTKeyCombo(38, 0)});
}

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestKeyBroadcaster test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_keybroadcaster.moc"
