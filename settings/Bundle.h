#pragma once

#include "Export.h"

#include <QString>
#include <QUrl>
#include <QVariantMap>

namespace settings {

// A bundle is a folder: Contents/Info.plist, Contents/Linux/<executable> and
// Contents/Resources/. A default-constructed Bundle is "no bundle".
class QUILLVANE_EXPORT Bundle
{
public:
    Bundle() = default;

    // The bundle at a folder; no bundle when the folder does not exist. A
    // folder without Info.plist is a bundle without identifier.
    static Bundle withPath(const QString &path);
    static Bundle withUrl(const QUrl &url);

    // The bundle that holds the code at an address (a function or object of
    // the code in question): the bundle around the shared object or program
    // when it lies in <bundle>/Contents/Linux/, else the folder it lies in.
    static Bundle forAddress(const void *address);

    bool isValid() const { return !m_path.isEmpty(); }
    explicit operator bool() const { return isValid(); }

    QString bundlePath() const { return m_path; }
    QUrl bundleUrl() const;
    QString bundleIdentifier() const;
    QVariantMap infoDictionary() const { return m_info; }
    // Contents/Resources for a bundle with Contents, else the folder itself.
    QString resourcePath() const;
    // The path of resource NAME.TYPE, or an empty string when there is none.
    QString pathForResource(const QString &name, const QString &type) const;
    // Contents/Linux/<CFBundleExecutable>, or an empty string when the bundle
    // names no executable or it is not there.
    QString executablePath() const;

    bool operator==(const Bundle &other) const { return m_path == other.m_path; }

private:
    QString m_path;
    QVariantMap m_info;
};

} // namespace settings
