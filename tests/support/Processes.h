#pragma once
// Child processes of a test, and processes some other program started: all of them end with the test, stopped
// ones included.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <memory>
#include <vector>

#include <cerrno>
#include <signal.h>
#include <sys/types.h>

namespace testsupport {

using namespace Qt::StringLiterals;

// The state letter of a process in /proc/PID/stat (R, S, T, Z ...); 0 when there is no such process.
inline char processState(pid_t pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const qsizetype end = line.lastIndexOf(')');
    return end < 0 || end + 2 >= line.size() ? 0 : line.at(end + 2);
}

// A process that has ended but was not reaped yet (a zombie) counts as gone.
inline bool processExists(pid_t pid)
{
    if (pid <= 0 || (::kill(pid, 0) != 0 && errno == ESRCH))
        return false;
    const char state = processState(pid);
    return state != 0 && state != 'Z';
}

// The live processes that run the program file PROGRAM.
inline QList<pid_t> processesRunning(const QString &program)
{
    const QString wanted = QFileInfo(program).canonicalFilePath();
    QList<pid_t> found;
    const QStringList entries = QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isNumber = false;
        const pid_t pid = pid_t(entry.toInt(&isNumber));
        if (isNumber && QFileInfo(u"/proc/%1/exe"_s.arg(entry)).symLinkTarget() == wanted && processExists(pid))
            found.append(pid);
    }
    return found;
}

// Ends a process that another program started (so it cannot be waited for): lets it go on if stopped, asks it
// to end, kills it when it does not. True once it is gone.
inline bool endForeignProcess(pid_t pid)
{
    for (const int signal : {SIGTERM, SIGKILL}) {
        if (!processExists(pid))
            return true;
        ::kill(pid, SIGCONT);
        ::kill(pid, signal);
        (void)QTest::qWaitFor([pid] { return !processExists(pid); }, 5000);
    }
    return !processExists(pid);
}

// What a program run to its end left behind.
struct Run
{
    bool finished = false; // false: it did not end in time and was killed
    int exitCode = -1;     // -1 when it crashed or was killed
    QString output;        // standard output and standard error, merged
};

// The test's own environment with the given variables set (an empty value removes the variable).
inline QProcessEnvironment environmentWith(const QList<std::pair<QString, QString>> &variables)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto &[name, value] : variables) {
        if (value.isEmpty())
            environment.remove(name);
        else
            environment.insert(name, value);
    }
    return environment;
}

// Child processes that are all killed and reaped when this goes.
class Children
{
public:
    ~Children() { endAll(); }

    // Starts PROGRAM; its standard error goes to the test's own unless CAPTURE, then both channels stay
    // readable on the returned process.
    QProcess *start(const QString &program, const QStringList &arguments = {},
                    const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
                    bool capture = false)
    {
        auto process = std::make_unique<QProcess>();
        process->setProgram(program);
        process->setArguments(arguments);
        process->setProcessEnvironment(environment);
        if (!capture) {
            process->setStandardInputFile(QProcess::nullDevice());
            process->setStandardOutputFile(QProcess::nullDevice());
            process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        }
        process->start();
        if (!process->waitForStarted(5000))
            return nullptr;
        m_processes.push_back(std::move(process));
        return m_processes.back().get();
    }

    // Runs PROGRAM to its end (a hung one is killed after TIMEOUT ms).
    static Run run(const QString &program, const QStringList &arguments,
                   const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
                   int timeout = 60000)
    {
        QProcess process;
        process.setProgram(program);
        process.setArguments(arguments);
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardInputFile(QProcess::nullDevice());
        process.start();
        Run run;
        run.finished = process.waitForFinished(timeout);
        if (!run.finished) {
            process.kill();
            process.waitForFinished(5000);
        }
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.output = QString::fromLocal8Bit(process.readAll());
        return run;
    }

    void endAll()
    {
        for (const auto &process : m_processes) {
            if (process->state() == QProcess::NotRunning)
                continue;
            ::kill(pid_t(process->processId()), SIGCONT);
            process->kill();
            process->waitForFinished(5000);
        }
        m_processes.clear();
    }

private:
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

} // namespace testsupport
