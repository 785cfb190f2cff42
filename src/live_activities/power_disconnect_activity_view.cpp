#include "live_activities/power_disconnect_activity_view.h"

#include "live_activities/battery_activity_parts.h"

#include <QPainter>

using platform::Animation;

PowerDisconnectActivityView::PowerDisconnectActivityView(QWidget* parent, const LiveActivityEnvironment& environment)
    : LiveActivityView(environment, parent),
      iconScale_(0.5, scheduler()),
      boltOffset_(0.0, scheduler()),
      boltOpacity_(1.0, scheduler()),
      batteryIconOpacity_(0.0, scheduler()) {
    redrawOnChange(iconScale_);
    redrawOnChange(boltOffset_);
    redrawOnChange(boltOpacity_);
    redrawOnChange(batteryIconOpacity_);
}

QString PowerDisconnectActivityView::batteryIconName(const std::optional<BatteryInfo>& info) {
    if (!info) return QStringLiteral("battery.0percent");
    const int level = info->level;
    if (level >= 0 && level <= 9) return QStringLiteral("battery.0percent");
    if (level >= 10 && level <= 37) return QStringLiteral("battery.25percent");
    if (level >= 38 && level <= 62) return QStringLiteral("battery.50percent");
    if (level >= 63 && level <= 87) return QStringLiteral("battery.75percent");
    return QStringLiteral("battery.100percent");
}

PowerDisconnectActivityView::ViewModel PowerDisconnectActivityView::viewModel() const {
    const QPointF centre = band().leftCell().center();
    ViewModel model;
    model.boltFrame = BatteryActivityParts::symbolFrame(centre, boltFontSize).translated(boltOffset_.value(), 0);
    model.boltOpacity = boltOpacity_.value();
    model.showBatteryIcon = showBatteryIcon_;
    model.batterySymbol = batteryIconName(batteryInfo_);
    model.batteryFrame = BatteryActivityParts::symbolFrame(centre, batteryFontSize);
    model.batteryOpacity = batteryIconOpacity_.value();
    model.iconScale = iconScale_.value();
    model.level = batteryInfo_ ? batteryInfo_->level : 0;
    return model;
}

void PowerDisconnectActivityView::paintCells(QPainter& painter) const {
    const ViewModel model = viewModel();
    BatteryActivityParts::paintSymbol(painter, QStringLiteral("bolt.fill"), model.boltFrame,
                                      BatteryActivityParts::standardYellow(), model.boltOpacity, model.iconScale);
    if (model.showBatteryIcon)
        BatteryActivityParts::paintSymbol(painter, model.batterySymbol, model.batteryFrame,
                                          BatteryActivityParts::standardOrange(), model.batteryOpacity, model.iconScale);
    BatteryActivityParts::paintLevelWithPercent(painter, band().rightCell(), model.level);
}

void PowerDisconnectActivityView::didAppear() {
    platform::withoutAnimation([&] {
        iconScale_.set(0.5);
        boltOffset_.set(0.0);
        boltOpacity_.set(1.0);
        showBatteryIcon_ = false;
        batteryIconOpacity_.set(0.0);
    });
    update();
    // Each phase counts from the start of the one before; an exit does not stop them.
    scheduler().after(0.3, lifetime().wrap([this] {
        platform::withAnimation(Animation::spring(0.35, 0.6, 0), [&] { iconScale_.set(1.0); }, {}, scheduler());
        scheduler().after(0.5, lifetime().wrap([this] {
            platform::withAnimation(Animation::easeIn(0.4), [&] {
                boltOffset_.set(boltTravel);
                boltOpacity_.set(0.0);
            }, {}, scheduler());
            scheduler().after(0.3, lifetime().wrap([this] {
                showBatteryIcon_ = true;
                platform::withAnimation(Animation::easeOut(0.35), [&] { batteryIconOpacity_.set(1.0); }, {},
                                        scheduler());
                update();
            }));
        }));
    }));
}

void PowerDisconnectActivityView::didDismiss() {
    platform::withAnimation(Animation::spring(0.35, 0.65, 0), [&] { iconScale_.set(0.5); }, {}, scheduler());
}

void PowerDisconnectActivityView::syncInfo() {
    if (const auto& current = bus().batteryInfoSubject.value()) {
        batteryInfo_ = *current;
        update();
    }
}

void PowerDisconnectActivityView::didComeOnScreen() {
    syncInfo();
    batterySubscription_ = bus().batteryInfoSubject.sink(lifetime().wrap([this](const std::optional<BatteryInfo>& info) {
        if (!info) return;
        batteryInfo_ = *info;
        update();
    }));
}

void PowerDisconnectActivityView::didLeaveScreen() { batterySubscription_.cancel(); }
