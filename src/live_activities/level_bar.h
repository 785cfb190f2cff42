#pragma once

// The small level indicator of the volume and brightness activities: a faint track and a fill
// from the left. A level that would draw a sliver draws nothing; any visible fill is at least as
// wide as the bar is high, so it reads as a short capsule.

#include <QColor>
#include <QPointF>
#include <QRectF>

#include <optional>

class QPainter;

struct LevelBar {
    static constexpr double trackOpacity = 0.25;
    static constexpr double minimumDrawnFill = 0.5;

    double level = 0;
    QColor barColor = Qt::white;
    double barWidth = 0;
    double barHeight = 0;

    // clamp(level, 0, 1) × barWidth.
    double fillWidth() const;
    QRectF trackRect() const { return {0, 0, barWidth, barHeight}; }
    // Absent when the fill is 0.5 point or less.
    std::optional<QRectF> fillRect() const;

    // Draws the bar with its top-left at `origin`.
    void paint(QPainter& painter, QPointF origin) const;
};
