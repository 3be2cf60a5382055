#include "platform/FilePreferencesStore.h"

#include "platform/PropertyList.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QLoggingCategory>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcPreferences, "quillvane.platform.preferences", QtWarningMsg)

namespace platform {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// A writer holds the lock for a few milliseconds. One that still holds it
// after this long has hung; QLockFile then takes the lock over, and it
// does so at once when the holder's process no longer exists.
constexpr int StaleLockTime = 10'000;

// A domain becomes a file name, so it must not leave the directory.
bool isValidDomain(const QString &domain)
{
    return !domain.isEmpty() && !domain.contains(u'/') && !domain.contains(QChar(0));
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Creates the directory and its missing parents, each private to the user.
bool makeDirectory(const QString &directory, QString *reason)
{
    QStringList missing;
    QString current = directory;
    while (!QFileInfo::exists(current)) {
        missing.prepend(current);
        const QString parent = QFileInfo(current).path();
        if (parent == current)
            break;
        current = parent;
    }
    for (const QString &path : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(path).constData(), S_IRWXU) != 0 && errno != EEXIST) {
            *reason = u"cannot create the folder %1: %2"_s.arg(path, systemError(errno));
            return false;
        }
    }
    if (!QFileInfo(directory).isDir()) {
        *reason = u"%1 is not a folder"_s.arg(directory);
        return false;
    }
    return true;
}

// Makes the rename of a just-committed file durable too.
void syncDirectory(const QString &directory)
{
    const int fd = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

QString lockFailure(const QLockFile &lock, const QString &path)
{
    switch (lock.error()) {
    case QLockFile::LockFailedError:
        return u"another process holds the lock %1"_s.arg(path);
    case QLockFile::PermissionError:
        return u"no permission to create the lock %1"_s.arg(path);
    default:
        return u"cannot create the lock %1"_s.arg(path);
    }
}

// Renames a file that cannot be used to <file>.corrupt-<UTC time>, never
// over an existing file.
bool setAside(const QString &path, QString *newPath)
{
    const QString base = path + u".corrupt-"_s
        + QDateTime::currentDateTimeUtc().toString(u"yyyyMMdd'T'HHmmss'Z'"_s);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString candidate = attempt == 0 ? base : u"%1-%2"_s.arg(base).arg(attempt);
        if (QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink())
            continue;
        // QFile::rename never replaces an existing file.
        if (QFile::rename(path, candidate)) {
            *newPath = candidate;
            return true;
        }
        if (!QFileInfo::exists(candidate))
            return false;
    }
    return false;
}

} // namespace

FilePreferencesStore::FilePreferencesStore(const QString &directory)
    : m_directory(QDir::cleanPath(QFileInfo(directory.isEmpty() ? defaultDirectory() : directory).absoluteFilePath()))
    , m_lockTimeout(3s)
{
}

FilePreferencesStore::~FilePreferencesStore() = default;

QString FilePreferencesStore::defaultDirectory()
{
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!configHome.isEmpty() && QDir::isAbsolutePath(configHome))
        return QDir::cleanPath(configHome);
    const QString home = qEnvironmentVariable("HOME");
    return QDir::cleanPath((home.isEmpty() ? QDir::homePath() : home) + u"/.config"_s);
}

FilePreferencesStore &FilePreferencesStore::standard()
{
    static FilePreferencesStore store;
    return store;
}

QString FilePreferencesStore::filePath(const QString &domain) const
{
    return m_directory + u'/' + domain + u".plist"_s;
}

QVariant FilePreferencesStore::copyAppValue(const QString &key, const QString &domainName)
{
    if (!isValidDomain(domainName)) {
        qCWarning(lcPreferences).noquote() << u"Ignoring the invalid preferences domain \"%1\""_s.arg(domainName);
        return {};
    }
    return domain(domainName)->values.value(key);
}

void FilePreferencesStore::setAppValue(const QString &key, const QVariant &value, const QString &domainName)
{
    if (!isValidDomain(domainName)) {
        qCWarning(lcPreferences).noquote() << u"Ignoring the invalid preferences domain \"%1\""_s.arg(domainName);
        return;
    }
    QVariant stored;
    if (value.isValid()) {
        // Refused here, one value cannot keep the whole domain from being
        // written. Memory holds what the file will give back, so a value
        // reads the same before and after synchronisation.
        QString reason;
        const QByteArray xml = PropertyList::toXml(QVariantMap{{key, value}}, &reason);
        if (xml.isEmpty()) {
            qCWarning(lcPreferences).noquote()
                << u"Refusing to set \"%1\" in %2: %3"_s.arg(key, domainName, reason);
            return;
        }
        stored = PropertyList::fromXml(xml).toMap().value(key);
    }
    Domain *entry = domain(domainName);
    if (stored.isValid())
        entry->values.insert(key, stored);
    else
        entry->values.remove(key);
    entry->pending.insert(key, stored);
}

