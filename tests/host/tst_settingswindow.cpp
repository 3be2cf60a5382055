// The settings window as a user meets it: the real settings-host opens the
// real pane bundle on the private X server and session bus, and the user
// changes the settings from the keyboard.

#include "HostProcess.h"
#include "LoginItems.h"
#include "Bundle.h"
#include "PropertyList.h"
#include "tests/cursorapp/TestSession.h"

#include <QDBusConnection>
#include <QDBusReply>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include <signal.h>

using namespace testsession;

namespace {

struct FreeDeleter
{
    void operator()(void *pointer) const { std::free(pointer); }
};
template<typename T>
using XReply = std::unique_ptr<T, FreeDeleter>;

struct ConnectionDeleter
{
    void operator()(xcb_connection_t *connection) const { xcb_disconnect(connection); }
};

// A second X client, as the user's keyboard and a screenshot tool.
class XUser
{
public:
    XUser()
        : m_connection(xcb_connect(nullptr, nullptr))
    {
        if (isValid())
            m_root = xcb_setup_roots_iterator(xcb_get_setup(c())).data->root;
    }

    bool isValid() const { return !xcb_connection_has_error(c()); }
    xcb_connection_t *c() const { return m_connection.get(); }

    // The window that has the keyboard focus; none while the focus follows
    // the pointer or is nowhere.
    xcb_window_t focusWindow() const
    {
        const XReply<xcb_get_input_focus_reply_t> reply(
            xcb_get_input_focus_reply(c(), xcb_get_input_focus(c()), nullptr));
        if (!reply || reply->focus == XCB_NONE || reply->focus == XCB_INPUT_FOCUS_POINTER_ROOT
            || reply->focus == m_root) {
            return XCB_NONE;
        }
        return reply->focus;
    }

    // The process that WINDOW says it belongs to (_NET_WM_PID), 0 if none.
    qint64 windowPid(xcb_window_t window) const
    {
        static const char name[] = "_NET_WM_PID";
        const XReply<xcb_intern_atom_reply_t> atom(
            xcb_intern_atom_reply(c(), xcb_intern_atom(c(), true, sizeof name - 1, name), nullptr));
        if (!atom || atom->atom == XCB_NONE)
            return 0;
        const XReply<xcb_get_property_reply_t> property(xcb_get_property_reply(
            c(), xcb_get_property(c(), false, window, atom->atom, XCB_ATOM_CARDINAL, 0, 1), nullptr));
        if (!property || xcb_get_property_value_length(property.get()) != 4)
            return 0;
        return *static_cast<const quint32 *>(xcb_get_property_value(property.get()));
    }

    // The key that types KEYSYM without Shift on the server's keyboard map.
    xcb_keycode_t keyCodeFor(xcb_keysym_t keysym) const
    {
        const xcb_setup_t *setup = xcb_get_setup(c());
        const int count = setup->max_keycode - setup->min_keycode + 1;
        const XReply<xcb_get_keyboard_mapping_reply_t> map(xcb_get_keyboard_mapping_reply(
            c(), xcb_get_keyboard_mapping(c(), setup->min_keycode, quint8(count)), nullptr));
        if (!map)
            return 0;
        const xcb_keysym_t *keysyms = xcb_get_keyboard_mapping_keysyms(map.get());
        for (int i = 0; i < count; ++i) {
            if (keysyms[i * map->keysyms_per_keycode] == keysym)
                return xcb_keycode_t(setup->min_keycode + i);
        }
        return 0;
    }

    // Presses the keys in order and lets go of them in reverse, as a chord.
    void chord(const QList<xcb_keysym_t> &keysyms)
    {
        QList<xcb_keycode_t> keys;
        for (const xcb_keysym_t keysym : keysyms)
            keys << keyCodeFor(keysym);
        for (const xcb_keycode_t key : std::as_const(keys))
            xcb_test_fake_input(c(), XCB_KEY_PRESS, key, 0, XCB_NONE, 0, 0, 0);
        for (auto it = keys.crbegin(); it != keys.crend(); ++it)
            xcb_test_fake_input(c(), XCB_KEY_RELEASE, *it, 0, XCB_NONE, 0, 0, 0);
        std::free(xcb_get_input_focus_reply(c(), xcb_get_input_focus(c()), nullptr)); // round trip
    }

    // What WINDOW shows now.
    QImage grab(xcb_window_t window) const
    {
        const XReply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(c(), xcb_get_geometry(c(), window), nullptr));
        if (!geometry || geometry->depth < 24)
            return {};
        const XReply<xcb_get_image_reply_t> image(xcb_get_image_reply(
            c(), xcb_get_image(c(), XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, geometry->width, geometry->height, ~0u),
            nullptr));
        if (!image)
            return {};
        const int length = xcb_get_image_data_length(image.get());
        if (length < geometry->width * geometry->height * 4)
            return {};
        const QImage view(xcb_get_image_data(image.get()), geometry->width, geometry->height, geometry->width * 4,
                          QImage::Format_RGB32);
        return view.copy();
    }

private:
    std::unique_ptr<xcb_connection_t, ConnectionDeleter> m_connection;
    xcb_window_t m_root = XCB_NONE;
};

constexpr xcb_keysym_t AltKey = 0xffe9; // Alt_L
constexpr xcb_keysym_t RightKey = 0xff53;
constexpr xcb_keysym_t SKey = 's';
constexpr xcb_keysym_t HKey = 'h';

bool processGone(qint64 pid)
{
    if (::kill(pid_t(pid), 0) != 0)
        return errno == ESRCH;
    // A zombie has ended; whoever adopted it reaps it.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const int afterName = line.lastIndexOf(')');
    return afterName > 0 && line.mid(afterName + 2, 1) == "Z";
}

