#include "PaneLoader.h"

#include "InterfaceFile.h"
#include "PreferencePaneFactory.h"
#include "PropertyList.h"
#include "Translations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPluginLoader>
#include <QWidget>

#include <memory>

using namespace Qt::StringLiterals;

namespace host {

namespace {

QString stringEntry(const QVariantMap &info, const char *key)
{
    const QVariant value = info.value(QLatin1StringView(key));
    return value.typeId() == QMetaType::QString ? value.toString().trimmed() : QString();
}

} // namespace

std::optional<LoadedPane> PaneLoader::load(const QString &path, QObject *owner, QString *errorString)
{
    const QString bundlePath = QFileInfo(path).absoluteFilePath();
    const auto fail = [&](const QString &reason) {
        *errorString = u"Cannot open the settings page %1: %2"_s.arg(path, reason);
        return std::nullopt;
    };

    const QFileInfo bundleInfo(bundlePath);
    if (!bundleInfo.exists())
        return fail(u"there is no such file or folder"_s);
    if (!bundleInfo.isDir())
        return fail(u"it is not a bundle folder"_s);

    const QDir bundle(bundlePath);
    const QString infoName = u"Contents/Info.plist"_s;
    if (!QFileInfo::exists(bundle.filePath(infoName)))
        return fail(u"%1 is missing"_s.arg(infoName));
    QString plistError;
    const QVariant infoValue = settings::PropertyList::readDictionaryFile(bundle.filePath(infoName), &plistError);
    if (!infoValue.isValid())
        return fail(u"%1 cannot be read: %2"_s.arg(infoName, plistError));
    const QVariantMap info = infoValue.toMap();

    const QString principalClass = stringEntry(info, "NSPrincipalClass");
    if (principalClass.isEmpty())
        return fail(u"%1 names no principal class (NSPrincipalClass)"_s.arg(infoName));
    const QString executable = stringEntry(info, "CFBundleExecutable");
    if (executable.isEmpty())
        return fail(u"%1 names no executable (CFBundleExecutable)"_s.arg(infoName));
    const QString nib = stringEntry(info, "NSMainNibFile");
    if (nib.isEmpty())
        return fail(u"%1 names no interface file (NSMainNibFile)"_s.arg(infoName));

    const QString executableName = u"Contents/Linux/"_s + executable;
    if (!QFileInfo(bundle.filePath(executableName)).isFile())
        return fail(u"the executable %1 is missing"_s.arg(executableName));
    const QString uiName = u"Contents/Resources/%1.ui"_s.arg(nib);
    if (!QFileInfo(bundle.filePath(uiName)).isFile())
        return fail(u"the interface file %1 is missing"_s.arg(uiName));

    // Never unloaded: the page's code runs until the process ends.
    QPluginLoader plugin(bundle.filePath(executableName));
    plugin.setLoadHints(QLibrary::PreventUnloadHint);
    const QString iid = plugin.metaData().value(u"IID"_s).toString();
    if (!plugin.load())
        return fail(u"the plug-in %1 does not load: %2"_s.arg(executableName, plugin.errorString()));
    auto *factory = qobject_cast<panecontract::PreferencePaneFactory *>(plugin.instance());
    if (!factory) {
        return fail(u"the plug-in %1 is not a settings page plug-in: it offers '%2', not '%3'"_s
                        .arg(executableName, iid, QLatin1StringView(QuillvanePreferencePaneFactory_iid)));
    }

    std::unique_ptr<QObject> pane(factory->createInstance(principalClass, nullptr));
    if (!pane)
        return fail(u"the plug-in %1 has no class %2 (NSPrincipalClass)"_s
                        .arg(executableName, principalClass));
    if (pane->isWidgetType() || !factory->setMainView(pane.get(), nullptr))
        return fail(u"%1 (NSPrincipalClass) is not a settings page"_s.arg(principalClass));

    // The interface file's texts are translated as it loads.
    installTranslator(bundle.filePath(u"Contents/Resources/translations"_s),
                      QFileInfo(executable).completeBaseName());

    QString reason;
    std::unique_ptr<QWidget> view = panecontract::InterfaceFile::load(
        bundle.filePath(uiName),
        [factory](const QString &className, QWidget *parent) { return factory->createInstance(className, parent); },
        &reason);
    if (!view || !panecontract::InterfaceFile::bind(pane.get(), view.get(), &reason))
        return fail(u"the interface file %1 %2"_s.arg(uiName, reason));

    factory->setMainView(pane.get(), view.get());
    factory->mainViewDidLoad(pane.get());

    LoadedPane loaded;
    loaded.bundlePath = bundlePath;
    loaded.label = stringEntry(info, "CFBundleName");
    if (loaded.label.isEmpty())
        loaded.label = bundleInfo.completeBaseName();
    pane->setParent(owner);
    loaded.pane = pane.release();
    loaded.mainView = view.release();
    return loaded;
}

QStringList PaneLoader::installedPanes(const QString &programFolder)
{
    QStringList panes;
    for (const QString &folder : paneFolders(programFolder)) {
        const QDir dir(folder);
        const QStringList names = dir.entryList({u"*.prefPane"_s}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString &name : names)
            panes << dir.filePath(name);
    }
    panes.removeDuplicates();
    return panes;
}

QStringList PaneLoader::paneFolders(const QString &programFolder)
{
    const QDir program(programFolder);
    return {
        program.absolutePath(),
        QDir::cleanPath(program.absoluteFilePath(u".."_s)),
        QDir::cleanPath(program.absoluteFilePath(u"../lib/quillvane"_s)),
    };
}

} // namespace host
