#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace platform {

// One display as the app sees it. Frames are in global screen coordinates (origin bottom-left
// of the primary screen, y up; see screen_geometry.h).
struct ScreenInfo {
    QRectF frame;
    // The frame less the menu bar (and any panels the desktop reserves).
    QRectF visibleFrame;
    // Height of the camera housing at the top edge; 0 on a screen without one.
    double safeAreaTopInset = 0;
    // The menu-bar areas left and right of the camera housing; absent without one.
    std::optional<QRectF> auxiliaryTopLeftArea;
    std::optional<QRectF> auxiliaryTopRightArea;
    // A number that names the display while it stays connected; absent when unknown.
    std::optional<uint32_t> displayNumber;
    bool isBuiltIn = false;

    friend bool operator==(const ScreenInfo&, const ScreenInfo&) = default;
};

// The connected screens, the pointer and the coordinate system they share.
class Screens {
public:
    virtual ~Screens() = default;

    // The process-wide provider (QScreen-backed unless a test installed another).
    static Screens& shared();
    // Installs `provider` (nullptr restores the default); returns the previous one.
    static Screens* setShared(Screens* provider);

    // Every screen; the first is the primary screen (the one with the menu bar).
    virtual std::vector<ScreenInfo> screens() const = 0;
    // The screen the app works on by default (the primary one); absent without screens.
    virtual std::optional<ScreenInfo> mainScreen() const = 0;
    // The pointer in global screen coordinates.
    virtual QPointF mouseLocation() const = 0;
    // The primary screen's geometry in Qt coordinates, for toQtRect/fromQtRect.
    virtual QRectF primaryQtGeometry() const = 0;

    // The first screen whose frame contains the pointer (edges as QRectF::contains has them).
    std::optional<ScreenInfo> screenContainingMouse() const;
    // A frame in global screen coordinates as a window's Qt geometry.
    QRectF toQt(const QRectF& rect) const;
};

// The first of `screens` whose frame contains `point` (edges as QRectF::contains has them).
std::optional<ScreenInfo> screenContaining(const std::vector<ScreenInfo>& screens, QPointF point);

// "<width>x<height>" with both positive, as in QUILLVEX_SIMULATED_NOTCH=200x32; else absent.
std::optional<QSizeF> parseSimulatedNotch(const QString& text);

// Gives `screen` a camera housing of `notch` centred on its top edge: the inset is the notch's
// height, the auxiliary areas fill the top edge left and right of it, and the visible frame stops
// below it.
void applySimulatedNotch(ScreenInfo& screen, const QSizeF& notch);

}  // namespace platform
