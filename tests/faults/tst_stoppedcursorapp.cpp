#include "Processes.h"

#include "PaneLoader.h"
#include "PropertyList.h"

#include <QCheckBox>
#include <QDBusArgument>
#include <QDialog>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QPushButton>
#include <QScopeGuard>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

const QString ServiceName = u"org.quillvane.QuillvaneServer"_s;

bool isStopped(pid_t pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype end = line.lastIndexOf(')');
    return end >= 0 && line.mid(end + 2, 1) == "T";
}

QVariant cursorAppProperty(const QString &name)
{
    QDBusMessage get = QDBusMessage::createMethodCall(ServiceName, u"/"_s, u"org.freedesktop.DBus.Properties"_s,
                                                      u"Get"_s);
    get << u"org.quillvane.CursorController"_s << name;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

} // namespace

class tst_StoppedCursorApp : public QObject
{
    Q_OBJECT

private slots:
    void actionsReturnAtOnce();
};

// The cursor application stopped (SIGSTOP: alive, owning its bus name, never
// answering): every control action of the page still returns at once, writes
// its value, and the cursor application catches up once it runs again.
void tst_StoppedCursorApp::actionsReturnAtOnce()
{
    constexpr int Rounds = 20;
    // Generous for a loaded machine: a call that waited for the stopped peer
    // would take the bus's 25 s.
    constexpr qint64 AtOnceMs = 3000;

    if (busNameOwner(ServiceName))
        QFAIL("another cursor application already serves on this bus");
    QTemporaryDir config;
    QVERIFY(config.isValid());
    const QByteArray oldConfigHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    std::optional<pid_t> cursorApp;
    auto end = qScopeGuard([&] {
        qputenv("XDG_CONFIG_HOME", oldConfigHome);
        if (cursorApp)
            endForeignProcess(*cursorApp);
    });

    // The real page from the build's bundle: loading it launches the cursor
    // application.
    QObject owner;
    QString error;
    const std::optional<host::LoadedPane> loaded = host::PaneLoader::load(QStringLiteral(PANE_BUNDLE), &owner, &error);
    QVERIFY2(loaded, qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT((cursorApp = busNameOwner(ServiceName)).has_value(), 20000);
    QCOMPARE(::kill(*cursorApp, SIGSTOP), 0);
    QTRY_VERIFY(isStopped(*cursorApp));

    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(loaded->mainView);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *autoShow = loaded->mainView->findChild<QCheckBox *>(u"autoShowButton"_s);
    QWidget *idleSlider = loaded->mainView->findChild<QWidget *>(u"idleSlider"_s);
    auto *knob = idleSlider ? idleSlider->findChild<QSlider *>() : nullptr;
    auto *hotKeyButton = loaded->mainView->findChild<QPushButton *>(u"hotkeyButton"_s);
    QVERIFY(autoShow && knob && hotKeyButton);

    qint64 slowest = 0;
    const auto timed = [&slowest](const std::function<void()> &action) {
        QElapsedTimer clock;
        clock.start();
        action();
        slowest = std::max(slowest, clock.elapsed());
    };
    for (int round = 0; round < Rounds; ++round) {
        const bool wasChecked = autoShow->isChecked();
        timed([&] { QTest::mouseClick(autoShow, Qt::LeftButton); });
        QCOMPARE(autoShow->isChecked(), !wasChecked);
        const int position = knob->value();
        timed([&] { QTest::keyClick(knob, Qt::Key_Right); });
        QCOMPARE(knob->value(), position + 1);
    }
    // Recording a hot key: the button opens the sheet and synchronises; OK
    // registers the combination, stores it, lets go of it and synchronises.
    const QList<QKeyCombination> recorded{Qt::CTRL | Qt::SHIFT | Qt::Key_J, Qt::CTRL | Qt::SHIFT | Qt::Key_L};
    for (const QKeyCombination key : recorded) {
        timed([&] { QTest::mouseClick(hotKeyButton, Qt::LeftButton); });
        auto *sheet = window.findChild<QDialog *>();
        QVERIFY(sheet && sheet->isVisible());
        QTest::keyClick(static_cast<QWidget *>(nullptr), key.key(), key.keyboardModifiers());
        auto *ok = sheet->findChild<QPushButton *>(u"okButton"_s);
        QVERIFY(ok);
        timed([&] { QTest::mouseClick(ok, Qt::LeftButton); });
        QVERIFY(!sheet->isVisible());
    }
    QVERIFY2(slowest < AtOnceMs, qPrintable(u"the slowest action took %1 ms"_s.arg(slowest)));
    qInfo("slowest of %lld actions with the cursor application stopped: %lld ms", 2 * Rounds + 2 * recorded.size(),
          slowest);

    // Every value is on disk, and the cursor application reads the last ones
    // once it runs again.
    const QVariantMap stored =
        settings::PropertyList::readDictionaryFile(config.filePath(u"org.quillvane.Quillvane.plist"_s)).toMap();
    QCOMPARE(stored.value(u"autoShow"_s), QVariant(autoShow->isChecked()));
    const double idleHide = stored.value(u"idleHide"_s).toDouble();
    QVERIFY(idleHide > 35.0);
    QCOMPARE(::kill(*cursorApp, SIGCONT), 0);
    QTRY_COMPARE_WITH_TIMEOUT(cursorAppProperty(u"IdleHide"_s).toDouble(), idleHide, 10000);
    QCOMPARE(cursorAppProperty(u"AutoShow"_s), QVariant(autoShow->isChecked()));
    // Control-Shift-L: key code 37, Control 0x1000 + Shift 0x200.
    const QVariantMap hotKey = stored.value(u"toggleCursorHotKey"_s).toMap();
    QCOMPARE(hotKey.value(u"keyCode"_s).toLongLong(), 37);
    QCOMPARE(hotKey.value(u"modifiers"_s).toLongLong(), 0x1200);
    const QVariantMap announced = qdbus_cast<QVariantMap>(cursorAppProperty(u"ToggleCursorHotKey"_s));
    QCOMPARE(announced.value(u"keyCode"_s).toLongLong(), 37);
    QCOMPARE(announced.value(u"modifiers"_s).toLongLong(), 0x1200);
}

QTEST_MAIN(tst_StoppedCursorApp)
#include "tst_stoppedcursorapp.moc"
