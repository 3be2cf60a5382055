// A Qt plug-in of another kind than a settings page, for the host to refuse.

#include <QObject>
#include <QtPlugin>

class OtherPlugin : public QObject
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.example.NotASettingsPage/1.0")
};

#include "OtherPlugin.moc"
