#pragma once

#include "platform/runtime/dispatch.h"

#include <QColor>
#include <QPointF>
#include <QSizeF>

class QPainter;
class QRectF;

// A soft highlight that sweeps across the glass, left to right, every six seconds, at 30% of the
// height from the top. It is a function of the wall clock, so every view showing it agrees; the
// host repaints it up to 30 times a second while on screen and takes no input.
class SpecularHighlightView {
public:
    static constexpr double kCycleSeconds = 6.0;
    static constexpr double kFrameInterval = 1.0 / 30.0;

    QColor color = Qt::white;
    double intensity = 0.15;  // peak opacity

    struct Geometry {
        QPointF centre;
        double endRadius = 0;
    };

    // 0 ... 1 through the cycle, counted from the reference date 2001-01-01 00:00:00 UTC.
    static double phase(platform::Scheduler::Clock::time_point now);
    static Geometry geometry(const QSizeF& size, double phase);

    // Fills `rect` with the highlight for `phase`.
    void paint(QPainter& painter, const QRectF& rect, double phase) const;
};
