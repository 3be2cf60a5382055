// Any bytes as an autostart desktop entry: parsing, unescaping the values and
// splitting Exec into a program and its arguments never crash; the quoting and
// escaping that new entries are written with give back exactly what went in;
// and marking an accepted entry hidden, then unmarking it, leaves an accepted
// entry whose other keys are unchanged.

#include "FuzzSupport.h"

#include "DesktopEntry.h"

#include <QRegularExpression>
#include <QSet>

#include <optional>

using loginitems::DesktopEntry;

namespace {

const QString HiddenKey = QStringLiteral("X-Quillvane-Hidden");

// Every name that appears left of an '=' anywhere in the file: a superset of
// the keys of the [Desktop Entry] group.
QStringList candidateKeys(const QByteArray &input)
{
    static const QRegularExpression keyLine(QStringLiteral("^[ \\t]*([A-Za-z0-9-]+)[ \\t]*="),
                                            QRegularExpression::MultilineOption);
    QSet<QString> keys;
    auto it = keyLine.globalMatch(QString::fromUtf8(input));
    while (it.hasNext())
        keys.insert(it.next().captured(1));
    keys.remove(HiddenKey);
    return keys.values();
}

void checkExec(const DesktopEntry &entry)
{
    const std::optional<QString> exec = entry.stringValue(QStringLiteral("Exec"));
    if (!exec)
        return;
    QString error;
    const std::optional<QStringList> arguments = DesktopEntry::splitExec(*exec, &error);
    if (!arguments) {
        FUZZ_CHECK(!error.isEmpty(), QStringLiteral("a refused Exec gives no reason: ") + *exec);
        return;
    }
    FUZZ_CHECK(!arguments->isEmpty() && !arguments->first().isEmpty(), *exec);

    // Quote every argument again, as new entries are written: the same list.
    QStringList quoted;
    for (const QString &argument : *arguments) {
        const std::optional<QString> one = DesktopEntry::quoteExecArgument(argument);
        if (!one)
            return; // holds a character that cannot be written on one line
        quoted.append(*one);
    }
    const QString line = quoted.join(QLatin1Char(' '));
    const std::optional<QStringList> again = DesktopEntry::splitExec(line);
    FUZZ_CHECK(again && *again == *arguments, line);
    // ... and through the string escapes of the file.
    const std::optional<QString> unescaped = DesktopEntry::unescapeString(DesktopEntry::escapeString(line));
    FUZZ_CHECK(unescaped && *unescaped == line, line);
}

// The entry after a change of the hidden mark: still accepted, the mark as
// asked, every other key as it was.
void checkMark(const QByteArray &changed, const DesktopEntry &original, const QStringList &keys,
               const std::optional<QString> &mark)
{
    QString error;
    const std::optional<DesktopEntry> entry = DesktopEntry::parse(changed, &error);
    FUZZ_CHECK(entry, error + QLatin1Char('\n') + QString::fromUtf8(changed));
    if (mark)
        FUZZ_CHECK(entry->rawValue(HiddenKey) == *mark, QString::fromUtf8(changed));
    else
        FUZZ_CHECK(!entry->contains(HiddenKey), QString::fromUtf8(changed));
    for (const QString &key : keys) {
        FUZZ_CHECK(entry->contains(key) == original.contains(key)
                       && entry->rawValue(key) == original.rawValue(key),
                   key + QStringLiteral(" changed in\n") + QString::fromUtf8(changed));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::quietLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = fuzz::bytes(data, size);
    QString error;
    const std::optional<DesktopEntry> entry = DesktopEntry::parse(input, &error);
    if (!entry) {
        FUZZ_CHECK(!error.isEmpty(), QStringLiteral("a refused entry gives no reason"));
        return 0;
    }

    const QStringList keys = candidateKeys(input);
    for (const QString &key : keys) {
        if (const std::optional<QString> value = entry->stringValue(key)) {
            const std::optional<QString> back = DesktopEntry::unescapeString(DesktopEntry::escapeString(*value));
            FUZZ_CHECK(back && *back == *value, key);
        }
    }
    checkExec(*entry);

    const QByteArray marked = DesktopEntry::withKey(input, HiddenKey, QStringLiteral("true"));
    checkMark(marked, *entry, keys, QStringLiteral("true"));
    const QByteArray unmarked = DesktopEntry::withKey(marked, HiddenKey, std::nullopt);
    checkMark(unmarked, *entry, keys, std::nullopt);
    return 0;
}
