#include "notch/notch_window_controller.h"

#include "core/notch_info.h"
#include "platform/animation/animation.h"
#include "platform/screens/screen_geometry.h"

#include <algorithm>

using platform::Animation;
using platform::ScreenInfo;

namespace {

// A second control point above 1 overshoots the end height briefly before settling.
const platform::TimingCurve kExpandCurve{0.05, 0.95, 0.2, 1.2};
const platform::TimingCurve kLiveActivityCurve{0.05, 0.95, 0.2, 1.1};
const Animation kExpandFromHidden = Animation::timingCurve(kExpandCurve, 0.85);
const Animation kExpandFromVisible = Animation::timingCurve(kExpandCurve, 0.7);
const Animation kLiveActivityFromHidden = Animation::timingCurve(kLiveActivityCurve, 0.55);
const Animation kLiveActivityFromVisible = Animation::timingCurve(kLiveActivityCurve, 0.4);
const Animation kShrink = Animation::timingCurve(0.25, 0.1, 0.25, 1.0, 0.35);

void callCompletion(const std::optional<EventBus::Completion>& completion) {
    if (completion && *completion) (*completion)();
}

}  // namespace

NotchWindowController::NotchWindowController(ContentViewFactory makeContentView, EventBus& bus,
                                             platform::Screens* screens, platform::Scheduler& scheduler,
                                             ExpandedDismissRequester requestExpandedDismiss)
    : bus(bus),
      screensOverride_(screens),
      scheduler_(scheduler),
      requestExpandedDismiss_(std::move(requestExpandedDismiss)) {
    if (!requestExpandedDismiss_) {
        requestExpandedDismiss_ = [this](std::function<void()> done) {
            auto wait = this->bus.expandedDismissCompleteSubject.first().receiveOnMain(&scheduler_).sink(
                [done = std::move(done)] { done(); });
            this->bus.expandedDismissSubject.send();
            return wait;
        };
    }
    window_ = std::make_unique<IslandPanel>(QRectF(0, 0, fixedWindowWidth, miniPlayerHeight), screensOverride_,
                                            scheduler_);
    // One below the overlay panels, so a notification's overlay stays above the notch.
    window_->setLevel(IslandPanel::screenSaverLevel - 1);
    QWidget* content = makeContentView ? makeContentView() : nullptr;
    if (!content) {
        content = new QWidget;
        content->setAttribute(Qt::WA_TranslucentBackground);
    }
    window_->setContentView(content);
    positionAtNotch(miniPlayerHeight);
    observeState();
}

NotchWindowController::~NotchWindowController() {
    lifetime_.reset();
    cancellables.cancelAll();
    dismissCompleteCancellable.cancel();
}

platform::Screens& NotchWindowController::screens() const {
    return screensOverride_ ? *screensOverride_ : platform::Screens::shared();
}

void NotchWindowController::windowDidLoad() { positionAtNotch(miniPlayerHeight); }

QRectF NotchWindowController::notchFrame(const ScreenInfo& screen, double height) {
    const QRectF& f = screen.frame;
    return QRectF(f.center().x() - fixedWindowWidth / 2, platform::frameTop(f) - height, fixedWindowWidth, height);
}

std::optional<ScreenInfo> NotchWindowController::targetNotchScreen() const {
    const auto list = screens().screens();
    for (const ScreenInfo& screen : list) {
        if (screen.safeAreaTopInset > 0) return screen;
    }
    if (!list.empty()) return list.front();
    return screens().mainScreen();
}

std::optional<ScreenInfo> NotchWindowController::placementScreen() const {
    if (auto screen = targetNotchScreen()) return screen;
    if (window_) {
        if (auto own = window_->currentScreen()) return own;
    }
    return screens().mainScreen();
}

double NotchWindowController::expandedHeight() const {
    // The expanded surface measures its band on the first screen of the list, as it draws it.
    const auto list = screens().screens();
    const std::optional<ScreenInfo> screen = list.empty() ? screens().mainScreen() : std::optional(list.front());
    double base = miniPlayerHeight;
    if (screen) {
        const NotchInfo info = NotchInfo::detect(*screen);
        if (info.hasSafeArea) base = std::max(info.height, miniPlayerHeight);
    }
    return std::max(minimumExpandedHeight, base + expandedSurfaceExtra);
}

void NotchWindowController::positionAtNotch(double height) {
    if (!window_) return;
    const auto screen = targetNotchScreen();
    if (!screen) return;
    platform::withoutAnimation([&] { window_->setFrame(notchFrame(*screen, height)); });
}

bool NotchWindowController::isPanelShown() const {
    return window_ && window_->isOrderedIn() && window_->alphaValue() != 0;
}

void NotchWindowController::observeState() {
    auto overlayVisible = bus.overlayStateSubject.map([](const OverlayState& state) { return state.isVisible; })
                              .removeDuplicates();
    cancellables.insert(platform::combineLatest(bus.notchModeSubject, overlayVisible)
                            .receiveOnMain(&scheduler_)
                            .sink(lifetime_.wrap([this](const std::tuple<NotchMode, bool>& latest) {
                                handleModeChange(std::get<0>(latest), std::get<1>(latest));
                            })));
    cancellables.insert(bus.notchHideRequestSubject.receiveOnMain(&scheduler_).sink(
        lifetime_.wrap([this](const std::optional<EventBus::Completion>& completion) {
            shrinkWindowAnimated(completion);
        })));
}

