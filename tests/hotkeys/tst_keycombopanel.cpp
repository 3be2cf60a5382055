// The recording widgets on the offscreen platform: the key broadcaster, and the recording panel with the shared
// hot key center on the shared X server.

#include "Doubles.h"

#include "KeyCodeTable.h"
#include "PTHotKeyCenter.h"
#include "PTKeyComboPanel.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QShortcut>
#include <QSignalSpy>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace testsupport;

namespace {

const PTKeyCombo kStart(14, 0x1B00), kPressed(15, 0x1B00); // E and R with all four modifiers: held by nothing else

// Clicks the button named STEP, or types the keys STEP names ("Esc") where the keyboard is.
void step(PTKeyComboPanel &panel, const QString &step)
{
    const QKeyCombination keys = QKeySequence::fromString(step)[0];
    if (step.endsWith(u"Button"_s))
        QTest::mouseClick(panel.window()->findChild<QPushButton *>(step), Qt::LeftButton);
    else
        QTest::keyClick(static_cast<QWidget *>(nullptr), keys.key(), keys.keyboardModifiers());
}

} // namespace

// Notes the hot key's combination when the panel tells it, if the hot key is registered by then (unless
// cleared) and the window hidden.
class Delegate : public QObject
{
    Q_OBJECT

public:
    std::weak_ptr<PTHotKey> hotKey;
    QList<PTKeyCombo> told;
    Q_INVOKABLE void keyComboPanelEnded(PTKeyComboPanel *panel)
    {
        const auto key = hotKey.lock();
        const bool registered = PTHotKeyCenter::sharedCenter()->hotKeyForName(key->name()) == key;
        if (panel->keyCombo() == key->keyCombo() && !panel->window()->isVisible()
            && registered == key->keyCombo().isValidHotKeyCombo())
            told << key->keyCombo();
    }
};

class TestKeyComboPanel : public QObject
{
    Q_OBJECT

private:
    QWidget host;

private Q_SLOTS:
    void initTestCase()
    {
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
    }

    void cleanup() { PTHotKeyCenter::sharedCenter()->unregisterAllHotKeys(); }

