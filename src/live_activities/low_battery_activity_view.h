#pragma once

// The activity when the battery falls to a low-battery threshold: a red, blinking battery left of
// the notch, the level in red right of it.

#include "core/system_event_records.h"
#include "live_activities/live_activity_view.h"
#include "platform/animation/animation.h"

#include <QRectF>
#include <QString>

class LowBatteryActivityView : public LiveActivityView {
    Q_OBJECT

public:
    static constexpr double iconFontSize = 16;
    static constexpr double textFontSize = 12;

    explicit LowBatteryActivityView(QWidget* parent = nullptr, const LiveActivityEnvironment& environment = {});

    static QString symbolName(int level);

    struct ViewModel {
        QString symbolName;
        QRectF iconFrame;  // band coordinates, before scale
        double iconScale = 0;
        double iconOpacity = 0;
        QString levelText;
    };
    ViewModel viewModel() const;

    const BatteryInfo& batteryInfo() const { return batteryInfo_; }
    const platform::Animated<double>& iconScale() const { return iconScale_; }
    const platform::Animated<double>& pulseOpacity() const { return pulseOpacity_; }

protected:
    void paintCells(QPainter& painter) const override;
    void didAppear() override;
    void didDismiss() override;
    void didComeOnScreen() override;
    void didLeaveScreen() override;

private:
    void syncInfo();

    BatteryInfo batteryInfo_{10, false, false};
    platform::Animated<double> iconScale_;
    platform::Animated<double> pulseOpacity_;
    platform::AnyCancellable batterySubscription_;
};
