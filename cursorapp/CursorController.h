#pragma once

#include "QuillvaneSettings.h"

#include <QtDBus/qtdbusglobal.h>
#include <QDBusContext>
#include <QObject>
#include <QPointer>
#include <QVariantMap>

namespace platform {
class PreferencesStore;
}
class PointerVisibility;

// The object that the cursor application vends on the bus: it re-reads the
// settings domain on request, shows what it read as read-only properties,
// and hides and shows the pointer on request.
class CursorController : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.quillvane.CursorController")
    Q_PROPERTY(bool AutoShow READ autoShow)
    Q_PROPERTY(double IdleHide READ idleHide)
    Q_PROPERTY(QVariantMap ToggleCursorHotKey READ toggleCursorHotKey)
    Q_PROPERTY(QString ToggleCursorHotKeyTrigger READ toggleCursorHotKeyTrigger)
    Q_PROPERTY(bool HideWhileTyping READ hideWhileTyping)
    Q_PROPERTY(bool Hidden READ hidden)
    Q_PROPERTY(bool LoginItemHidden READ loginItemHidden)
    Q_PROPERTY(QString PointerReach READ pointerReach)
    Q_PROPERTY(QString PointerReachReason READ pointerReachReason)

public:
    explicit CursorController(settings::PreferencesStore &store, QObject *parent = nullptr);
    ~CursorController() override;

    const QuillvaneSettings &settings() const { return m_settings; }

    bool autoShow() const { return m_settings.autoShow; }
    double idleHide() const { return m_settings.idleHide; }
    bool hideWhileTyping() const { return m_settings.hideWhileTyping; }
    // The dictionary form: {"keyCode": i, "modifiers": i}.
    QVariantMap toggleCursorHotKey() const;
    // What the desktop bound the hot key to, as the desktop describes it
    // ("Ctrl+Alt+K"), where the desktop binds it (Wayland); empty under X11,
    // while the desktop has not answered, and when it bound none.
    QString toggleCursorHotKeyTrigger() const { return m_toggleCursorHotKeyTrigger; }
    void setToggleCursorHotKeyTrigger(const QString &trigger);
    // Whether the pointer is hidden now; false where it cannot be hidden.
    bool hidden() const;
    // Whether the login item that opens this application asks for a hidden
    // start. Such a start shows nothing, but then, neither does any other:
    // this application has no windows and sends no notifications.
    bool loginItemHidden() const { return m_loginItemHidden; }
    void setLoginItemHidden(bool hidden) { m_loginItemHidden = hidden; }
    // Where the pointer can be hidden ("everywhere", "x11-windows-only",
    // "nowhere") and one sentence why.
    QString pointerReach() const { return m_pointerReach; }
    QString pointerReachReason() const { return m_pointerReachReason; }
    void setPointerReach(const QString &reach, const QString &reason);

    // What Hide, Show and Toggle act on; none without an X display, when
    // they answer with the error dbuslink::NoDisplayError.
    void setPointer(PointerVisibility *pointer);

    // The properties as the bus shows them.
    QVariantMap properties() const;

public Q_SLOTS:
    // Picks up the domain as other processes left it and reads the three
    // settings by the pane's rules. A domain that was never seeded reads as
    // the values that first use will store.
    Q_NOREPLY void readPrefs();
    void Hide();
    void Show();
    void Toggle();
    // Ends the program, the pointer shown.
    Q_NOREPLY void Quit();

Q_SIGNALS:
    // Emitted by every readPrefs(), with what it read.
    void prefsRead(const QuillvaneSettings &settings);
    // Emitted by readPrefs() when what it read differs from before.
    void settingsChanged(const QuillvaneSettings &settings);
    void hiddenChanged(bool hidden);
    void toggleCursorHotKeyTriggerChanged(const QString &trigger);
    void quitRequested();

private:
    Q_DISABLE_COPY_MOVE(CursorController)

    bool hasPointer();

    settings::PreferencesStore &m_store;
    QuillvaneSettings m_settings;
    QPointer<PointerVisibility> m_pointer;
    bool m_loginItemHidden = false;
    QString m_pointerReach;
    QString m_pointerReachReason;
    QString m_toggleCursorHotKeyTrigger;
};
