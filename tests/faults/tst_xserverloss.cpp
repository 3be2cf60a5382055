#include "Processes.h"

#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString ServiceName = u"org.quillvane.QuillvaneServer"_s;

} // namespace

class tst_XServerLoss : public QObject
{
    Q_OBJECT

private slots:
    void bothProgramsEndWhenTheServerGoes();
};

// The X server vanishing under the settings window and the cursor
// application: each says why in its log and ends by itself, promptly, without
// crashing.
void tst_XServerLoss::bothProgramsEndWhenTheServerGoes()
{
    if (busNameOwner(ServiceName))
        QFAIL("another cursor application already serves on this bus");

    PrivateXServer server;
    const QString display = server.start();
    QVERIFY2(!display.isEmpty(), "Xvfb did not start");

    QTemporaryDir config;
    QVERIFY(config.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"DISPLAY"_s, display);
    environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    environment.insert(u"XDG_CONFIG_HOME"_s, config.path());
    environment.remove(u"QT_MESSAGE_PATTERN"_s);

    QProcess cursorApp;
    QProcess host;
    auto end = qScopeGuard([&] {
        for (QProcess *process : {&host, &cursorApp}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished();
            }
        }
        if (const std::optional<pid_t> owner = busNameOwner(ServiceName))
            endForeignProcess(*owner);
    });

    // The cursor application first, started here so that its log can be
    // read; the one that the settings page launches then finds it running
    // and leaves at once.
    cursorApp.setProcessEnvironment(environment);
    cursorApp.setProcessChannelMode(QProcess::MergedChannels);
    cursorApp.start(QStringLiteral(QUILLVANE_APP_EXECUTABLE), {});
    QVERIFY2(cursorApp.waitForStarted(), qPrintable(cursorApp.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(busNameOwner(ServiceName) == pid_t(cursorApp.processId()), 20000);

    host.setProcessEnvironment(environment);
    host.setProcessChannelMode(QProcess::MergedChannels);
    host.start(QStringLiteral(SETTINGS_HOST), {QStringLiteral(PANE_BUNDLE)});
    QVERIFY2(host.waitForStarted(), qPrintable(host.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(hasViewableWindow(display, host.processId()) || host.state() != QProcess::Running,
                             20000);
    QVERIFY2(host.state() == QProcess::Running, qPrintable(QString::fromLocal8Bit(host.readAll())));
    // The copy that the page launched has seen the name taken and left; it
    // must not be there to take the name over once ours is gone.
    const QList<pid_t> ours{pid_t(cursorApp.processId())};
    QTRY_COMPARE_WITH_TIMEOUT(processesRunning(QStringLiteral(QUILLVANE_APP_EXECUTABLE)), ours, 20000);

    server.kill();

    QVERIFY2(host.waitForFinished(15000), "settings-host still runs without its X server");
    QVERIFY2(cursorApp.waitForFinished(15000), "the cursor application still runs without its X server");
    const QString hostLog = QString::fromLocal8Bit(host.readAll());
    const QString cursorLog = QString::fromLocal8Bit(cursorApp.readAll());
    QVERIFY2(host.exitStatus() == QProcess::NormalExit, qPrintable(u"settings-host crashed:\n"_s + hostLog));
    QVERIFY2(cursorApp.exitStatus() == QProcess::NormalExit,
             qPrintable(u"the cursor application crashed:\n"_s + cursorLog));
    QVERIFY2(hostLog.contains(u"X11 connection"_s, Qt::CaseInsensitive)
                 || hostLog.contains(u"X server"_s, Qt::CaseInsensitive),
             qPrintable(u"settings-host did not say why it ended:\n"_s + hostLog));
    QVERIFY2(cursorLog.contains(u"X server"_s, Qt::CaseInsensitive),
             qPrintable(u"the cursor application did not say why it ended:\n"_s + cursorLog));
    QVERIFY(!busNameOwner(ServiceName));
}

QTEST_GUILESS_MAIN(tst_XServerLoss)
#include "tst_xserverloss.moc"
