#include "overlay/glass_shape.h"

#include <algorithm>

namespace glass {

QPainterPath unevenRoundedRect(const QRectF& rect, double topLeft, double topRight, double bottomRight,
                               double bottomLeft) {
    const double limit = std::min(rect.width(), rect.height()) / 2.0;
    auto clampRadius = [limit](double r) { return std::clamp(r, 0.0, std::max(0.0, limit)); };
    const double tl = clampRadius(topLeft);
    const double tr = clampRadius(topRight);
    const double br = clampRadius(bottomRight);
    const double bl = clampRadius(bottomLeft);

    QPainterPath path;
    path.moveTo(rect.left() + tl, rect.top());
    path.lineTo(rect.right() - tr, rect.top());
    if (tr > 0) path.arcTo(QRectF(rect.right() - 2 * tr, rect.top(), 2 * tr, 2 * tr), 90, -90);
    path.lineTo(rect.right(), rect.bottom() - br);
    if (br > 0) path.arcTo(QRectF(rect.right() - 2 * br, rect.bottom() - 2 * br, 2 * br, 2 * br), 0, -90);
    path.lineTo(rect.left() + bl, rect.bottom());
    if (bl > 0) path.arcTo(QRectF(rect.left(), rect.bottom() - 2 * bl, 2 * bl, 2 * bl), 270, -90);
    path.lineTo(rect.left(), rect.top() + tl);
    if (tl > 0) path.arcTo(QRectF(rect.left(), rect.top(), 2 * tl, 2 * tl), 180, -90);
    path.closeSubpath();
    return path;
}

QPainterPath roundedRect(const QRectF& rect, double radius) {
    return unevenRoundedRect(rect, radius, radius, radius, radius);
}

}  // namespace glass
