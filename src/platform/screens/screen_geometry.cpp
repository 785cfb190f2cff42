#include "platform/screens/screen_geometry.h"

namespace platform {

// The flip is its own inverse once the horizontal offset is undone: y' = (top + height) - y for
// points, and the rectangle's far edge maps to its near edge.

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

}  // namespace platform
