#include "Workspace.h"

#include "Bundle.h"

#include <QDir>
#include <QLoggingCategory>
#include <QProcess>

Q_LOGGING_CATEGORY(lcWorkspace, "quillvane.loginitems.workspace", QtWarningMsg)

namespace loginitems {

bool Workspace::launchApplication(const QString &path)
{
    const settings::Bundle bundle = settings::Bundle::withPath(path);
    if (!bundle) {
        qCWarning(lcWorkspace) << "Cannot launch" << path << ": no application bundle there";
        return false;
    }
    const QString executable = bundle.executablePath();
    if (executable.isEmpty()) {
        qCWarning(lcWorkspace) << "Cannot launch" << path
                               << ": its Info.plist names no executable in Contents/Linux";
        return false;
    }

    QProcess process;
    process.setProgram(executable);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    // The root folder keeps no mount or temporary folder of the caller's busy.
    process.setWorkingDirectory(QDir::rootPath());
    if (!process.startDetached()) {
        qCWarning(lcWorkspace) << "Cannot launch" << executable << ":" << process.errorString();
        return false;
    }
    return true;
}

} // namespace loginitems
