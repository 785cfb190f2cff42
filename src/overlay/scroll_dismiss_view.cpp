#include "overlay/scroll_dismiss_view.h"

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
    return scrollWheel(scrollingDeltaY(event), event.inverted());
}

double ScrollDismissView::scrollingDeltaY(const QWheelEvent& event) {
    if (!event.pixelDelta().isNull()) return event.pixelDelta().y();
    return event.angleDelta().y() / 120.0;
}
