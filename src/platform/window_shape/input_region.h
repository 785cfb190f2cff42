#pragma once

// Where a top-level window takes pointer input, and where it exists at all. On X11 these are the
// window's input and bounding shapes (the shape extension), so clicks elsewhere in the window reach
// the windows below. Elsewhere nothing happens.

#include <QRegion>

class QWidget;

namespace platform {

enum class ShapeKind {
    bounding,  // outside it the window neither draws nor takes input, also without a compositor
    input,     // outside it the window takes no input
};

// Sets the shape of `window` (a top-level widget) to `pixels`, in the window's device pixels; an
// empty region leaves nothing. Creates the native window when it has none. Returns whether the
// window system took it.
// `callerRepaints`: the caller repaints, after this call, whatever a new bounding shape uncovers
// (a window whose content moves every frame), so the window system is not asked to report that
// area as exposed, which would wake the application and copy it to the screen once more.
bool setShape(QWidget& window, ShapeKind kind, const QRegion& pixels, bool callerRepaints = false);

// Drops the shape: the window draws (or takes input) all over again.
bool clearShape(QWidget& window, ShapeKind kind);

// `region`, in a window's device-independent coordinates, as device pixels at `ratio`; rounded
// outwards, so a fractional ratio loses no edge.
QRegion toDevicePixels(const QRegion& region, qreal ratio);
// `pixels`, a window's device pixels at `ratio`, as the points that hold them; rounded outwards.
QRegion fromDevicePixels(const QRegion& pixels, qreal ratio);

}  // namespace platform
