#pragma once

#include "CursorController.h"
#include "CursorServer.h"

#include <QObject>

#include <memory>

class PointerHider;
class PointerVisibility;
class PointerWatcher;
class ToggleHotKey;
class TypingWatcher;
namespace x11 {
class XConnection;
}

// The cursor application: serves the controller on the bus and, where there
// is an X display, hides and shows the pointer as the settings say.
class CursorApplication : public QObject
{
    Q_OBJECT

public:
    explicit CursorApplication(settings::PreferencesStore &store, const QDBusConnection &bus,
                               QObject *parent = nullptr);
    ~CursorApplication() override;
    Q_DISABLE_COPY_MOVE(CursorApplication)

    // Unless another instance runs: reads the settings, opens the X display
    // (or says in one log line why there is none), registers the hot key,
    // and then takes the bus name.
    CursorServer::StartResult start();

Q_SIGNALS:
    // The session is over: the bus went away (exit code 0) or the X server
    // did (1).
    void finished(int exitCode);

private:
    void setUpPointer();
    void showBoundTrigger();
    void apply(const QuillvaneSettings &settings);
    // Watches the keyboard while typing should hide a shown pointer.
    void updateTypingWatch();

    CursorController m_controller;
    CursorServer m_server;
    // The connection first: what uses it is destroyed before it.
    std::unique_ptr<x11::XConnection> m_x;
    std::unique_ptr<PointerHider> m_hider;
    std::unique_ptr<PointerWatcher> m_watcher;
    std::unique_ptr<PointerVisibility> m_visibility;
    std::unique_ptr<TypingWatcher> m_typing;
    std::unique_ptr<ToggleHotKey> m_hotKey;
    bool m_hideWhileTyping = false;
};
