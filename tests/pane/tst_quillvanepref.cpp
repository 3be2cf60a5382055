// The pane's settings logic and its link to the cursor application, over the
// real settings store and a session bus of the test's own.

#include "FakeCursorController.h"
#include "PTHotKey.h"
#include "PTKeyCombo.h"
#include "PTKeyComboPanel.h"
#include "LoginItems.h"
#include "FloatSlider.h"
#include "InterfaceFile.h"
#include "QuillvanePref.h"
#include "Bundle.h"
#include "PreferencesStore.h"
#include "PropertyList.h"
#include "tests/cursorapp/TestSession.h"

#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QLabel>
#include <QTest>
#include <QVBoxLayout>

#include <cmath>
#include <limits>

#include <sys/stat.h>

using namespace testsession;

namespace {

QVariantMap hotKey(qint64 keyCode, qint64 modifiers)
{
    return {{QStringLiteral("keyCode"), keyCode}, {QStringLiteral("modifiers"), modifiers}};
}

const QVariantMap seededDomain{
    {QStringLiteral("autoShow"), true},
    {QStringLiteral("idleHide"), 35.0},
    {QStringLiteral("toggleCursorHotKey"), hotKey(40, 6144)},
};

// A property-list value with its type spelled out, so that comparisons
// tell an integer 35 from a real 35.0.
QString typed(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        QStringList entries;
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            entries << it.key() + u'=' + typed(it.value());
        return u'{' + entries.join(u", ") + u'}';
    }
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QMetaType::LongLong:
    case QMetaType::Int:
        return QStringLiteral("integer ") + QString::number(value.toLongLong());
    case QMetaType::Double:
        return QStringLiteral("real ") + QString::number(value.toDouble(), 'g', 17);
    default:
        return QString::fromLatin1(value.typeName()) + u' ' + value.toString();
    }
}

// Records the settings file as it is when the cursor application starts.
const char fakeAppScript[] =
    "#!/bin/sh\n"
    "record=\"$QUILLVANE_TEST_LAUNCH_RECORD\"\n"
    "cp \"$XDG_CONFIG_HOME/org.quillvane.Quillvane.plist\" \"$record.part\" 2>/dev/null || : > \"$record.part\"\n"
    "mv \"$record.part\" \"$record\"\n";

const char fakeAppInfo[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<plist version=\"1.0\">\n"
    "<dict>\n"
    "\t<key>CFBundleExecutable</key>\n"
    "\t<string>Quillvane</string>\n"
    "\t<key>CFBundleIdentifier</key>\n"
    "\t<string>org.quillvane.Quillvane</string>\n"
    "</dict>\n"
    "</plist>\n";

enum class Action { IdleSlide, AutoShowClick, SetHotKeyClick, HotKeyWrite };

// The page's controls from its interface file, bound to the page the way a
// host binds them: outlets by name, and each control's action on its signal,
// so that what the controls send while the page loads is sent here too.
struct PageView
{
    QString error;
    const std::unique_ptr<QWidget> view = panecontract::InterfaceFile::load(
        QStringLiteral(QUILLVANE_SOURCE_DIR "/resources/QuillvanePref.ui"),
        [](const QString &className, QWidget *parent) -> QObject * {
            return className == QLatin1String("FloatSlider") ? new FloatSlider(parent) : nullptr;
        },
        &error);
    QLineEdit *const hotkeyField = view->findChild<QLineEdit *>(QStringLiteral("hotkeyField"));
    FloatSlider *const idleSlider = view->findChild<FloatSlider *>(QStringLiteral("idleSlider"));
    QCheckBox *const autoShowButton = view->findChild<QCheckBox *>(QStringLiteral("autoShowButton"));

    bool attachTo(QuillvanePref &pane) { return panecontract::InterfaceFile::bind(&pane, view.get(), &error); }
};

// Identifies a file version: a rewrite replaces the file, and with it the inode.
QString fileIdentity(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return QString();
    return QStringLiteral("%1:%2").arg(info.st_ino).arg(info.st_size);
}

// Notes what the settings file holds at the moment the pane asks for the
// launch.
class LaunchWatchingPref : public QuillvanePref
{
public:
    LaunchWatchingPref(settings::PreferencesStore &store, const QString &domainFile)
        : QuillvanePref(store)
        , m_domainFile(domainFile)
    {
    }

    void launchCursorApp() override
    {
        ++launches;
        onDiskAtLaunch = settings::PropertyList::readFile(m_domainFile);
        QuillvanePref::launchCursorApp();
    }

    int launches = 0;
    QVariant onDiskAtLaunch;

private:
    QString m_domainFile;
};

// Asks for the launch without starting anything: for tests about the
// controls, whose launched programs would outlive them.
class QuietPref : public QuillvanePref
{
public:
    using QuillvanePref::QuillvanePref;
    void launchCursorApp() override { ++launches; }
    int launches = 0;
};

} // namespace

