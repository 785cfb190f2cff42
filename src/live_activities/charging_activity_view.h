#pragma once

// The activity when the power adapter is connected: left of the notch a ring that fills up to the
// battery level around a pulsing bolt, right of it the level as a number with a small percent
// sign. Orange below 20 %, green from 20 %.

#include "core/system_event_records.h"
#include "live_activities/live_activity_view.h"
#include "platform/animation/animation.h"

#include <QColor>
#include <QRectF>
#include <QString>

class ChargingActivityView : public LiveActivityView {
    Q_OBJECT

public:
    static constexpr double ringSize = 20;
    static constexpr double ringLineWidth = 2.5;
    static constexpr double boltFontSize = 8;
    static constexpr int orangeBelowLevel = 20;

    explicit ChargingActivityView(QWidget* parent = nullptr, const LiveActivityEnvironment& environment = {});

    static QColor accentColor(int level);

    struct ViewModel {
        int level = 0;
        QString levelText;
        QColor accent;
        QRectF ringFrame;     // band coordinates
        double ringProgress = 0;  // filled fraction, clockwise from the top
        QString boltSymbol;
        double boltScale = 1;
    };
    ViewModel viewModel() const;

    const BatteryInfo& batteryInfo() const { return batteryInfo_; }
    const platform::Animated<double>& ringProgress() const { return ringProgress_; }
    const platform::Animated<double>& pulseScale() const { return pulseScale_; }

protected:
    void paintCells(QPainter& painter) const override;
    void didAppear() override;
    void didDismiss() override;
    void didComeOnScreen() override;
    void didLeaveScreen() override;

private:
    void syncBattery();

    BatteryInfo batteryInfo_{0, true, true};
    platform::Animated<double> ringProgress_;
    platform::Animated<double> pulseScale_;
    platform::AnyCancellable batterySubscription_;
};
