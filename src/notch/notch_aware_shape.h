#pragma once

#include "core/notch_info.h"
#include "platform/window_shape/window_shape.h"

#include <QPainterPath>
#include <QRectF>

#include <utility>

// The outline of every surface that hangs from the notch: small concave flares at the two top
// corners that blend into the menu bar, straight sides 6 points in, and bottom corners rounded
// with `cornerRadius`. The radius is used as given (callers clamp it); the notch geometry is
// carried along but does not shape the outline.
struct NotchAwareShape {
    static constexpr double topFlare = 6;

    double cornerRadius = 0;
    NotchInfo notchInfo;

    QPainterPath path(const QRectF& rect) const;
    // Where a surface with this outline draws: the filled outline and the line laid over its top
    // edge, `topLineInset` in from each side.
    QPainterPath drawnArea(const QRectF& rect, double topLineInset = topFlare) const;

    // The animated pair is (flare, radius). Writing it is ignored, so a radius change is drawn at
    // its final value rather than interpolated.
    std::pair<double, double> animatableData() const { return {topFlare, cornerRadius}; }
    void setAnimatableData(std::pair<double, double>) {}
};

// A notch view that draws only part of its rectangle (a band hanging from the notch): the panel
// takes input only there.
using NotchOutlinedView = platform::OutlinedView;
