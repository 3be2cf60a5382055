// The whole road as a user takes it: the real settings-host, page and cursor program, settings changed by
// keyboard while the cursor program is stopped, and a new hot key recorded in the sheet.

#include "Bundle.h"
#include "LoginItems.h"
#include "PropertyList.h"
#include "QuillvaneSettings.h"

#include "Bus.h"
#include "Files.h"
#include "Processes.h"
#include "XUser.h"

#include <QTemporaryDir>

using namespace Qt::StringLiterals;
using namespace testsupport;

namespace {

// Virtual key codes and Carbon modifier masks.
constexpr qint32 S = 1, H = 4, C = 8, J = 38, K = 40, Right = 124;
constexpr quint32 Option = 0x800, ControlShift = 0x1200, ControlOption = 0x1800;

QVariant combo(qint64 keyCode, qint64 modifiers)
{
    return QVariantMap{{u"keyCode"_s, keyCode}, {u"modifiers"_s, modifiers}};
}

} // namespace

class TestSettingsWindow : public QObject
{
    Q_OBJECT

    PrivateBus m_bus;
    QTemporaryDir m_config;
    Children m_children;

    QVariant stored(const QString &key) const
    {
        const QString file = settingsFile(m_config.path(), QuillvaneSettings::Domain);
        return settings::PropertyList::readFile(file).toMap().value(key);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_bus.start(&error), qPrintable(error));
        // The programs' settings and login items, which this test reads too.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    }
    void cleanupTestCase()
    {
        m_children.endAll();
        // The page started the cursor program detached: end the owner of its name, stopped or not.
        if (const std::optional<pid_t> cursorApp = nameOwnerPid(cursorBusName()))
            QVERIFY(endForeignProcess(*cursorApp));
    }
    void theWholeRoad();
};

void TestSettingsWindow::theWholeRoad()
{
    XUser user;
    QVERIFY(user.isValid());
    // A page that cannot be opened keeps none of the others from opening.
    const QStringList pages{m_config.filePath(u"Missing.prefPane"_s), QStringLiteral(PANE_BUNDLE)};
    const QProcess *host =
        m_children.start(QStringLiteral(SETTINGS_HOST), pages, environmentWith({{u"LANGUAGE"_s, {}}}));
    QVERIFY(host);

    // Loading adds the cursor program as a shown login item and starts it on the seeded settings.
    QTRY_VERIFY_WITH_TIMEOUT(nameHasOwner(cursorBusName()), 20000);
    const auto app = settings::Bundle::withPath(QStringLiteral(PANE_BUNDLE "/Contents/Resources/Quillvane.app"));
    QVERIFY(PTIsBundleInLoginItems(app) && !loginitems::isBundleHiddenInLoginItems(app));
    QTRY_COMPARE_WITH_TIMEOUT(cursorProperty(u"ToggleCursorHotKey"_s), combo(K, ControlOption), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(user.windowPid(user.focusWindow()) == host->processId(), 20000);
    const xcb_window_t window = user.focusWindow();

    // Stopped (owning its name, never answering), it freezes nothing: the check box (Alt+S) and a slider step
    // (Alt+H, Right) are written at once, and it catches up when it runs again.
    const pid_t cursorApp = nameOwnerPid(cursorBusName()).value_or(-1);
    QVERIFY(cursorApp > 0);
    QCOMPARE(::kill(cursorApp, SIGSTOP), 0);
    QTRY_COMPARE(processState(cursorApp), 'T');
    user.type(S, Option);
    QTRY_COMPARE_WITH_TIMEOUT(stored(u"autoShow"_s), QVariant(false), 10000);
    user.type(H, Option);
    user.type(Right);
    QTRY_COMPARE_WITH_TIMEOUT(stored(u"idleHide"_s), QVariant(36.0), 10000);
    QCOMPARE(::kill(cursorApp, SIGCONT), 0);
    QTRY_COMPARE_WITH_TIMEOUT(cursorProperty(u"IdleHide"_s), QVariant(36.0), 10000);
    QCOMPARE(cursorProperty(u"AutoShow"_s), QVariant(false));

    // Alt+C opens the sheet, which records the cursor program's own key, not acts on it.
    user.type(C, Option);
    QTRY_VERIFY_WITH_TIMEOUT(user.focusWindow() != window && user.windowPid(user.focusWindow()) == host->processId(),
                             10000);
    const QRect sheet = user.geometry(user.focusWindow());
    const QImage empty = user.grab(sheet);
    user.type(K, ControlOption);
    user.type(J, ControlShift);
    QTRY_VERIFY_WITH_TIMEOUT(user.grab(sheet) != empty, 10000);
    QCOMPARE(cursorProperty(u"Hidden"_s), QVariant(false));
    user.click(sheet.bottomRight() - QPoint(20, 20)); // OK, the last button of the bottom row
    QTRY_COMPARE_WITH_TIMEOUT(cursorProperty(u"ToggleCursorHotKey"_s), combo(J, ControlShift), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(user.focusWindow(), window, 10000);

    // OK kept Control-Shift-J, which works in the cursor program at once: the window holds no grab.
    user.type(J, ControlShift);
    QTRY_COMPARE_WITH_TIMEOUT(cursorProperty(u"Hidden"_s), QVariant(true), 10000);
}

QTEST_GUILESS_MAIN(TestSettingsWindow)
#include "tst_settingswindow.moc"
