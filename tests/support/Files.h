#pragma once
// Files and values of tests: whole files written and read, bundle folders,
// the settings file of a domain, and values compared with their types.

#include "PropertyList.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QString>
#include <QTest>
#include <QVariant>

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

// A bundle folder at PATH: Contents/Info.plist naming IDENTIFIER (left out
// when empty) and EXECUTABLE, and an empty executable file at
// Contents/Linux/<executable>. False when anything could not be made.
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

// Whether two values are the same, type included (QVariant's == converts:
// 1 == true == 1.0 == "1").
inline bool sameValue(const QVariant &a, const QVariant &b)
{
    if (a.metaType() != b.metaType())
        return false;
    if (a.metaType().id() == QMetaType::QVariantMap) {
        const QVariantMap x = a.toMap(), y = b.toMap();
        if (x.keys() != y.keys())
            return false;
        for (auto it = x.cbegin(); it != x.cend(); ++it) {
            if (!sameValue(it.value(), y.value(it.key())))
                return false;
        }
        return true;
    }
    if (a.metaType().id() == QMetaType::QVariantList) {
        const QVariantList x = a.toList(), y = b.toList();
        return x.size() == y.size() && std::equal(x.cbegin(), x.cend(), y.cbegin(), sameValue);
    }
    return a == b;
}

} // namespace testsupport

// Compares two values with their types, showing both when they differ.
#define QCOMPARE_VALUE(actual, expected)                                                                      \
    QVERIFY2(testsupport::sameValue(actual, expected),                                                        \
             qPrintable(QDebug::toString(actual) + u" is not "_s + QDebug::toString(expected)))
