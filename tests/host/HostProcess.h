#pragma once

// Runs the real settings-host program for a test.

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

struct HostRun
{
    bool finished = false; // false: it did not end in time and was killed
    int exitCode = -1;
    QString output; // standard error and standard output
};

// The environment of a host run: settings and login items in CONFIGHOME,
// English texts unless LANGUAGE says otherwise.
inline QProcessEnvironment hostEnvironment(const QString &configHome, const QString &language = QString())
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    environment.insert(QStringLiteral("LC_ALL"), language.isEmpty() ? QStringLiteral("C.UTF-8") : language);
    environment.remove(QStringLiteral("LANGUAGE"));
    environment.remove(QStringLiteral("QT_MESSAGE_PATTERN"));
    return environment;
}

// Runs settings-host with ARGUMENTS to its end; one that hangs is killed.
inline HostRun runHost(const QStringList &arguments, const QProcessEnvironment &environment,
                       const QString &program = QStringLiteral(SETTINGS_HOST))
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    HostRun run;
    run.finished = process.waitForFinished(60000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = QString::fromLocal8Bit(process.readAll());
    return run;
}
