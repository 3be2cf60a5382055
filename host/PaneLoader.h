#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QObject;
class QWidget;

namespace host {

// A settings page that loaded: its object (made by the page's plug-in) and
// its main view, both already through the page's hook for a loaded view.
struct LoadedPane
{
    QString bundlePath;
    // What the window calls the page: CFBundleName, else the folder's name.
    QString label;
    QObject *pane = nullptr;
    QWidget *mainView = nullptr;
};

// Opens settings page bundles (NAME.prefPane folders):
//   Contents/Info.plist        NSPrincipalClass, CFBundleExecutable,
//                              NSMainNibFile, CFBundleName
//   Contents/Linux/<executable>  a Qt plug-in offering PreferencePaneFactory
//   Contents/Resources/<NSMainNibFile>.ui
//   Contents/Resources/translations/<executable base name>_<language>.qm
// The plug-in stays loaded for the life of the process: a page has no way
// to be taken down.
class PaneLoader
{
public:
    // Loads the bundle at PATH: the plug-in, its translations for the user's
    // language, one object of the principal class (with OWNER as its
    // parent), and the main view from the interface file (without a parent)
    // with the page's outlets filled and its actions wired; then runs the
    // page's hook for a loaded view. On failure nothing of the page is left
    // but the plug-in and its translations, the page's hook has not run, and
    // *errorString names the file and the reason.
    static std::optional<LoadedPane> load(const QString &path, QObject *owner, QString *errorString);

    // The page bundles installed beside the program in PROGRAMFOLDER: the
    // *.prefPane folders in paneFolders(), each folder's by name.
    static QStringList installedPanes(const QString &programFolder);
    // Where pages are looked for: the program's folder and the folder above
    // it (a build folder), and ../lib/quillvane (an installation; relative, so
    // that an installed prefix can move). Translations of the host lie in
    // translations/ of one of them.
    static QStringList paneFolders(const QString &programFolder);
};

} // namespace host
