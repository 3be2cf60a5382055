#pragma once

#include <QString>
#include <QVariant>

namespace platform {

// Application preferences by domain: copy a value, set a value (held in
// memory until the next synchronisation), synchronise. An invalid QVariant is
// "no value"; setting it removes the key at the next synchronisation.
class PreferencesStore
{
public:
    virtual ~PreferencesStore() = default;

    virtual QVariant copyAppValue(const QString &key, const QString &domain) = 0;
    virtual void setAppValue(const QString &key, const QVariant &value, const QString &domain) = 0;
    // Writes the domain's pending changes and picks up other processes'
    // changes; false when the domain could not be written.
    virtual bool appSynchronize(const QString &domain) = 0;
};

} // namespace platform
