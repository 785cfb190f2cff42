#pragma once

// The activity after a Bluetooth device connects: the device's kind as a symbol left of the notch
// (it pops in with a small upward bounce) and its battery level right of it ("--" until known).

#include "core/system_event_records.h"
#include "live_activities/live_activity_view.h"
#include "platform/animation/animation.h"

#include <QRectF>
#include <QString>

class BluetoothActivityView : public LiveActivityView {
    Q_OBJECT

public:
    static constexpr double iconFontSize = 14;
    static constexpr double levelFontSize = 13;
    static constexpr double percentFontSize = 8;
    static constexpr double levelSpacing = 1;
    static constexpr double recordAnimationDuration = 0.3;
    static constexpr double bounceSettleDelay = 0.15;

    explicit BluetoothActivityView(QWidget* parent = nullptr, const LiveActivityEnvironment& environment = {});

    static QString symbolName(BluetoothDeviceCategory category);

    // What the cells show now.
    struct ViewModel {
        QString symbolName;
        QRectF iconFrame;  // band coordinates, before scale and bounce
        double iconScale = 0;
        double iconBounce = 0;  // points, negative is up
        QString levelText;      // the level, or "--"
        double levelOpacity = 0;
        double percentOpacity = 0;
        // How far a new record has faded in over the one before it (1: only the new one shows).
        double recordFade = 1;
    };
    ViewModel viewModel() const;

    const BluetoothDeviceInfo& deviceInfo() const { return deviceInfo_; }
    const platform::Animated<double>& iconScale() const { return iconScale_; }
    const platform::Animated<double>& iconBounce() const { return iconBounce_; }

protected:
    void paintCells(QPainter& painter) const override;
    void didAppear() override;
    void didDismiss() override;
    void didComeOnScreen() override;
    void didLeaveScreen() override;

private:
    void syncDevice();
    void settleBounce();
    void takeRecord(const BluetoothDeviceInfo& device);
    // The symbol and/or the level of `info` at `opacity`, with the symbol's current scale and bounce.
    void paintRecord(QPainter& painter, const BluetoothDeviceInfo& info, double opacity, bool symbol, bool level) const;
    static ViewModel recordModel(const BluetoothDeviceInfo& info);

    BluetoothDeviceInfo deviceInfo_{QStringLiteral("Device"), BluetoothDeviceCategory::other, std::nullopt};
    platform::Animated<double> iconScale_;
    platform::Animated<double> iconBounce_;
    // A record arriving on screen cross-fades from the one before it.
    BluetoothDeviceInfo previousInfo_;
    platform::Animated<double> recordFade_;
    platform::AnyCancellable deviceSubscription_;
};
