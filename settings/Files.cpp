#include "Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace settings {

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Q_DISABLE_COPY_MOVE(FileDescriptor)
    int get() const { return m_fd; }

private:
    const int m_fd;
};

} // namespace

FileRead readBoundedFile(const QString &path, qint64 maximum, QByteArray *data, QString *errorString)
{
    data->clear();
    const FileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        // errno first: building the message may allocate and change it.
        const int error = errno;
        *errorString = u"cannot open %1: %2"_s.arg(path, systemError(error));
        return error == ENOENT ? FileRead::Missing : FileRead::Failed;
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        const int error = errno;
        *errorString = u"cannot read %1: %2"_s.arg(path, systemError(error));
        return FileRead::Failed;
    }
    if (!S_ISREG(status.st_mode)) {
        *errorString = u"%1 is not a regular file"_s.arg(path);
        return FileRead::NotRegular;
    }
    if (status.st_size > maximum) {
        *errorString = u"%1 is larger than %2 bytes"_s.arg(path).arg(maximum);
        return FileRead::TooLarge;
    }
    // In steps, one byte past the bound at most: a file that grows between
    // fstat and read is still caught, and a small file costs a small buffer.
    constexpr qint64 Step = 64 * 1024;
    qint64 total = 0;
    for (;;) {
        const qint64 room = std::min(Step, maximum + 1 - total);
        if (room <= 0)
            break;
        data->resize(total + room);
        const ssize_t got = ::read(fd.get(), data->data() + total, size_t(room));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            data->clear();
            *errorString = u"cannot read %1: %2"_s.arg(path, systemError(error));
            return FileRead::Failed;
        }
        if (got == 0)
            break;
        total += got;
    }
    data->truncate(total);
    if (total > maximum) {
        data->clear();
        *errorString = u"%1 is larger than %2 bytes"_s.arg(path).arg(maximum);
        return FileRead::TooLarge;
    }
    return FileRead::Read;
}

QString configHome()
{
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!configHome.isEmpty() && QDir::isAbsolutePath(configHome))
        return QDir::cleanPath(configHome);
    const QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty() || !QDir::isAbsolutePath(home))
        return {};
    return QDir::cleanPath(home + u"/.config"_s);
}

bool makePrivateFolder(const QString &path, QString *errorString)
{
    const QString folder = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QStringList missing;
    QString current = folder;
    while (!QFileInfo::exists(current) && !QFileInfo(current).isSymLink()) {
        missing.prepend(current);
        const QString parent = QFileInfo(current).path();
        if (parent == current)
            break;
        current = parent;
    }
    for (const QString &step : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(step).constData(), S_IRWXU) != 0 && errno != EEXIST) {
            const int error = errno;
            *errorString = u"cannot create the folder %1: %2"_s.arg(step, systemError(error));
            return false;
        }
    }
    if (!QFileInfo(folder).isDir()) {
        *errorString = u"%1 is not a folder"_s.arg(folder);
        return false;
    }
    return true;
}

} // namespace settings