void NotchWindowController::handleModeChange(const NotchMode& mode, bool isOverlayVisible) {
    const bool overlayOnly = lastMode_ && *lastMode_ == mode && lastOverlayVisible_ && *lastOverlayVisible_ != isOverlayVisible;
    lastMode_ = mode;
    lastOverlayVisible_ = isOverlayVisible;
    // The overlay coming or going changes nothing in the notch: re-running the mode's show here
    // would cancel the expanded surface's exit and leave an emptied panel standing open.
    if (overlayOnly && isShrinking_) return;

    switch (mode.kind()) {
        case NotchMode::Kind::liveActivity:
            expandFromNotch(liveActivityHeight, Growth::liveActivity);
            break;
        case NotchMode::Kind::idle:
        case NotchMode::Kind::notification:
            shrinkWindowAnimated(std::nullopt);
            break;
        case NotchMode::Kind::miniPlayer:
            showWindowImmediately(miniPlayerHeight);
            break;
        case NotchMode::Kind::expanded:
            showWindowImmediately(expandedHeight());
            break;
        case NotchMode::Kind::glance:
            expandFromNotch(glanceHeight, Growth::standard);
            break;
        case NotchMode::Kind::drop:
            expandFromNotch(dropHeight, Growth::standard);
            break;
        case NotchMode::Kind::switcher:
            expandFromNotch(switcherHeight, Growth::standard);
            break;
    }
}

void NotchWindowController::showWindowImmediately(double height) {
    cancelShrinkAnimation();
    const auto screen = placementScreen();
    if (!screen || !window_) return;
    platform::withoutAnimation([&] {
        window_->setAlphaValue(1);
        window_->setFrame(notchFrame(*screen, height));
    });
    window_->orderFront();
}

void NotchWindowController::expandFromNotch(double height, Growth growth) {
    cancelShrinkAnimation();
    const auto screen = placementScreen();
    if (!screen || !window_) return;
    const QRectF end = notchFrame(*screen, height);
    const bool fromVisible = isPanelShown();
    const Animation& animation = growth == Growth::liveActivity
                                     ? (fromVisible ? kLiveActivityFromVisible : kLiveActivityFromHidden)
                                     : (fromVisible ? kExpandFromVisible : kExpandFromHidden);
    platform::withoutAnimation([&] {
        window_->setAlphaValue(1);
        // Out of the notch: from the mini-player strip.
        if (!fromVisible) window_->setFrame(notchFrame(*screen, miniPlayerHeight));
    });
    window_->orderFront();
    platform::withAnimation(animation, [&] { window_->setFrame(end); }, {}, scheduler_);
}

void NotchWindowController::shrinkWindowAnimated(std::optional<EventBus::Completion> completion) {
    if (!window_ || !isPanelShown() || isShrinking_) {
        // A running shrink is not restarted; its own completion stays pending.
        callCompletion(completion);
        return;
    }
    const NotchMode mode = bus.notchModeSubject.value();
    isShrinking_ = true;

    if (mode == NotchMode::expanded) {
        // The expanded view shrinks its content inside the open panel; the panel goes when it answers.
        dismissCompleteCancellable = requestExpandedDismiss_(lifetime_.wrap([this, completion] {
            dismissCompleteCancellable.cancel();
            finishShrink(completion);
        }));
        return;
    }

    const auto screen = placementScreen();
    if (!screen) {
        finishShrink(completion);
        return;
    }
    const uint64_t generation = shrinkGeneration_;
    platform::withAnimation(
        kShrink, [&] { window_->setFrame(notchFrame(*screen, miniPlayerHeight)); },
        lifetime_.wrap([this, generation, completion] {
            // A shrink cancelled meanwhile neither hides the panel nor calls its completion.
            if (generation == shrinkGeneration_) finishShrink(completion);
        }),
        scheduler_);
}

void NotchWindowController::finishShrink(const std::optional<EventBus::Completion>& completion) {
    if (window_) {
        window_->orderOut();
        platform::withoutAnimation([&] { window_->setAlphaValue(0); });
        positionAtNotch(parkedHeight);
    }
    isShrinking_ = false;
    callCompletion(completion);
}

void NotchWindowController::cancelShrinkAnimation() {
    if (!isShrinking_) return;
    ++shrinkGeneration_;
    dismissCompleteCancellable.cancel();
    isShrinking_ = false;
    const auto screen = targetNotchScreen();
    if (!screen || !window_) return;
    // Stops the running frame animation where the shrink was heading.
    platform::withoutAnimation([&] { window_->setFrame(notchFrame(*screen, miniPlayerHeight)); });
    window_->orderOut();
    platform::withoutAnimation([&] { window_->setAlphaValue(0); });
}
