#pragma once

#include "platform/PreferencesStore.h"

#include <QHash>
#include <QVariantMap>

#include <chrono>

namespace platform {

// Preferences kept as one XML property-list file per domain,
// <directory>/<domain>.plist, read once into memory and merged back on
// synchronisation under a lock file, so that several processes can share a
// domain without losing each other's keys. A file that cannot be parsed is
// renamed to <domain>.plist.corrupt-<UTC time> and the domain reads as
// empty. Changes not yet synchronised end with the store. Main thread only.
class FilePreferencesStore : public PreferencesStore
{
public:
    // An empty directory means defaultDirectory(), read now.
    explicit FilePreferencesStore(const QString &directory = QString());
    ~FilePreferencesStore() override;
    Q_DISABLE_COPY_MOVE(FilePreferencesStore)

    // ${XDG_CONFIG_HOME:-$HOME/.config}; a relative XDG_CONFIG_HOME is ignored.
    static QString defaultDirectory();
    // The process-wide store over the default directory, made on first use.
    static FilePreferencesStore &standard();

    QString directory() const { return m_directory; }
    QString filePath(const QString &domain) const;

    QVariant copyAppValue(const QString &key, const QString &domain) override;
    void setAppValue(const QString &key, const QVariant &value, const QString &domain) override;
    bool appSynchronize(const QString &domain) override;

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
    FileState readFile(const QString &path, QVariantMap *values, QString *reason) const;
    FileState readAndSetAside(const QString &path, QVariantMap *values, QString *reason) const;
    bool writeFile(const QString &path, const QByteArray &contents, QString *reason) const;
    bool failSynchronize(const QString &name, const QString &reason) const;

    QString m_directory;
    std::chrono::milliseconds m_lockTimeout;
    QHash<QString, Domain> m_domains;
};

} // namespace platform
