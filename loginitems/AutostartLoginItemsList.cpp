#include "AutostartLoginItemsList.h"

#include "Bundle.h"
#include "DesktopEntry.h"
#include "Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcAutostart, "quillvane.loginitems.autostart", QtInfoMsg)

namespace loginitems {

namespace {

const QString EntrySuffix = u".desktop"_s;
constexpr int MaximumNameAttempts = 100;

// A file name made of the characters that are safe in any desktop file ID.
QString safeFileBase(const QString &name)
{
    QString base;
    for (const QChar c : name) {
        const bool safe = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')
            || (c >= u'0' && c <= u'9') || c == u'.' || c == u'-' || c == u'_';
        base += safe ? c : u'_';
    }
    while (base.startsWith(u'.'))
        base.remove(0, 1);
    if (base.isEmpty())
        base = u"login-item"_s;
    return base.left(200);
}

bool hasControlCharacter(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

bool writeAtomically(const QString &path, const QByteArray &data, QFile::Permissions permissions)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcAutostart) << "Cannot write" << path << ":" << file.errorString();
        return false;
    }
    file.setPermissions(permissions);
    if (file.write(data) != data.size() || !file.commit()) {
        qCWarning(lcAutostart) << "Cannot write" << path << ":" << file.errorString();
        return false;
    }
    return true;
}

} // namespace

std::unique_ptr<AutostartLoginItemsList> AutostartLoginItemsList::create()
{
    const QString configHome = settings::configHome();
    if (configHome.isEmpty()) {
        qCWarning(lcAutostart) << "No login items: neither XDG_CONFIG_HOME nor HOME names an absolute folder";
        return nullptr;
    }
    return std::make_unique<AutostartLoginItemsList>(configHome + u"/autostart"_s);
}

AutostartLoginItemsList::AutostartLoginItemsList(const QString &directory)
    : m_directory(QDir::cleanPath(directory))
{
}

QString AutostartLoginItemsList::filePath(const Item &item) const
{
    if (item.key.isEmpty() || item.key.contains(u'/') || item.key == u"."_s || item.key == u".."_s)
        return {};
    return m_directory + u'/' + item.key;
}

std::optional<QList<LoginItemsList::Item>> AutostartLoginItemsList::snapshot() const
{
    const QFileInfo info(m_directory);
    if (!info.exists())
        return QList<Item>();
    if (!info.isDir() || !info.isReadable() || !info.isExecutable()) {
        qCWarning(lcAutostart) << "Cannot read the login items in" << m_directory;
        return std::nullopt;
    }

    QStringList names = QDir(m_directory).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    names.removeIf([](const QString &name) {
        return !name.endsWith(EntrySuffix) || name.size() == EntrySuffix.size();
    });
    // File name order is the byte order of the names on disk.
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return QFile::encodeName(a) < QFile::encodeName(b);
    });

    QList<Item> items;
    items.reserve(names.size());
    for (const QString &name : std::as_const(names))
        items.append(Item{name});
    return items;
}

AutostartLoginItemsList::LoadedEntry AutostartLoginItemsList::load(const Item &item) const
{
    LoadedEntry loaded;
    const QString path = filePath(item);
    if (path.isEmpty())
        return loaded;
    QString errorString;
    switch (settings::readBoundedFile(path, MaximumEntrySize, &loaded.data, &errorString)) {
    case settings::FileRead::Read:
        loaded.resolution = resolveData(path, loaded.data);
        break;
    case settings::FileRead::Missing:
        loaded.resolution.status = ResolveStatus::Gone;
        break;
    case settings::FileRead::NotRegular:
    case settings::FileRead::TooLarge:
    case settings::FileRead::Failed:
        qCWarning(lcAutostart).noquote() << "Skipping autostart entry:" << errorString;
        loaded.resolution.status = ResolveStatus::Unreadable;
        break;
    }
    return loaded;
}

