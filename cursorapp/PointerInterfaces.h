#pragma once

#include <QObject>

#include <chrono>

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
    enum class Watch {
        Nothing,
        // sample() tells how long the pointer has kept still; as cheaply as
        // can be, since the pointer is shown and mostly moving then.
        Stillness,
        // moved() and buttonPressed() follow the user at once.
        Movement,
    };

    struct Sample
    {
        // Since the pointer last counted as moved (or since watching began).
        std::chrono::milliseconds stillFor{0};
        bool buttonsHeld = false; // a mouse button is down
    };

    using QObject::QObject;

    // Changing what is watched takes the current position as the anchor.
    virtual void watch(Watch what) = 0;
    virtual Watch watching() const = 0;
    // Takes the current position as the anchor.
    virtual void resetAnchor() = 0;
    // Reads the pointer now. Movement found here is not signalled.
    virtual Sample sample() = 0;
    // Emits buttonsReleased() once no mouse button is held, from the event
    // loop (at once when none is held now).
    virtual void waitForButtonRelease() = 0;

Q_SIGNALS:
    void moved();
    // A button that is not a scroll wheel's (4 to 7) went down.
    void buttonPressed();
    void buttonsReleased();
};
