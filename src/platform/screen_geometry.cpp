#include "platform/screen_geometry.h"

namespace platform {

namespace {
QRectF atOrigin(double height) { return QRectF(0, 0, 0, height); }
}  // namespace

// The flip is its own inverse once the horizontal offset is undone: y' = (top + height) - y for
// points, and the rectangle's far edge maps to its near edge.

QPointF toQtPoint(const QPointF& point, const QRectF& primary) {
    const double base = primary.y() + primary.height();
    return QPointF(point.x() + primary.x(), base - point.y());
}

QPointF fromQtPoint(const QPointF& point, const QRectF& primary) {
    const double base = primary.y() + primary.height();
    return QPointF(point.x() - primary.x(), base - point.y());
}

QRectF toQtRect(const QRectF& rect, const QRectF& primary) {
    const double base = primary.y() + primary.height();
    return QRectF(rect.x() + primary.x(), base - (rect.y() + rect.height()), rect.width(), rect.height());
}

QRectF fromQtRect(const QRectF& rect, const QRectF& primary) {
    const double base = primary.y() + primary.height();
    return QRectF(rect.x() - primary.x(), base - (rect.y() + rect.height()), rect.width(), rect.height());
}

QPointF toQtPoint(const QPointF& point, double primaryHeight) { return toQtPoint(point, atOrigin(primaryHeight)); }
QPointF fromQtPoint(const QPointF& point, double primaryHeight) { return fromQtPoint(point, atOrigin(primaryHeight)); }
QRectF toQtRect(const QRectF& rect, double primaryHeight) { return toQtRect(rect, atOrigin(primaryHeight)); }
QRectF fromQtRect(const QRectF& rect, double primaryHeight) { return fromQtRect(rect, atOrigin(primaryHeight)); }

}  // namespace platform
