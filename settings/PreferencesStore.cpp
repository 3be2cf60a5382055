#include "PreferencesStore.h"

#include "Files.h"
#include "PropertyList.h"

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

Q_LOGGING_CATEGORY(lcPreferences, "quillvane.settings.preferences", QtWarningMsg)

namespace settings {

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

PreferencesStore::PreferencesStore(const QString &directory)
    : m_lockTimeout(3s)
{
    const QString chosen = directory.isEmpty() ? defaultDirectory() : directory;
    if (!chosen.isEmpty())
        m_directory = QDir::cleanPath(QFileInfo(chosen).absoluteFilePath());
    else
        qCWarning(lcPreferences) << "No configuration folder (neither XDG_CONFIG_HOME nor HOME names one): "
                                    "preferences cannot be read or saved";
}

PreferencesStore::~PreferencesStore() = default;

QString PreferencesStore::defaultDirectory()
{
    return configHome();
}

PreferencesStore &PreferencesStore::standard()
{
    static PreferencesStore store;
    return store;
}

QString PreferencesStore::filePath(const QString &domain) const
{
    return m_directory.isEmpty() ? QString() : m_directory + u'/' + domain + u".plist"_s;
}

QVariant PreferencesStore::copyAppValue(const QString &key, const QString &domainName)
{
    if (!isValidDomain(domainName)) {
        qCWarning(lcPreferences).noquote() << u"Ignoring the invalid preferences domain \"%1\""_s.arg(domainName);
        return {};
    }
    return domain(domainName)->values.value(key);
}

void PreferencesStore::setAppValue(const QString &key, const QVariant &value, const QString &domainName)
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
        QString errorString;
        const QByteArray xml = PropertyList::toXml(QVariantMap{{key, value}}, &errorString);
        if (xml.isEmpty()) {
            qCWarning(lcPreferences).noquote()
                << u"Refusing to set \"%1\" in %2: %3"_s.arg(key, domainName, errorString);
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

bool PreferencesStore::appSynchronize(const QString &domainName)
{
    if (!isValidDomain(domainName)) {
        qCWarning(lcPreferences).noquote() << u"Ignoring the invalid preferences domain \"%1\""_s.arg(domainName);
        return false;
    }
    Domain *entry = domain(domainName);
    if (entry->pending.isEmpty())
        return reload(domainName, entry);

    const QString path = filePath(domainName);
    QString errorString;
    if (path.isEmpty())
        return failSynchronize(domainName, u"there is no configuration folder"_s);
    if (!makePrivateFolder(m_directory, &errorString))
        return failSynchronize(domainName, errorString);

    QLockFile lock(path + u".lock"_s);
    lock.setStaleLockTime(StaleLockTime);
    if (!lock.tryLock(int(m_lockTimeout.count())))
        return failSynchronize(domainName, lockFailure(lock, lock.fileName()));

    // Another process may have written since we last read: start from the
    // file and put our own changes on top.
    QVariantMap merged;
    switch (readAndSetAside(path, &merged, &errorString)) {
    case FileState::Read:
        break;
    case FileState::Missing:
        merged.clear();
        break;
    case FileState::Corrupt:
    case FileState::Unreadable:
        return failSynchronize(domainName, errorString);
    }
    for (auto it = entry->pending.cbegin(); it != entry->pending.cend(); ++it) {
        if (it.value().isValid())
            merged.insert(it.key(), it.value());
        else
            merged.remove(it.key());
    }

    const QByteArray contents = PropertyList::toXml(merged, &errorString);
    if (contents.isEmpty())
        return failSynchronize(domainName, errorString);
    if (!writeFile(path, contents, &errorString))
        return failSynchronize(domainName, errorString);

    entry->values = merged;
    entry->pending.clear();
    return true;
}

PreferencesStore::Domain *PreferencesStore::domain(const QString &name)
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
bool PreferencesStore::reload(const QString &name, Domain *entry)
{
    const QString path = filePath(name);
    QVariantMap values;
    QString errorString;
    FileState state = readFile(path, &values, &errorString);
    if (state == FileState::Corrupt) {
        // Under the lock, so that the file set aside is never one that
        // another process has just written in its place.
        QLockFile lock(path + u".lock"_s);
        lock.setStaleLockTime(StaleLockTime);
        if (lock.tryLock(int(m_lockTimeout.count()))) {
            state = readAndSetAside(path, &values, &errorString);
        } else {
            errorString = lockFailure(lock, lock.fileName());
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
    qCWarning(lcPreferences).noquote() << u"Cannot read preferences domain %1: %2"_s.arg(name, errorString);
    return false;
}

PreferencesStore::FileState PreferencesStore::readFile(const QString &path, QVariantMap *values,
                                                       QString *errorString) const
{
    if (path.isEmpty())
        return FileState::Missing;
    QByteArray data;
    switch (readBoundedFile(path, PropertyList::MaximumInputSize, &data, errorString)) {
    case FileRead::Read:
        break;
    case FileRead::Missing:
        // A link to nothing is not ours to replace with a file.
        if (QFileInfo(path).isSymLink()) {
            *errorString = u"%1 is a link to nothing"_s.arg(path);
            return FileState::Unreadable;
        }
        return FileState::Missing;
    case FileRead::TooLarge:
        return FileState::Corrupt;
    case FileRead::NotRegular:
    case FileRead::Failed:
        return FileState::Unreadable;
    }
    QString error;
    const QVariant value = PropertyList::fromXml(data, &error);
    if (!value.isValid()) {
        *errorString = u"%1 is not a property list: %2"_s.arg(path, error);
        return FileState::Corrupt;
    }
    if (value.typeId() != QMetaType::QVariantMap) {
        *errorString = u"%1 does not hold a dictionary"_s.arg(path);
        return FileState::Corrupt;
    }
    *values = value.toMap();
    return FileState::Read;
}

// readFile() for a caller that holds the lock: a corrupt file is renamed and
// the domain then reads as missing. Corrupt remains only when the rename fails.
PreferencesStore::FileState PreferencesStore::readAndSetAside(const QString &path, QVariantMap *values,
                                                                      QString *errorString) const
{
    const FileState state = readFile(path, values, errorString);
    if (state != FileState::Corrupt)
        return state;
    QString newPath;
    if (!setAside(path, &newPath)) {
        *errorString += u"; it cannot be moved aside, so it is left as it is"_s;
        return FileState::Corrupt;
    }
    qCWarning(lcPreferences).noquote()
        << u"Moved the unusable preferences file to %1 (%2); the domain starts empty"_s.arg(newPath, *errorString);
    values->clear();
    return FileState::Missing;
}

bool PreferencesStore::writeFile(const QString &path, const QByteArray &contents, QString *errorString) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *errorString = u"cannot write %1: %2"_s.arg(path, file.errorString());
        return false;
    }
    // Preferences are the user's own business: 0600 whatever the umask or
    // the mode of the file being replaced.
    const bool privateMode = file.handle() >= 0
        ? ::fchmod(file.handle(), S_IRUSR | S_IWUSR) == 0
        : file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (!privateMode) {
        *errorString = u"cannot make %1 private: %2"_s.arg(path, systemError(errno));
        file.cancelWriting();
        return false;
    }
    if (file.write(contents) != contents.size() || !file.commit()) {
        *errorString = u"cannot write %1: %2"_s.arg(path, file.errorString());
        return false;
    }
    syncDirectory(QFileInfo(path).absolutePath());
    return true;
}

bool PreferencesStore::failSynchronize(const QString &name, const QString &errorString) const
{
    qCWarning(lcPreferences).noquote()
        << u"Cannot save preferences domain %1: %2; the changes are kept for the next synchronisation"_s.arg(
               name, errorString);
    return false;
}

} // namespace settings