Q_DECLARE_METATYPE(Action)

class TestQuillvanePref : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void loadShowsSettings_data();
    void loadShowsSettings();
    void reachNoticeFollowsTheSession_data();
    void reachNoticeFollowsTheSession();
    void loadSeedsBeforeLaunchAndSendsNothing_data();
    void loadSeedsBeforeLaunchAndSendsNothing();
    void actionWritesOneValueAndFlushes_data();
    void actionWritesOneValueAndFlushes();
    void firstActionAfterLoadLooksTheServiceUp_data();
    void firstActionAfterLoadLooksTheServiceUp();
    void linkConnectsOnceAndKeepsItsProxy();
    void stoppedCursorAppNeverBlocks();

private:
    QString domainFile() const { return m_config->filePath(QStringLiteral("org.quillvane.Quillvane.plist")); }
    bool writeDomain(const QVariantMap &values);
    QVariantMap domainOnDisk() const;
    int receivedByService();
    QProcess *startCursorApp();
    static const dbuslink::CursorControllerProxy *proxyOf(const QuillvanePref &pane) { return pane.cursorAppProxy(); }
    static QVariant prefItemOf(const QuillvanePref &pane) { return pane.lastCopiedPrefItem(); }
    static void act(QuillvanePref &pane, Action action, QObject *sender);

    PrivateBus m_bus;
    Children m_children;
    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<settings::PreferencesStore> m_store;
    QString m_launchRecord;
};

void TestQuillvanePref::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QString error;
    QVERIFY2(m_bus.start(true, &error), qPrintable(error));
    QVERIFY(QDBusConnection::sessionBus().isConnected());

    // This test runs inside a bundle of its own; the pane looks for the
    // cursor application in that bundle's resources.
    const QString appPath = QuillvanePref::cursorAppPath();
    QVERIFY2(appPath.endsWith(QLatin1String(".bundle/Contents/Resources/Quillvane.app")), qPrintable(appPath));
    QDir(appPath).removeRecursively();
    QVERIFY(QDir().mkpath(appPath + QStringLiteral("/Contents/Linux")));
    QFile info(appPath + QStringLiteral("/Contents/Info.plist"));
    QVERIFY(info.open(QIODevice::WriteOnly));
    info.write(fakeAppInfo);
    info.close();
    QFile executable(appPath + QStringLiteral("/Contents/Linux/Quillvane"));
    QVERIFY(executable.open(QIODevice::WriteOnly));
    executable.write(fakeAppScript);
    executable.close();
    QVERIFY(executable.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void TestQuillvanePref::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    QVERIFY(m_config->isValid());
    // Login items and the launched program follow the environment.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
    m_launchRecord = m_config->filePath(QStringLiteral("launch-record"));
    qputenv("QUILLVANE_TEST_LAUNCH_RECORD", QFile::encodeName(m_launchRecord));
    m_store = std::make_unique<settings::PreferencesStore>(m_config->path());
}

