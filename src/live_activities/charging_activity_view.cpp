#include "live_activities/charging_activity_view.h"

#include "live_activities/battery_activity_parts.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

using platform::Animation;

ChargingActivityView::ChargingActivityView(QWidget* parent, const LiveActivityEnvironment& environment)
    : LiveActivityView(environment, parent), ringProgress_(0.0, scheduler()), pulseScale_(1.0, scheduler()) {
    redrawOnChange(ringProgress_);
    redrawOnChange(pulseScale_);
}

QColor ChargingActivityView::accentColor(int level) {
    return level < orangeBelowLevel ? QColor::fromRgbF(1.0f, 0.584f, 0.0f) : QColor::fromRgbF(0.204f, 0.78f, 0.349f);
}

ChargingActivityView::ViewModel ChargingActivityView::viewModel() const {
    QRectF ring(0, 0, ringSize, ringSize);
    ring.moveCenter(band().leftCell().center());
    return ViewModel{batteryInfo_.level,  QString::number(batteryInfo_.level), accentColor(batteryInfo_.level), ring,
                     ringProgress_.value(), QStringLiteral("bolt.fill"),     pulseScale_.value()};
}

void ChargingActivityView::paintCells(QPainter& painter) const {
    const ViewModel model = viewModel();
    // The stroke is centred on the circle inscribed in the frame.
    const QRectF circle = model.ringFrame;
    QColor track = model.accent;
    track.setAlphaF(0.2f);
    painter.save();
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(track, ringLineWidth));
    painter.drawEllipse(circle);

    const double progress = std::clamp(model.ringProgress, 0.0, 1.0);
    if (progress > 0) {
        // From the top, clockwise (Qt counts angles anticlockwise in sixteenths of a degree).
        const int start = 90 * 16;
        const int span = -static_cast<int>(std::lround(progress * 360 * 16));
        // The glow: the accent at 0.6 spread about 3 points around the ring.
        for (int k = 3; k >= 1; --k) {
            QColor glow = model.accent;
            glow.setAlphaF(static_cast<float>(0.6 * 0.22 / k));
            painter.setPen(QPen(glow, ringLineWidth + 2.0 * k, Qt::SolidLine, Qt::RoundCap));
            painter.drawArc(circle, start, span);
        }
        painter.setPen(QPen(model.accent, ringLineWidth, Qt::SolidLine, Qt::RoundCap));
        painter.drawArc(circle, start, span);
    }
    painter.restore();

    BatteryActivityParts::paintSymbol(painter, model.boltSymbol,
                                      BatteryActivityParts::symbolFrame(circle.center(), boltFontSize), model.accent, 1.0,
                                      model.boltScale);
    BatteryActivityParts::paintLevelWithPercent(painter, band().rightCell(), model.level);
}

void ChargingActivityView::didAppear() {
    platform::withoutAnimation([&] {
        ringProgress_.set(0.0);
        pulseScale_.set(0.6);
    });
    scheduler().after(0.3, lifetime().wrap([this] {
        // The level as it is now, not as it was when the entrance began.
        const double fraction = batteryInfo_.level / 100.0;
        platform::withAnimation(Animation::easeInOut(1.0), [&] { ringProgress_.set(fraction); }, {}, scheduler());
        platform::withAnimation(Animation::spring(0.4, 0.5, 0), [&] { pulseScale_.set(1.0); }, {}, scheduler());
        scheduler().after(0.4, lifetime().wrap([this] {
            platform::withAnimation(Animation::easeInOut(0.6).repeatCount(3, true), [&] { pulseScale_.set(1.3); }, {},
                                    scheduler());
        }));
    }));
}

void ChargingActivityView::didDismiss() {
    platform::withAnimation(Animation::easeInOut(0.35), [&] { ringProgress_.set(0.0); }, {}, scheduler());
    platform::withAnimation(Animation::easeInOut(0.25), [&] { pulseScale_.set(0.8); }, {}, scheduler());
    scheduler().after(0.25, lifetime().wrap([this] { platform::withoutAnimation([&] { pulseScale_.set(1.0); }); }));
}

void ChargingActivityView::syncBattery() {
    if (const auto& current = bus().batteryInfoSubject.value()) {
        batteryInfo_ = *current;
        update();
    }
}

void ChargingActivityView::didComeOnScreen() {
    syncBattery();
    batterySubscription_ = bus().batteryInfoSubject.sink(lifetime().wrap([this](const std::optional<BatteryInfo>& info) {
        if (!info) return;
        batteryInfo_ = *info;
        update();
    }));
}

void ChargingActivityView::didLeaveScreen() { batterySubscription_.cancel(); }
