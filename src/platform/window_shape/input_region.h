#pragma once

// Where a top-level window takes pointer input, and where it exists at all. On X11 these are the
// window's input and bounding shapes (the shape extension), so clicks elsewhere in the window reach
// the windows below. Elsewhere nothing happens.

#include <QRegion>

class QWidget;

namespace platform {

// Sets the input region of `window` (a top-level widget) in its own device-independent
// coordinates; an empty region takes no input at all. Creates the native window when it has none.
// Returns whether the window system took it.
bool setInputRegion(QWidget& window, const QRegion& region);

// Shapes `window` to `region` (same coordinates): outside it the window neither draws nor takes
// input, also where no compositor honours transparency.
bool setWindowShape(QWidget& window, const QRegion& region);

// The same for a caller that repaints, after this call, whatever the new shape uncovers (a window
// whose content moves every frame): the window system is not asked to report the uncovered area
// as exposed, which would wake the application and copy that area to the screen once more.
bool reshapeRepainted(QWidget& window, const QRegion& region);

// Drops the shape the two above gave: the window draws and takes input all over again.
bool clearWindowShape(QWidget& window);

}  // namespace platform
