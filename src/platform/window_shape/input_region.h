#pragma once

// Where a top-level window takes pointer input. On X11 the window's input shape (the shape
// extension's input kind) is set, so clicks elsewhere in the window reach the windows below;
// what the window draws is not clipped. Elsewhere nothing happens.

#include <QRegion>

class QWidget;

namespace platform {

// Sets the input region of `window` (a top-level widget) in its own device-independent
// coordinates; an empty region takes no input at all. Creates the native window when it has none.
// Returns whether the window system took it.
bool setInputRegion(QWidget& window, const QRegion& region);

}  // namespace platform
