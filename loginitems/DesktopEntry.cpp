#include "DesktopEntry.h"

#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace loginitems {

namespace {

const QString DesktopEntryGroup = u"Desktop Entry"_s;

// Characters that an Exec argument may only hold inside double quotes.
const QString ReservedExecCharacters = u" \t\n\"'\\><~|&;$*?#()`"_s;
// Characters that must be escaped with a backslash inside double quotes.
const QString QuotedExecEscapes = u"\"`$\\"_s;
// Field codes, which a launcher replaces with files, URLs, the icon and such.
// They carry nothing about the program itself and are dropped.
const QString ExecFieldCodes = u"fFuUdDnNickvm"_s;

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7f;
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

// Blanks around lines and keys are the ASCII ones only, the same that
// withKey() trims on bytes: a line that only Unicode rules would call blank
// around its text (a no-break space before the group header, say) must not
// read as a header or key that the rewriting then cannot find.
QString trimmedAscii(const QString &text)
{
    const auto isAsciiSpace = [](QChar c) {
        return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
    };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isAsciiSpace(text[begin]))
        ++begin;
    while (end > begin && isAsciiSpace(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

bool isValidGroupName(const QString &name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        if (c.unicode() > 0x7e || isControl(c) || c == u'[' || c == u']')
            return false;
    }
    return true;
}

// The lines of DATA, each with its line feed (the last one may lack it).
QList<QByteArray> splitLines(const QByteArray &data)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    while (start < data.size()) {
        const qsizetype lineFeed = data.indexOf('\n', start);
        const qsizetype end = lineFeed < 0 ? data.size() : lineFeed + 1;
        lines.append(data.mid(start, end - start));
        start = end;
    }
    return lines;
}

QByteArray keyOfLine(const QByteArray &line)
{
    const QByteArray trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith('#') || trimmed.startsWith('['))
        return {};
    const qsizetype equals = trimmed.indexOf('=');
    return equals < 0 ? QByteArray() : trimmed.left(equals).trimmed();
}

} // namespace

std::optional<DesktopEntry> DesktopEntry::parse(const QByteArray &data, QString *errorString)
{
    const auto fail = [errorString](const QString &why) -> std::optional<DesktopEntry> {
        if (errorString)
            *errorString = why;
        return std::nullopt;
    };

    // A byte order mark stays in the text, where it makes the first line
    // invalid: withKey() would not see a group header behind it either.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString text = decoder.decode(data);
    if (decoder.hasError())
        return fail(u"the file is not UTF-8 text"_s);
    if (text.contains(QChar(0)))
        return fail(u"the file holds a NUL character"_s);

    static const QRegularExpression keyPattern(u"^[A-Za-z0-9-]+(\\[[^\\[\\]]+\\])?$"_s);

    DesktopEntry entry;
    QSet<QString> groups;
    QString group;
    int lineNumber = 0;
    for (QString line : text.split(u'\n')) {
        ++lineNumber;
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QString trimmed = trimmedAscii(line);
        if (trimmed.isEmpty() || trimmed.startsWith(u'#'))
            continue;

        if (trimmed.startsWith(u'[')) {
            const QString name = trimmed.mid(1, trimmed.size() - 2);
            if (!trimmed.endsWith(u']') || !isValidGroupName(name))
                return fail(u"line %1: invalid group header"_s.arg(lineNumber));
            if (groups.isEmpty() && name != DesktopEntryGroup)
                return fail(u"the first group is [%1], not [Desktop Entry]"_s.arg(name));
            if (groups.contains(name))
                return fail(u"line %1: group [%2] given twice"_s.arg(lineNumber).arg(name));
            groups.insert(name);
            group = name;
            continue;
        }

        if (group.isEmpty())
            return fail(u"line %1 lies outside any group"_s.arg(lineNumber));
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            return fail(u"line %1 is neither a comment, a group header nor a key"_s.arg(lineNumber));
        const QString key = trimmedAscii(line.left(equals));
        const QRegularExpressionMatch match = keyPattern.match(key);
        if (!match.hasMatch())
            return fail(u"line %1: invalid key name \"%2\""_s.arg(lineNumber).arg(key));
        // Localised variants do not matter to a launcher's choice of program.
        if (group != DesktopEntryGroup || match.capturedLength(1) > 0)
            continue;
        if (entry.m_values.contains(key))
            return fail(u"line %1: key %2 given twice"_s.arg(lineNumber).arg(key));

        qsizetype valueStart = equals + 1;
        while (valueStart < line.size() && (line[valueStart] == u' ' || line[valueStart] == u'\t'))
            ++valueStart;
        entry.m_values.insert(key, line.mid(valueStart));
    }
    if (groups.isEmpty())
        return fail(u"there is no [Desktop Entry] group"_s);
    return entry;
}

std::optional<QString> DesktopEntry::stringValue(const QString &key) const
{
    const auto it = m_values.constFind(key);
    if (it == m_values.cend())
        return std::nullopt;
    return unescapeString(*it);
}