void TestQuillvanePref::cleanup()
{
    m_children.killAll();
    m_store.reset();
    m_config.reset();
}

bool TestQuillvanePref::writeDomain(const QVariantMap &values)
{
    QSaveFile file(domainFile());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(settings::PropertyList::toXml(values));
    return file.commit();
}

QVariantMap TestQuillvanePref::domainOnDisk() const
{
    return settings::PropertyList::readFile(domainFile()).toMap();
}

int TestQuillvanePref::receivedByService()
{
    const QDBusMessage call = QDBusMessage::createMethodCall(serverBusName(), QStringLiteral("/"),
                                                             QStringLiteral("org.quillvane.CursorController"),
                                                             QStringLiteral("received"));
    QDBusPendingCallWatcher watcher(QDBusConnection::sessionBus().asyncCall(call, 5000));
    QSignalSpy finished(&watcher, &QDBusPendingCallWatcher::finished);
    if (!watcher.isFinished() && !finished.wait(6000))
        return -1;
    const QDBusPendingReply<int> reply = watcher;
    return reply.isValid() ? reply.value() : -1;
}

QProcess *TestQuillvanePref::startCursorApp()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config->path());
    return m_children.start(QStringLiteral(QUILLVANE_APP_EXECUTABLE), environment);
}

void TestQuillvanePref::loadShowsSettings_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<Qt::CheckState>("checkBox");
    QTest::addColumn<float>("slider");
    QTest::addColumn<PTKeyCombo>("combo");
    QTest::addColumn<QVariant>("prefItem");
    QTest::addColumn<QVariantMap>("domainAfter"); // empty: the file is left exactly as it was
    QTest::addColumn<QString>("warning");

    const PTKeyCombo controlOptionK(40, 6144);
    const QVariantMap none;
    const QVariant nothing;

    QTest::newRow("empty domain is seeded with the three defaults")
        << QVariantMap() << Qt::Checked << 35.0f << controlOptionK << nothing << seededDomain << QString();
    QTest::newRow("missing autoShow overwrites the other two and keeps other keys")
        << QVariantMap{{QStringLiteral("idleHide"), 10.0},
                       {QStringLiteral("toggleCursorHotKey"), hotKey(0, 256)},
                       {QStringLiteral("other"), QStringLiteral("kept")}}
        << Qt::Checked << 35.0f << controlOptionK << nothing
        << QVariantMap{{QStringLiteral("autoShow"), true},
                       {QStringLiteral("idleHide"), 35.0},
                       {QStringLiteral("toggleCursorHotKey"), hotKey(40, 6144)},
                       {QStringLiteral("other"), QStringLiteral("kept")}}
        << QString();
    QTest::newRow("all three stored are shown and nothing is written")
        << QVariantMap{{QStringLiteral("autoShow"), false},
                       {QStringLiteral("idleHide"), 12.5},
                       {QStringLiteral("toggleCursorHotKey"), hotKey(0, 256)}}
        << Qt::Unchecked << 12.5f << PTKeyCombo(0, 256) << QVariant(12.5) << none << QString();
    QTest::newRow("missing idleHide shows 0 and stays missing")
        << QVariantMap{{QStringLiteral("autoShow"), true}, {QStringLiteral("toggleCursorHotKey"), hotKey(40, 6144)}}
        << Qt::Checked << 0.0f << controlOptionK << nothing << none << QString();
    QTest::newRow("missing hot key shows the clear combination and stays missing")
        << QVariantMap{{QStringLiteral("autoShow"), true}, {QStringLiteral("idleHide"), 35.0}} << Qt::Checked
        << 35.0f << PTKeyCombo() << QVariant(35.0) << none << QString();
    QTest::newRow("numbers read as the switch and the idle time")
        << QVariantMap{{QStringLiteral("autoShow"), qint64(0)}, {QStringLiteral("idleHide"), qint64(20)}}
        << Qt::Unchecked << 20.0f << PTKeyCombo() << QVariant(qint64(20)) << none << QString();
    QTest::newRow("idle time keeps its 32-bit float digits")
        << QVariantMap{{QStringLiteral("autoShow"), true}, {QStringLiteral("idleHide"), double(35.3f)}}
        << Qt::Checked << 35.3f << PTKeyCombo() << QVariant(double(35.3f)) << none << QString();
    QTest::newRow("idle time above the slider's range shows its end and is not rewritten")
        << QVariantMap{{QStringLiteral("autoShow"), true}, {QStringLiteral("idleHide"), 500.0}} << Qt::Checked
        << 120.0f << PTKeyCombo() << QVariant(500.0) << none << QStringLiteral("cannot show 500");
    QTest::newRow("negative idle time shows 0 and is not rewritten")
        << QVariantMap{{QStringLiteral("autoShow"), true}, {QStringLiteral("idleHide"), -3.0}} << Qt::Checked
        << 0.0f << PTKeyCombo() << QVariant(-3.0) << none << QStringLiteral("cannot show -3");
    QTest::newRow("idle time that is not a number shows 0 and is not rewritten")
        << QVariantMap{{QStringLiteral("autoShow"), true},
                       {QStringLiteral("idleHide"), std::numeric_limits<double>::quiet_NaN()}}
        << Qt::Checked << 0.0f << PTKeyCombo() << QVariant(std::numeric_limits<double>::quiet_NaN()) << none
        << QStringLiteral("cannot show nan");
    QTest::newRow("idle time beyond the float range shows 0 and is not rewritten")
        << QVariantMap{{QStringLiteral("autoShow"), true}, {QStringLiteral("idleHide"), -1e300}} << Qt::Checked
        << 0.0f << PTKeyCombo() << QVariant(-1e300) << none << QStringLiteral("cannot show -inf");
    QTest::newRow("a string switch is logged and reads as on")
        << QVariantMap{{QStringLiteral("autoShow"), QStringLiteral("NO")}} << Qt::Checked << 0.0f << PTKeyCombo()
        << nothing << none << QStringLiteral("autoShow holds a QString");
    QTest::newRow("a string idle time is logged and reads as 0")
        << QVariantMap{{QStringLiteral("autoShow"), true}, {QStringLiteral("idleHide"), QStringLiteral("35")}}
        << Qt::Checked << 0.0f << PTKeyCombo() << QVariant(QStringLiteral("35")) << none
        << QStringLiteral("idleHide holds a QString");
}