LoginItemsList::Resolution AutostartLoginItemsList::resolveData(const QString &path,
                                                                 const QByteArray &data) const
{
    QString errorString;
    const std::optional<DesktopEntry> entry = DesktopEntry::parse(data, &errorString);
    if (!entry) {
        qCWarning(lcAutostart) << "Skipping malformed autostart entry" << path << ":" << errorString;
        return {ResolveStatus::Malformed, {}};
    }

    // The two ways the autostart rules and desktops turn an entry off. A
    // value that is no boolean makes the entry malformed: whether it starts
    // is then a guess.
    bool turnedOff = false;
    const std::pair<QString, bool> offSwitches[] = {{u"Hidden"_s, true}, {u"X-GNOME-Autostart-enabled"_s, false}};
    for (const auto &[key, offValue] : offSwitches) {
        if (!entry->contains(key))
            continue;
        const QString value = entry->rawValue(key);
        const bool isTrue = value == u"true"_s || value == u"1"_s;
        if (!isTrue && value != u"false"_s && value != u"0"_s) {
            qCWarning(lcAutostart) << "Skipping malformed autostart entry" << path << ":" << key
                                   << "is neither true nor false";
            return {ResolveStatus::Malformed, {}};
        }
        turnedOff = turnedOff || isTrue == offValue;
    }
    if (entry->stringValue(u"Type"_s) != u"Application"_s || !entry->contains(u"Exec"_s)) {
        qCDebug(lcAutostart) << "Autostart entry" << path << "opens no program";
        return {ResolveStatus::Unsupported, {}};
    }

    const std::optional<QString> exec = entry->stringValue(u"Exec"_s);
    const std::optional<QStringList> arguments =
        exec ? DesktopEntry::splitExec(*exec, &errorString) : std::nullopt;
    if (!arguments) {
        qCWarning(lcAutostart) << "Skipping malformed autostart entry" << path << ": Exec has"
                               << (exec ? errorString : u"an invalid escape"_s);
        return {ResolveStatus::Malformed, {}};
    }

    QString program = arguments->first();
    if (!program.contains(u'/'))
        program = QStandardPaths::findExecutable(program);
    else if (!QDir::isAbsolutePath(program))
        program.clear(); // relative to nothing a launcher would agree on
    program = QDir::cleanPath(program);
    if (program.isEmpty() || !QFileInfo(program).isFile()) {
        qCDebug(lcAutostart) << "Autostart entry" << path << "runs a missing program"
                             << arguments->first();
        return {ResolveStatus::ProgramMissing, {}};
    }

    const ResolveStatus status = turnedOff ? ResolveStatus::TurnedOff : ResolveStatus::Resolved;
    // <bundle>/Contents/Linux/<executable>: the entry opens the bundle when
    // its Info.plist names that executable.
    const QFileInfo programInfo(program);
    QDir folder = programInfo.dir();
    if (folder.dirName() == u"Linux"_s && folder.cdUp() && folder.dirName() == u"Contents"_s
        && folder.cdUp()) {
        const settings::Bundle bundle = settings::Bundle::withPath(folder.path());
        if (bundle.isValid() && bundle.executablePath() == program)
            return {status, bundle.bundleUrl()};
    }
    return {status, QUrl::fromLocalFile(program)};
}

LoginItemsList::Resolution AutostartLoginItemsList::resolve(const Item &item) const
{
    return load(item).resolution;
}

bool AutostartLoginItemsList::isHidden(const Item &item) const
{
    const LoadedEntry loaded = load(item);
    if (loaded.resolution.status != ResolveStatus::Resolved)
        return false;
    const std::optional<DesktopEntry> entry = DesktopEntry::parse(loaded.data);
    return entry && entry->rawValue(HiddenKey) == u"true"_s;
}

bool AutostartLoginItemsList::remove(const Item &item)
{
    // Checked again here: whatever happened since the snapshot, an entry
    // that does not resolve is not ours to delete.
    if (load(item).resolution.status != ResolveStatus::Resolved)
        return false;
    QFile file(filePath(item));
    if (!file.remove()) {
        qCWarning(lcAutostart) << "Cannot remove" << file.fileName() << ":" << file.errorString();
        return false;
    }
    return true;
}

