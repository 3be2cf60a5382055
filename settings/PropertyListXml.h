#pragma once

// The two halves of the property-list codec, behind settings::PropertyList.

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QVariant>

namespace settings::plistxml {

// XML 1.0 can only carry some characters, even as character references:
// the position of the first one that it cannot, or -1.
qsizetype firstNonXmlCharacter(QStringView text);
QString nonXmlCharacterError(QStringView text, qsizetype position);

// The value of a whole document, or an invalid QVariant with *error set.
QVariant parse(const QByteArray &data, QString *errorString);
// The document for a value, or an empty QByteArray with *error set.
QByteArray serialize(const QVariant &value, QString *errorString);

} // namespace settings::plistxml
