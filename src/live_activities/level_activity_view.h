#pragma once

// The shared shape of the volume and brightness activities: a symbol left of the notch that grows
// in with the entrance, and a level bar right of it whose fill follows each new record with a
// short ease.

#include "live_activities/level_bar.h"
#include "live_activities/live_activity_view.h"
#include "platform/animation/animation.h"

#include <QColor>
#include <QRectF>
#include <QString>

class LevelActivityView : public LiveActivityView {
    Q_OBJECT

public:
    static constexpr double iconFontSize = 14;
    static constexpr double barWidth = 30;
    static constexpr double barHeight = 4;
    static constexpr double levelAnimationDuration = 0.3;

    struct ViewModel {
        QString symbolName;
        QColor symbolColor;
        double iconScale = 0;
        LevelBar bar;
        QRectF barFrame;  // band coordinates, centred in the right cell
    };
    ViewModel viewModel() const;

    const platform::Animated<double>& iconScale() const { return iconScale_; }
    const platform::Animated<double>& barLevel() const { return barLevel_; }

protected:
    LevelActivityView(const LiveActivityEnvironment& environment, QWidget* parent);

    virtual QString symbolName() const = 0;
    virtual QColor symbolColor() const = 0;
    virtual QColor barColor() const = 0;
    // The fill the shown record asks for.
    virtual double targetLevel() const = 0;
    // Brings the shown record to the subject's current value, then follows the subject (nil values
    // dropped) until the view leaves the screen.
    virtual platform::AnyCancellable followRecords() = 0;

    // Stores a record through `store`, jumping (on screen arrival) or easing (each new record).
    void takeRecord(const std::function<void()>& store, bool animated);

    void paintCells(QPainter& painter) const override;
    void didAppear() override;
    void didDismiss() override;
    void didComeOnScreen() override;
    void didLeaveScreen() override;

private:
    platform::Animated<double> iconScale_;
    platform::Animated<double> barLevel_;
    platform::AnyCancellable recordSubscription_;
};
