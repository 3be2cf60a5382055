#pragma once

// The two halves of the property-list codec, behind platform::PropertyList.

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QVariant>

namespace platform::plistxml {

// XML 1.0 can only carry some characters, even as character references:
// the position of the first one that it cannot, or -1.
qsizetype firstNonXmlCharacter(QStringView text);
QString nonXmlCharacterError(QStringView text, qsizetype position);

// The value of a whole document, or an invalid QVariant with *error set.
QVariant parse(const QByteArray &data, QString *error);
// The document for a value, or an empty QByteArray with *error set.
QByteArray serialize(const QVariant &value, QString *error);

} // namespace platform::plistxml
