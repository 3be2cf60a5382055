#pragma once
// Files and values of tests: whole files written and read, bundle folders, the settings file of a domain, and
// values compared with their types.

#include "PropertyList.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QTest>

namespace testsupport {

using namespace Qt::StringLiterals;

inline bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(contents) == contents.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A bundle folder at PATH: Contents/Info.plist naming IDENTIFIER (left out when empty) and EXECUTABLE, and an
// empty executable file at Contents/Linux/<executable>. False when anything could not be made.
inline bool makeBundle(const QString &path, const QString &identifier, const QString &executable = u"Quillvane"_s)
{
    QVariantMap info{{u"CFBundleExecutable"_s, executable}};
    if (!identifier.isEmpty())
        info.insert(u"CFBundleIdentifier"_s, identifier);
    QFile program(path + u"/Contents/Linux/"_s + executable);
    return QDir().mkpath(path + u"/Contents/Linux"_s)
        && writeFile(path + u"/Contents/Info.plist"_s, settings::PropertyList::toXml(info))
        && program.open(QIODevice::WriteOnly)
        && program.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The settings file of DOMAIN in the configuration folder CONFIGHOME.
inline QString settingsFile(const QString &configHome, const QString &domain)
{
    return QDir(configHome).filePath(domain + u".plist"_s);
}

} // namespace testsupport

// Compares two values with their types (QVariant's == converts: 1 == true ==
// 1.0 == "1"), as the property list each would be written as.
#define QCOMPARE_VALUE(actual, expected) \
    QCOMPARE(settings::PropertyList::toXml(actual), settings::PropertyList::toXml(expected))
