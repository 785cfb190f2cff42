#include "overlay/scroll_dismiss_view.h"

#include "platform/scrolling/scroll_directions.h"

#include <QPointingDevice>
#include <QWheelEvent>

#include <cmath>

namespace {
constexpr double kMinimumDelta = 0.5;
}

bool ScrollDismissView::scrollWheel(double deltaY, bool invertedFromDevice) const {
    if (!isEnabled) return false;
    if (std::abs(deltaY) < kMinimumDelta) return false;
    // Both signs mean "fingers or wheel moved up", depending on natural scrolling.
    const bool upward = invertedFromDevice ? deltaY < 0 : deltaY > 0;
    if (!upward) return false;
    if (onDismiss) onDismiss();
    return true;
}

bool ScrollDismissView::scrollWheel(const QWheelEvent& event) const {
    const double deltaY = scrollingDeltaY(event);
    // Only a scroll that may dismiss needs the device's direction.
    if (!isEnabled || std::abs(deltaY) < kMinimumDelta) return false;
    return scrollWheel(deltaY, invertedFromDevice(event));
}

bool ScrollDismissView::invertedFromDevice(const QWheelEvent& event) {
    // Qt knows it where the window system reports it; on X11 only the device's driver does.
    if (event.inverted()) return true;
    const QPointingDevice* device = event.pointingDevice();
    return device && platform::ScrollDirections::shared().isInvertedFromDevice(device->systemId());
}

double ScrollDismissView::scrollingDeltaY(const QWheelEvent& event) {
    if (!event.pixelDelta().isNull()) return event.pixelDelta().y();
    return event.angleDelta().y() / 120.0;
}
