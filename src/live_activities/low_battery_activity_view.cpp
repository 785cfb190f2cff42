#include "live_activities/low_battery_activity_view.h"

#include "live_activities/battery_activity_parts.h"
#include "notch/notch_drawing.h"

#include <QPainter>

using platform::Animation;

LowBatteryActivityView::LowBatteryActivityView(QWidget* parent, const LiveActivityEnvironment& environment)
    : LiveActivityView(environment, parent), iconScale_(0.5, scheduler()), pulseOpacity_(1.0, scheduler()) {
    redrawOnChange(iconScale_);
    redrawOnChange(pulseOpacity_);
}

QString LowBatteryActivityView::symbolName(int level) {
    return level > 5 ? QStringLiteral("battery.25percent") : QStringLiteral("battery.0percent");
}

LowBatteryActivityView::ViewModel LowBatteryActivityView::viewModel() const {
    return ViewModel{symbolName(batteryInfo_.level),
                     BatteryActivityParts::symbolFrame(band().leftCell().center(), iconFontSize), iconScale_.value(),
                     pulseOpacity_.value(), QString::number(batteryInfo_.level) + QStringLiteral("%")};
}

void LowBatteryActivityView::paintCells(QPainter& painter) const {
    const ViewModel model = viewModel();
    const QColor red = BatteryActivityParts::standardRed();
    BatteryActivityParts::paintSymbol(painter, model.symbolName, model.iconFrame, red, model.iconOpacity,
                                      model.iconScale);
    painter.save();
    painter.setFont(notchFont(textFontSize, QFont::Bold, true));
    painter.setPen(red);
    painter.drawText(band().rightCell(), Qt::AlignCenter, model.levelText);
    painter.restore();
}

void LowBatteryActivityView::didAppear() {
    platform::withoutAnimation([&] { iconScale_.set(0.5); });
    platform::withAnimation(Animation::spring(0.4, 0.6, 0), [&] { iconScale_.set(1.0); }, {}, scheduler());
    platform::withAnimation(Animation::easeInOut(0.6).repeatCount(4, true), [&] { pulseOpacity_.set(0.4); }, {},
                            scheduler());
}

void LowBatteryActivityView::didDismiss() {
    platform::withAnimation(Animation::spring(0.35, 0.65, 0), [&] { iconScale_.set(0.5); }, {}, scheduler());
}

void LowBatteryActivityView::syncInfo() {
    if (const auto& current = bus().batteryInfoSubject.value()) {
        batteryInfo_ = *current;
        update();
    }
}

void LowBatteryActivityView::didComeOnScreen() {
    syncInfo();
    batterySubscription_ = bus().batteryInfoSubject.sink(lifetime().wrap([this](const std::optional<BatteryInfo>& info) {
        if (!info) return;
        batteryInfo_ = *info;
        update();
    }));
}

void LowBatteryActivityView::didLeaveScreen() { batterySubscription_.cancel(); }
