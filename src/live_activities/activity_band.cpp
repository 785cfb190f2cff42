#include "live_activities/activity_band.h"

#include "core/app_settings.h"
#include "notch/notch_aware_shape.h"

#include <QPainter>

double ActivityBand::cornerRadius(platform::Defaults& defaults) {
    return AppSettings(&defaults).dynamicIslandCornerRadius();
}

NotchInfo ActivityBand::notchInfo(const platform::Screens& screens) {
    const auto list = screens.screens();
    if (!list.empty()) return NotchInfo::detect(list.front());
    if (const auto main = screens.mainScreen()) return NotchInfo::detect(*main);
    return NotchInfo{};
}

QPainterPath ActivityBand::clipPath(double radius, const NotchInfo& info) const {
    return NotchAwareShape{radius, info}.path(bounds());
}

void ActivityBand::paint(QPainter& painter, double radius, const NotchInfo& info,
                         const std::function<void(QPainter&)>& cells) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setClipPath(clipPath(radius, info), Qt::IntersectClip);
    painter.fillRect(bounds(), Qt::black);
    if (cells) cells(painter);
    painter.restore();
    painter.fillRect(topLine(), Qt::black);
}
