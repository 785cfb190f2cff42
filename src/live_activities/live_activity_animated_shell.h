#pragma once

// The entrance and exit every activity view plays around its content: after a short wait the
// content fades in and grows from 65 % to full size from its top edge; on the dismiss signal it
// shrinks back and fades out. The shell only scales, fades and times; the view draws.
//
// Every delayed step belongs to the shell: once the shell (and so its view) is gone, nothing
// that was scheduled runs.

#include "platform/animation/animation.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <QRectF>
#include <QTransform>

#include <functional>

class LiveActivityAnimatedShell {
public:
    static constexpr double appearDelay = 0.2;
    static constexpr double hiddenScale = 0.65;
    static constexpr double hasAppearedResetDelay = 0.6;

    LiveActivityAnimatedShell(bool isReady, platform::PassthroughSubject<> dismissSubject, double initialOpacity,
                              double initialScale, bool startHasAppeared, std::function<void()> onDidAppear,
                              std::function<void()> onDidDismiss,
                              platform::Scheduler& scheduler = platform::Scheduler::shared());
    LiveActivityAnimatedShell(const LiveActivityAnimatedShell&) = delete;
    LiveActivityAnimatedShell& operator=(const LiveActivityAnimatedShell&) = delete;

    // The view came on screen / left it.
    void appear();
    void disappear();

    double outerOpacity() const { return outerOpacity_.value(); }
    double outerScale() const { return outerScale_.value(); }
    const platform::Animated<double>& animatedOpacity() const { return outerOpacity_; }
    const platform::Animated<double>& animatedScale() const { return outerScale_; }
    bool hasAppeared() const { return hasAppeared_; }
    bool isListeningForDismiss() const { return dismissCancellable_.isActive(); }

    // The content's scale, anchored at the top centre of `bounds`.
    QTransform transform(const QRectF& bounds) const;
    // Called whenever the opacity or the scale changes (to redraw).
    [[nodiscard]] platform::AnyCancellable onChange(const std::function<void()>& listener) const;

private:
    void maybeAppear();
    void playDismiss();

    bool isReady_;
    platform::PassthroughSubject<> dismissSubject_;
    std::function<void()> onDidAppear_;
    std::function<void()> onDidDismiss_;
    double initialOpacity_;
    double initialScale_;
    bool startHasAppeared_;
    platform::Scheduler& scheduler_;

    platform::Animated<double> outerOpacity_;
    platform::Animated<double> outerScale_;
    bool hasAppeared_ = false;
    // Set once the exit has started in this appearance: a pending entrance then stays away.
    bool exitStarted_ = false;
    platform::AnyCancellable dismissCancellable_;
    platform::Lifetime lifetime_;
};
