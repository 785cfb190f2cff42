#include "live_activities/level_bar.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {
void fillCapsule(QPainter& painter, const QRectF& rect, const QColor& color) {
    const double r = std::min(rect.width(), rect.height()) / 2;
    QPainterPath path;
    path.addRoundedRect(rect, r, r);
    painter.fillPath(path, color);
}
}  // namespace

double LevelBar::fillWidth() const { return std::clamp(level, 0.0, 1.0) * barWidth; }

std::optional<QRectF> LevelBar::fillRect() const {
    const double width = fillWidth();
    if (!(width > minimumDrawnFill)) return std::nullopt;
    return QRectF(0, 0, std::max(width, barHeight), barHeight);
}

void LevelBar::paint(QPainter& painter, QPointF origin) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    QColor track = Qt::white;
    track.setAlphaF(trackOpacity);
    fillCapsule(painter, trackRect().translated(origin), track);
    if (const auto fill = fillRect()) fillCapsule(painter, fill->translated(origin), barColor);
    painter.restore();
}
