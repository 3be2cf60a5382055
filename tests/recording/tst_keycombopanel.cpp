// The recording panel on the offscreen platform, with the shared hot key
// center over the private X server.

#include "BroadcastRecorder.h"

#include "PTHotKey.h"
#include "PTHotKeyCenter.h"
#include "PTKeyComboPanel.h"

#include <QApplication>
#include <QDialog>
#include <QKeySequence>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

// Combinations nothing else on the test server holds.
const PTKeyCombo kStart(14, 0x1B00);   // Command Shift Option Control E
const PTKeyCombo kPressed(15, 0x1B00); // ... R
const QKeyCombination kPressR(Qt::MetaModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::ControlModifier, Qt::Key_R);
const QKeyCombination kPressT(Qt::MetaModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::ControlModifier, Qt::Key_T);

class Delegate : public QObject
{
    Q_OBJECT

public:
    explicit Delegate(const std::shared_ptr<PTHotKey> &hotKey)
        : m_hotKey(hotKey)
    {
    }

    Q_INVOKABLE void keyComboPanelEnded(PTKeyComboPanel *panel)
    {
        ++calls;
        panelCombo = panel->keyCombo();
        const std::shared_ptr<PTHotKey> hotKey = m_hotKey.lock();
        hotKeyCombo = hotKey->keyCombo();
        registeredAtCall = PTHotKeyCenter::sharedCenter()->hotKeyForName(hotKey->name()) == hotKey;
        grabbedAtCall = hotKey->carbonHotKey() != systemhotkeys::HotKeyRef::Null;
        windowHiddenAtCall = !panel->window()->isVisible();
    }

    int calls = 0;
    PTKeyCombo panelCombo, hotKeyCombo;
    bool registeredAtCall = false, grabbedAtCall = false, windowHiddenAtCall = false;

private:
    std::weak_ptr<PTHotKey> m_hotKey;
};

std::shared_ptr<PTHotKey> makeHotKey(const QString &name, const PTKeyCombo &combo = kStart)
{
    auto hotKey = std::make_shared<PTHotKey>();
    hotKey->setName(name);
    hotKey->setKeyCombo(combo);
    return hotKey;
}

QString text(const QWidget *field)
{
    return field->property("text").toString();
}

// The user types on the keyboard: the keys go wherever the keyboard is.
void type(const QList<QKeyCombination> &keys)
{
    for (const QKeyCombination key : keys)
        QTest::keyClick(static_cast<QWidget *>(nullptr), key.key(), key.keyboardModifiers());
}

// Clicks the button named STEP, or presses the keys that STEP names ("Esc").
void press(PTKeyComboPanel &panel, const QString &step)
{
    if (!step.endsWith(QLatin1String("Button"))) {
        type({QKeySequence::fromString(step)[0]});
        return;
    }
    auto *button = panel.window()->findChild<QPushButton *>(step);
    QVERIFY2(button, qPrintable(step));
    QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace

class TestKeyComboPanel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void sheet_data();
    void sheet();
    void delegateWithoutTheMethodIsLogged_data();
    void delegateWithoutTheMethodIsLogged();
    void modal_data();
    void modal();
    void sheetOnAWindowThatGoesAway();
    void unusableInterfaceFile();

private:
    QWidget m_host;
};

void TestKeyComboPanel::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("the shared hot key center needs an X display");
    m_host.resize(500, 300);
    m_host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_host));
}

void TestKeyComboPanel::cleanup()
{
    PTHotKeyCenter::sharedCenter()->unregisterAllHotKeys();
}

