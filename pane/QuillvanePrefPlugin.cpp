#include "pane/QuillvanePrefPlugin.h"

#include "pane/FloatSlider.h"
#include "pane/QuillvanePref.h"

QObject *QuillvanePrefPlugin::createInstance(const QString &className, QObject *parent)
{
    if (className == QLatin1String("QuillvanePref"))
        return new QuillvanePref(platform::FilePreferencesStore::standard(), parent);
    if (className == QLatin1String("FloatSlider")) {
        // A widget's parent must be a widget; anything else makes no widget.
        if (parent && !parent->isWidgetType())
            return nullptr;
        return new FloatSlider(static_cast<QWidget *>(parent));
    }
    return nullptr;
}

bool QuillvanePrefPlugin::setMainView(QObject *pane, QWidget *view)
{
    auto *page = qobject_cast<platform::PreferencePane *>(pane);
    if (!page)
        return false;
    page->setMainView(view);
    return true;
}

bool QuillvanePrefPlugin::mainViewDidLoad(QObject *pane)
{
    auto *page = qobject_cast<platform::PreferencePane *>(pane);
    if (!page)
        return false;
    page->mainViewDidLoad();
    return true;
}
