#include "notch/notch_aware_shape.h"

#include <algorithm>

QPainterPath NotchAwareShape::path(const QRectF& rect) const {
    const double f = topFlare;
    const double r = cornerRadius;
    const double minX = rect.left();
    const double maxX = rect.right();
    const double minY = rect.top();
    const double maxY = rect.bottom();

    // One open subpath that ends where it starts, along the top edge.
    QPainterPath path;
    path.moveTo(minX, minY);
    path.quadTo(minX + f, minY, minX + f, minY + f);
    path.lineTo(minX + f, maxY - r);
    path.quadTo(minX + f, maxY, minX + f + r, maxY);
    path.lineTo(maxX - f - r, maxY);
    path.quadTo(maxX - f, maxY, maxX - f, maxY - r);
    path.lineTo(maxX - f, minY + f);
    path.quadTo(maxX - f, minY, maxX, minY);
    path.lineTo(minX, minY);
    return path;
}

QPainterPath NotchAwareShape::drawnArea(const QRectF& rect, double topLineInset) const {
    QPainterPath area = path(rect);
    area.setFillRule(Qt::WindingFill);
    area.addRect(QRectF(rect.left() + topLineInset, rect.top(), std::max(0.0, rect.width() - 2 * topLineInset), 1));
    return area;
}
