#pragma once

#include "LoginItemsList.h"

#include <QByteArray>
#include <QLatin1StringView>

#include <memory>

namespace loginitems {

// The login items as XDG autostart entries: the *.desktop files of
// ${XDG_CONFIG_HOME:-$HOME/.config}/autostart in file name order. An item's
// key is its file name.
//
// An entry resolves to the bundle whose executable its Exec runs
// (<bundle>/Contents/Linux/<executable>, named so in the bundle's Info.plist),
// else to the program file itself. The program is Exec's first argument: an
// absolute path, or a bare name looked up in PATH. Paths are compared as
// written (cleaned, symbolic links not followed). An entry the user turned off
// (Hidden=true, which the autostart rules call deleted, or
// X-GNOME-Autostart-enabled=false) resolves as TurnedOff: what it opens is
// known, but it is never changed or deleted. Entries that do not resolve --
// unreadable, not a plain file, over MaximumEntrySize, malformed, not
// Type=Application, or running a program that does not exist -- are never
// changed or deleted either.
//
// New entries get the file name <bundle identifier>.desktop, or the first free
// <identifier>-N.desktop, so they take their place in file name order rather
// than at the very end. The hidden mark is a key of our own, HiddenKey=true:
// the autostart rules give Hidden=true the meaning "deleted".
class AutostartLoginItemsList final : public LoginItemsList
{
public:
    static constexpr qint64 MaximumEntrySize = 64 * 1024;
    static constexpr QLatin1StringView HiddenKey{"X-Quillvane-Hidden"};

    // The list where the environment points now, or null when neither
    // XDG_CONFIG_HOME nor HOME names an absolute folder.
    static std::unique_ptr<AutostartLoginItemsList> create();

    explicit AutostartLoginItemsList(const QString &directory);

    QString directory() const { return m_directory; }
    // The entry file of an item; empty for a key that names no file here.
    QString filePath(const Item &item) const;

    std::optional<QList<Item>> snapshot() const override;
    Resolution resolve(const Item &item) const override;
    bool remove(const Item &item) override;
    std::optional<Item> insertAtEnd(const QUrl &url) override;
    bool setHidden(const Item &item, bool hidden) override;
    bool isHidden(const Item &item) const override;

private:
    struct LoadedEntry
    {
        Resolution resolution;
        QByteArray data;
    };
    LoadedEntry load(const Item &item) const;
    Resolution resolveData(const QString &path, const QByteArray &data) const;

    const QString m_directory;
};

} // namespace loginitems