std::optional<QString> DesktopEntry::unescapeString(const QString &raw)
{
    QString result;
    result.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (c != u'\\') {
            result += c;
            continue;
        }
        if (++i == raw.size())
            return std::nullopt;
        switch (raw[i].unicode()) {
        case 's': result += u' '; break;
        case 'n': result += u'\n'; break;
        case 't': result += u'\t'; break;
        case 'r': result += u'\r'; break;
        case '\\': result += u'\\'; break;
        default: return std::nullopt;
        }
    }
    return result;
}

QString DesktopEntry::escapeString(const QString &value)
{
    QString result;
    result.reserve(value.size() + 8);
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        switch (c.unicode()) {
        case '\\': result += u"\\\\"_s; break;
        case '\n': result += u"\\n"_s; break;
        case '\t': result += u"\\t"_s; break;
        case '\r': result += u"\\r"_s; break;
        case ' ':
            // Blanks around the value would be taken for blanks around the '='.
            if (i == 0 || i == value.size() - 1)
                result += u"\\s"_s;
            else
                result += c;
            break;
        default: result += c; break;
        }
    }
    return result;
}

std::optional<QStringList> DesktopEntry::splitExec(const QString &exec, QString *errorString)
{
    const auto fail = [errorString](const QString &why) -> std::optional<QStringList> {
        if (errorString)
            *errorString = why;
        return std::nullopt;
    };

    QStringList arguments;
    QString current;
    bool inArgument = false;
    // An argument made only of field codes expands to nothing, not to "".
    bool hasText = false;
    const qsizetype size = exec.size();

    // Reads the field code at exec[i] ('%'), leaving i on its last character.
    const auto readFieldCode = [&](qsizetype &i) {
        if (i + 1 >= size)
            return false;
        const QChar code = exec[++i];
        if (code == u'%') {
            current += u'%';
            hasText = true;
            return true;
        }
        return ExecFieldCodes.contains(code);
    };

    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = exec[i];
        if (isBlank(c)) {
            if (inArgument && hasText)
                arguments.append(current);
            current.clear();
            inArgument = hasText = false;
            continue;
        }
        if (c == u'"') {
            // A quoted part may stand anywhere in an argument, as in
            // --name="Foo Bar": it joins the text around it, as a shell and
            // GLib's launcher read it.
            inArgument = hasText = true;
            bool closed = false;
            for (++i; i < size && !closed; ++i) {
                const QChar q = exec[i];
                if (q == u'"') {
                    closed = true;
                } else if (q == u'\\') {
                    if (i + 1 >= size || !QuotedExecEscapes.contains(exec[i + 1]))
                        return fail(u"an invalid backslash escape inside quotes"_s);
                    current += exec[++i];
                } else if (q == u'%') {
                    if (!readFieldCode(i))
                        return fail(u"an invalid field code"_s);
                } else {
                    current += q;
                }
            }
            if (!closed)
                return fail(u"an unterminated quote"_s);
            // The loop stepped past the closing quote.
            --i;
            continue;
        }
        inArgument = true;
        if (c == u'%') {
            if (!readFieldCode(i))
                return fail(u"an invalid field code"_s);
            continue;
        }
        if (ReservedExecCharacters.contains(c))
            return fail(u"the reserved character '%1' outside quotes"_s.arg(c));
        current += c;
        hasText = true;
    }
    if (inArgument && hasText)
        arguments.append(current);

    if (arguments.isEmpty() || arguments.first().isEmpty())
        return fail(u"no program is named"_s);
    return arguments;
}

std::optional<QString> DesktopEntry::quoteExecArgument(const QString &argument)
{
    QString quoted = u"\""_s;
    for (const QChar c : argument) {
        if (isControl(c))
            return std::nullopt;
        if (QuotedExecEscapes.contains(c))
            quoted += u'\\';
        else if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    quoted += u'"';
    return quoted;
}

QByteArray DesktopEntry::withKey(const QByteArray &data, const QString &key,
                                 const std::optional<QString> &value)
{
    const QList<QByteArray> lines = splitLines(data);
    const QByteArray keyBytes = key.toUtf8();

    qsizetype header = 0;
    while (header < lines.size() && lines[header].trimmed() != "[Desktop Entry]")
        ++header;
    if (header == lines.size())
        return data;
    qsizetype groupEnd = header + 1;
    while (groupEnd < lines.size() && !lines[groupEnd].trimmed().startsWith('['))
        ++groupEnd;

    QList<QByteArray> result = lines.mid(0, header + 1);
    qsizetype insertAt = result.size();
    for (qsizetype i = header + 1; i < groupEnd; ++i) {
        const QByteArray lineKey = keyOfLine(lines[i]);
        if (lineKey == keyBytes)
            continue;
        result.append(lines[i]);
        if (!lineKey.isEmpty())
            insertAt = result.size();
    }
    if (value) {
        if (!result[insertAt - 1].endsWith('\n'))
            result[insertAt - 1].append('\n');
        result.insert(insertAt, keyBytes + '=' + escapeString(*value).toUtf8() + '\n');
    }
    result.append(lines.mid(groupEnd));
    return result.join();
}

} // namespace loginitems
