#pragma once

#include "PreferencePaneFactory.h"

#include <QObject>

// The root object of the Quillvane settings page plug-in: makes the page's
// principal class and the widget classes of its interface file for the host.
class QuillvanePrefPlugin : public QObject, public panecontract::PreferencePaneFactory
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QuillvanePreferencePaneFactory_iid)
    Q_INTERFACES(panecontract::PreferencePaneFactory)

public:
    QObject *createInstance(const QString &className, QObject *parent) override;
    bool setMainView(QObject *pane, QWidget *view) override;
    bool mainViewDidLoad(QObject *pane) override;
};