void TestQuillvanePref::loadShowsSettings()
{
    QFETCH(QVariantMap, stored);
    QFETCH(Qt::CheckState, checkBox);
    QFETCH(float, slider);
    QFETCH(PTKeyCombo, combo);
    QFETCH(QVariant, prefItem);
    QFETCH(QVariantMap, domainAfter);
    QFETCH(QString, warning);

    if (!stored.isEmpty())
        QVERIFY(writeDomain(stored));
    const QString before = fileIdentity(domainFile());
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(warning)));

    PageView page;
    // Values that the load must replace, whichever branch it takes.
    page.autoShowButton->setCheckState(Qt::PartiallyChecked);
    page.idleSlider->setFloatValue(77.0f);
    page.hotkeyField->setText(QStringLiteral("stale"));
    QuietPref pane(*m_store);
    QVERIFY(page.attachTo(pane));
    pane.mainViewDidLoad();

    QCOMPARE(page.autoShowButton->checkState(), checkBox);
    QCOMPARE(page.idleSlider->floatValue(), slider);
    QVERIFY(pane.hotKey());
    QCOMPARE(pane.hotKey()->keyCombo(), combo);
    QCOMPARE(pane.hotKey()->name(), QStringLiteral("toggle the cursor"));
    QCOMPARE(pane.hotKey()->target(), &pane);
    QVERIFY(pane.hotKey()->action().isEmpty());
    QCOMPARE(page.hotkeyField->text(), combo.description());
    if (combo == PTKeyCombo())
        QCOMPARE(page.hotkeyField->text(), QStringLiteral("(None)"));
    QCOMPARE(typed(prefItemOf(pane)), typed(prefItem));
    QCOMPARE(pane.launches, 1);
    QVERIFY(PTIsBundleInLoginItems(settings::Bundle::withPath(QuillvanePref::cursorAppPath())));

    if (domainAfter.isEmpty())
        QCOMPARE(fileIdentity(domainFile()), before);
    else
        QCOMPARE(typed(domainOnDisk()), typed(domainAfter));
}

