#include "live_activities/live_activity_animated_shell.h"

#include <memory>
#include <utility>

LiveActivityAnimatedShell::LiveActivityAnimatedShell(bool isReady, platform::PassthroughSubject<> dismissSubject,
                                                     double initialOpacity, double initialScale, bool startHasAppeared,
                                                     std::function<void()> onDidAppear,
                                                     std::function<void()> onDidDismiss,
                                                     platform::Scheduler& scheduler)
    : isReady_(isReady),
      dismissSubject_(std::move(dismissSubject)),
      onDidAppear_(std::move(onDidAppear)),
      onDidDismiss_(std::move(onDidDismiss)),
      initialOpacity_(initialOpacity),
      initialScale_(initialScale),
      startHasAppeared_(startHasAppeared),
      scheduler_(scheduler),
      outerOpacity_(0.0, scheduler),
      outerScale_(hiddenScale, scheduler) {}

void LiveActivityAnimatedShell::appear() {
    platform::withoutAnimation([&] {
        outerOpacity_.set(initialOpacity_);
        outerScale_.set(initialScale_);
    });
    hasAppeared_ = startHasAppeared_;
    exitStarted_ = false;
    maybeAppear();
    dismissCancellable_ = dismissSubject_.sink(std::function<void()>(lifetime_.wrap([this] { playDismiss(); })));
}

void LiveActivityAnimatedShell::disappear() { dismissCancellable_.cancel(); }

void LiveActivityAnimatedShell::maybeAppear() {
    if (!isReady_ || hasAppeared_) return;
    hasAppeared_ = true;
    platform::withoutAnimation([&] {
        outerOpacity_.set(0.0);
        outerScale_.set(hiddenScale);
    });
    scheduler_.after(appearDelay, lifetime_.wrap([this] {
        // An exit that began during the wait wins: the content must not come back before the
        // notch removes it.
        if (exitStarted_) return;
        platform::withAnimation(platform::Animation::spring(0.2, 0.7, 0), [&] { outerOpacity_.set(1.0); }, {},
                                scheduler_);
        platform::withAnimation(platform::Animation::spring(0.4, 0.6, 0.1), [&] { outerScale_.set(1.0); }, {},
                                scheduler_);
        if (onDidAppear_) onDidAppear_();
    }));
}

void LiveActivityAnimatedShell::playDismiss() {
    exitStarted_ = true;
    platform::withAnimation(platform::Animation::spring(0.3, 0.75, 0), [&] { outerScale_.set(hiddenScale); }, {},
                            scheduler_);
    platform::withAnimation(platform::Animation::spring(0.25, 0.85, 0), [&] { outerOpacity_.set(0.0); }, {},
                            scheduler_);
    if (onDidDismiss_) onDidDismiss_();
    scheduler_.after(hasAppearedResetDelay, lifetime_.wrap([this] { hasAppeared_ = false; }));
}

QTransform LiveActivityAnimatedShell::transform(const QRectF& bounds) const {
    const double s = outerScale();
    const double cx = bounds.center().x();
    const double top = bounds.top();
    QTransform t;
    t.translate(cx, top);
    t.scale(s, s);
    t.translate(-cx, -top);
    return t;
}

platform::AnyCancellable LiveActivityAnimatedShell::onChange(const std::function<void()>& listener) const {
    auto opacity = std::make_shared<platform::AnyCancellable>(outerOpacity_.onChange(listener));
    auto scale = std::make_shared<platform::AnyCancellable>(outerScale_.onChange(listener));
    return platform::AnyCancellable([opacity, scale] {
        opacity->cancel();
        scale->cancel();
    });
}
