#include "InterfaceFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QPointer>
#include <QStringList>
#include <QUiLoader>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace panecontract {

namespace {

// Makes the widgets of an interface file: the owner's own classes by its
// factory, all others as Qt's loader makes them.
class FactoryUiLoader : public QUiLoader
{
public:
    explicit FactoryUiLoader(const InterfaceFile::WidgetFactory &factory)
        : m_factory(factory)
    {
    }

    QWidget *createWidget(const QString &className, QWidget *parent, const QString &name) override
    {
        if (QObject *object = m_factory ? m_factory(className, parent) : nullptr) {
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
    InterfaceFile::WidgetFactory m_factory;
    QStringList m_notWidgets;
};

// Sends an owner's action when its widget's signal fires, with the widget as
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
    return u"%1 '%2'"_s.arg(QString::fromLatin1(object->metaObject()->className()), object->objectName());
}

// Fills every outlet of OWNER with the object of the same name in VIEW.
bool fillOutlets(QObject *owner, QWidget *view, QString *errorString)
{
    const QMetaObject *meta = owner->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (!property.isWritable() || !(property.metaType().flags() & QMetaType::PointerToQObject))
            continue;
        const QString name = QString::fromLatin1(property.name());
        QObject *object = namedObject(view, name);
        if (!object) {
            *errorString = u"has no widget named '%1' for the outlet %1 of %2"_s
                          .arg(name, QString::fromLatin1(meta->className()));
            return false;
        }
        if (!property.write(owner, QVariant::fromValue(object))
            || property.read(owner).value<QObject *>() != object) {
            *errorString = u"gives the outlet %1 of %2 a %3, but it needs a %4"_s
                          .arg(name, QString::fromLatin1(meta->className()),
                               QString::fromLatin1(object->metaObject()->className()),
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

// Connects every widget of VIEW that names an action to that action of OWNER.
bool wireActions(QObject *owner, QWidget *view, QString *errorString)
{
    QList<QObject *> objects{view};
    objects += view->findChildren<QObject *>();
    for (QObject *control : std::as_const(objects)) {
        const QVariant actionProperty = control->property("action");
        if (!actionProperty.isValid())
            continue;
        const QByteArray action = actionProperty.toString().toLatin1();
        const QByteArray signature = QMetaObject::normalizedSignature(action + "(QObject*)");
        const int actionIndex = owner->metaObject()->indexOfMethod(signature.constData());
        if (action.isEmpty() || actionIndex < 0) {
            *errorString = u"has %1 send the action '%2', but %3 has no invokable %4"_s
                          .arg(describe(control), QString::fromLatin1(action),
                               QString::fromLatin1(owner->metaObject()->className()), QString::fromLatin1(signature));
            return false;
        }
        const QVariant signalProperty = control->property("actionSignal");
        const QByteArray signalName = signalProperty.isValid() ? signalProperty.toString().toLatin1() : "clicked";
        const QMetaMethod signal = signalNamed(control, signalName);
        if (!signal.isValid()) {
            *errorString = u"has %1 send its action on the signal '%2', which it does not have"_s
                          .arg(describe(control), QString::fromLatin1(signalName));
            return false;
        }
        auto *sender = new ActionSender(control, owner, owner->metaObject()->method(actionIndex));
        const QMetaMethod send = sender->metaObject()->method(sender->metaObject()->indexOfSlot("send()"));
        QObject::connect(control, signal, sender, send);
    }
    return true;
}

} // namespace

std::unique_ptr<QWidget> InterfaceFile::load(const QString &path, const WidgetFactory &factory, QString *errorString)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *errorString = u"cannot be read: %1"_s.arg(file.errorString());
        return nullptr;
    }
    FactoryUiLoader loader(factory);
    loader.setWorkingDirectory(QFileInfo(file).absoluteDir());
    std::unique_ptr<QWidget> view(loader.load(&file));
    if (!view) {
        *errorString = u"cannot be read: %1"_s.arg(loader.errorString());
        return nullptr;
    }
    if (!loader.notWidgets().isEmpty()) {
        *errorString = u"uses %1 as a widget, which it is not"_s.arg(loader.notWidgets().join(u", "_s));
        return nullptr;
    }
    return view;
}

bool InterfaceFile::bind(QObject *owner, QWidget *view, QString *errorString)
{
    return fillOutlets(owner, view, errorString) && wireActions(owner, view, errorString);
}

} // namespace panecontract

#include "InterfaceFile.moc"
