#include "Bundle.h"

#include "PropertyList.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

#include <dlfcn.h>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcBundle, "quillvane.settings.bundle", QtWarningMsg)

namespace settings {

namespace {

QString contentsPath(const QString &bundlePath)
{
    return bundlePath + u"/Contents"_s;
}

} // namespace

Bundle Bundle::withPath(const QString &path)
{
    if (path.isEmpty())
        return {};
    const QFileInfo info(path);
    if (!info.isDir())
        return {};

    Bundle bundle;
    bundle.m_path = QDir::cleanPath(info.absoluteFilePath());
    const QString infoPlist = contentsPath(bundle.m_path) + u"/Info.plist"_s;
    if (QFileInfo::exists(infoPlist)) {
        QString error;
        const QVariant dictionary = PropertyList::readDictionaryFile(infoPlist, &error);
        if (dictionary.isValid())
            bundle.m_info = dictionary.toMap();
        else
            qCWarning(lcBundle) << "Ignoring unreadable" << infoPlist << ":" << error;
    }
    return bundle;
}

Bundle Bundle::withUrl(const QUrl &url)
{
    if (!url.isLocalFile())
        return {};
    return withPath(url.toLocalFile());
}

Bundle Bundle::forAddress(const void *address)
{
    Dl_info info{};
    if (!address || dladdr(address, &info) == 0 || !info.dli_fname)
        return {};
    const QFileInfo file(QString::fromLocal8Bit(info.dli_fname));
    // The main program's dli_fname may be relative to the start directory;
    // /proc/self/exe is exact for it.
    QString filePath = file.canonicalFilePath();
    if (filePath.isEmpty())
        filePath = QFileInfo(u"/proc/self/exe"_s).canonicalFilePath();
    const QDir folder = QFileInfo(filePath).dir();
    QDir contents = folder;
    if (folder.dirName() == u"Linux"_s && contents.cdUp()
        && contents.dirName() == u"Contents"_s && contents.cdUp()) {
        return withPath(contents.path());
    }
    return withPath(folder.path());
}

QUrl Bundle::bundleUrl() const
{
    return isValid() ? QUrl::fromLocalFile(m_path) : QUrl();
}

QString Bundle::bundleIdentifier() const
{
    const QVariant identifier = m_info.value(u"CFBundleIdentifier"_s);
    return identifier.typeId() == QMetaType::QString ? identifier.toString() : QString();
}

QString Bundle::resourcePath() const
{
    if (!isValid())
        return {};
    const QString contents = contentsPath(m_path);
    if (QFileInfo(contents).isDir())
        return contents + u"/Resources"_s;
    return m_path;
}

QString Bundle::pathForResource(const QString &name, const QString &type) const
{
    // A resource is a file directly in the resources folder: names that would
    // reach elsewhere are not resources.
    const auto isPlainName = [](const QString &part) {
        return !part.contains(QLatin1Char('/')) && part != u".."_s && part != u"."_s;
    };
    if (!isValid() || name.isEmpty() || !isPlainName(name) || !isPlainName(type))
        return {};
    QString fileName = name;
    if (!type.isEmpty())
        fileName += QLatin1Char('.') + type;
    const QString path = resourcePath() + QLatin1Char('/') + fileName;
    return QFileInfo(path).isFile() ? path : QString();
}

QString Bundle::executablePath() const
{
    const QVariant executable = m_info.value(u"CFBundleExecutable"_s);
    if (!isValid() || executable.typeId() != QMetaType::QString)
        return {};
    const QString name = executable.toString();
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return {};
    const QString path = contentsPath(m_path) + u"/Linux/"_s + name;
    return QFileInfo(path).isFile() ? path : QString();
}

} // namespace settings
