#include "PropertyList.h"
#include "PropertyListXml.h"

#include <QDateTime>
#include <QLocale>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace settings::plistxml {

using namespace Qt::StringLiterals;

namespace {

QString dateText(const QDateTime &dateTime)
{
    const QDateTime utc = dateTime.toUTC();
    const QDate date = utc.date();
    const QTime time = utc.time();
    return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02dZ", date.year(), date.month(), date.day(),
                             time.hour(), time.minute(), time.second());
}

QString realText(double value)
{
    if (std::isnan(value))
        return u"nan"_s;
    if (std::isinf(value))
        return value > 0 ? u"inf"_s : u"-inf"_s;
    // The shortest text that reads back as exactly this double; C locale.
    // QString::number drops the sign of negative zero.
    const QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    return std::signbit(value) && !text.startsWith(u'-') ? u'-' + text : text;
}

class Writer
{
public:
    explicit Writer(QByteArray *out) : m_xml(out) {}

    bool write(const QVariant &value)
    {
        m_xml.writeStartDocument();
        m_xml.writeCharacters(u"\n"_s);
        m_xml.writeDTD(u"<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                       "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"_s);
        m_xml.writeCharacters(u"\n"_s);
        m_xml.writeStartElement(u"plist"_s);
        m_xml.writeAttribute(u"version"_s, u"1.0"_s);
        m_xml.writeCharacters(u"\n"_s);
        if (!writeValue(value, 0, 0))
            return false;
        m_xml.writeCharacters(u"\n"_s);
        m_xml.writeEndElement();
        m_xml.writeEndDocument(); // ends the document with a line break
        return true;
    }

    QString error() const { return m_error; }

private:
    void newline(int indent) { m_xml.writeCharacters(u"\n"_s + QString(indent, u'\t')); }

    bool fail(const QString &message)
    {
        m_error = message;
        return false;
    }

    // Prefixes the error of a nested value with where it sits.
    bool failInside(const QString &where)
    {
        m_error = where + (m_error.startsWith(u'/') ? QString() : u": "_s) + m_error;
        return false;
    }

    // Carriage returns go out as character references: a raw one would
    // read back as a line feed.
    bool writeText(const QString &element, const QString &text)
    {
        if (const qsizetype bad = firstNonXmlCharacter(text); bad >= 0)
            return fail(nonXmlCharacterError(text, bad));
        m_xml.writeStartElement(element);
        qsizetype start = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] == u'\r') {
                m_xml.writeCharacters(text.mid(start, i - start));
                m_xml.writeEntityReference(u"#13"_s);
                start = i + 1;
            }
        }
        m_xml.writeCharacters(text.mid(start));
        m_xml.writeEndElement();
        return true;
    }

    void writeData(const QByteArray &data, int indent)
    {
        if (data.isEmpty()) {
            m_xml.writeTextElement(u"data"_s, QString());
            return;
        }
        // Lines of base64 at the element's indentation, about 76 columns wide
        // counting a tab as eight.
        const int width = std::max(16, 76 - 8 * indent);
        const qsizetype chunk = (width / 4) * 3;
        m_xml.writeStartElement(u"data"_s);
        for (qsizetype i = 0; i < data.size(); i += chunk) {
            newline(indent);
            m_xml.writeCharacters(QString::fromLatin1(data.mid(i, chunk).toBase64()));
        }
        newline(indent);
        m_xml.writeEndElement();
    }

    bool writeMap(const QList<std::pair<QString, QVariant>> &entries, int indent, int depth)
    {
        if (entries.isEmpty()) {
            m_xml.writeEmptyElement(u"dict"_s);
            return true;
        }
        m_xml.writeStartElement(u"dict"_s);
        for (const auto &[key, value] : entries) {
            newline(indent + 1);
            if (!writeText(u"key"_s, key))
                return failInside(u"a key"_s);
            newline(indent + 1);
            if (!writeValue(value, indent + 1, depth + 1))
                return failInside(u"/"_s + key);
        }
        newline(indent);
        m_xml.writeEndElement();
        return true;
    }

    bool writeList(const QVariantList &list, int indent, int depth)
    {
        if (list.isEmpty()) {
            m_xml.writeEmptyElement(u"array"_s);
            return true;
        }
        m_xml.writeStartElement(u"array"_s);
        for (qsizetype i = 0; i < list.size(); ++i) {
            newline(indent + 1);
            if (!writeValue(list.at(i), indent + 1, depth + 1))
                return failInside(u"/%1"_s.arg(i));
        }
        newline(indent);
        m_xml.writeEndElement();
        return true;
    }

    // depth: the number of dictionaries and arrays around the value.
    bool writeValue(const QVariant &value, int indent, int depth)
    {
        switch (value.typeId()) {
        case QMetaType::Bool:
            m_xml.writeEmptyElement(value.toBool() ? u"true"_s : u"false"_s);
            return true;
        case QMetaType::Short:
        case QMetaType::Int:
        case QMetaType::Long:
        case QMetaType::LongLong:
            m_xml.writeTextElement(u"integer"_s, QString::number(value.toLongLong()));
            return true;
        case QMetaType::UShort:
        case QMetaType::UInt:
        case QMetaType::ULong:
        case QMetaType::ULongLong:
            m_xml.writeTextElement(u"integer"_s, QString::number(value.toULongLong()));
            return true;
        case QMetaType::Float:
            m_xml.writeTextElement(u"real"_s, realText(double(value.toFloat())));
            return true;
        case QMetaType::Double:
            m_xml.writeTextElement(u"real"_s, realText(value.toDouble()));
            return true;
        case QMetaType::QString:
            return writeText(u"string"_s, value.toString());
        case QMetaType::QByteArray:
            writeData(value.toByteArray(), indent);
            return true;
        case QMetaType::QDateTime: {
            const QDateTime dateTime = value.toDateTime();
            const int year = dateTime.isValid() ? dateTime.toUTC().date().year() : 0;
            if (year < 1 || year > 9999)
                return fail(u"the date %1 is invalid or outside the years 1 to 9999"_s
                                .arg(dateTime.toString(Qt::ISODate)));
            m_xml.writeTextElement(u"date"_s, dateText(dateTime));
            return true;
        }
        case QMetaType::QVariantMap:
        case QMetaType::QVariantHash: {
            if (depth >= PropertyList::MaximumDepth)
                return fail(u"nested deeper than %1 levels"_s.arg(PropertyList::MaximumDepth));
            QList<std::pair<QString, QVariant>> entries;
            if (value.typeId() == QMetaType::QVariantMap) {
                const QVariantMap map = value.toMap();
                for (auto it = map.cbegin(); it != map.cend(); ++it)
                    entries.append({it.key(), it.value()});
            } else {
                const QVariantHash hash = value.toHash();
                for (auto it = hash.cbegin(); it != hash.cend(); ++it)
                    entries.append({it.key(), it.value()});
                std::sort(entries.begin(), entries.end(),
                          [](const auto &a, const auto &b) { return a.first < b.first; });
            }
            return writeMap(entries, indent, depth);
        }
        case QMetaType::QVariantList:
        case QMetaType::QStringList:
            if (depth >= PropertyList::MaximumDepth)
                return fail(u"nested deeper than %1 levels"_s.arg(PropertyList::MaximumDepth));
            return writeList(value.toList(), indent, depth);
        case QMetaType::UnknownType:
            return fail(u"no value (an invalid QVariant) cannot be stored"_s);
        default:
            return fail(u"a value of type %1 cannot be stored"_s.arg(QString::fromLatin1(value.typeName())));
        }
    }

    QXmlStreamWriter m_xml;
    QString m_error;
};

} // namespace

QByteArray serialize(const QVariant &value, QString *errorString)
{
    QByteArray out;
    Writer writer(&out);
    if (!writer.write(value)) {
        *errorString = writer.error();
        return {};
    }
    errorString->clear();
    return out;
}

} // namespace settings::plistxml
