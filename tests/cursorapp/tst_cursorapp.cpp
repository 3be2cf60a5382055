// The cursor application's service, run as the real program on a bus of the
// test's own.

#include "PropertyList.h"
#include "ServiceConnection.h"
#include "tests/cursorapp/TestSession.h"

#include <QDBusConnection>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

using namespace testsession;

class TestCursorApp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void secondInstanceExitsAtOnce();
    void readPrefsShowsWhatAnotherProcessWrote_data();
    void readPrefsShowsWhatAnotherProcessWrote();
    void introspectionDescribesTheInterface();
    void exitsWhenTheBusGoesAway();
    void commandLineAnswersWithoutStarting();
    void reachFollowsTheSessionAndQuitEnds_data();
    void reachFollowsTheSessionAndQuitEnds();

private:
    QProcessEnvironment environment(const QString &busAddress) const;
    bool writeDomain(const QVariantMap &values);
    void sendReadPrefs();

    PrivateBus m_bus;
    QTemporaryDir m_config;
    Children m_children;
};

void TestCursorApp::initTestCase()
{
    QString error;
    QVERIFY2(m_bus.start(true, &error), qPrintable(error));
    QVERIFY(QDBusConnection::sessionBus().isConnected());
    QVERIFY(m_config.isValid());

    QVERIFY(m_children.start(QStringLiteral(QUILLVANE_APP_EXECUTABLE), environment(m_bus.address())));
    QTRY_VERIFY_WITH_TIMEOUT(nameHasOwner(QDBusConnection::sessionBus(), serverBusName()), 10000);
}

void TestCursorApp::cleanupTestCase()
{
    m_children.killAll();
}

QProcessEnvironment TestCursorApp::environment(const QString &busAddress) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    // The service alone: the pointer has tests of its own, on X servers of their own.
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return environment;
}

// Replaces the settings file the way another process would.
bool TestCursorApp::writeDomain(const QVariantMap &values)
{
    QSaveFile file(m_config.filePath(QStringLiteral("org.quillvane.Quillvane.plist")));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(settings::PropertyList::toXml(values));
    return file.commit();
}

void TestCursorApp::sendReadPrefs()
{
    const auto connection =
        dbuslink::ServiceConnection::connectionWithRegisteredName(QStringLiteral("QuillvaneServer"));
    QVERIFY(connection);
    connection->rootProxy()->readPrefs();
}

void TestCursorApp::secondInstanceExitsAtOnce()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    const QString owner = nameOwner(bus, serverBusName());
    QVERIFY(!owner.isEmpty());

    QProcess *second = m_children.start(QStringLiteral(QUILLVANE_APP_EXECUTABLE), environment(m_bus.address()));
    QVERIFY(second);
    QVERIFY2(second->waitForFinished(5000), "the second instance keeps running");
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(nameOwner(bus, serverBusName()), owner);
}

void TestCursorApp::readPrefsShowsWhatAnotherProcessWrote_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<bool>("autoShow");
    QTest::addColumn<double>("idleHide");
    QTest::addColumn<int>("keyCode");
    QTest::addColumn<int>("modifiers");

    const auto hotKey = [](qint64 keyCode, qint64 modifiers) {
        return QVariantMap{{QStringLiteral("keyCode"), keyCode}, {QStringLiteral("modifiers"), modifiers}};
    };

    QTest::newRow("stored values show as stored")
        << QVariantMap{{QStringLiteral("autoShow"), false},
                       {QStringLiteral("idleHide"), 12.5},
                       {QStringLiteral("toggleCursorHotKey"), hotKey(0, 256)}}
        << false << 12.5 << 0 << 256;
    QTest::newRow("never seeded domain shows the first-use values")
        << QVariantMap{{QStringLiteral("idleHide"), 3.0}} << true << 35.0 << 40 << 6144;
    QTest::newRow("missing idle time and hot key read as zero and clear")
        << QVariantMap{{QStringLiteral("autoShow"), true}} << true << 0.0 << -1 << -1;
}

void TestCursorApp::readPrefsShowsWhatAnotherProcessWrote()
{
    QFETCH(QVariantMap, stored);
    QFETCH(bool, autoShow);
    QFETCH(double, idleHide);
    QFETCH(int, keyCode);
    QFETCH(int, modifiers);

    QVERIFY(writeDomain(stored));
    sendReadPrefs();

    // Asked on the connection that sent readPrefs, so answered after it.
    const QDBusConnection bus = QDBusConnection::sessionBus();
    QCOMPARE(cursorProperty(bus, QStringLiteral("AutoShow")), QVariant(autoShow));
    QCOMPARE(cursorProperty(bus, QStringLiteral("IdleHide")), QVariant(idleHide));
    const QVariantMap hotKey = cursorProperty(bus, QStringLiteral("ToggleCursorHotKey")).toMap();
    QCOMPARE(hotKey.value(QStringLiteral("keyCode")), QVariant(keyCode));
    QCOMPARE(hotKey.value(QStringLiteral("modifiers")), QVariant(modifiers));
}

