#pragma once

#include <QPointF>
#include <QRectF>

// The one conversion between the two screen coordinate systems of the project.
//
// Global screen coordinates: origin at the bottom-left corner of the primary screen, y grows
// upwards (a screen's top edge is its frame's maximum y). Every frame the screens stand-in
// reports, and every frame the app computes, is in these.
//
// Qt coordinates: origin at the top-left of the virtual desktop, y grows downwards. Only windows
// and the cursor speak these; convert at that boundary, nowhere else.
//
// `primaryQtGeometry` is the primary screen's geometry in Qt coordinates.
namespace platform {

QPointF fromQtPoint(const QPointF& point, const QRectF& primaryQtGeometry);
QRectF toQtRect(const QRectF& rect, const QRectF& primaryQtGeometry);
QRectF fromQtRect(const QRectF& rect, const QRectF& primaryQtGeometry);

// The top edge (maximum y) of a frame in global screen coordinates.
inline double frameTop(const QRectF& frame) { return frame.y() + frame.height(); }

}  // namespace platform