void TestKeyComboPanel::sheet_data()
{
    QTest::addColumn<QList<QKeyCombination>>("keys");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<PTKeyCombo>("applied"); // the hot key's combination afterwards
    QTest::addColumn<bool>("confirmed");

    QTest::newRow("OK applies the last combination pressed")
        << QList{kPressT, kPressR} << QStringList{"okButton"} << kPressed << true;
    QTest::newRow("Cancel changes nothing") << QList{kPressR} << QStringList{"cancelButton"} << kStart << false;
    QTest::newRow("Clear then OK applies the clear combination")
        << QList{kPressR} << QStringList{"clearButton", "okButton"} << PTKeyCombo::clearKeyCombo() << true;
    QTest::newRow("Clear then Cancel changes nothing")
        << QList{kPressR} << QStringList{"clearButton", "cancelButton"} << kStart << false;
    // The keyboard's way out: plain keys work the sheet, with a modifier they are recorded.
    QTest::newRow("plain Return confirms") << QList{kPressT, kPressR} << QStringList{"Return"} << kPressed << true;
    QTest::newRow("plain keypad Enter confirms") << QList{kPressR} << QStringList{"Enter"} << kPressed << true;
    QTest::newRow("plain Escape cancels") << QList{kPressR} << QStringList{"Esc"} << kStart << false;
    QTest::newRow("plain Backspace clears, Return confirms")
        << QList{kPressR} << QStringList{"Backspace", "Return"} << PTKeyCombo::clearKeyCombo() << true;
    QTest::newRow("Escape with modifiers is recorded")
        << QList<QKeyCombination>() << QStringList{"Meta+Shift+Alt+Ctrl+Esc", "okButton"} << PTKeyCombo(53, 0x1B00)
        << true;
}

void TestKeyComboPanel::sheet()
{
    QFETCH(QList<QKeyCombination>, keys);
    QFETCH(QStringList, buttons);
    QFETCH(PTKeyCombo, applied);
    QFETCH(bool, confirmed);

    // One panel for every row: each sheet starts from its hot key, in the
    // same window, whatever earlier sheets recorded.
    PTKeyComboPanel &panel = *PTKeyComboPanel::sharedPanel();
    static QDialog *const firstWindow = panel.window();
    const auto hotKey = makeHotKey(QStringLiteral("test the sheet"));
    Delegate delegate(hotKey);
    panel.showSheetForHotkey(hotKey, &m_host, &delegate);

    // Up at once, on the host window, recording.
    QDialog *sheet = panel.window();
    QCOMPARE(sheet, firstWindow);
    QVERIFY(sheet->isVisible());
    QCOMPARE(sheet->parentWidget(), &m_host);
    QCOMPARE(sheet->windowModality(), Qt::WindowModal);
    QVERIFY(!panel.isModalPanel());
    QTRY_COMPARE(QApplication::activeWindow(), sheet);
    QCOMPARE(QApplication::focusWidget(), panel.keyBroadcaster());
    QCOMPARE(QWidget::keyboardGrabber(), panel.keyBroadcaster());
    QCOMPARE(text(panel.titleField()), QStringLiteral("Press the keys that should test the sheet."));
    QCOMPARE(text(panel.comboField()), kStart.description());

    PTKeyBroadcaster other;
    QTest::keyClick(&other, Qt::Key_T, Qt::MetaModifier);
    QCOMPARE(panel.keyCombo(), kStart);
    type(keys);
    if (!keys.isEmpty())
        QCOMPARE(text(panel.comboField()), kPressed.description());
    for (const QString &button : std::as_const(buttons)) {
        QVERIFY(sheet->isVisible());
        press(panel, button);
        if (button == QLatin1String("clearButton") || button == QLatin1String("Backspace"))
            QCOMPARE(text(panel.comboField()), PTKeyCombo::clearKeyCombo().description());
    }

    QVERIFY(!sheet->isVisible());
    QVERIFY(!QWidget::keyboardGrabber());
    QCOMPARE(hotKey->keyCombo(), applied);
    QCOMPARE(delegate.calls, confirmed ? 1 : 0);
    const bool registered = PTHotKeyCenter::sharedCenter()->hotKeyForName(hotKey->name()) == hotKey;
    QCOMPARE(registered, confirmed && applied.isValidHotKeyCombo());
    if (!registered)
        QCOMPARE(hotKey.use_count(), 1); // let go of with the sheet
    if (confirmed) {
        // Told after the hot key was given the combination and registered.
        QCOMPARE(delegate.panelCombo, applied);
        QCOMPARE(delegate.hotKeyCombo, applied);
        QCOMPARE(delegate.registeredAtCall, registered);
        QCOMPARE(delegate.grabbedAtCall, registered);
        QVERIFY(delegate.windowHiddenAtCall);
    }
}

