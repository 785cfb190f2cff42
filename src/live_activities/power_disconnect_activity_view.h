#pragma once

// The activity when the power adapter is disconnected: left of the notch a yellow bolt pops in,
// slides sideways and fades, and an orange battery that matches the level fades in where it was;
// right of the notch the level as a number with a small percent sign.

#include "core/system_event_records.h"
#include "live_activities/live_activity_view.h"
#include "platform/animation/animation.h"

#include <QRectF>
#include <QString>

#include <optional>

class PowerDisconnectActivityView : public LiveActivityView {
    Q_OBJECT

public:
    static constexpr double boltFontSize = 13;
    static constexpr double batteryFontSize = 16;
    static constexpr double boltTravel = 16;

    explicit PowerDisconnectActivityView(QWidget* parent = nullptr, const LiveActivityEnvironment& environment = {});

    static QString batteryIconName(const std::optional<BatteryInfo>& info);

    struct ViewModel {
        QRectF boltFrame;  // band coordinates, offset included, before scale
        double boltOpacity = 0;
        bool showBatteryIcon = false;
        QString batterySymbol;
        QRectF batteryFrame;
        double batteryOpacity = 0;
        double iconScale = 0;
        int level = 0;
    };
    ViewModel viewModel() const;

    const std::optional<BatteryInfo>& batteryInfo() const { return batteryInfo_; }
    const platform::Animated<double>& iconScale() const { return iconScale_; }
    const platform::Animated<double>& boltOffset() const { return boltOffset_; }
    const platform::Animated<double>& boltOpacity() const { return boltOpacity_; }
    const platform::Animated<double>& batteryIconOpacity() const { return batteryIconOpacity_; }

protected:
    void paintCells(QPainter& painter) const override;
    void didAppear() override;
    void didDismiss() override;
    void didComeOnScreen() override;
    void didLeaveScreen() override;

private:
    void syncInfo();

    std::optional<BatteryInfo> batteryInfo_;
    platform::Animated<double> iconScale_;
    platform::Animated<double> boltOffset_;
    platform::Animated<double> boltOpacity_;
    bool showBatteryIcon_ = false;
    platform::Animated<double> batteryIconOpacity_;
    platform::AnyCancellable batterySubscription_;
};
