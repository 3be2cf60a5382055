#include "PropertyList.h"
#include "PropertyListXml.h"

#include <QDateTime>
#include <QLoggingCategory>
#include <QXmlStreamReader>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <limits>

Q_LOGGING_CATEGORY(lcPropertyList, "quillvane.settings.propertylist", QtWarningMsg)

namespace settings::plistxml {

using namespace Qt::StringLiterals;

namespace {

// Reads a document with an explicit depth count, so that nesting is bounded
// long before the stack is at risk.
class Reader
{
public:
    explicit Reader(const QByteArray &data) : m_xml(data) {}

    QVariant read()
    {
        QVariant value;
        return readDocument(&value) ? value : QVariant();
    }

    QString error() const { return m_error; }

private:
    enum class Next { Start, End, Failed };

    // Records the first error with its position; the XML reader's own error
    // takes precedence because it is the cause.
    bool fail(const QString &message)
    {
        if (m_error.isEmpty()) {
            const QString what = m_xml.hasError() ? m_xml.errorString() : message;
            m_error = u"line %1, column %2: %3"_s.arg(m_xml.lineNumber()).arg(m_xml.columnNumber()).arg(what);
        }
        return false;
    }

    bool readDocument(QVariant *value)
    {
        if (!readProlog())
            return false;
        if (m_xml.qualifiedName() != u"plist")
            return fail(u"the root element is <%1>, not <plist>"_s.arg(m_xml.qualifiedName()));

        Next next = nextElement();
        if (next == Next::Failed)
            return false;
        if (next == Next::End)
            return fail(u"<plist> holds no value"_s);
        if (!readValue(value, 0))
            return false;
        next = nextElement();
        if (next == Next::Failed)
            return false;
        if (next == Next::Start)
            return fail(u"<plist> holds more than one value"_s);

        // Only comments and processing instructions may follow.
        while (!m_xml.atEnd()) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::Comment:
            case QXmlStreamReader::ProcessingInstruction:
            case QXmlStreamReader::EndDocument:
                break;
            case QXmlStreamReader::Characters:
                if (m_xml.isWhitespace())
                    break;
                Q_FALLTHROUGH();
            default:
                return fail(u"unexpected content after </plist>"_s);
            }
        }
        return !m_xml.hasError() || fail(QString());
    }