void TestQuillvanePref::loadSeedsBeforeLaunchAndSendsNothing_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QVariantMap>("atLaunch");

    QTest::newRow("first use") << QVariantMap() << seededDomain;
    const QVariantMap stored{{QStringLiteral("autoShow"), false}, {QStringLiteral("idleHide"), 5.0}};
    QTest::newRow("settings already stored") << stored << stored;
}

void TestQuillvanePref::reachNoticeFollowsTheSession_data()
{
    QTest::addColumn<QByteArray>("display");
    QTest::addColumn<QByteArray>("waylandDisplay");
    QTest::addColumn<QString>("notice");

    QTest::newRow("X11 session: no notice") << QByteArray(":0") << QByteArray() << QString();
    QTest::newRow("Wayland with XWayland: X11 windows only")
        << QByteArray(":0") << QByteArray("wayland-0") << QStringLiteral("only over the windows of X11 programs");
    QTest::newRow("Wayland without XWayland: nowhere")
        << QByteArray() << QByteArray("wayland-0") << QStringLiteral("cannot be hidden");
}

void TestQuillvanePref::reachNoticeFollowsTheSession()
{
    QFETCH(QByteArray, display);
    QFETCH(QByteArray, waylandDisplay);
    QFETCH(QString, notice);

    const QByteArray oldDisplay = qgetenv("DISPLAY");
    auto restore = qScopeGuard([&] {
        qputenv("DISPLAY", oldDisplay);
        qunsetenv("WAYLAND_DISPLAY");
    });
    qputenv("DISPLAY", display);
    qputenv("WAYLAND_DISPLAY", waylandDisplay);

    QWidget view;
    auto *layout = new QVBoxLayout(&view);
    auto *intro = new QLabel(QStringLiteral("Intro"), &view);
    intro->setObjectName(QStringLiteral("introLabel"));
    layout->addWidget(intro);
    layout->addWidget(new QLabel(QStringLiteral("Controls"), &view));
    QuietPref pane(*m_store);
    pane.setMainView(&view);
    pane.mainViewDidLoad();

    const auto *shown = view.findChild<QLabel *>(QStringLiteral("reachNotice"));
    QCOMPARE(shown != nullptr, !notice.isEmpty());
    if (shown) {
        QVERIFY2(shown->text().contains(notice), qPrintable(shown->text()));
        // Right under the description.
        QCOMPARE(layout->indexOf(const_cast<QLabel *>(shown)), 1);
    }
}

void TestQuillvanePref::loadSeedsBeforeLaunchAndSendsNothing()
{
    QFETCH(QVariantMap, stored);
    QFETCH(QVariantMap, atLaunch);

    if (!stored.isEmpty())
        QVERIFY(writeDomain(stored));
    FakeCursorService service(QStringLiteral("fake cursor app"));
    QVERIFY(service.registered);

    LaunchWatchingPref pane(*m_store, domainFile());
    pane.mainViewDidLoad();

    QCOMPARE(pane.launches, 1);
    QCOMPARE(typed(pane.onDiskAtLaunch), typed(atLaunch));
    // The launched program found the same on disk.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_launchRecord), 5000);
    QCOMPARE(typed(settings::PropertyList::readFile(m_launchRecord)), typed(atLaunch));
    QCOMPARE(typed(domainOnDisk()), typed(atLaunch));

    QVERIFY(PTIsBundleInLoginItems(settings::Bundle::withPath(QuillvanePref::cursorAppPath())));
    QVERIFY(!proxyOf(pane));
    QCOMPARE(receivedByService(), 0);
}

