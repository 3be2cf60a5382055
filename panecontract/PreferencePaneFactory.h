#pragma once

#include <QtPlugin>
#include <QString>

class QObject;
class QWidget;

namespace panecontract {

// What a settings page plug-in offers the settings host: the root object of
// the plug-in implements this interface.
//
// The host and the plug-in each link their own copy of our static libraries,
// so a class of ours exists twice in the process: the host never casts an
// object of the plug-in to one of our classes (its meta-object would be the
// host's copy) and shares no singleton with it. It creates the plug-in's
// objects by class name here, calls the page's hooks through this interface,
// and otherwise uses only what every QObject offers: metaObject(), properties
// and invokable methods looked up by name.
//
// The page's interface file is tied to the page by InterfaceFile's rules:
// outlets and actions by name. Widgets of the plug-in's own classes: the host asks createInstance() for
//   every widget class the file names before it falls back to Qt's widgets,
//   so such widgets are made by the plug-in's code, which the page knows.
class PreferencePaneFactory
{
public:
    virtual ~PreferencePaneFactory() = default;

    // A new object of the named class: the page's principal class (PARENT a
    // QObject or null) or a widget class of the page's interface files
    // (PARENT a QWidget or null). Null for a class the plug-in does not have.
    virtual QObject *createInstance(const QString &className, QObject *parent) = 0;

    // Gives a page made by this plug-in its main view. False when PANE is not
    // a page of this plug-in.
    virtual bool setMainView(QObject *pane, QWidget *view) = 0;

    // Runs the page's hook for a loaded main view: once, after the outlets
    // are filled and the actions wired, before the page is shown. False when
    // PANE is not a page of this plug-in.
    virtual bool mainViewDidLoad(QObject *pane) = 0;
};

} // namespace panecontract

#define QuillvanePreferencePaneFactory_iid "org.quillvane.PreferencePaneFactory/1.0"
Q_DECLARE_INTERFACE(panecontract::PreferencePaneFactory, QuillvanePreferencePaneFactory_iid)
