// The pane's hot key button with the shared recording panel, over the real
// settings store, a session bus of the test's own with a stand-in for the
// cursor application, and the shared hot key center on the private X server.

#include "tests/cursorapp/TestSession.h"
#include "tests/hotkeys/XTestClient.h"

#include "PTHotKey.h"
#include "PTHotKeyCenter.h"
#include "PTKeyComboPanel.h"
#include "QuillvanePref.h"
#include "PreferencesStore.h"
#include "PropertyList.h"

#include <QApplication>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QtDBus/qtdbusglobal.h>

#include <functional>
#include <memory>

using namespace testsession;
using x11::KeyCodeTable;

namespace {

// The cursor application's service, on a bus connection of its own. Each
// readPrefs runs the hook, as the real program re-reads its settings then.
class CursorStandIn : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.quillvane.CursorController")

public:
    int readPrefsCount = 0;
    std::function<void()> onReadPrefs;

public Q_SLOTS:
    Q_NOREPLY void readPrefs()
    {
        ++readPrefsCount;
        if (onReadPrefs)
            onReadPrefs();
    }
    // Answered after everything the caller sent before.
    int received() { return readPrefsCount; }
};

class CursorService
{
public:
    CursorService()
        : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("cursor stand-in")))
    {
        m_bus.registerObject(QStringLiteral("/"), &controller, QDBusConnection::ExportAllSlots);
        registered = m_bus.interface()->registerService(serverBusName()).value()
            == QDBusConnectionInterface::ServiceRegistered;
    }
    ~CursorService()
    {
        m_bus.unregisterObject(QStringLiteral("/"));
        QDBusConnection::disconnectFromBus(QStringLiteral("cursor stand-in"));
    }

    CursorStandIn controller;
    bool registered = false;

private:
    QDBusConnection m_bus;
};

// Never starts a program.
class Pane : public QuillvanePref
{
public:
    using QuillvanePref::QuillvanePref;
    void launchCursorApp() override {}
};

struct Page
{
    QWidget view;
    QLineEdit *hotkeyField = new QLineEdit(&view);
    explicit Page(Pane &pane)
    {
        pane.setProperty("hotkeyField", QVariant::fromValue<QObject *>(hotkeyField));
        pane.setMainView(&view);
        view.show();
        pane.mainViewDidLoad();
    }
};

QVariant combo(qint64 keyCode, qint64 modifiers)
{
    return QVariantMap{{QStringLiteral("keyCode"), keyCode}, {QStringLiteral("modifiers"), modifiers}};
}

const QKeyCombination kControlShiftJ(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_J);

} // namespace

class TestHotKeyEditing : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void editing_data();
    void editing();

private:
    // readPrefs received by the stand-in so far, asked after all sent before.
    int received();

    PrivateBus m_bus;
};

void TestHotKeyEditing::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("the shared hot key center needs an X display");
    QString error;
    QVERIFY2(m_bus.start(true, &error), qPrintable(error));
}

int TestHotKeyEditing::received()
{
    const QDBusMessage call = QDBusMessage::createMethodCall(
        serverBusName(), QStringLiteral("/"), QStringLiteral("org.quillvane.CursorController"), QStringLiteral("received"));
    QDBusPendingCallWatcher watcher(QDBusConnection::sessionBus().asyncCall(call, 5000));
    if (!QTest::qWaitFor([&] { return watcher.isFinished(); }, 6000))
        return -1;
    const QDBusPendingReply<int> reply = watcher;
    return reply.isValid() ? reply.value() : -1;
}

void TestHotKeyEditing::editing_data()
{
    QTest::addColumn<QList<QKeyCombination>>("keys");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("readPrefs"); // -1: the cursor application is not running

    QTest::newRow("confirming Control-Shift-J") << QList{kControlShiftJ} << QStringList{"okButton"}
                                                << combo(38, 0x1200) << QStringLiteral("^⇧J") << 2;
    QTest::newRow("confirming without a change stores the same again")
        << QList<QKeyCombination>{} << QStringList{"okButton"} << combo(40, 0x1800) << QStringLiteral("⌥^K") << 2;
    QTest::newRow("cancelling sends nothing more") << QList{kControlShiftJ} << QStringList{"cancelButton"}
                                                   << combo(40, 0x1800) << QStringLiteral("⌥^K") << 1;
    QTest::newRow("confirming a cleared combination stores -1, -1")
        << QList{kControlShiftJ} << QStringList{"clearButton", "okButton"} << combo(-1, -1)
        << PTKeyCombo::clearKeyCombo().description() << 2;
    QTest::newRow("cursor application not running") << QList{kControlShiftJ} << QStringList{"okButton"}
                                                    << combo(38, 0x1200) << QStringLiteral("^⇧J") << -1;
}