void TestCursorApp::introspectionDescribesTheInterface()
{
    const QDBusMessage reply = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(serverBusName(), QStringLiteral("/"),
                                       QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                       QStringLiteral("Introspect")),
        QDBus::Block, 5000);
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);

    // What the controller's interface declares, one line per element, without
    // Qt's own annotations.
    QStringList declared;
    QXmlStreamReader xml(reply.arguments().constFirst().toString());
    bool inController = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto attribute = [&xml](const char *name) {
            return xml.attributes().value(QLatin1String(name)).toString();
        };
        if (xml.name() == QLatin1String("interface"))
            inController = attribute("name") == QLatin1String("org.quillvane.CursorController");
        else if (inController && !attribute("name").startsWith(QLatin1String("org.qtproject.")))
            declared << QStringList{xml.name().toString(), attribute("name"), attribute("type"),
                                    attribute("access"), attribute("value")}
                            .join(u' ')
                            .trimmed();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(declared, (QStringList{
                           QStringLiteral("property AutoShow b read"),
                           QStringLiteral("property IdleHide d read"),
                           QStringLiteral("property ToggleCursorHotKey a{sv} read"),
                           QStringLiteral("property ToggleCursorHotKeyTrigger s read"),
                           QStringLiteral("property HideWhileTyping b read"),
                           QStringLiteral("property Hidden b read"),
                           QStringLiteral("property LoginItemHidden b read"),
                           QStringLiteral("property PointerReach s read"),
                           QStringLiteral("property PointerReachReason s read"),
                           QStringLiteral("method readPrefs"),
                           QStringLiteral("annotation org.freedesktop.DBus.Method.NoReply   true"),
                           QStringLiteral("method Hide"),
                           QStringLiteral("method Show"),
                           QStringLiteral("method Toggle"),
                           QStringLiteral("method Quit"),
                           QStringLiteral("annotation org.freedesktop.DBus.Method.NoReply   true"),
                       }));
}

void TestCursorApp::exitsWhenTheBusGoesAway()
{
    PrivateBus other;
    QString error;
    QVERIFY2(other.start(false, &error), qPrintable(error));
    const QString connectionName = QStringLiteral("other bus");
    {
        const QDBusConnection bus = QDBusConnection::connectToBus(other.address(), connectionName);
        QVERIFY(bus.isConnected());

        QProcess *app = m_children.start(QStringLiteral(QUILLVANE_APP_EXECUTABLE), environment(other.address()));
        QVERIFY(app);
        QTRY_VERIFY_WITH_TIMEOUT(nameHasOwner(bus, serverBusName()), 10000);

        other.stop();
        QVERIFY2(app->waitForFinished(5000), "the cursor application outlives its session bus");
        QCOMPARE(app->exitStatus(), QProcess::NormalExit);
    }
    QDBusConnection::disconnectFromBus(connectionName);
}

void TestCursorApp::commandLineAnswersWithoutStarting()
{
    for (const QString &option : {QStringLiteral("--help"), QStringLiteral("--version")}) {
        QProcess *app =
            m_children.start(QStringLiteral(QUILLVANE_APP_EXECUTABLE), environment(m_bus.address()), false, {option});
        QVERIFY(app);
        QVERIFY2(app->waitForFinished(5000), qPrintable(option + QStringLiteral(" starts the program")));
        QCOMPARE(app->exitStatus(), QProcess::NormalExit);
        QCOMPARE(app->exitCode(), 0);
    }
}

void TestCursorApp::reachFollowsTheSessionAndQuitEnds_data()
{
    QTest::addColumn<bool>("display");
    QTest::addColumn<bool>("wayland");
    QTest::addColumn<QString>("reach");

    QTest::newRow("X11 session") << true << false << "everywhere";
    QTest::newRow("Wayland session with XWayland") << true << true << "x11-windows-only";
    QTest::newRow("Wayland session without XWayland") << false << true << "nowhere";
    QTest::newRow("no display at all") << false << false << "nowhere";
}

void TestCursorApp::reachFollowsTheSessionAndQuitEnds()
{
    QFETCH(bool, display);
    QFETCH(bool, wayland);
    QFETCH(QString, reach);
    QVERIFY(!qEnvironmentVariableIsEmpty("DISPLAY"));

    // No portal is started on this bus, by the test or by activation.
    PrivateBus other;
    QString error;
    QVERIFY2(other.start(false, &error, QStringLiteral(QUILLVANE_SOURCE_DIR "/tests/portal/session-bus.conf")),
             qPrintable(error));
    const QDBusConnection bus = QDBusConnection::connectToBus(other.address(), QStringLiteral("reach"));
    auto disconnect = qScopeGuard([] { QDBusConnection::disconnectFromBus(QStringLiteral("reach")); });
    QProcessEnvironment environment = this->environment(other.address());
    if (display)
        environment.insert(QStringLiteral("DISPLAY"), qEnvironmentVariable("DISPLAY"));
    if (wayland)
        environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-quillvane-test"));
    QProcess *app = m_children.start(QStringLiteral(QUILLVANE_APP_EXECUTABLE), environment);
    QVERIFY(app);
    QTRY_VERIFY_WITH_TIMEOUT(nameHasOwner(bus, serverBusName()), 10000);
    QCOMPARE(cursorProperty(bus, QStringLiteral("PointerReach")).toString(), reach);
    QVERIFY(!cursorProperty(bus, QStringLiteral("PointerReachReason")).toString().isEmpty());

    // --quit asks the running copy on the session bus to end.
    QProcess *quit =
        m_children.start(QStringLiteral(QUILLVANE_APP_EXECUTABLE), environment, false, {QStringLiteral("--quit")});
    QVERIFY(quit);
    QVERIFY(quit->waitForFinished(5000));
    QCOMPARE(quit->exitCode(), 0);
    QVERIFY2(app->waitForFinished(5000), "Quit leaves the program running");
    QCOMPARE(app->exitStatus(), QProcess::NormalExit);
    QCOMPARE(app->exitCode(), 0);
    QVERIFY(!nameHasOwner(bus, serverBusName()));
}

QTEST_GUILESS_MAIN(TestCursorApp)
#include "tst_cursorapp.moc"
