#pragma once

#include <QDir>
#include <QFile>
#include <QString>

// Builds a bundle folder at PATH: Contents/Info.plist naming IDENTIFIER (left
// out when empty) and EXECUTABLE, and an empty executable file at
// Contents/Linux/<executable>. Returns false when anything could not be made.
inline bool makeFakeBundle(const QString &path, const QString &identifier,
                           const QString &executable = QStringLiteral("Quillvane"))
{
    if (!QDir().mkpath(path + QStringLiteral("/Contents/Linux")))
        return false;
    QByteArray plist = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<plist version=\"1.0\">\n<dict>\n"
                       "<key>CFBundleExecutable</key><string>"
        + executable.toHtmlEscaped().toUtf8() + "</string>\n";
    if (!identifier.isEmpty())
        plist += "<key>CFBundleIdentifier</key><string>" + identifier.toHtmlEscaped().toUtf8()
            + "</string>\n";
    plist += "</dict>\n</plist>\n";

    QFile info(path + QStringLiteral("/Contents/Info.plist"));
    if (!info.open(QIODevice::WriteOnly) || info.write(plist) != plist.size())
        return false;
    QFile program(path + QStringLiteral("/Contents/Linux/") + executable);
    return program.open(QIODevice::WriteOnly)
        && program.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