    void convertsKeyEvents_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<quint32>("scanCode");
        QTest::addColumn<quint32>("nativeModifiers");
        QTest::addColumn<QList<PTKeyCombo>>("posted");
        const auto row = [](const char *name, int key, Qt::KeyboardModifiers modifiers, QList<PTKeyCombo> posted,
                            quint32 scanCode = 0, quint32 nativeModifiers = 0) {
            QTest::newRow(name) << key << modifiers << scanCode << nativeModifiers << posted;
        };
        row("Super is Command, with Shift", Qt::Key_K, Qt::MetaModifier | Qt::ShiftModifier, {{40, 0x300}});
        row("Alt is Option, with Control", Qt::Key_K, Qt::AltModifier | Qt::ControlModifier, {{40, 0x1800}});
        row("F-keys carry the function flag", Qt::Key_F5, Qt::ControlModifier, {{96, 0x9000}});
        row("arrows carry the function flag", Qt::Key_Left, Qt::NoModifier, {{123, 0x8000}});
        row("a shifted sign is its key", Qt::Key_Exclam, Qt::ShiftModifier, {{18, 0x200}});
        row("keypad digit", Qt::Key_5, Qt::KeypadModifier, {{87, 0}});
        row("a key without a position", Qt::Key_LaunchMail, Qt::ControlModifier, {{-1, 0x1000}});
        // From the X server the key's position decides, whatever the layout calls it.
        row("X key code before the toolkit key", Qt::Key_L, Qt::NoModifier, {{40, 0}}, 45);
        row("Caps Lock on changes nothing", Qt::Key_K, Qt::ControlModifier, {{40, 0x1000}}, 45,
            x11::KeyCodeTable::XLock | x11::KeyCodeTable::XControl);
        row("an X key code the table lacks falls back", Qt::Key_J, Qt::NoModifier, {{38, 0}}, 255);
        row("Shift alone posts nothing", Qt::Key_Shift, Qt::ShiftModifier, {});
        row("right Control by its X key code alone posts nothing", Qt::Key_unknown, Qt::NoModifier, {}, 105);
    }

    void convertsKeyEvents()
    {
        QFETCH(int, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(quint32, scanCode);
        QFETCH(quint32, nativeModifiers);
        QFETCH(QList<PTKeyCombo>, posted);
        PTKeyBroadcaster broadcaster;
        BroadcastRecorder recorder(&broadcaster);
        for (const bool held : {false, true}) { // a held key is one press
            QKeyEvent event(QEvent::KeyPress, key, modifiers, scanCode, 0, nativeModifiers, QString(), held);
            QApplication::sendEvent(&broadcaster, &event);
        }
        QCOMPARE(recorder.combos, posted);
    }

    // Keys that would trigger a shortcut, work a dialog or move the focus are only recorded, and the
    // broadcaster keeps the focus in its window.
    void broadcasterInAWindow()
    {
        QDialog dialog;
        auto *broadcaster = new PTKeyBroadcaster(&dialog);
        auto *field = new QLineEdit(&dialog);
        QSignalSpy activated(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_S), &dialog), &QShortcut::activated);
        QSignalSpy clicked(broadcaster, &QPushButton::clicked);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        broadcaster->setFocus();
        BroadcastRecorder recorder(broadcaster);
        QTest::keyClick(broadcaster, Qt::Key_S, Qt::ControlModifier);
        for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Space, Qt::Key_Tab})
            QTest::keyClick(broadcaster, key);
        QCOMPARE(recorder.combos, (QList<PTKeyCombo>{{1, 0x1000}, {53, 0}, {36, 0}, {49, 0}, {48, 0}}));
        QVERIFY(activated.isEmpty() && clicked.isEmpty() && dialog.isVisible());
        QCOMPARE(QApplication::focusWidget(), broadcaster);
        field->setFocus(Qt::MouseFocusReason);
        QCOMPARE(QApplication::focusWidget(), broadcaster);
        broadcaster->hide(); // then it lets go
        field->setFocus();
        QCOMPARE(QApplication::focusWidget(), field);
    }

    void sheet_data()
    {
        QTest::addColumn<QString>("steps"); // after Meta+Shift+Alt+Ctrl+R
        QTest::addColumn<PTKeyCombo>("applied");
        QTest::addColumn<bool>("confirmed");
        QTest::newRow("OK applies the combination pressed") << u"okButton"_s << kPressed << true;
        QTest::newRow("Cancel changes nothing") << u"cancelButton"_s << kStart << false;
        QTest::newRow("Clear, OK applies the clear combination") << u"clearButton okButton"_s << PTKeyCombo() << true;
        QTest::newRow("plain Return confirms") << u"Return"_s << kPressed << true;
        QTest::newRow("plain keypad Enter confirms") << u"Enter"_s << kPressed << true;
        QTest::newRow("plain Escape cancels") << u"Esc"_s << kStart << false;
        QTest::newRow("plain Backspace clears, Return confirms") << u"Backspace Return"_s << PTKeyCombo() << true;
        QTest::newRow("Escape with Control recorded") << u"Ctrl+Esc okButton"_s << PTKeyCombo(53, 0x1000) << true;
    }

    // One panel for every row: each sheet starts from its hot key, in the same window, whatever the sheet
    // before recorded.
    void sheet()
    {
        QFETCH(QString, steps);
        QFETCH(PTKeyCombo, applied);
        QFETCH(bool, confirmed);
        PTKeyComboPanel &panel = *PTKeyComboPanel::sharedPanel();
        static QDialog *const firstWindow = panel.window();
        const auto hotKey = makeHotKey(u"test the sheet"_s, kStart);
        Delegate delegate;
        delegate.hotKey = hotKey;
        panel.showSheetForHotkey(hotKey, &host, &delegate);
        QDialog *sheet = panel.window();
        QVERIFY(sheet == firstWindow && sheet->isVisible() && sheet->parentWidget() == &host && !panel.isModalPanel());
        QTRY_COMPARE(QApplication::activeWindow(), sheet);
        QCOMPARE(QApplication::focusWidget(), panel.keyBroadcaster());
        QCOMPARE(QWidget::keyboardGrabber(), panel.keyBroadcaster());
        QCOMPARE(panel.titleField()->property("text").toString(), u"Press the keys that should test the sheet."_s);
        QCOMPARE(panel.comboField()->property("text").toString(), kStart.description());
        PTKeyBroadcaster other;
        QTest::keyClick(&other, Qt::Key_T, Qt::MetaModifier);
        QCOMPARE(panel.keyCombo(), kStart);
        for (const QString &each : (u"Meta+Shift+Alt+Ctrl+R "_s + steps).split(u' ')) {
            QVERIFY(sheet->isVisible());
            step(panel, each);
        }
        QVERIFY(!sheet->isVisible() && !QWidget::keyboardGrabber());
        QCOMPARE(hotKey->keyCombo(), applied);
        QCOMPARE(delegate.told, confirmed ? QList{applied} : QList<PTKeyCombo>{});
        if (!applied.isValidHotKeyCombo())
            QCOMPARE(hotKey.use_count(), 1); // let go of with the sheet
    }

    void modal_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<PTKeyCombo>("applied");
        QTest::newRow("OK applies the combination pressed") << "okButton" << kPressed;
        QTest::newRow("Clear applies the clear combination at once") << "clearButton" << PTKeyCombo::clearKeyCombo();
        QTest::newRow("plain Escape changes nothing") << "Esc" << kStart;
    }

    void modal()
    {
        QFETCH(QString, button);
        QFETCH(PTKeyCombo, applied);
        PTKeyComboPanel panel;
        const auto hotKey = makeHotKey(u"test the modal panel"_s, kStart);
        bool modalWhileUp = false;
        QTimer::singleShot(0, this, [&] {
            modalWhileUp = panel.isModalPanel() && panel.window()->isVisible();
            step(panel, u"Meta+Shift+Alt+Ctrl+R"_s);
            step(panel, button);
        });
        panel.runModalForHotKey(hotKey);
        QVERIFY(modalWhileUp && !panel.window()->isVisible());
        QCOMPARE(hotKey->keyCombo(), applied);
        QCOMPARE(PTHotKeyCenter::sharedCenter()->hotKeyForName(hotKey->name()) == hotKey, applied == kPressed);
    }

    // The sheet ends unconfirmed, letting go of the hot key; the next sheet gets a new window, and a delegate
    // without the method is logged.
    void sheetOnAWindowThatGoesAway()
    {
        PTKeyComboPanel panel;
        auto hotKey = makeHotKey(u"orphan"_s, kStart);
        auto window = std::make_unique<QWidget>();
        window->show();
        panel.showSheetForHotkey(hotKey, window.get(), this);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"sheet ends unconfirmed"_s));
        window.reset();
        QCOMPARE(hotKey.use_count(), 1);
        panel.showSheetForHotkey(hotKey, &host, this);
        QVERIFY(panel.window() && panel.window()->isVisible());
        step(panel, u"Meta+Shift+Alt+Ctrl+R"_s);
        QTest::ignoreMessage(QtWarningMsg, "currentModalDelegate doesn't respond to keyComboPanelEnded:!");
        step(panel, u"okButton"_s);
        QCOMPARE(PTHotKeyCenter::sharedCenter()->hotKeyForName(u"orphan"_s), hotKey);
    }
};

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestKeyComboPanel test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_keycombopanel.moc"
