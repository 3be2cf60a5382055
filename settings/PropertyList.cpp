#include "PropertyList.h"
#include "PropertyListXml.h"

#include "Files.h"

namespace settings {

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
    QByteArray data;
    QString error;
    if (readBoundedFile(path, MaximumInputSize, &data, &error) != FileRead::Read) {
        if (errorString)
            *errorString = error;
        return {};
    }
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

} // namespace settings