std::optional<LoginItemsList::Item> AutostartLoginItemsList::insertAtEnd(const QUrl &url)
{
    if (!url.isLocalFile()) {
        qCWarning(lcAutostart) << "Not adding" << url << "to the login items: not a local file";
        return std::nullopt;
    }
    const QString path = QDir::cleanPath(QFileInfo(url.toLocalFile()).absoluteFilePath());

    QString executable;
    QString name;
    QString fileBase;
    QString comment;
    QString icon;
    if (const settings::Bundle bundle = settings::Bundle::withPath(path); bundle.isValid()) {
        executable = bundle.executablePath();
        fileBase = bundle.bundleIdentifier();
        comment = bundle.infoDictionary().value(u"CFBundleGetInfoString"_s).toString();
        icon = bundle.infoDictionary().value(u"CFBundleIconName"_s).toString();
        name = QFileInfo(path).fileName();
        if (name.endsWith(u".app"_s))
            name.chop(4);
        if (name.isEmpty())
            name = fileBase;
    } else if (QFileInfo(path).isFile() && QFileInfo(path).isExecutable()) {
        executable = path;
    }
    if (executable.isEmpty()) {
        qCWarning(lcAutostart) << "Not adding" << path << "to the login items: it has no executable";
        return std::nullopt;
    }
    if (name.isEmpty() || hasControlCharacter(name))
        name = QFileInfo(executable).fileName();
    if (fileBase.isEmpty())
        fileBase = QFileInfo(executable).fileName();

    const std::optional<QString> quoted = DesktopEntry::quoteExecArgument(executable);
    if (!quoted) {
        qCWarning(lcAutostart) << "Not adding" << path
                               << "to the login items: its path holds a control character "
                                  "that a desktop entry cannot carry";
        return std::nullopt;
    }

    QString errorString;
    if (!settings::makePrivateFolder(m_directory, &errorString)) {
        qCWarning(lcAutostart).noquote() << "Cannot create the autostart folder:" << errorString;
        return std::nullopt;
    }

    const QString base = safeFileBase(fileBase);
    QString fileName;
    for (int attempt = 1; attempt <= MaximumNameAttempts && fileName.isEmpty(); ++attempt) {
        const QString candidate =
            attempt == 1 ? base + EntrySuffix : u"%1-%2%3"_s.arg(base).arg(attempt).arg(EntrySuffix);
        const QFileInfo taken(m_directory + u'/' + candidate);
        if (!taken.exists() && !taken.isSymLink())
            fileName = candidate;
    }
    if (fileName.isEmpty()) {
        qCWarning(lcAutostart) << "Not adding" << path << "to the login items: no free entry name for"
                               << base;
        return std::nullopt;
    }

    // TryExec: a login item whose program was removed with its installation
    // is passed over quietly at log-in.
    QByteArray contents = "[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=" + DesktopEntry::escapeString(name).toUtf8() + "\n"
                          "Exec=" + DesktopEntry::escapeString(*quoted).toUtf8() + "\n"
                          "TryExec=" + DesktopEntry::escapeString(executable).toUtf8() + "\n";
    if (!comment.isEmpty() && !hasControlCharacter(comment))
        contents += "Comment=" + DesktopEntry::escapeString(comment).toUtf8() + "\n";
    // An icon is a name in the icon theme: no path, no extension.
    if (!icon.isEmpty() && !hasControlCharacter(icon) && !icon.contains(u'/') && !icon.contains(u' '))
        contents += "Icon=" + DesktopEntry::escapeString(icon).toUtf8() + "\n";
    const QFile::Permissions readableByAll =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    if (!writeAtomically(m_directory + u'/' + fileName, contents, readableByAll))
        return std::nullopt;
    return Item{fileName};
}

bool AutostartLoginItemsList::setHidden(const Item &item, bool hidden)
{
    const LoadedEntry loaded = load(item);
    if (loaded.resolution.status != ResolveStatus::Resolved)
        return false;
    const QString path = filePath(item);
    const QFileInfo info(path);
    // Rewriting through a link would replace the link or touch a file that
    // belongs elsewhere.
    if (info.isSymLink()) {
        qCWarning(lcAutostart) << "Not marking" << path << "hidden: it is a symbolic link";
        return false;
    }
    const QByteArray changed = DesktopEntry::withKey(
        loaded.data, HiddenKey, hidden ? std::optional<QString>(u"true"_s) : std::nullopt);
    if (changed == loaded.data)
        return true;
    return writeAtomically(path, changed, info.permissions());
}

} // namespace loginitems
