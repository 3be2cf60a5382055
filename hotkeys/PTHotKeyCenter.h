#pragma once

#include "PTHotKey.h"
#include "Export.h"
#include "HotKeyEventSource.h"

#include <QHash>
#include <QList>
#include <QString>

#include <memory>

// The registry of system-wide hot keys. Registers a PTHotKey with the hot key
// event source under an ID of its own ("PTHk" and a number from 1 upward),
// keeps the registered hot keys by name and by ID number, and calls invoke()
// on a hot key when it is pressed. Main thread only.
class QUILLVANE_EXPORT PTHotKeyCenter
{
public:
    // The process's center, over the session's hot key service (X11 key
    // grabs, or the desktop portal in a Wayland session); made on first use
    // (from the main thread, with the application object existing), never
    // destroyed.
    static PTHotKeyCenter *sharedCenter();

    explicit PTHotKeyCenter(std::shared_ptr<systemhotkeys::HotKeyEventSource> source);
    // Ends no registration; removes its event handler from the source.
    ~PTHotKeyCenter();
    Q_DISABLE_COPY_MOVE(PTHotKeyCenter)

    // True when the hot key is registered now, and also for a combination
    // that is not a valid hot key combination (nothing is registered then).
    // False when the system refuses the combination, and for a hot key
    // without a name or one that is registered already (nothing changes).
    bool registerHotKey(const std::shared_ptr<PTHotKey> &hotKey);
    // Ends the registration of the hot key registered under HOTKEY's name, if
    // that is HOTKEY itself; otherwise nothing happens.
    void unregisterHotKey(const std::shared_ptr<PTHotKey> &hotKey);
    void unregisterHotKeyForName(const QString &name);
    void unregisterAllHotKeys();
    // With ENABLE false, unregisterHotKeyForName(); with ENABLE true nothing:
    // a name in the table is registered already.
    void setHotKeyRegistrationForName(const QString &name, bool enable);
    // Unregisters whatever is registered under the hot key's name (and the
    // hot key itself if it was registered under an earlier name), then
    // registers it with its current combination.
    void updateHotKey(const std::shared_ptr<PTHotKey> &hotKey);

    std::shared_ptr<PTHotKey> hotKeyForName(const QString &name) const;
    QList<std::shared_ptr<PTHotKey>> allHotKeys() const;

    // Dispatches one hot key event: pressed invokes the hot key, released
    // does nothing; both answer noErr. An event whose ID cannot be read
    // answers the status of the read; one that carries another component's
    // signature or an ID number not registered here (a press queued before
    // its registration ended) answers eventNotHandledErr. An event of another
    // class or kind is a programming error, reported through the assertion
    // handler, which throws.
    qint32 sendCarbonEvent(const systemhotkeys::HotKeyEvent &event);

private:
    void _updateEventHandler();
    void _hotKeyDown(const std::shared_ptr<PTHotKey> &hotKey);
    void _hotKeyUp(const std::shared_ptr<PTHotKey> &hotKey);
    // Ends a registration: the system's, the name and ID table entries, and
    // the hot key's reference to it.
    void _endRegistration(const std::shared_ptr<PTHotKey> &hotKey);
    bool _isRegistered(const std::shared_ptr<PTHotKey> &hotKey) const;
    qint32 _hotKeyEventHandler(const systemhotkeys::HotKeyEvent &event);

    std::shared_ptr<systemhotkeys::HotKeyEventSource> mSource;
    // By the name the hot key had when it was registered.
    QHash<QString, std::shared_ptr<PTHotKey>> mHotKeys;
    // By the number of the ID it is registered under.
    QHash<quint32, std::shared_ptr<PTHotKey>> mHotKeyMap;
    quint32 mNextKeyID = 1;
    bool mEventHandlerInstalled = false;
};
