#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

namespace settings {

// Apple's XML property-list format, read and written with Qt's XML stream
// classes. Values are QVariants: bool, qint64 (quint64 above the signed
// range), double, QString, QVariantMap, QVariantList, QByteArray and
// QDateTime (UTC, whole seconds). An invalid QVariant is "no value".
//
// Reading never depends on the process locale, reads integers as decimal (or
// 0x hexadecimal, unsigned), refuses integers that do not fit in 64 bits, and
// bounds the input size and the nesting depth, so hostile input yields an
// error and never a crash. A document type declaration may name "plist" but
// must not carry an internal subset (no entity declarations). When a
// dictionary repeats a key, the later value wins and a warning is logged.
// Reals also read "nan", "inf" and "infinity" with an optional sign.
//
// Writing accepts bool, the integer types, float (widened), double, QString,
// QVariantMap, QVariantHash, QVariantList, QStringList, QByteArray and
// QDateTime. Strings must consist of characters that XML can carry (no
// control characters but tab, line feed and carriage return). Whatever the
// writer produces the reader reads back as an equal value, and whatever the
// reader accepts the writer can write.
class PropertyList
{
public:
    static constexpr qint64 MaximumInputSize = 16 * 1024 * 1024;
    // Dictionaries and arrays nested deeper than this are refused.
    static constexpr int MaximumDepth = 256;

    // The value of a whole document, or an invalid QVariant with *errorString
    // set when the data is not a property list.
    static QVariant fromXml(const QByteArray &data, QString *errorString = nullptr);

    // The document for a value. Values of types that a property list cannot
    // hold make it fail: an empty QByteArray with *errorString set.
    static QByteArray toXml(const QVariant &value, QString *errorString = nullptr);

    // The value stored in a file, or an invalid QVariant when the file cannot
    // be read (it must be a regular file of at most MaximumInputSize bytes)
    // or parsed.
    static QVariant readFile(const QString &path, QString *errorString = nullptr);

    // The dictionary at the top level of a file (a QVariantMap), or an
    // invalid QVariant when the file cannot be read or does not hold a
    // dictionary.
    static QVariant readDictionaryFile(const QString &path, QString *errorString = nullptr);
};

} // namespace settings
