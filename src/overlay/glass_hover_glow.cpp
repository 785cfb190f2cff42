#include "overlay/glass_hover_glow.h"

#include <QPainter>
#include <QRadialGradient>

#include <algorithm>

void HoverEdgeGlowView::updateTrackingAreas(const QRectF& bounds) { trackingArea = bounds; }

void HoverEdgeGlowView::mouseEntered() { isHovering = true; }

void HoverEdgeGlowView::mouseExited() { isHovering = false; }

void HoverEdgeGlowView::mouseMoved(const QPointF& location) { mouseLocation = location; }

bool HoverEdgeGlowView::trackPointer(std::optional<QPointF> location) {
    const bool wasHovering = isHovering;
    const bool inside = location && trackingArea && trackingArea->contains(*location);
    if (inside && !isHovering) mouseEntered();
    if (!inside && isHovering) mouseExited();
    if (location) mouseMoved(*location);
    return wasHovering != isHovering || isHovering;
}

double HoverEdgeGlowView::glowRadius(const QSizeF& size) { return std::min(size.width(), size.height()) * 0.5; }

void HoverEdgeGlowView::paint(QPainter& painter, const QRectF& bounds) const {
    if (!isHovering) return;
    const double radius = glowRadius(bounds.size());
    if (radius <= 0) return;
    QColor inner = glowColor;
    inner.setAlphaF(static_cast<float>(std::clamp(glowIntensity, 0.0, 1.0)));
    QColor outer = glowColor;
    outer.setAlphaF(0.0f);
    const QPointF centre = bounds.topLeft() + mouseLocation;
    QRadialGradient gradient(centre, radius);
    gradient.setColorAt(0.0, inner);
    gradient.setColorAt(1.0, outer);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(bounds, gradient);
    painter.restore();
}
