#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace loginitems {

// The user's login items: the programs that the session opens at log-in, as
// a list that can be read in order, resolved, shortened and appended to.
// One object stands for one use of the list: create it, act, drop it.
class LoginItemsList
{
public:
    // An item as it was when the snapshot was taken. The key means something
    // only to the list that handed it out.
    struct Item
    {
        QString key;
        friend bool operator==(const Item &, const Item &) = default;
    };

    enum class ResolveStatus {
        Resolved,
        Gone,           // the item is no longer there
        Unreadable,     // cannot be read, is not a plain file, or is too large
        Malformed,      // its contents break the format's rules
        TurnedOff,      // opens url, but the user turned it off: never changed
        Unsupported,    // a valid item that opens no program
        ProgramMissing, // the program it opens does not exist
    };

    struct Resolution
    {
        ResolveStatus status = ResolveStatus::Gone;
        QUrl url; // set when resolved or turned off: the bundle or the program file it opens
    };

    LoginItemsList() = default;
    virtual ~LoginItemsList() = default;
    Q_DISABLE_COPY_MOVE(LoginItemsList)

    // The items in list order, or nullopt when the list cannot be read.
    virtual std::optional<QList<Item>> snapshot() const = 0;
    // What an item opens, found without asking the user anything.
    virtual Resolution resolve(const Item &item) const = 0;
    // Takes the item out of the list; false when it stays.
    virtual bool remove(const Item &item) = 0;
    // Adds a new item at the end that opens URL (a bundle or a program file).
    virtual std::optional<Item> insertAtEnd(const QUrl &url) = 0;
    // Marks an item to be opened without showing itself.
    virtual bool setHidden(const Item &item, bool hidden) = 0;
    // Whether the item resolves and carries that mark.
    virtual bool isHidden(const Item &item) const = 0;
};

} // namespace loginitems