void TestKeyComboPanel::delegateWithoutTheMethodIsLogged_data()
{
    QTest::addColumn<bool>("withDelegate");
    QTest::newRow("a delegate without keyComboPanelEnded") << true;
    QTest::newRow("a delegate destroyed during the sheet") << false;
}

void TestKeyComboPanel::delegateWithoutTheMethodIsLogged()
{
    QFETCH(bool, withDelegate);
    PTKeyComboPanel panel;
    const auto hotKey = makeHotKey(QStringLiteral("no callback"));
    auto delegate = std::make_unique<QObject>();
    panel.showSheetForHotkey(hotKey, &m_host, delegate.get());
    if (!withDelegate)
        delegate.reset();
    type({kPressR});
    QTest::ignoreMessage(QtWarningMsg, "currentModalDelegate doesn't respond to keyComboPanelEnded:!");
    press(panel, QStringLiteral("okButton"));
    QCOMPARE(hotKey->keyCombo(), kPressed);
    QCOMPARE(PTHotKeyCenter::sharedCenter()->hotKeyForName(hotKey->name()), hotKey);
}

void TestKeyComboPanel::modal_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<PTKeyCombo>("applied");

    QTest::newRow("OK applies the combination pressed") << "okButton" << kPressed;
    QTest::newRow("Cancel changes nothing") << "cancelButton" << kStart;
    QTest::newRow("Clear applies the clear combination at once") << "clearButton" << PTKeyCombo::clearKeyCombo();
    QTest::newRow("plain Backspace applies the clear combination at once")
        << "Backspace" << PTKeyCombo::clearKeyCombo();
    QTest::newRow("plain Escape changes nothing") << "Esc" << kStart;
}

void TestKeyComboPanel::modal()
{
    QFETCH(QString, button);
    QFETCH(PTKeyCombo, applied);

    PTKeyComboPanel panel;
    const auto hotKey = makeHotKey(QStringLiteral("test the modal path"));
    bool modalWhileUp = false;
    QTimer::singleShot(0, this, [&] {
        modalWhileUp = panel.isModalPanel() && panel.window()->isVisible();
        type({kPressR});
        press(panel, button);
    });
    panel.runModalForHotKey(hotKey);

    QVERIFY(modalWhileUp);
    QVERIFY(!panel.window()->isVisible());
    QCOMPARE(hotKey->keyCombo(), applied);
    QCOMPARE(PTHotKeyCenter::sharedCenter()->hotKeyForName(hotKey->name()) == hotKey,
             applied.isValidHotKeyCombo() && applied != kStart);
}

void TestKeyComboPanel::sheetOnAWindowThatGoesAway()
{
    PTKeyComboPanel panel;
    auto hotKey = makeHotKey(QStringLiteral("orphan"));
    Delegate delegate(hotKey);
    auto host = std::make_unique<QWidget>();
    host->show();
    panel.showSheetForHotkey(hotKey, host.get(), &delegate);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("sheet ends unconfirmed")));
    host.reset();

    const std::weak_ptr<PTHotKey> released = hotKey;
    hotKey.reset();
    QVERIFY(released.expired());
    QCOMPARE(delegate.calls, 0);

    // The next sheet gets a new window that works.
    const auto next = makeHotKey(QStringLiteral("after the orphan"));
    Delegate nextDelegate(next);
    panel.showSheetForHotkey(next, &m_host, &nextDelegate);
    QVERIFY(panel.window() && panel.window()->isVisible());
    type({kPressR});
    press(panel, QStringLiteral("okButton"));
    QCOMPARE(nextDelegate.calls, 1);
    QCOMPARE(next->keyCombo(), kPressed);
}

void TestKeyComboPanel::unusableInterfaceFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("NotADialog.ui"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"(<ui version="4.0"><widget class="QWidget" name="w"/></ui>)");
    file.close();

    PTKeyComboPanel panel(path);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("does not make a dialog")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot be shown")));
    auto hotKey = makeHotKey(QStringLiteral("never shown"));
    panel.showSheetForHotkey(hotKey, &m_host, nullptr);
    const std::weak_ptr<PTHotKey> released = hotKey;
    hotKey.reset();
    QVERIFY(released.expired());
}

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestKeyComboPanel test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_keycombopanel.moc"
