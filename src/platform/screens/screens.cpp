#include "platform/screens/screens.h"

#include "platform/screens/qt_screens.h"
#include "platform/screens/screen_geometry.h"

#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace platform {

namespace {
std::atomic<Screens*> installed{nullptr};
}  // namespace

Screens& Screens::shared() {
    if (Screens* provider = installed.load()) return *provider;
    static auto* qtScreens = new QtScreens();
    return *qtScreens;
}

Screens* Screens::setShared(Screens* provider) { return installed.exchange(provider); }

std::optional<ScreenInfo> Screens::screenContainingMouse() const { return screenContaining(screens(), mouseLocation()); }

std::optional<ScreenInfo> screenContaining(const std::vector<ScreenInfo>& screens, QPointF point) {
    for (const ScreenInfo& screen : screens) {
        if (screen.frame.contains(point)) return screen;
    }
    return std::nullopt;
}

QRectF Screens::toQt(const QRectF& rect) const { return toQtRect(rect, primaryQtGeometry()); }

std::optional<QSizeF> parseSimulatedNotch(const QString& text) {
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*(\\d+(?:\\.\\d+)?)\\s*[xX]\\s*(\\d+(?:\\.\\d+)?)\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) return std::nullopt;
    const double width = match.captured(1).toDouble();
    const double height = match.captured(2).toDouble();
    if (!(width > 0) || !(height > 0) || !std::isfinite(width) || !std::isfinite(height)) return std::nullopt;
    return QSizeF(width, height);
}

void applySimulatedNotch(ScreenInfo& screen, const QSizeF& notch) {
    const QRectF& frame = screen.frame;
    const double height = std::min(notch.height(), frame.height());
    const double width = std::min(notch.width(), frame.width());
    const double side = (frame.width() - width) / 2;
    const double bottom = frameTop(frame) - height;

    screen.safeAreaTopInset = height;
    screen.auxiliaryTopLeftArea = QRectF(frame.x(), bottom, side, height);
    screen.auxiliaryTopRightArea = QRectF(frame.x() + side + width, bottom, side, height);
    // As on a display with a real housing, the menu bar is exactly as tall as the housing.
    if (frameTop(screen.visibleFrame) > bottom) {
        screen.visibleFrame.setHeight(std::max(0.0, bottom - screen.visibleFrame.y()));
    }
    // Only laptops' own panels carry a housing.
    screen.isBuiltIn = true;
}

}  // namespace platform
