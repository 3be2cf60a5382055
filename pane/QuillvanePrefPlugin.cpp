#include "QuillvanePrefPlugin.h"

#include "FloatSlider.h"
#include "QuillvanePref.h"

using namespace Qt::StringLiterals;

QObject *QuillvanePrefPlugin::createInstance(const QString &className, QObject *parent)
{
    if (className == u"QuillvanePref"_s)
        return new QuillvanePref(settings::PreferencesStore::standard(), parent);
    if (className == u"FloatSlider"_s) {
        // A widget's parent must be a widget; anything else makes no widget.
        if (parent && !parent->isWidgetType())
            return nullptr;
        return new FloatSlider(static_cast<QWidget *>(parent));
    }
    return nullptr;
}

bool QuillvanePrefPlugin::setMainView(QObject *pane, QWidget *view)
{
    auto *page = qobject_cast<panecontract::PreferencePane *>(pane);
    if (!page)
        return false;
    page->setMainView(view);
    return true;
}

bool QuillvanePrefPlugin::mainViewDidLoad(QObject *pane)
{
    auto *page = qobject_cast<panecontract::PreferencePane *>(pane);
    if (!page)
        return false;
    page->mainViewDidLoad();
    return true;
}