    bool readProlog()
    {
        for (;;) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::StartDocument:
            case QXmlStreamReader::Comment:
            case QXmlStreamReader::ProcessingInstruction:
                continue;
            case QXmlStreamReader::Characters:
                if (m_xml.isWhitespace())
                    continue;
                return fail(u"text before the root element"_s);
            case QXmlStreamReader::DTD:
                if (!checkDocumentType())
                    return false;
                continue;
            case QXmlStreamReader::StartElement:
                return true;
            default:
                return fail(m_xml.atEnd() ? u"the document is empty"_s : u"unexpected content"_s);
            }
        }
    }

    // Only the plain declaration is accepted: an internal subset could
    // declare entities whose expansion multiplies the input.
    bool checkDocumentType()
    {
        if (m_xml.dtdName() != u"plist")
            return fail(u"the document type is \"%1\", not \"plist\""_s.arg(m_xml.dtdName()));
        if (!m_xml.entityDeclarations().isEmpty() || !m_xml.notationDeclarations().isEmpty()
            || m_xml.text().contains(u'['))
            return fail(u"the document type declaration carries declarations of its own"_s);
        return true;
    }

    // The next element boundary, skipping comments, processing instructions
    // and whitespace; text between elements is an error.
    Next nextElement()
    {
        for (;;) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::StartElement:
                return Next::Start;
            case QXmlStreamReader::EndElement:
                return Next::End;
            case QXmlStreamReader::Comment:
            case QXmlStreamReader::ProcessingInstruction:
                continue;
            case QXmlStreamReader::Characters:
                if (m_xml.isWhitespace())
                    continue;
                fail(u"text \"%1\" where an element belongs"_s.arg(m_xml.text().trimmed().left(40).toString()));
                return Next::Failed;
            case QXmlStreamReader::EntityReference:
                fail(u"undeclared entity &%1;"_s.arg(m_xml.name()));
                return Next::Failed;
            default:
                fail(u"unexpected content"_s);
                return Next::Failed;
            }
        }
    }

    // The text of the current element, which must hold nothing else.
    bool readText(QString *text)
    {
        const QString element = m_xml.qualifiedName().toString();
        text->clear();
        for (;;) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::Characters:
                *text += m_xml.text();
                continue;
            case QXmlStreamReader::Comment:
            case QXmlStreamReader::ProcessingInstruction:
                continue;
            case QXmlStreamReader::EndElement:
                if (const qsizetype bad = firstNonXmlCharacter(*text); bad >= 0)
                    return fail(nonXmlCharacterError(*text, bad));
                return true;
            case QXmlStreamReader::StartElement:
                return fail(u"<%1> inside <%2>"_s.arg(m_xml.qualifiedName(), element));
            case QXmlStreamReader::EntityReference:
                return fail(u"undeclared entity &%1;"_s.arg(m_xml.name()));
            default:
                return fail(u"unexpected content in <%1>"_s.arg(element));
            }
        }
    }

    // depth: the number of dictionaries and arrays around the value.
    bool readValue(QVariant *value, int depth)
    {
        const QString element = m_xml.qualifiedName().toString();
        if (element == u"dict")
            return readDict(value, depth + 1);
        if (element == u"array")
            return readArray(value, depth + 1);

        QString text;
        if (element == u"key")
            return fail(u"<key> outside a <dict>"_s);
        if (element != u"string" && element != u"integer" && element != u"real" && element != u"true"
            && element != u"false" && element != u"date" && element != u"data")
            return fail(u"unknown element <%1>"_s.arg(element));
        if (!readText(&text))
            return false;

        if (element == u"string") {
            *value = text;
            return true;
        }
        if (element == u"true" || element == u"false") {
            if (!text.trimmed().isEmpty())
                return fail(u"<%1/> must be empty"_s.arg(element));
            *value = element == u"true";
            return true;
        }
        const QString trimmed = text.trimmed();
        const QString quoted = u'"' + trimmed.left(40) + u'"';
        if (element == u"integer")
            return parseInteger(trimmed, value) || fail(quoted + u" is not a 64-bit integer"_s);
        if (element == u"real")
            return parseReal(trimmed, value) || fail(quoted + u" is not a real number"_s);
        if (element == u"date")
            return parseDate(trimmed, value) || fail(quoted + u" is not a date like 2026-12-06T08:00:00Z"_s);
        return parseData(text, value) || fail(u"<data> does not hold valid base64"_s);
    }

    bool readDict(QVariant *value, int depth)
    {
        if (depth > PropertyList::MaximumDepth)
            return fail(u"nested deeper than %1 levels"_s.arg(PropertyList::MaximumDepth));
        QVariantMap map;
        for (;;) {
            Next next = nextElement();
            if (next == Next::Failed)
                return false;
            if (next == Next::End)
                break;
            if (m_xml.qualifiedName() != u"key")
                return fail(u"<%1> in a <dict> where a <key> belongs"_s.arg(m_xml.qualifiedName()));
            QString key;
            if (!readText(&key))
                return false;
            next = nextElement();
            if (next == Next::Failed)
                return false;
            if (next == Next::End || m_xml.qualifiedName() == u"key")
                return fail(u"the key \"%1\" has no value"_s.arg(key.left(40)));
            QVariant child;
            if (!readValue(&child, depth))
                return false;
            if (map.contains(key))
                qCWarning(lcPropertyList) << "Property list repeats the key" << key << "; the later value wins";
            map.insert(key, child);
        }
        *value = map;
        return true;
    }

    bool readArray(QVariant *value, int depth)
    {
        if (depth > PropertyList::MaximumDepth)
            return fail(u"nested deeper than %1 levels"_s.arg(PropertyList::MaximumDepth));
        QVariantList list;
        for (;;) {
            const Next next = nextElement();
            if (next == Next::Failed)
                return false;
            if (next == Next::End)
                break;
            QVariant child;
            if (!readValue(&child, depth))
                return false;
            list.append(child);
        }
        *value = list;
        return true;
    }

    // Decimal with an optional sign (leading zeros do not make it octal), or
    // 0x hexadecimal. Anything outside [-2^63, 2^64 - 1] is refused.
    static bool parseInteger(QStringView text, QVariant *value)
    {
        bool negative = false;
        int base = 10;
        if (text.startsWith(u"0x"_s, Qt::CaseInsensitive)) {
            base = 16;
            text = text.mid(2);
        } else if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
            negative = text.front() == u'-';
            text = text.mid(1);
        }
        if (text.isEmpty())
            return false;
        quint64 magnitude = 0;
        for (const QChar ch : text) {
            const char16_t c = ch.unicode();
            int digit = -1;
            if (c >= u'0' && c <= u'9')
                digit = c - u'0';
            else if (base == 16 && c >= u'a' && c <= u'f')
                digit = c - u'a' + 10;
            else if (base == 16 && c >= u'A' && c <= u'F')
                digit = c - u'A' + 10;
            if (digit < 0)
                return false;
            if (magnitude > (std::numeric_limits<quint64>::max() - quint64(digit)) / quint64(base))
                return false;
            magnitude = magnitude * quint64(base) + quint64(digit);
        }
        constexpr quint64 signedLimit = quint64(std::numeric_limits<qint64>::max());
        if (negative) {
            if (magnitude > signedLimit + 1)
                return false;
            *value = magnitude == signedLimit + 1 ? std::numeric_limits<qint64>::min() : -qint64(magnitude);
        } else if (magnitude <= signedLimit) {
            *value = qint64(magnitude);
        } else {
            *value = magnitude;
        }
        return true;
    }

    static bool parseReal(const QString &text, QVariant *value)
    {
        QStringView digits(text);
        const bool negative = digits.startsWith(u'-');
        if (negative || digits.startsWith(u'+'))
            digits = digits.mid(1);
        if (digits.compare(u"nan"_s, Qt::CaseInsensitive) == 0) {
            *value = std::numeric_limits<double>::quiet_NaN();
            return true;
        }
        if (digits.compare(u"inf"_s, Qt::CaseInsensitive) == 0
            || digits.compare(u"infinity"_s, Qt::CaseInsensitive) == 0) {
            *value = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
            return true;
        }
        // Plain decimal notation only, read in the C locale whatever the
        // process locale is. Magnitudes beyond the double range read as
        // infinity or as zero with the number's sign, as other readers of the
        // format do, rather than failing the whole document.
        const bool plain = !digits.isEmpty() && digits.front() != u'+' && digits.front() != u'-'
            && std::all_of(text.cbegin(), text.cend(), [](QChar ch) {
                   return (ch >= u'0' && ch <= u'9') || ch == u'.' || ch == u'e' || ch == u'E' || ch == u'+'
                       || ch == u'-';
               });
        if (!plain)
            return false;
        static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
        const QByteArray ascii = text.toLatin1();
        char *end = nullptr;
        const double number = strtod_l(ascii.constData(), &end, cLocale);
        if (end != ascii.constData() + ascii.size())
            return false;
        *value = number;
        return true;
    }

    // YYYY-MM-DD[THH[:MM[:SS]]]Z in UTC; units left out at the end read as
    // zero. Month and day are always needed.
    static bool parseDate(QStringView text, QVariant *value)
    {
        if (!text.endsWith(u'Z'))
            return false;
        text.chop(1);
        int units[6] = {0, 0, 0, 0, 0, 0};
        static constexpr char16_t separators[6] = {0, u'-', u'-', u'T', u':', u':'};
        int count = 0;
        qsizetype at = 0;
        while (at < text.size() && count < 6) {
            if (count > 0 && text[at++] != separators[count])
                return false;
            const qsizetype length = count == 0 ? 4 : 2;
            if (at + length > text.size())
                return false;
            for (qsizetype i = at; i < at + length; ++i) {
                if (text[i] < u'0' || text[i] > u'9')
                    return false;
                units[count] = units[count] * 10 + (text[i].unicode() - u'0');
            }
            at += length;
            ++count;
        }
        if (at != text.size() || count < 3)
            return false;
        const QDate date(units[0], units[1], units[2]);
        const QTime time(units[3], units[4], units[5]);
        if (!date.isValid() || !time.isValid() || date.year() < 1)
            return false;
        *value = QDateTime(date, time, Qt::UTC);
        return true;
    }

    static bool parseData(const QString &text, QVariant *value)
    {
        QByteArray base64;
        base64.reserve(text.size());
        for (const QChar ch : text) {
            if (ch == u' ' || ch == u'\t' || ch == u'\n' || ch == u'\r')
                continue;
            if (ch.unicode() > 0x7F)
                return false;
            base64.append(char(ch.unicode()));
        }
        auto decoded = QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return false;
        *value = *decoded;
        return true;
    }

    QXmlStreamReader m_xml;
    QString m_error;
};

} // namespace

QVariant parse(const QByteArray &data, QString *errorString)
{
    Reader reader(data);
    const QVariant value = reader.read();
    *errorString = value.isValid() ? QString() : reader.error();
    return value;
}

} // namespace settings::plistxml
