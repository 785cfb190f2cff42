#pragma once

#include <QPainterPath>
#include <QRectF>

// Rounded shapes shared by the overlay's styles and glass layers. Corners are circular arcs, the
// closest Qt has to continuous corner curves.
namespace glass {

// A rectangle whose corners may each have their own radius (0 gives a square corner). Radii are
// limited to half the shorter side.
QPainterPath unevenRoundedRect(const QRectF& rect, double topLeft, double topRight, double bottomRight,
                               double bottomLeft);
QPainterPath roundedRect(const QRectF& rect, double radius);

}  // namespace glass