bool differsAcross(const QImage &image)
{
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); y += 7) {
        for (int x = 0; x < image.width(); x += 7) {
            if (image.pixel(x, y) != first)
                return true;
        }
    }
    return false;
}

} // namespace

class TestSettingsWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void userChangesSettingsFromTheKeyboard();

private:
    QVariantMap domainOnDisk() const
    {
        return settings::PropertyList::readFile(m_config->filePath(QStringLiteral("org.quillvane.Quillvane.plist")))
            .toMap();
    }
    QVariant cursorAppProperty(const QString &name) const
    {
        return cursorProperty(QDBusConnection::sessionBus(), name);
    }
    qint64 cursorAppPid() const;
    void stopCursorApp();

    PrivateBus m_bus;
    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<QProcess> m_host;
};

void TestSettingsWindow::initTestCase()
{
    QString error;
    QVERIFY2(m_bus.start(true, &error), qPrintable(error));
    QVERIFY(QDBusConnection::sessionBus().isConnected());
    QVERIFY2(XUser().isValid(), "no X display");
}

void TestSettingsWindow::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    QVERIFY(m_config->isValid());
    // The login items that this process looks at are the host's.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
}

void TestSettingsWindow::cleanup()
{
    if (m_host) {
        m_host->kill();
        m_host->waitForFinished(5000);
        m_host.reset();
    }
    stopCursorApp();
    m_config.reset();
}

qint64 TestSettingsWindow::cursorAppPid() const
{
    const QDBusReply<uint> pid =
        QDBusConnection::sessionBus().interface()->servicePid(serverBusName());
    return pid.isValid() ? qint64(pid.value()) : 0;
}

void TestSettingsWindow::stopCursorApp()
{
    // The host started it detached: end it by its process id, from the bus.
    const qint64 pid = cursorAppPid();
    if (pid <= 0)
        return;
    ::kill(pid_t(pid), SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(processGone(pid), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!nameHasOwner(QDBusConnection::sessionBus(), serverBusName()), 5000);
}

void TestSettingsWindow::userChangesSettingsFromTheKeyboard()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    QVERIFY(!nameHasOwner(bus, serverBusName()));
    XUser user;
    QVERIFY(user.isValid());

    m_host = std::make_unique<QProcess>();
    m_host->setProgram(QStringLiteral(SETTINGS_HOST));
    m_host->setArguments({QStringLiteral(PANE_BUNDLE)});
    m_host->setProcessEnvironment(hostEnvironment(m_config->path()));
    m_host->setStandardInputFile(QProcess::nullDevice());
    m_host->setProcessChannelMode(QProcess::ForwardedChannels);
    m_host->start();
    QVERIFY(m_host->waitForStarted(5000));

    // First load: the settings are seeded on disk, the cursor application
    // becomes a login item and is started, and reads the seeded values.
    QTRY_VERIFY_WITH_TIMEOUT(nameHasOwner(bus, serverBusName()), 20000);
    const QVariantMap seeded = domainOnDisk();
    QCOMPARE(seeded.value(QStringLiteral("autoShow")), QVariant(true));
    QCOMPARE(seeded.value(QStringLiteral("idleHide")).typeId(), int(QMetaType::Double));
    QCOMPARE(seeded.value(QStringLiteral("idleHide")).toDouble(), 35.0);
    QCOMPARE(seeded.value(QStringLiteral("toggleCursorHotKey")).toMap(),
             (QVariantMap{{QStringLiteral("keyCode"), qint64(40)}, {QStringLiteral("modifiers"), qint64(6144)}}));
    const settings::Bundle app =
        settings::Bundle::withPath(QStringLiteral(PANE_BUNDLE "/Contents/Resources/Quillvane.app"));
    QVERIFY(app.isValid());
    QVERIFY(PTIsBundleInLoginItems(app));
    QCOMPARE(cursorAppProperty(QStringLiteral("AutoShow")), QVariant(true));
    QCOMPARE(cursorAppProperty(QStringLiteral("IdleHide")), QVariant(35.0));

    // The window takes the keyboard when it shows.
    QTRY_VERIFY_WITH_TIMEOUT(user.windowPid(user.focusWindow()) == m_host->processId(), 20000);

    // Alt+S, the check box's mnemonic, clicks it.
    user.chord({AltKey, SKey});
    QTRY_COMPARE_WITH_TIMEOUT(domainOnDisk().value(QStringLiteral("autoShow")), QVariant(false), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(cursorAppProperty(QStringLiteral("AutoShow")), QVariant(false), 10000);

    // Alt+H gives the slider the focus; one step right is one second more.
    user.chord({AltKey, HKey});
    user.chord({RightKey});
    QTRY_COMPARE_WITH_TIMEOUT(domainOnDisk().value(QStringLiteral("idleHide")), QVariant(36.0), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(cursorAppProperty(QStringLiteral("IdleHide")), QVariant(36.0), 10000);
    QCOMPARE(domainOnDisk().value(QStringLiteral("autoShow")), QVariant(false));
    QVERIFY(m_host->state() == QProcess::Running);

    // The window as the user sees it now, kept with the build.
    const QImage window = user.grab(user.focusWindow());
    QVERIFY(!window.isNull());
    QVERIFY(window.width() >= 400 && window.height() >= 200);
    QVERIFY(differsAcross(window));
    const QString artefact = QStringLiteral(QUILLVANE_BINARY_DIR "/tests/host/settings-window.png");
    QVERIFY2(window.save(artefact), qPrintable(artefact));
}

QTEST_GUILESS_MAIN(TestSettingsWindow)
#include "tst_settingswindow.moc"
