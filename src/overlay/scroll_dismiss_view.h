#pragma once

#include <functional>

class QWheelEvent;

// Turns an upward scroll over the overlay into a dismiss. The overlay feeds it the wheel events it
// receives itself (there is no transparent layer on top, so clicks reach the content untouched);
// what this does not consume the overlay passes on to its parent.
class ScrollDismissView {
public:
    // Off while the pointer is not over the overlay.
    bool isEnabled = false;
    // Called once per qualifying event; an unset action still swallows the event.
    std::function<void()> onDismiss;

    // Returns true when the event is consumed. `deltaY` is the vertical scroll in points (lines for
    // a plain wheel); `invertedFromDevice` is true under natural scrolling.
    bool scrollWheel(double deltaY, bool invertedFromDevice) const;
    bool scrollWheel(const QWheelEvent& event) const;

    // The vertical delta of a Qt wheel event in the units above: the pixel delta of a precise
    // device, else wheel notches of 120 eighths of a degree counted as lines.
    static double scrollingDeltaY(const QWheelEvent& event);
    // Whether the event's device scrolls naturally (inverted from the device).
    static bool invertedFromDevice(const QWheelEvent& event);
};
