#pragma once

// The activity while the screen is locked: a white padlock left of the notch, nothing on the
// right. When the unlock arrives while it is on screen the padlock opens with a short swing; the
// lock service ends the activity 1.5 s later.

#include "live_activities/live_activity_view.h"
#include "platform/animation/animation.h"

#include <QRectF>
#include <QString>

class ScreenLockActivityView : public LiveActivityView {
    Q_OBJECT

public:
    static constexpr double iconFontSize = 14;
    static constexpr double iconFrameWidth = 22;
    static constexpr double iconFrameHeight = 18;
    static constexpr double openIconOffset = 2;
    static constexpr double unlockRotation = -15;

    explicit ScreenLockActivityView(bool isUnlock, QWidget* parent = nullptr,
                                    const LiveActivityEnvironment& environment = {});

    // What the left cell shows now.
    struct ViewModel {
        QString symbolName;
        QRectF iconFrame;  // band coordinates, before scale and rotation (about its centre)
        double iconScale = 0;
        double iconRotation = 0;  // degrees
    };
    ViewModel viewModel() const;

    bool isUnlock() const { return isUnlock_; }
    bool showUnlockIcon() const { return showUnlockIcon_; }
    const platform::Animated<double>& iconScale() const { return iconScale_; }
    const platform::Animated<double>& iconRotation() const { return iconRotation_; }

protected:
    void paintCells(QPainter& painter) const override;
    void didAppear() override;
    void didDismiss() override;
    void didComeOnScreen() override;
    void didLeaveScreen() override;

private:
    void reactToUnlock();

    const bool isUnlock_;
    platform::Animated<double> iconScale_;
    platform::Animated<double> iconRotation_;
    bool showUnlockIcon_ = false;
    platform::AnyCancellable eventSubscription_;
};
