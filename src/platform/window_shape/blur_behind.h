#pragma once

// Asks the compositor to blur what lies behind part of a window. On X11 this is the
// _KDE_NET_WM_BLUR_BEHIND_REGION property, which KWin's blur effect reads; other compositors
// ignore it and show the window as it draws itself.

#include <QRegion>

class QWidget;

namespace platform {

// Blurs behind `region` of `window` (a top-level widget), in its own device-independent
// coordinates; an empty region asks for no blur at all. Returns whether the window system took it.
bool setBlurBehindRegion(QWidget& window, const QRegion& region);

}  // namespace platform
