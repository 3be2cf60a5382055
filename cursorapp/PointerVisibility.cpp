#include "PointerVisibility.h"

#include "PointerInterfaces.h"

#include <QLoggingCategory>

#include <algorithm>
#include <cmath>
#include <limits>

Q_LOGGING_CATEGORY(lcPointerVisibility, "quillvane.cursorapp.visibility", QtWarningMsg)

PointerVisibility::PointerVisibility(AbstractPointerHider &hider, AbstractPointerWatcher &watcher, QObject *parent)
    : QObject(parent)
    , m_hider(hider)
    , m_watcher(watcher)
{
    m_idleTimer.setSingleShot(true);
    // A coarse timer may fire a twentieth of its interval late.
    m_idleTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_idleTimer, &QTimer::timeout, this, &PointerVisibility::handleIdleTimeout);
    connect(&m_watcher, &AbstractPointerWatcher::moved, this, &PointerVisibility::handleMoved);
    connect(&m_watcher, &AbstractPointerWatcher::buttonPressed, this, &PointerVisibility::handleMoved);
    connect(&m_watcher, &AbstractPointerWatcher::buttonsReleased, this, &PointerVisibility::handleButtonsReleased);
}

PointerVisibility::~PointerVisibility() = default;

bool PointerVisibility::isHidden() const
{
    return m_hider.isHidden();
}

std::optional<std::chrono::milliseconds> PointerVisibility::idleInterval(float seconds)
{
    if (!(seconds > 0)) // NaN included
        return std::nullopt;
    // Rounded, since a float rarely holds a decimal fraction exactly (0.3 is
    // 0.30000001); a positive time never rounds down to nothing.
    const double milliseconds = std::max(1.0, std::round(double(seconds) * 1000.0));
    if (milliseconds > double(std::numeric_limits<int>::max()))
        return std::nullopt;
    return std::chrono::milliseconds(qint64(milliseconds));
}

void PointerVisibility::setAutoShow(bool autoShow)
{
    m_autoShow = autoShow;
    update();
}

void PointerVisibility::setIdleHide(float seconds)
{
    // The same value read again keeps the running count.
    if (seconds == m_idleHide || (std::isnan(seconds) && std::isnan(m_idleHide)))
        return;
    m_idleHide = seconds;
    m_idleInterval = idleInterval(seconds);
    if (!m_idleInterval && seconds != 0) {
        qCWarning(lcPointerVisibility).nospace() << "The idle time " << seconds
                                                 << " is not a number of seconds between 0 and 24 days:"
                                                    " the pointer is not hidden when the mouse keeps still";
    }
    m_idleTimer.stop();
    update();
}

void PointerVisibility::hide()
{
    hidePointer(HiddenBy::Request);
}

void PointerVisibility::show()
{
    if (!m_hider.isHidden())
        return;
    m_hider.show();
    m_hiddenBy = HiddenBy::Nobody;
    m_idleTimer.stop(); // the idle time counts from now
    update();
    Q_EMIT hiddenChanged(false);
}

void PointerVisibility::toggle()
{
    if (m_hider.isHidden())
        show();
    else
        hide();
}

void PointerVisibility::hideForTyping()
{
    if (!m_hider.isHidden())
        hidePointer(HiddenBy::Typing);
}

// Hiding on request a pointer that hid for idleness makes it stay hidden as
// a requested one does.
void PointerVisibility::hidePointer(HiddenBy by)
{
    const bool wasHidden = m_hider.isHidden();
    const AbstractPointerWatcher::Watch watched = m_watcher.watching();
    m_hiddenBy = by;
    m_hider.hide();
    update();
    // Movement that shows it again counts from where it disappeared (a
    // change of what is watched has set the anchor already).
    if (m_watcher.watching() == watched && watched != AbstractPointerWatcher::Watch::Nothing)
        m_watcher.resetAnchor();
    if (!wasHidden)
        Q_EMIT hiddenChanged(true);
}

// Movement, or a press of a button that is not the scroll wheel's.
void PointerVisibility::handleMoved()
{
    if (m_hider.isHidden() && (hidItself() || m_autoShow))
        show();
}

void PointerVisibility::handleIdleTimeout()
{
    if (m_hider.isHidden() || !m_idleInterval)
        return;
    // The idle time counts from the last movement, which the watcher may
    // know of only now: wait for the rest of it.
    const AbstractPointerWatcher::Sample sample = m_watcher.sample();
    if (sample.stillFor < *m_idleInterval) {
        m_idleTimer.start(*m_idleInterval - sample.stillFor);
        return;
    }
    if (sample.buttonsHeld) {
        m_watcher.waitForButtonRelease();
        return;
    }
    hidePointer(HiddenBy::Idleness);
}

void PointerVisibility::handleButtonsReleased()
{
    if (!m_hider.isHidden() && m_idleInterval)
        m_idleTimer.start(*m_idleInterval);
}

void PointerVisibility::update()
{
    const bool hidden = m_hider.isHidden();
    const bool countIdleTime = !hidden && m_idleInterval;
    using Watch = AbstractPointerWatcher::Watch;
    if (hidden)
        m_watcher.watch(hidItself() || m_autoShow ? Watch::Movement : Watch::Nothing);
    else
        m_watcher.watch(countIdleTime ? Watch::Stillness : Watch::Nothing);
    if (!countIdleTime) {
        m_idleTimer.stop();
    } else if (!m_idleTimer.isActive()) {
        m_idleTimer.setInterval(*m_idleInterval);
        m_idleTimer.start();
    }
}
