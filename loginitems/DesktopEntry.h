#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace loginitems {

// The [Desktop Entry] group of a desktop entry file, the format of the XDG
// autostart entries behind the login items list.
//
// Reading is strict: anything that is not a well-formed entry is refused, so
// that an entry we cannot fully understand is never taken for one of ours.
// Comments and other groups are allowed; localised keys (Name[de]=...) are
// ignored; a key given twice in the group is an error.
class DesktopEntry
{
public:
    // The entry in UTF-8 text, or nullopt with *errorString set.
    static std::optional<DesktopEntry> parse(const QByteArray &data, QString *errorString = nullptr);

    bool contains(const QString &key) const { return m_values.contains(key); }
    // The value as written in the file, escapes included.
    QString rawValue(const QString &key) const { return m_values.value(key); }
    // The value of a string key with its escapes applied; nullopt when the key
    // is missing or its escapes are invalid.
    std::optional<QString> stringValue(const QString &key) const;

    // The escapes of string values: \s \n \t \r \\. Anything else after a
    // backslash is invalid.
    static std::optional<QString> unescapeString(const QString &raw);
    static QString escapeString(const QString &value);

    // The program and arguments of an Exec value (escapes of string values
    // already applied): arguments are separated by blanks; reserved
    // characters must be in double quotes, inside which ", `, $ and \ are
    // escaped with a backslash; a quoted part joins the unquoted text next to
    // it into one argument (--name="Foo Bar"); field codes (%f, %U, ...) are
    // dropped and %% stands for %. Nullopt with *errorString set when the value breaks
    // these rules or names no program.
    static std::optional<QStringList> splitExec(const QString &exec, QString *errorString = nullptr);

    // One Exec argument in double quotes, so that splitExec gives it back
    // unchanged. Nullopt for text that cannot be written safely on one line
    // (control characters such as a newline).
    static std::optional<QString> quoteExecArgument(const QString &argument);

    // The file DATA with KEY in its [Desktop Entry] group set to VALUE, or
    // removed for nullopt; every other line stays byte for byte. DATA must be
    // an entry that parse() accepts.
    static QByteArray withKey(const QByteArray &data, const QString &key,
                              const std::optional<QString> &value);

private:
    QHash<QString, QString> m_values;
};

} // namespace loginitems
