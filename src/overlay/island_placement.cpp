#include "overlay/island_placement.h"

#include "platform/screens/screen_geometry.h"

#include <algorithm>
#include <cmath>

using platform::frameTop;
using platform::ScreenInfo;

std::vector<ScreenInfo> IslandPlacement::targetScreens(NotificationDisplayScreen setting,
                                                       const std::vector<ScreenInfo>& screens,
                                                       const std::function<QPointF()>& mouse) {
    if (screens.empty()) return {};
    switch (setting) {
        case NotificationDisplayScreen::current:
            if (screens.size() == 1) return screens;
            return {platform::screenContaining(screens, mouse()).value_or(screens.front())};
        case NotificationDisplayScreen::all:
            return screens;
        case NotificationDisplayScreen::main:
            break;
    }
    return {builtInScreen(screens).value_or(screens.front())};
}

std::optional<ScreenInfo> IslandPlacement::builtInScreen(const std::vector<ScreenInfo>& screens) {
    for (const ScreenInfo& screen : screens) {
        if (screen.displayNumber && screen.isBuiltIn) return screen;
    }
    return std::nullopt;
}

double IslandPlacement::menuBarHeight(const ScreenInfo& screen) {
    return frameTop(screen.frame) - frameTop(screen.visibleFrame);
}

std::optional<double> IslandPlacement::notchCenterX(const ScreenInfo& screen) {
    if (!(screen.safeAreaTopInset > 0)) return std::nullopt;
    if (!screen.auxiliaryTopLeftArea || !screen.auxiliaryTopRightArea) return std::nullopt;
    const double left = screen.auxiliaryTopLeftArea->width();
    const double notchWidth = screen.frame.width() - left - screen.auxiliaryTopRightArea->width();
    return screen.frame.x() + left + notchWidth / 2;
}

std::optional<double> IslandPlacement::notchDepth(const NotchMode& mode) {
    // The notch window's heights in these modes, so the overlay hangs below whatever it shows.
    switch (mode.kind()) {
        case NotchMode::Kind::expanded: return 175.0;
        case NotchMode::Kind::glance: return 200.0;
        case NotchMode::Kind::drop: return 180.0;
        case NotchMode::Kind::switcher: return 160.0;
        case NotchMode::Kind::miniPlayer: return 32.0;
        case NotchMode::Kind::liveActivity: return 32.0;
        case NotchMode::Kind::idle:
        case NotchMode::Kind::notification: return std::nullopt;
    }
    return std::nullopt;
}

namespace {

QRectF endFrameAt(const ScreenInfo& screen, double width, double height, std::optional<double> depth) {
    const double centerX = IslandPlacement::notchCenterX(screen).value_or(screen.frame.center().x());
    const double screenTop = frameTop(screen.frame);
    double top = screen.safeAreaTopInset > 0 ? screenTop - screen.safeAreaTopInset
                                             : screenTop - IslandPlacement::menuBarHeight(screen);
    if (depth) top = std::min(top, screenTop - *depth);
    // std::round rounds halves away from zero.
    return QRectF(std::round(centerX - width / 2), std::round(top - height), width, height);
}

}  // namespace

IslandPlacement::DisplayFrames IslandPlacement::framesForDisplay(const ScreenInfo& screen, double width,
                                                                 double height, WindowAnchor anchor,
                                                                 const NotchMode& notchMode) {
    switch (anchor) {
        case WindowAnchor::belowNotch: break;
    }
    return {endFrameAt(screen, width, height, notchDepth(notchMode))};
}

QRectF IslandPlacement::slidUpFrame(const ScreenInfo& screen, const QRectF& frame) {
    const double y = std::min(frameTop(screen.visibleFrame) + 50, frameTop(screen.frame) + 50);
    return QRectF(frame.x(), y, frame.width(), frame.height());
}

QRectF IslandPlacement::collapsedOverlayFrame(const ScreenInfo& screen, double x, double width,
                                              double sourceHeight) {
    const double screenTop = frameTop(screen.frame);
    const double anchorTop =
        screenTop - (screen.safeAreaTopInset > 0 ? screen.safeAreaTopInset : menuBarHeight(screen));
    const double h = sourceHeight;
    const double quarter = std::max(h * 0.25, 2.0);
    const double collapsedHeight = h - 1 <= quarter ? std::max(h - 4, 2.0) : quarter;
    const double lift = std::clamp(h * 0.55, 16.0, 42.0);
    const double top = std::min(anchorTop + lift, screenTop - 2);
    return QRectF(x, top - collapsedHeight, width, collapsedHeight);
}
