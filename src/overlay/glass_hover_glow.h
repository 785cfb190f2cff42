#pragma once

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <optional>

class QPainter;

// A glow around the pointer while it is over the glass. The host widget forwards its pointer
// events in this view's coordinates; the view itself takes no input and draws nothing when the
// pointer is elsewhere.
class HoverEdgeGlowView {
public:
    QColor glowColor = Qt::white;  // its own alpha is ignored: the glow peaks at glowIntensity
    double glowIntensity = 0.4;
    QPointF mouseLocation;
    // The one region that reports enter and exit: the view's current bounds.
    std::optional<QRectF> trackingArea;
    bool isHovering = false;

    HoverEdgeGlowView() = default;
    HoverEdgeGlowView(QColor color, double intensity) : glowColor(std::move(color)), glowIntensity(intensity) {}

    // Replaces the tracking area with one over `bounds` (after a resize).
    void updateTrackingAreas(const QRectF& bounds);
    void mouseEntered();
    void mouseExited();
    void mouseMoved(const QPointF& location);

    // Feeds one pointer position from the host (none: the pointer left the host), deriving enter
    // and exit from the tracking area. Returns true when the drawing changed.
    bool trackPointer(std::optional<QPointF> location);

    static double glowRadius(const QSizeF& size);
    // Draws into `bounds` (the view's frame in the painter's coordinates) only while hovering.
    void paint(QPainter& painter, const QRectF& bounds) const;
};
