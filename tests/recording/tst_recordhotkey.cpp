// Recording a new hot key as a user does it: the real settings-host with the
// real pane bundle and the real cursor application, on the private X server
// and a session bus of the test's own, driven through XTest.

#include "PropertyList.h"
#include "tests/cursorapp/TestSession.h"
#include "tests/hotkeys/XTestClient.h"

#include <QDBusConnection>
#include <QDBusReply>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <memory>

#include <signal.h>

using namespace testsession;
using x11::KeyCodeTable;

namespace {

constexpr qint32 kJ = 38, kK = 40, kC = 8;
constexpr quint32 kControlShift = 0x1200, kControlOption = 0x1800, kOption = 0x800;

template<typename T>
using XReply = std::unique_ptr<T, decltype(&std::free)>;

// The user at the screen: what has the keyboard, where windows are, what
// they show, and the mouse.
class Screen : public XTestClient
{
public:
    xcb_window_t root() const { return xcb_setup_roots_iterator(xcb_get_setup(c())).data->root; }

    xcb_window_t focusWindow() const
    {
        const XReply<xcb_get_input_focus_reply_t> reply(
            xcb_get_input_focus_reply(c(), xcb_get_input_focus(c()), nullptr), &std::free);
        return reply && reply->focus > XCB_INPUT_FOCUS_POINTER_ROOT && reply->focus != root() ? reply->focus
                                                                                              : XCB_NONE;
    }

    qint64 windowPid(xcb_window_t window) const
    {
        static const char name[] = "_NET_WM_PID";
        const XReply<xcb_intern_atom_reply_t> atom(
            xcb_intern_atom_reply(c(), xcb_intern_atom(c(), true, sizeof name - 1, name), nullptr), &std::free);
        if (!atom || !window)
            return 0;
        const XReply<xcb_get_property_reply_t> property(
            xcb_get_property_reply(c(), xcb_get_property(c(), false, window, atom->atom, XCB_ATOM_CARDINAL, 0, 1),
                                   nullptr),
            &std::free);
        if (!property || xcb_get_property_value_length(property.get()) != 4)
            return 0;
        return *static_cast<const quint32 *>(xcb_get_property_value(property.get()));
    }

    // WINDOW's place on the screen.
    QRect geometry(xcb_window_t window) const
    {
        const XReply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(c(), xcb_get_geometry(c(), window), nullptr), &std::free);
        const XReply<xcb_translate_coordinates_reply_t> origin(
            xcb_translate_coordinates_reply(c(), xcb_translate_coordinates(c(), window, root(), 0, 0), nullptr),
            &std::free);
        if (!geometry || !origin)
            return {};
        return QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    }

    // What the screen shows in AREA.
    QImage grab(const QRect &area) const
    {
        const XReply<xcb_get_image_reply_t> image(
            xcb_get_image_reply(c(),
                                xcb_get_image(c(), XCB_IMAGE_FORMAT_Z_PIXMAP, root(), qint16(area.x()),
                                              qint16(area.y()), quint16(area.width()), quint16(area.height()), ~0u),
                                nullptr),
            &std::free);
        if (!image || xcb_get_image_data_length(image.get()) < area.width() * area.height() * 4)
            return {};
        return QImage(xcb_get_image_data(image.get()), area.width(), area.height(), area.width() * 4,
                      QImage::Format_RGB32)
            .copy();
    }

    void click(const QPoint &point)
    {
        xcb_test_fake_input(c(), XCB_MOTION_NOTIFY, 0, 0, root(), qint16(point.x()), qint16(point.y()), 0);
        xcb_test_fake_input(c(), XCB_BUTTON_PRESS, 1, 0, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(c(), XCB_BUTTON_RELEASE, 1, 0, XCB_NONE, 0, 0, 0);
        sync();
    }

    void typeCombo(qint32 virtualKeyCode, quint32 carbonModifiers)
    {
        type(*KeyCodeTable::xKeyCode(virtualKeyCode), carbonModifiers);
    }
};

bool processGone(qint64 pid)
{
    if (::kill(pid_t(pid), 0) != 0)
        return errno == ESRCH;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2, 1) == "Z";
}

QVariantMap combo(qint64 keyCode, qint64 modifiers)
{
    return {{QStringLiteral("keyCode"), keyCode}, {QStringLiteral("modifiers"), modifiers}};
}

} // namespace

class TestRecordHotKey : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void recordControlShiftJ();

private:
    QVariant onDisk() const
    {
        return settings::PropertyList::readFile(m_config.filePath(QStringLiteral("org.quillvane.Quillvane.plist")))
            .toMap()
            .value(QStringLiteral("toggleCursorHotKey"));
    }
    QVariant cursorApp(const char *property) const
    {
        return cursorProperty(QDBusConnection::sessionBus(), QLatin1String(property));
    }
    qint64 cursorAppPid() const
    {
        const QDBusReply<uint> pid = QDBusConnection::sessionBus().interface()->servicePid(serverBusName());
        return pid.isValid() ? qint64(pid.value()) : 0;
    }
    bool stopCursorApp();
    bool saveArtefact(const QImage &image, const char *name);

    PrivateBus m_bus;
    QTemporaryDir m_config;
    QProcess m_host;
};

