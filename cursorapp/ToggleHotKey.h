#pragma once

#include "HotKeyEventSource.h"
#include "PTKeyCombo.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>

class PTHotKey;
class PTHotKeyCenter;

// The hot key that toggles the pointer, registered through a hot key center.
// When the system refuses the combination (another program holds it), that
// is logged once and the registration is tried again every retry interval
// and at every retry() until it succeeds, so a key that its holder lets go
// starts working without a restart.
class ToggleHotKey : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds DefaultRetryInterval{3};

    explicit ToggleHotKey(PTHotKeyCenter &center, std::chrono::milliseconds retryInterval = DefaultRetryInterval,
                          QObject *parent = nullptr);
    // Ends the registration.
    ~ToggleHotKey() override;
    Q_DISABLE_COPY_MOVE(ToggleHotKey)

    // Registers COMBO in place of the current combination. The same
    // combination again changes nothing while it is registered, and is
    // tried again while it is refused. The clear combination (or any that
    // is not a valid hot key) registers nothing.
    void setKeyCombo(const PTKeyCombo &combo);
    PTKeyCombo keyCombo() const;
    bool isRegistered() const;
    // The registration with the hot key service; Null when not registered.
    systemhotkeys::HotKeyRef registration() const;
    // Whether a refused combination waits to be tried again.
    bool isRetrying() const { return m_retryTimer.isActive(); }

    // Called by the hot key center on a press.
    Q_INVOKABLE void hotKeyPressed(PTHotKey *hotKey);

Q_SIGNALS:
    void pressed();

private:
    void registerCombo();

    PTHotKeyCenter &m_center;
    const std::shared_ptr<PTHotKey> m_hotKey;
    QTimer m_retryTimer;
    bool m_refusalLogged = false;
    bool m_noSuchKey = false; // the combination's key code names no key
};
