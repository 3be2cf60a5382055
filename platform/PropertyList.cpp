#include "platform/PropertyList.h"
#include "platform/PropertyListXml.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace platform {

using namespace Qt::StringLiterals;

namespace plistxml {

// XML 1.0 can only carry some characters, even as character references:
// the position of the first one it cannot, or -1.
qsizetype firstNonXmlCharacter(QStringView text)
{
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x20) {
            if (c != u'\t' && c != u'\n' && c != u'\r')
                return i;
        } else if (QChar::isHighSurrogate(c)) {
            if (i + 1 >= size || !QChar::isLowSurrogate(text[i + 1].unicode()))
                return i;
            ++i;
        } else if (QChar::isLowSurrogate(c) || c == 0xFFFE || c == 0xFFFF) {
            return i;
        }
    }
    return -1;
}

QString nonXmlCharacterError(QStringView text, qsizetype position)
{
    return u"U+%1 at position %2 of a string cannot be carried by XML"_s
        .arg(QString::number(text[position].unicode(), 16).toUpper().rightJustified(4, u'0'))
        .arg(position);
}

} // namespace plistxml

QByteArray PropertyList::readAtMost(QIODevice &device, qint64 limit)
{
    // In steps: a buffer of the whole bound for every small file would cost
    // a 16 MiB allocation per read.
    constexpr qint64 Step = 64 * 1024;
    QByteArray data;
    while (data.size() < limit) {
        const QByteArray chunk = device.read(std::min(Step, limit - data.size()));
        if (chunk.isEmpty())
            break;
        data += chunk;
    }
    return data;
}

QVariant PropertyList::fromXml(const QByteArray &data, QString *errorString)
{
    if (data.size() > MaximumInputSize) {
        if (errorString)
            *errorString = u"the property list is larger than %1 bytes"_s.arg(MaximumInputSize);
        return {};
    }
    QString error;
    const QVariant value = plistxml::parse(data, &error);
    if (errorString)
        *errorString = error;
    return value;
}

QByteArray PropertyList::toXml(const QVariant &value, QString *errorString)
{
    QString error;
    const QByteArray out = plistxml::serialize(value, &error);
    if (errorString)
        *errorString = error;
    return out;
}

QVariant PropertyList::readFile(const QString &path, QString *errorString)
{
    QFile file(path);
    // Only regular files: opening a FIFO or a device could block or never end.
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        if (errorString)
            *errorString = u"cannot open %1: %2"_s.arg(path, QFileInfo::exists(path) && !QFileInfo(path).isFile()
                                                                ? u"not a regular file"_s
                                                                : file.errorString());
        return {};
    }
    // Read one byte past the bound, so that a file that grows or lies about
    // its size is still caught.
    const QByteArray data = readAtMost(file, MaximumInputSize + 1);
    if (file.error() != QFileDevice::NoError) {
        if (errorString)
            *errorString = u"cannot read %1: %2"_s.arg(path, file.errorString());
        return {};
    }
    QString error;
    const QVariant value = fromXml(data, &error);
    if (errorString)
        *errorString = value.isValid() ? QString() : u"%1: %2"_s.arg(path, error);
    return value;
}

QVariant PropertyList::readDictionaryFile(const QString &path, QString *errorString)
{
    const QVariant value = readFile(path, errorString);
    if (!value.isValid())
        return {};
    if (value.typeId() != QMetaType::QVariantMap) {
        if (errorString)
            *errorString = u"%1: the top level is not a dictionary"_s.arg(path);
        return {};
    }
    return value;
}

} // namespace platform