bool FilePreferencesStore::appSynchronize(const QString &domainName)
{
    if (!isValidDomain(domainName)) {
        qCWarning(lcPreferences).noquote() << u"Ignoring the invalid preferences domain \"%1\""_s.arg(domainName);
        return false;
    }
    Domain *entry = domain(domainName);
    if (entry->pending.isEmpty())
        return reload(domainName, entry);

    const QString path = filePath(domainName);
    QString reason;
    if (!makeDirectory(m_directory, &reason))
        return failSynchronize(domainName, reason);

    QLockFile lock(path + u".lock"_s);
    lock.setStaleLockTime(StaleLockTime);
    if (!lock.tryLock(int(m_lockTimeout.count())))
        return failSynchronize(domainName, lockFailure(lock, lock.fileName()));

    // Another process may have written since we last read: start from the
    // file and put our own changes on top.
    QVariantMap merged;
    switch (readAndSetAside(path, &merged, &reason)) {
    case FileState::Read:
        break;
    case FileState::Missing:
        merged.clear();
        break;
    case FileState::Corrupt:
    case FileState::Unreadable:
        return failSynchronize(domainName, reason);
    }
    for (auto it = entry->pending.cbegin(); it != entry->pending.cend(); ++it) {
        if (it.value().isValid())
            merged.insert(it.key(), it.value());
        else
            merged.remove(it.key());
    }

    const QByteArray contents = PropertyList::toXml(merged, &reason);
    if (contents.isEmpty())
        return failSynchronize(domainName, reason);
    if (!writeFile(path, contents, &reason))
        return failSynchronize(domainName, reason);

    entry->values = merged;
    entry->pending.clear();
    return true;
}

FilePreferencesStore::Domain *FilePreferencesStore::domain(const QString &name)
{
    auto it = m_domains.find(name);
    if (it == m_domains.end()) {
        it = m_domains.insert(name, Domain());
        reload(name, &it.value());
    }
    return &it.value();
}

// Replaces memory with the file; a missing file is an empty domain, a corrupt
// one is set aside. On failure memory stays as it was.
bool FilePreferencesStore::reload(const QString &name, Domain *entry)
{
    const QString path = filePath(name);
    QVariantMap values;
    QString reason;
    FileState state = readFile(path, &values, &reason);
    if (state == FileState::Corrupt) {
        // Under the lock, so that the file set aside is never one that
        // another process has just written in its place.
        QLockFile lock(path + u".lock"_s);
        lock.setStaleLockTime(StaleLockTime);
        if (lock.tryLock(int(m_lockTimeout.count()))) {
            state = readAndSetAside(path, &values, &reason);
        } else {
            reason = lockFailure(lock, lock.fileName());
            state = FileState::Unreadable;
        }
    }
    switch (state) {
    case FileState::Read:
        entry->values = values;
        return true;
    case FileState::Missing:
        entry->values.clear();
        return true;
    case FileState::Corrupt:
    case FileState::Unreadable:
        break;
    }
    qCWarning(lcPreferences).noquote() << u"Cannot read preferences domain %1: %2"_s.arg(name, reason);
    return false;
}

FilePreferencesStore::FileState FilePreferencesStore::readFile(const QString &path, QVariantMap *values,
                                                               QString *reason) const
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return FileState::Missing;
    if (!info.isFile()) {
        *reason = u"%1 is not a regular file"_s.arg(path);
        return FileState::Unreadable;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = u"cannot open %1: %2"_s.arg(path, file.errorString());
        return FileState::Unreadable;
    }
    if (file.size() > PropertyList::MaximumInputSize) {
        *reason = u"%1 is larger than %2 bytes"_s.arg(path).arg(PropertyList::MaximumInputSize);
        return FileState::Corrupt;
    }
    const QByteArray data = PropertyList::readAtMost(file, PropertyList::MaximumInputSize + 1);
    if (file.error() != QFileDevice::NoError) {
        *reason = u"cannot read %1: %2"_s.arg(path, file.errorString());
        return FileState::Unreadable;
    }
    QString error;
    const QVariant value = PropertyList::fromXml(data, &error);
    if (!value.isValid()) {
        *reason = u"%1 is not a property list: %2"_s.arg(path, error);
        return FileState::Corrupt;
    }
    if (value.typeId() != QMetaType::QVariantMap) {
        *reason = u"%1 does not hold a dictionary"_s.arg(path);
        return FileState::Corrupt;
    }
    *values = value.toMap();
    return FileState::Read;
}

// readFile() for a caller that holds the lock: a corrupt file is renamed and
// the domain then reads as missing. Corrupt remains only when the rename fails.
FilePreferencesStore::FileState FilePreferencesStore::readAndSetAside(const QString &path, QVariantMap *values,
                                                                      QString *reason) const
{
    const FileState state = readFile(path, values, reason);
    if (state != FileState::Corrupt)
        return state;
    QString newPath;
    if (!setAside(path, &newPath)) {
        *reason += u"; it cannot be moved aside, so it is left as it is"_s;
        return FileState::Corrupt;
    }
    qCWarning(lcPreferences).noquote()
        << u"Moved the unusable preferences file to %1 (%2); the domain starts empty"_s.arg(newPath, *reason);
    values->clear();
    return FileState::Missing;
}

bool FilePreferencesStore::writeFile(const QString &path, const QByteArray &contents, QString *reason) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *reason = u"cannot write %1: %2"_s.arg(path, file.errorString());
        return false;
    }
    // Preferences are the user's own business: 0600 whatever the umask or
    // the mode of the file being replaced.
    const bool privateMode = file.handle() >= 0
        ? ::fchmod(file.handle(), S_IRUSR | S_IWUSR) == 0
        : file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (!privateMode) {
        *reason = u"cannot make %1 private: %2"_s.arg(path, systemError(errno));
        file.cancelWriting();
        return false;
    }
    if (file.write(contents) != contents.size() || !file.commit()) {
        *reason = u"cannot write %1: %2"_s.arg(path, file.errorString());
        return false;
    }
    syncDirectory(QFileInfo(path).absolutePath());
    return true;
}

bool FilePreferencesStore::failSynchronize(const QString &name, const QString &reason) const
{
    qCWarning(lcPreferences).noquote()
        << u"Cannot save preferences domain %1: %2; the changes are kept for the next synchronisation"_s.arg(
               name, reason);
    return false;
}

} // namespace platform
