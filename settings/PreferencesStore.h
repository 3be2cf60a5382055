#pragma once

#include <QHash>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <chrono>

namespace settings {

// Application preferences by domain: copy a value, set a value (held in
// memory until the next synchronisation), synchronise. An invalid QVariant is
// "no value"; setting it removes the key at the next synchronisation.
//
// Each domain is one XML property-list file,
// <directory>/<domain>.plist, read once into memory and merged back on
// synchronisation under a lock file, so that several processes can share a
// domain without losing each other's keys. A file that cannot be parsed is
// renamed to <domain>.plist.corrupt-<UTC time> and the domain reads as
// empty. Changes not yet synchronised end with the store. Main thread only.
class PreferencesStore
{
public:
    // An empty directory means defaultDirectory(), read now. Without any
    // (no configuration folder can be found) every domain reads as empty and
    // no synchronisation succeeds.
    explicit PreferencesStore(const QString &directory = QString());
    ~PreferencesStore();
    Q_DISABLE_COPY_MOVE(PreferencesStore)

    // The user's configuration folder (settings::configHome()).
    static QString defaultDirectory();
    // The process-wide store over the default directory, made on first use.
    static PreferencesStore &standard();

    QString directory() const { return m_directory; }
    QString filePath(const QString &domain) const;

    QVariant copyAppValue(const QString &key, const QString &domain);
    void setAppValue(const QString &key, const QVariant &value, const QString &domain);
    // Writes the domain's pending changes and picks up other processes'
    // changes; false when the domain could not be written.
    bool appSynchronize(const QString &domain);

    // How long a synchronisation waits for another process's lock.
    void setLockTimeout(std::chrono::milliseconds timeout) { m_lockTimeout = timeout; }

private:
    struct Domain
    {
        QVariantMap values;
        QVariantMap pending; // key -> new value; an invalid QVariant removes the key
    };
    enum class FileState { Read, Missing, Corrupt, Unreadable };

    Domain *domain(const QString &name);
    bool reload(const QString &name, Domain *domain);
    FileState readFile(const QString &path, QVariantMap *values, QString *errorString) const;
    FileState readAndSetAside(const QString &path, QVariantMap *values, QString *errorString) const;
    bool writeFile(const QString &path, const QByteArray &contents, QString *errorString) const;
    bool failSynchronize(const QString &name, const QString &errorString) const;

    QString m_directory;
    std::chrono::milliseconds m_lockTimeout;
    QHash<QString, Domain> m_domains;
};

} // namespace settings