void TestQuillvanePref::act(QuillvanePref &pane, Action action, QObject *sender)
{
    switch (action) {
    case Action::IdleSlide:
        pane.idleSlide(sender);
        break;
    case Action::AutoShowClick:
        pane.autoShowClick(sender);
        break;
    case Action::SetHotKeyClick:
        pane.setHotKeyClick(sender);
        // The sheet that it opens ends unconfirmed, sending nothing more.
        PTKeyComboPanel::sharedPanel()->cancel();
        break;
    case Action::HotKeyWrite:
        pane.writeToggleCursorHotKey(PTKeyCombo(0, 256));
        break;
    }
}

void TestQuillvanePref::actionWritesOneValueAndFlushes_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<float>("sliderValue");
    QTest::addColumn<Qt::CheckState>("checkBox");
    QTest::addColumn<QString>("key"); // empty: nothing is written
    QTest::addColumn<QVariant>("written");

    QTest::newRow("slider writes its value as a real")
        << Action::IdleSlide << 12.5f << Qt::Unchecked << QStringLiteral("idleHide") << QVariant(12.5);
    QTest::newRow("slider value keeps 32-bit precision")
        << Action::IdleSlide << 0.1f << Qt::Unchecked << QStringLiteral("idleHide") << QVariant(double(0.1f));
    QTest::newRow("check box off writes false")
        << Action::AutoShowClick << 5.0f << Qt::Unchecked << QStringLiteral("autoShow") << QVariant(false);
    QTest::newRow("check box on writes true")
        << Action::AutoShowClick << 5.0f << Qt::Checked << QStringLiteral("autoShow") << QVariant(true);
    QTest::newRow("mixed check box writes true")
        << Action::AutoShowClick << 5.0f << Qt::PartiallyChecked << QStringLiteral("autoShow") << QVariant(true);
    QTest::newRow("hot key button writes nothing")
        << Action::SetHotKeyClick << 5.0f << Qt::Unchecked << QString() << QVariant();
    QTest::newRow("hot key writes its dictionary form")
        << Action::HotKeyWrite << 5.0f << Qt::Unchecked << QStringLiteral("toggleCursorHotKey")
        << QVariant(hotKey(0, 256));
}

void TestQuillvanePref::actionWritesOneValueAndFlushes()
{
    QFETCH(Action, action);
    QFETCH(float, sliderValue);
    QFETCH(Qt::CheckState, checkBox);
    QFETCH(QString, key);
    QFETCH(QVariant, written);

    const QVariantMap stored{
        {QStringLiteral("autoShow"), false},
        {QStringLiteral("idleHide"), 99.0},
        {QStringLiteral("toggleCursorHotKey"), hotKey(1, 512)},
        {QStringLiteral("other"), QStringLiteral("kept")},
    };
    QVERIFY(writeDomain(stored));
    PageView page;
    QuietPref pane(*m_store);
    QVERIFY(page.attachTo(pane));
    pane.mainViewDidLoad();

    // The controls as the user left them (quietly: the action comes below);
    // another process changed the file meanwhile, and its change survives the
    // action's flush.
    page.idleSlider->setFloatValue(sliderValue);
    {
        const QSignalBlocker quiet(page.autoShowButton);
        page.autoShowButton->setCheckState(checkBox);
    }
    QVariantMap expected = stored;
    expected.insert(QStringLiteral("other"), QStringLiteral("changed elsewhere"));
    QVERIFY(writeDomain(expected));

    // With no cursor application running, nothing is sent and nothing logged.
    QVERIFY(!nameHasOwner(QDBusConnection::sessionBus(), serverBusName()));
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    // The action reads its control, whichever sent it.
    act(pane, action, page.hotkeyField);

    if (!key.isEmpty())
        expected.insert(key, written);
    QCOMPARE(typed(domainOnDisk()), typed(expected));
    QVERIFY(!proxyOf(pane));
}

