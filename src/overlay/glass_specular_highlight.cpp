#include "overlay/glass_specular_highlight.h"

#include <QPainter>
#include <QRadialGradient>
#include <QRectF>

#include <algorithm>
#include <cmath>

namespace {
// Seconds from the Unix epoch to 2001-01-01 00:00:00 UTC.
constexpr double kReferenceDateOffset = 978307200.0;
}

double SpecularHighlightView::phase(platform::Scheduler::Clock::time_point now) {
    const double unixSeconds = std::chrono::duration<double>(now.time_since_epoch()).count();
    double cycle = std::fmod(unixSeconds - kReferenceDateOffset, kCycleSeconds);
    if (cycle < 0) cycle += kCycleSeconds;
    return cycle / kCycleSeconds;
}

SpecularHighlightView::Geometry SpecularHighlightView::geometry(const QSizeF& size, double phase) {
    return {QPointF(size.width() * phase, size.height() * 0.3), std::min(size.width(), size.height()) * 0.6};
}

void SpecularHighlightView::paint(QPainter& painter, const QRectF& rect, double phase) const {
    const Geometry g = geometry(rect.size(), phase);
    if (g.endRadius <= 0) return;
    QRadialGradient gradient(rect.topLeft() + g.centre, g.endRadius);
    const double alphas[] = {0.0, intensity * 0.5, intensity, intensity * 0.5, 0.0};
    for (int i = 0; i < 5; ++i) {
        QColor stop = color;
        stop.setAlphaF(static_cast<float>(std::clamp(alphas[i], 0.0, 1.0)));
        gradient.setColorAt(i / 4.0, stop);
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect, gradient);
    painter.restore();
}
