#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <optional>

class AbstractPointerHider;
class AbstractPointerWatcher;

// Decides when the pointer is hidden and shown.
//
// - hide(), show() and toggle() are the user's requests (the hot key, the bus).
// - After the idle time without movement the pointer hides, but never while a
//   mouse button is held; the time then counts again from the release.
// - Movement shows a pointer that hid for idleness: it went away by itself,
//   so it comes back by itself, whatever autoShow says.
// - Typing hides the pointer (hideForTyping()); like one that hid for
//   idleness it comes back with the next movement or click.
// - Movement shows a pointer hidden on request only when autoShow is on;
//   otherwise it stays hidden until the next request.
class PointerVisibility : public QObject
{
    Q_OBJECT

public:
    enum class HiddenBy { Nobody, Request, Idleness, Typing };

    PointerVisibility(AbstractPointerHider &hider, AbstractPointerWatcher &watcher, QObject *parent = nullptr);
    ~PointerVisibility() override;
    Q_DISABLE_COPY_MOVE(PointerVisibility)

    bool isHidden() const;
    HiddenBy hiddenBy() const { return m_hiddenBy; }

    void setAutoShow(bool autoShow);
    // Seconds without movement before the pointer hides; the time counts
    // anew from here.
    void setIdleHide(float seconds);

    // The idle time as a timer interval: none (never hide) for zero, for
    // anything that is not a positive number, and for times beyond what a
    // timer can wait (24 days); else to the nearest millisecond, at least 1.
    static std::optional<std::chrono::milliseconds> idleInterval(float seconds);

public Q_SLOTS:
    void hide();
    void show();
    void toggle();
    // A key was typed: hides a shown pointer.
    void hideForTyping();

Q_SIGNALS:
    void hiddenChanged(bool hidden);

private:
    void hidePointer(HiddenBy by);
    void handleMoved();
    void handleIdleTimeout();
    void handleButtonsReleased();
    void update();
    // Whether the pointer went away by itself, so that it comes back by
    // itself whatever autoShow says.
    bool hidItself() const { return m_hiddenBy == HiddenBy::Idleness || m_hiddenBy == HiddenBy::Typing; }

    AbstractPointerHider &m_hider;
    AbstractPointerWatcher &m_watcher;
    HiddenBy m_hiddenBy = HiddenBy::Nobody;
    bool m_autoShow = true;
    float m_idleHide = 0;
    std::optional<std::chrono::milliseconds> m_idleInterval;
    QTimer m_idleTimer;
};