void TestQuillvanePref::firstActionAfterLoadLooksTheServiceUp_data()
{
    QTest::addColumn<Action>("action");
    QTest::newRow("slider") << Action::IdleSlide;
    QTest::newRow("check box") << Action::AutoShowClick;
    QTest::newRow("hot key button") << Action::SetHotKeyClick;
}

void TestQuillvanePref::firstActionAfterLoadLooksTheServiceUp()
{
    QFETCH(Action, action);

    QVERIFY(writeDomain(seededDomain));
    FakeCursorService service(QStringLiteral("fake cursor app"));
    QVERIFY(service.registered);
    PageView page;
    QuietPref pane(*m_store);
    QVERIFY(page.attachTo(pane));
    pane.mainViewDidLoad();
    QVERIFY(!proxyOf(pane));
    QCOMPARE(receivedByService(), 0);

    act(pane, action, nullptr);
    QVERIFY(proxyOf(pane));
    QCOMPARE(receivedByService(), 1);
    act(pane, action, nullptr);
    QCOMPARE(receivedByService(), 2);
}

void TestQuillvanePref::linkConnectsOnceAndKeepsItsProxy()
{
    QuillvanePref pane(*m_store);
    pane.writeIdleHide(1.0f);
    QVERIFY(!proxyOf(pane));

    const dbuslink::CursorControllerProxy *proxy = nullptr;
    {
        FakeCursorService service(QStringLiteral("first cursor app"));
        QVERIFY(service.registered);
        pane.writeIdleHide(2.0f);
        proxy = proxyOf(pane);
        QVERIFY(proxy);
        QCOMPARE(receivedByService(), 1);

        pane.writeAutoShow(0);
        pane.writeToggleCursorHotKey(PTKeyCombo(40, 6144));
        QCOMPARE(proxyOf(pane), proxy);
        QCOMPARE(receivedByService(), 3);
        QVERIFY2(!service.controller.replyRequested, "readPrefs was sent as a call that wants an answer");
    }

    // Gone: the action still writes, the kept proxy sends into the void.
    QTRY_VERIFY_WITH_TIMEOUT(!nameHasOwner(QDBusConnection::sessionBus(), serverBusName()), 5000);
    pane.writeIdleHide(3.0f);
    QCOMPARE(proxyOf(pane), proxy);
    QCOMPARE(domainOnDisk().value(QStringLiteral("idleHide")), QVariant(3.0));

    // Back under the same name: reached through the same proxy.
    FakeCursorService restarted(QStringLiteral("second cursor app"));
    QVERIFY(restarted.registered);
    pane.writeIdleHide(4.0f);
    QCOMPARE(proxyOf(pane), proxy);
    QCOMPARE(receivedByService(), 1);
}

void TestQuillvanePref::stoppedCursorAppNeverBlocks()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    QVERIFY(writeDomain(seededDomain));
    QProcess *app = startCursorApp();
    QVERIFY(app);
    QTRY_VERIFY_WITH_TIMEOUT(nameHasOwner(bus, serverBusName()), 10000);
    QCOMPARE(::kill(pid_t(app->processId()), SIGSTOP), 0);

    // The first action looks the service up, the second uses the kept proxy.
    QuillvanePref pane(*m_store);
    QElapsedTimer timer;
    timer.start();
    pane.writeIdleHide(5.0f);
    pane.writeIdleHide(6.0f);
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed < 1000, qPrintable(QStringLiteral("two actions took %1 ms").arg(elapsed)));
    QVERIFY(proxyOf(pane));

    // The messages waited on the bus and arrive once it runs again.
    QCOMPARE(::kill(pid_t(app->processId()), SIGCONT), 0);
    QCOMPARE(cursorProperty(bus, QStringLiteral("IdleHide")), QVariant(6.0));
}

QTEST_MAIN(TestQuillvanePref)
#include "tst_quillvanepref.moc"
