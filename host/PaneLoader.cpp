#include "host/PaneLoader.h"

#include "host/Translations.h"
#include "platform/PreferencePaneFactory.h"
#include "platform/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QPluginLoader>
#include <QPointer>
#include <QUiLoader>
#include <QWidget>

#include <memory>

namespace host {

namespace {

// Makes the widgets of an interface file: the plug-in's own classes by the
// plug-in, all others as Qt's loader makes them.
class PaneUiLoader : public QUiLoader
{
public:
    explicit PaneUiLoader(platform::PreferencePaneFactory *factory)
        : m_factory(factory)
    {
    }

    QWidget *createWidget(const QString &className, QWidget *parent, const QString &name) override
    {
        if (QObject *object = m_factory->createInstance(className, parent)) {
            if (auto *widget = qobject_cast<QWidget *>(object)) {
                widget->setObjectName(name);
                return widget;
            }
            // The name of a class of the plug-in that is not a widget.
            delete object;
            m_notWidgets << className;
            return nullptr;
        }
        return QUiLoader::createWidget(className, parent, name);
    }

    QStringList notWidgets() const { return m_notWidgets; }

private:
    platform::PreferencePaneFactory *m_factory;
    QStringList m_notWidgets;
};

// Sends a page's action when its widget's signal fires, with the widget as
// the sender: the signal's own arguments (a button's checked flag) are not
// what the action takes.
class ActionSender : public QObject
{
    Q_OBJECT

public:
    ActionSender(QObject *control, QObject *target, const QMetaMethod &action)
        : QObject(control)
        , m_control(control)
        , m_target(target)
        , m_action(action)
    {
    }

public Q_SLOTS:
    void send()
    {
        if (m_target)
            m_action.invoke(m_target, Qt::DirectConnection, Q_ARG(QObject *, m_control));
    }

private:
    QObject *m_control;
    QPointer<QObject> m_target;
    QMetaMethod m_action;
};

QString stringEntry(const QVariantMap &info, const char *key)
{
    const QVariant value = info.value(QLatin1String(key));
    return value.typeId() == QMetaType::QString ? value.toString().trimmed() : QString();
}

// The objects of the view that carry a name: the view itself and every
// descendant.
QObject *namedObject(QWidget *view, const QString &name)
{
    if (view->objectName() == name)
        return view;
    return view->findChild<QObject *>(name);
}

QString describe(const QObject *object)
{
    return QStringLiteral("%1 '%2'").arg(QLatin1String(object->metaObject()->className()), object->objectName());
}

// Fills every outlet of PANE with the object of the same name in VIEW.
bool fillOutlets(QObject *pane, QWidget *view, QString *reason)
{
    const QMetaObject *meta = pane->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (!property.isWritable() || !(property.metaType().flags() & QMetaType::PointerToQObject))
            continue;
        const QString name = QString::fromLatin1(property.name());
        QObject *object = namedObject(view, name);
        if (!object) {
            *reason = QStringLiteral("has no widget named '%1' for the outlet %1 of %2")
                          .arg(name, QLatin1String(meta->className()));
            return false;
        }
        if (!property.write(pane, QVariant::fromValue(object))
            || property.read(pane).value<QObject *>() != object) {
            *reason = QStringLiteral("gives the outlet %1 of %2 a %3, but it needs a %4")
                          .arg(name, QLatin1String(meta->className()),
                               QLatin1String(object->metaObject()->className()),
                               QString::fromLatin1(property.metaType().name()).remove(u'*'));
            return false;
        }
    }
    return true;
}

// The signal of CONTROL named NAME, the one with the fewest arguments.
QMetaMethod signalNamed(const QObject *control, const QByteArray &name)
{
    const QMetaObject *meta = control->metaObject();
    QMetaMethod found;
    for (int i = 0; i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.methodType() == QMetaMethod::Signal && method.name() == name
            && (!found.isValid() || method.parameterCount() < found.parameterCount())) {
            found = method;
        }
    }
    return found;
}

// Connects every widget of VIEW that names an action to that action of PANE.
bool wireActions(QObject *pane, QWidget *view, QString *reason)
{
    QList<QObject *> objects{view};
    objects += view->findChildren<QObject *>();
    for (QObject *control : std::as_const(objects)) {
        const QVariant actionProperty = control->property("action");
        if (!actionProperty.isValid())
            continue;
        const QByteArray action = actionProperty.toString().toLatin1();
        const QByteArray signature = QMetaObject::normalizedSignature(action + "(QObject*)");
        const int actionIndex = pane->metaObject()->indexOfMethod(signature.constData());
        if (action.isEmpty() || actionIndex < 0) {
            *reason = QStringLiteral("has %1 send the action '%2', but %3 has no invokable %4")
                          .arg(describe(control), QString::fromLatin1(action),
                               QLatin1String(pane->metaObject()->className()), QString::fromLatin1(signature));
            return false;
        }
        const QVariant signalProperty = control->property("actionSignal");
        const QByteArray signalName = signalProperty.isValid() ? signalProperty.toString().toLatin1() : "clicked";
        const QMetaMethod signal = signalNamed(control, signalName);
        if (!signal.isValid()) {
            *reason = QStringLiteral("has %1 send its action on the signal '%2', which it does not have")
                          .arg(describe(control), QString::fromLatin1(signalName));
            return false;
        }
        auto *sender = new ActionSender(control, pane, pane->metaObject()->method(actionIndex));
        const QMetaMethod send = sender->metaObject()->method(sender->metaObject()->indexOfSlot("send()"));
        QObject::connect(control, signal, sender, send);
    }
    return true;
}

} // namespace