void TestHotKeyEditing::editing()
{
    QFETCH(QList<QKeyCombination>, keys);
    QFETCH(QStringList, buttons);
    QFETCH(QVariant, stored);
    QFETCH(QString, field);
    QFETCH(int, readPrefs);

    QTemporaryDir config;
    QVERIFY(config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    const QString file = config.filePath(QStringLiteral("org.quillvane.Quillvane.plist"));
    const auto onDisk = [&] {
        return settings::PropertyList::readFile(file).toMap().value(QStringLiteral("toggleCursorHotKey"));
    };

    std::unique_ptr<CursorService> service;
    if (readPrefs >= 0) {
        service = std::make_unique<CursorService>();
        QVERIFY(service->registered);
    }
    XTestClient otherClient;
    QVERIFY(otherClient.isValid());
    const PTKeyCombo storedCombo(stored);
    std::optional<bool> otherClientCouldGrab;
    if (service) {
        // When the cursor application re-reads the new combination, the
        // settings application must no longer hold it.
        service->controller.onReadPrefs = [&] {
            if (service->controller.readPrefsCount != 2 || !storedCombo.isValidHotKeyCombo())
                return;
            const quint8 key = *KeyCodeTable::xKeyCode(storedCombo.keyCode());
            const quint16 modifiers = KeyCodeTable::xModifiers(quint32(storedCombo.modifiers()));
            otherClientCouldGrab = otherClient.grabKey(key, modifiers);
            if (*otherClientCouldGrab)
                otherClient.ungrabKey(key, modifiers);
        };
    }

    settings::PreferencesStore store(config.path());
    Pane pane(store);
    Page page(pane);
    const QVariant seeded = onDisk();
    QCOMPARE(seeded, combo(40, 0x1800));

    // The sheet is up when the action returns, and has synchronised once.
    pane.setHotKeyClick(nullptr);
    PTKeyComboPanel *panel = PTKeyComboPanel::sharedPanel();
    QDialog *sheet = panel->window();
    QVERIFY(sheet->isVisible());
    QCOMPARE(sheet->parentWidget(), &page.view);
    QCOMPARE(panel->keyCombo(), PTKeyCombo(40, 0x1800));
    QCOMPARE(panel->keyBindingName(), QStringLiteral("toggle the cursor"));
    if (service)
        QCOMPARE(received(), 1);

    for (const QKeyCombination key : std::as_const(keys))
        QTest::keyClick(static_cast<QWidget *>(nullptr), key.key(), key.keyboardModifiers());
    for (const QString &name : std::as_const(buttons))
        QTest::mouseClick(sheet->findChild<QPushButton *>(name), Qt::LeftButton);
    QVERIFY(!sheet->isVisible());

    QCOMPARE(onDisk(), stored);
    QCOMPARE(page.hotkeyField->text(), field);
    QCOMPARE(pane.hotKey()->keyCombo(), storedCombo);
    // The cursor application holds the hot key, never the settings window.
    QVERIFY(!PTHotKeyCenter::sharedCenter()->hotKeyForName(pane.hotKey()->name()));
    QCOMPARE(pane.hotKey()->carbonHotKey(), systemhotkeys::HotKeyRef::Null);
    if (service) {
        QCOMPARE(received(), readPrefs);
        if (readPrefs == 2 && storedCombo.isValidHotKeyCombo())
            QCOMPARE(otherClientCouldGrab, std::optional(true));
    }

    // The next load reads what was stored.
    settings::PreferencesStore reloadedStore(config.path());
    Pane reloaded(reloadedStore);
    Page reloadedPage(reloaded);
    QCOMPARE(reloaded.hotKey()->keyCombo(), storedCombo);
    QCOMPARE(reloadedPage.hotkeyField->text(), field);
}

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestHotKeyEditing test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hotkeyediting.moc"
