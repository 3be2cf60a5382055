#pragma once

#include <QObject>

// The two sides of the pointer that PointerVisibility's rules act on, apart
// from the X server, so that the rules can run against something else.

// Hides and shows the pointer, keeping hides and shows balanced.
class AbstractPointerHider
{
public:
    virtual ~AbstractPointerHider() = default;

    virtual bool isHidden() const = 0;
    // Each does nothing when the pointer already is so.
    virtual void hide() = 0;
    virtual void show() = 0;
};

// Tells when the pointer moves, measured from an anchor: the position where
// it last counted as moved.
class AbstractPointerWatcher : public QObject
{
    Q_OBJECT

public:
    struct Sample
    {
        bool moved = false;       // left the anchor (the anchor moved with it)
        bool buttonsHeld = false; // a mouse button is down
    };

    using QObject::QObject;

    // While watching, moved() follows every movement. Turning it on takes
    // the current position as the anchor.
    virtual void setWatching(bool watching) = 0;
    virtual bool isWatching() const = 0;
    // Takes the current position as the anchor.
    virtual void resetAnchor() = 0;
    // Reads the pointer now. Movement found here is not signalled.
    virtual Sample sample() = 0;
    // Emits buttonsReleased() once no mouse button is held, from the event
    // loop (at once when none is held now).
    virtual void waitForButtonRelease() = 0;

Q_SIGNALS:
    void moved();
    void buttonsReleased();
};