void TestRecordHotKey::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs an X display");
    QString error;
    QVERIFY2(m_bus.start(true, &error), qPrintable(error));
    QVERIFY(m_config.isValid());
    QVERIFY(Screen().isValid());
}

void TestRecordHotKey::cleanup()
{
    if (m_host.state() != QProcess::NotRunning) {
        m_host.kill();
        m_host.waitForFinished(5000);
    }
    QVERIFY(stopCursorApp());
}

bool TestRecordHotKey::stopCursorApp()
{
    // Started detached by the host: ended by the process id its bus name has.
    const qint64 pid = cursorAppPid();
    if (pid <= 0)
        return true;
    ::kill(pid_t(pid), SIGTERM);
    return QTest::qWaitFor([pid] { return processGone(pid); }, 10000)
        && QTest::qWaitFor([] { return !nameHasOwner(QDBusConnection::sessionBus(), serverBusName()); }, 5000);
}

bool TestRecordHotKey::saveArtefact(const QImage &image, const char *name)
{
    return !image.isNull() && image.save(QStringLiteral(QUILLVANE_BINARY_DIR "/tests/recording/") + QLatin1String(name));
}

void TestRecordHotKey::recordControlShiftJ()
{
    Screen user;
    QVERIFY(user.isValid());
    const QDBusConnection bus = QDBusConnection::sessionBus();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    environment.remove(QStringLiteral("LANGUAGE"));
    m_host.setProgram(QStringLiteral(SETTINGS_HOST));
    m_host.setArguments({QStringLiteral(PANE_BUNDLE)});
    m_host.setProcessEnvironment(environment);
    m_host.setStandardInputFile(QProcess::nullDevice());
    m_host.setProcessChannelMode(QProcess::ForwardedChannels);
    m_host.start();
    QVERIFY(m_host.waitForStarted(5000));

    // The cursor application runs with the seeded Control-Option-K, and the
    // settings window has the keyboard.
    QTRY_VERIFY_WITH_TIMEOUT(nameHasOwner(bus, serverBusName()), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(cursorApp("ToggleCursorHotKey"), QVariant(combo(kK, kControlOption)), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(user.windowPid(user.focusWindow()) == m_host.processId(), 20000);
    const xcb_window_t window = user.focusWindow();
    const QRect windowArea = user.geometry(window);

    // Alt+C, the mnemonic of "Change…", opens the sheet, which takes the keyboard.
    user.typeCombo(kC, kOption);
    QTRY_VERIFY_WITH_TIMEOUT(user.focusWindow() != window && user.windowPid(user.focusWindow()) == m_host.processId(),
                             10000);
    const xcb_window_t sheet = user.focusWindow();
    const QRect sheetArea = user.geometry(sheet);
    QVERIFY(sheetArea.width() > 100 && sheetArea.height() > 60);

    // The cursor application's own key is recorded, not acted on: the panel
    // has the whole keyboard. Then the new combination.
    const QRect screenArea = windowArea.united(sheetArea);
    const QImage before = user.grab(screenArea);
    user.typeCombo(kK, kControlOption);
    user.typeCombo(kJ, kControlShift);
    QTRY_VERIFY_WITH_TIMEOUT(user.grab(screenArea) != before, 10000);
    QVERIFY(saveArtefact(user.grab(screenArea), "recording-sheet.png"));
    // Had the key gone to the cursor application, the pointer would be hidden.
    QCOMPARE(cursorApp("Hidden"), QVariant(false));

    // OK is the last button of the bottom row, inside the window's margin.
    user.click(sheetArea.bottomRight() - QPoint(20, 20));
    QTRY_COMPARE_WITH_TIMEOUT(onDisk(), QVariant(combo(kJ, kControlShift)), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(cursorApp("ToggleCursorHotKey"), QVariant(combo(kJ, kControlShift)), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(user.focusWindow(), window, 10000);
    QVERIFY(saveArtefact(user.grab(windowArea), "recording-window.png"));

    // The new key works in the cursor application at once, so the settings
    // window holds no grab on it...
    user.typeCombo(kJ, kControlShift);
    QTRY_COMPARE_WITH_TIMEOUT(cursorApp("Hidden"), QVariant(true), 10000);

    // ... and with the cursor application gone, any other program can take it.
    QVERIFY(stopCursorApp());
    QVERIFY(m_host.state() == QProcess::Running);
    const quint8 j = *KeyCodeTable::xKeyCode(kJ);
    const quint16 controlShift = KeyCodeTable::xModifiers(kControlShift);
    QVERIFY(user.grabKey(j, controlShift));
    user.ungrabKey(j, controlShift);
}

QTEST_GUILESS_MAIN(TestRecordHotKey)
#include "tst_recordhotkey.moc"