std::optional<LoadedPane> PaneLoader::load(const QString &path, QObject *owner, QString *error)
{
    const QString bundlePath = QFileInfo(path).absoluteFilePath();
    const auto fail = [&](const QString &reason) {
        *error = QStringLiteral("Cannot open the settings page %1: %2").arg(path, reason);
        return std::nullopt;
    };

    const QFileInfo bundleInfo(bundlePath);
    if (!bundleInfo.exists())
        return fail(QStringLiteral("there is no such file or folder"));
    if (!bundleInfo.isDir())
        return fail(QStringLiteral("it is not a bundle folder"));

    const QDir bundle(bundlePath);
    const QString infoName = QStringLiteral("Contents/Info.plist");
    if (!QFileInfo::exists(bundle.filePath(infoName)))
        return fail(QStringLiteral("%1 is missing").arg(infoName));
    QString plistError;
    const QVariant infoValue = platform::PropertyList::readDictionaryFile(bundle.filePath(infoName), &plistError);
    if (!infoValue.isValid())
        return fail(QStringLiteral("%1 cannot be read: %2").arg(infoName, plistError));
    const QVariantMap info = infoValue.toMap();

    const QString principalClass = stringEntry(info, "NSPrincipalClass");
    if (principalClass.isEmpty())
        return fail(QStringLiteral("%1 names no principal class (NSPrincipalClass)").arg(infoName));
    const QString executable = stringEntry(info, "CFBundleExecutable");
    if (executable.isEmpty())
        return fail(QStringLiteral("%1 names no executable (CFBundleExecutable)").arg(infoName));
    const QString nib = stringEntry(info, "NSMainNibFile");
    if (nib.isEmpty())
        return fail(QStringLiteral("%1 names no interface file (NSMainNibFile)").arg(infoName));

    const QString executableName = QStringLiteral("Contents/Linux/") + executable;
    if (!QFileInfo(bundle.filePath(executableName)).isFile())
        return fail(QStringLiteral("the executable %1 is missing").arg(executableName));
    const QString uiName = QStringLiteral("Contents/Resources/%1.ui").arg(nib);
    if (!QFileInfo(bundle.filePath(uiName)).isFile())
        return fail(QStringLiteral("the interface file %1 is missing").arg(uiName));

    // Never unloaded: the page's code runs until the process ends.
    QPluginLoader plugin(bundle.filePath(executableName));
    plugin.setLoadHints(QLibrary::PreventUnloadHint);
    const QString iid = plugin.metaData().value(QLatin1String("IID")).toString();
    if (!plugin.load())
        return fail(QStringLiteral("the plug-in %1 does not load: %2").arg(executableName, plugin.errorString()));
    auto *factory = qobject_cast<platform::PreferencePaneFactory *>(plugin.instance());
    if (!factory) {
        return fail(QStringLiteral("the plug-in %1 is not a settings page plug-in: it offers '%2', not '%3'")
                        .arg(executableName, iid, QLatin1String(QuillvanePreferencePaneFactory_iid)));
    }

    std::unique_ptr<QObject> pane(factory->createInstance(principalClass, nullptr));
    if (!pane)
        return fail(QStringLiteral("the plug-in %1 has no class %2 (NSPrincipalClass)")
                        .arg(executableName, principalClass));
    if (pane->isWidgetType() || !factory->setMainView(pane.get(), nullptr))
        return fail(QStringLiteral("%1 (NSPrincipalClass) is not a settings page").arg(principalClass));

    // The interface file's texts are translated as it loads.
    installTranslator(bundle.filePath(QStringLiteral("Contents/Resources/translations")),
                      QFileInfo(executable).completeBaseName());

    QFile uiFile(bundle.filePath(uiName));
    if (!uiFile.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("the interface file %1 cannot be read: %2").arg(uiName, uiFile.errorString()));
    PaneUiLoader uiLoader(factory);
    uiLoader.setWorkingDirectory(QFileInfo(uiFile).absoluteDir());
    std::unique_ptr<QWidget> view(uiLoader.load(&uiFile));
    if (!view) {
        return fail(QStringLiteral("the interface file %1 cannot be read: %2").arg(uiName, uiLoader.errorString()));
    }
    if (!uiLoader.notWidgets().isEmpty()) {
        return fail(QStringLiteral("the interface file %1 uses %2 as a widget, which it is not")
                        .arg(uiName, uiLoader.notWidgets().join(QLatin1String(", "))));
    }

    QString reason;
    if (!fillOutlets(pane.get(), view.get(), &reason) || !wireActions(pane.get(), view.get(), &reason))
        return fail(QStringLiteral("the interface file %1 %2").arg(uiName, reason));

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
    const QDir program(programFolder);
    const QString parent = QDir::cleanPath(program.absoluteFilePath(QStringLiteral("..")));
    for (const QString &folder : {program.absolutePath(), parent}) {
        const QDir dir(folder);
        const QStringList names =
            dir.entryList({QStringLiteral("*.prefPane")}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString &name : names)
            panes << dir.filePath(name);
    }
    panes.removeDuplicates();
    return panes;
}

} // namespace host

#include "PaneLoader.moc"
