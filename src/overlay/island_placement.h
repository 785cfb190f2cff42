#pragma once

// Where the overlay hangs: which screens show it, where on each screen its frame stands (centred
// on the notch, below the notch or the menu bar, lower while the notch shows something taller)
// and the thin strip inside the notch from which it grows and into which it collapses. Pure
// geometry in global screen coordinates (bottom-left origin, y up); nothing is cached.

#include "core/notch_records.h"
#include "core/settings_enums.h"
#include "platform/screens/screens.h"

#include <QPointF>
#include <QRectF>

#include <functional>
#include <optional>
#include <vector>

struct IslandPlacement {
    // The edge the overlay hangs from: the bottom of the notch, or of the menu bar without one.
    enum class WindowAnchor { belowNotch };

    struct DisplayFrames {
        QRectF endFrame;  // the overlay's frame on the screen
    };

    // The screens that show the overlay for the display-screen setting: the built-in screen (or
    // the first), the one under the pointer (or the first), or all of them. `mouse` is asked only
    // where the pointer decides: for the current screen among several.
    static std::vector<platform::ScreenInfo> targetScreens(NotificationDisplayScreen setting,
                                                           const std::vector<platform::ScreenInfo>& screens,
                                                           const std::function<QPointF()>& mouse);
    // The first built-in screen with a display number.
    static std::optional<platform::ScreenInfo> builtInScreen(const std::vector<platform::ScreenInfo>& screens);

    static DisplayFrames framesForDisplay(const platform::ScreenInfo& screen, double width, double height,
                                          WindowAnchor anchor, const NotchMode& notchMode);
    // The notch's centre x; none without a notch and both auxiliary areas.
    static std::optional<double> notchCenterX(const platform::ScreenInfo& screen);
    // How far below the screen's top the notch window reaches in `mode`; none in idle and
    // notification, where the overlay hangs from the notch itself.
    static std::optional<double> notchDepth(const NotchMode& mode);
    static QRectF collapsedOverlayFrame(const platform::ScreenInfo& screen, double x, double width,
                                        double sourceHeight);
    // Where a hide that slides `frame` up on `screen` takes it.
    static QRectF slidUpFrame(const platform::ScreenInfo& screen, const QRectF& frame);
    // The screen frame's top less the visible frame's top.
    static double menuBarHeight(const platform::ScreenInfo& screen);
};
