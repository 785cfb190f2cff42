#include "overlay/island_window_controller.h"

#include "core/app_settings.h"
#include "overlay/island_metrics.h"
#include "overlay/island_view.h"
#include "platform/animation/animation.h"
#include "platform/pointer/pointer_monitor.h"

#include <QPointer>

#include <algorithm>
#include <cmath>
#include <set>

using platform::Animation;
using platform::ScreenInfo;

namespace {

const Animation kShow = Animation::timingCurve(0.2, 0.8, 0.25, 1.0, 0.42);
const Animation kResize = Animation::timingCurve(0.16, 1.0, 0.3, 1.0, 0.25);
const Animation kCollapse = Animation::timingCurve(0.25, 0.12, 0.25, 1.0, 0.28);
const Animation kFade = Animation::timingCurve(0.2, 0.8, 0.25, 1.0, 0.17);
const Animation kSlideUp = Animation::timingCurve(0.25, 0.1, 0.25, 1.0, 0.45);

// A frame "stands at" another when all four values are less than half a point apart.
bool standsAt(const QRectF& a, const QRectF& b) {
    constexpr double tolerance = 0.5;
    return std::abs(a.x() - b.x()) < tolerance && std::abs(a.y() - b.y()) < tolerance &&
           std::abs(a.width() - b.width()) < tolerance && std::abs(a.height() - b.height()) < tolerance;
}

}  // namespace

IslandWindowController::IslandWindowController(ContentViewFactory makeContentView, EventBus& bus,
                                               platform::Screens* screens, platform::Scheduler& scheduler,
                                               platform::Defaults* defaults)
    : bus(bus),
      lastOverlayState(bus.overlayStateSubject.value()),
      makeContentView_(std::move(makeContentView)),
      screensOverride_(screens),
      scheduler_(scheduler),
      defaults_(defaults) {
    if (!makeContentView_) {
        makeContentView_ = [this] { return new IslandView(nullptr, this->bus, scheduler_, this->defaults()); };
    }
    window_ = makePanel();
    placeWindows();
    observeState();
}

IslandWindowController::~IslandWindowController() {
    lifetime_.reset();
    closeSupplementalPanels();
}

platform::Screens& IslandWindowController::screens() const {
    return screensOverride_ ? *screensOverride_ : platform::Screens::shared();
}

platform::Defaults& IslandWindowController::defaults() const {
    return defaults_ ? *defaults_ : platform::Defaults::standard();
}

std::unique_ptr<IslandPanel> IslandWindowController::makePanel() const {
    auto panel = std::make_unique<IslandPanel>(QRectF(0, 0, 320, 36), screensOverride_, scheduler_);
    // Every motion is drawn inside the window, which only grows to what the motion covers.
    panel->setStaged(true);
    panel->setContentView(makeContentView_());
    // A panel that was never ordered front shows nothing: without this a new window's full alpha
    // would count it as shown and the first hidden state would play an invisible slide-up, holding
    // back a notification that arrives meanwhile. The show sets alpha 1 itself.
    platform::withoutAnimation([&] { panel->setAlphaValue(0); });
    return panel;
}

void IslandWindowController::windowDidLoad() { placeWindows(); }

void IslandWindowController::stop() {
    cancellables.cancelAll();
    lifetime_.reset();
    pendingOverlayQueue.clear();
    for (IslandPanel* panel : allManagedWindows()) {
        if (auto* view = qobject_cast<IslandView*>(panel->contentView())) view->stop();
    }
}

void IslandWindowController::placeWindows() {
    const QSizeF size = metricsForPresentation(lastOverlayState);
    for (const auto& [window, screen] : resolvedWindowTargets()) {
        platform::withoutAnimation([&] { window->setFrame(endFrame(screen, size, WindowAnchor::belowNotch)); });
    }
}

void IslandWindowController::observeState() {
    std::function<void(const OverlayState&)> onState =
        lifetime_.wrap([this](const OverlayState& state) { handleOverlayState(state); });
    cancellables.insert(bus.overlayStateSubject.receiveOnMain(&scheduler_).sink(onState));
    // Any settings change (style, screen choice, ...) re-sizes and re-places a visible overlay.
    std::function<void(const QString&)> onDefaults =
        lifetime_.wrap([this](const QString&) { updateWindowSize(bus.overlayStateSubject.value()); });
    cancellables.insert(defaults().didChange().receiveOnMain(&scheduler_).sink(onDefaults));
}

void IslandWindowController::handleOverlayState(const OverlayState& state) {
    lastOverlayState = state;
    if (!state.isVisible) {
        if (isHideAnimating_) return;  // a hidden state is never queued
        bool tall = false;
        for (IslandPanel* w : allManagedWindows()) tall = tall || (w->isOrderedIn() && w->frame().height() > 10);
        const HideStyle style = activePresentation_ == Presentation::overlay || tall || isShowAnimating_
                                    ? HideStyle::collapseIntoNotch
                                    : HideStyle::slideUp;
        hideWindowAnimated(style, false, lifetime_.wrap([this] { activePresentation_ = Presentation::hidden; }));
        return;
    }
    if (isHideAnimating_) {
        pendingOverlayQueue.push_back(state);
        return;
    }
    if (!window_) return;
    if (window_->isOrderedIn() && window_->alphaValue() != 0 && activePresentation_ == Presentation::overlay) {
        updateWindowSize(state);
    } else {
        showWindowAnimated(state, WindowAnchor::belowNotch);
    }
    activePresentation_ = Presentation::overlay;
}

void IslandWindowController::updateWindowSize(const OverlayState& state) {
    const QSizeF size = metricsForPresentation(state);
    if (!state.isVisible) return;
    const auto targets = resolvedWindowTargets();
    if (targets.empty()) return;

    std::vector<std::pair<IslandPanel*, QRectF>> remembered;
    bool changed = false;
    for (const auto& [window, screen] : targets) {
        const QRectF end = endFrame(screen, size, WindowAnchor::belowNotch);
        remembered.emplace_back(window, end);
        changed = changed || !standsAt(window->frame(), end);
    }
    if (!changed) return;
    // Windows that are not on screen move but stay hidden.
    platform::withAnimation(
        kResize,
        [&] {
            for (const auto& [window, end] : remembered) window->setFrame(end);
        },
        {}, scheduler_);
}

void IslandWindowController::showWindowAnimated(const OverlayState& state, WindowAnchor anchor) {
    if (isShowAnimating_) return;
    const auto targets = resolvedWindowTargets();
    if (targets.empty()) return;
    const QSizeF size = metricsForPresentation(state);

    std::vector<std::pair<IslandPanel*, QRectF>> remembered;
    std::vector<IslandPanel*> toFront;
    for (const auto& [window, screen] : targets) {
        const QRectF end = endFrame(screen, size, anchor);
        remembered.emplace_back(window, end);
        if (!window->isOrderedIn() || window->alphaValue() == 0) {
            // Grow out of the strip inside the notch.
            const QRectF collapsed = IslandPlacement::collapsedOverlayFrame(screen, end.x(), end.width(), size.height());
            platform::withoutAnimation([&] {
                window->setFrame(collapsed);
                window->setAlphaValue(1);
            });
            toFront.push_back(window);
        } else if (standsAt(window->frame(), end) && std::abs(window->alphaValue() - 1) <= 0.01) {
            // Already in place.
        } else {
            toFront.push_back(window);
        }
    }
    if (toFront.empty()) return;

    isShowAnimating_ = true;
    platform::withAnimation(
        kShow,
        [&] {
            for (const auto& [window, end] : remembered) {
                platform::withoutAnimation([&] { window->setAlphaValue(1); });
                window->setFrame(end);
            }
        },
        lifetime_.wrap([this] { isShowAnimating_ = false; }), scheduler_);
    // Ordered in once the motion has started, so a hidden window takes the room of all of it as it
    // is mapped: one native resize at most (none when the last show's room fits), not a resize to
    // the strip and another as the motion starts, each with its round trips to the window server.
    for (IslandPanel* window : toFront) window->orderFront();
}

void IslandWindowController::hideWindowAnimated(HideStyle style, bool skipStateClearing,
                                                std::function<void()> completion) {
    const auto windows = allManagedWindows();
    if (windows.empty()) {
        if (completion) completion();
        return;
    }
    std::vector<IslandPanel*> shown;
    for (IslandPanel* w : windows) {
        if (w->isOrderedIn() || w->alphaValue() > 0.01) shown.push_back(w);
    }
    if (shown.empty()) {
        if (!skipStateClearing) clearHiddenStateIfNeeded(bus);
        if (completion) completion();
        return;
    }

    std::vector<std::pair<IslandPanel*, std::optional<QRectF>>> targets;
    std::optional<std::vector<ScreenInfo>> fallback;
    for (IslandPanel* w : shown) {
        std::optional<ScreenInfo> screen = w->currentScreen();
        if (!screen) {
            if (!fallback) fallback = targetScreens();
            if (!fallback->empty()) screen = fallback->front();
        }
        std::optional<QRectF> target;
        if (screen) {
            const QRectF frame = w->frame();
            if (style == HideStyle::collapseIntoNotch) {
                target = IslandPlacement::collapsedOverlayFrame(*screen, frame.x(), frame.width(), frame.height());
            } else {
                target = IslandPlacement::slidUpFrame(*screen, frame);
            }
        }
        targets.emplace_back(w, target);
    }

    // A swipe that sent the card away goes on over the place it leaves, not over the desktop.
    for (IslandPanel* w : shown) w->holdInput();
    // Panels may be closed while the hide runs (a supplemental screen going away); track them weakly.
    std::vector<QPointer<IslandPanel>> shownPanels(shown.begin(), shown.end());
    isHideAnimating_ = true;
    auto finish = lifetime_.wrap([this, shownPanels, skipStateClearing, completion] {
        finishHide(shownPanels, skipStateClearing, completion);
    });
    if (style == HideStyle::collapseIntoNotch) {
        auto fade = lifetime_.wrap([this, shownPanels, finish] {
            platform::withAnimation(
                kFade,
                [&] {
                    for (const auto& w : shownPanels) {
                        if (w) w->setAlphaValue(0);
                    }
                },
                finish, scheduler_);
        });
        platform::withAnimation(
            kCollapse,
            [&] {
                for (const auto& [w, target] : targets) {
                    if (target) w->setFrame(*target);
                }
            },
            fade, scheduler_);
    } else {
        platform::withAnimation(
            kSlideUp,
            [&] {
                for (const auto& [w, target] : targets) {
                    if (!target) continue;
                    w->setFrame(*target);
                    w->setAlphaValue(0);
                }
            },
            finish, scheduler_);
    }
}

void IslandWindowController::finishHide(const std::vector<QPointer<IslandPanel>>& shown, bool skipStateClearing,
                                        const std::function<void()>& completion) {
    isHideAnimating_ = false;
    for (const auto& w : shown) {
        if (w) w->orderOut();
    }
    if (completion) completion();
    flushPendingOverlayQueueIfNeeded();
    if (!skipStateClearing) {
        EventBus* target = &bus;
        scheduler_.after(0.1, [target] { clearHiddenStateIfNeeded(*target); });
    }
}

void IslandWindowController::flushPendingOverlayQueueIfNeeded() {
    if (isHideAnimating_ || pendingOverlayQueue.empty()) return;
    const auto states = std::exchange(pendingOverlayQueue, {});
    for (const OverlayState& state : states) handleOverlayState(state);
}

void IslandWindowController::clearHiddenStateIfNeeded(EventBus& bus) {
    OverlayState state = bus.overlayStateSubject.value();
    if (state.isVisible) return;
    if (state.count == 0 && state.mode == IslandMode::peek && !state.message && !state.sourceHint &&
        !state.appIconData) {
        return;
    }
    state.count = 0;
    state.mode = IslandMode::peek;
    state.message.reset();
    state.sourceHint.reset();
    state.appIconData.reset();
    bus.overlayStateSubject.send(state);
}

QSizeF IslandWindowController::metricsForPresentation(const OverlayState& state) const {
    return IslandMetrics::panelSize(state, AppSettings(defaults_).overlayStyle());
}

QRectF IslandWindowController::endFrame(const ScreenInfo& screen, const QSizeF& size, WindowAnchor anchor) const {
    return IslandPlacement::framesForDisplay(screen, size.width(), size.height(), anchor,
                                             bus.notchModeSubject.value())
        .endFrame;
}

std::vector<ScreenInfo> IslandWindowController::targetScreens() const {
    const platform::Screens& provider = screens();
    // Reading the pointer is a round trip to the window server: where a monitor follows it, its
    // last read is as good.
    const auto mouse = [&provider] {
        if (const auto known = platform::PointerMonitor::shared().lastKnownLocation()) return *known;
        return provider.mouseLocation();
    };
    return IslandPlacement::targetScreens(AppSettings(defaults_).notificationDisplayScreen(), provider.screens(), mouse);
}

std::vector<IslandWindowController::Target> IslandWindowController::resolvedWindowTargets() {
    if (!window_) return {};
    const auto screens = targetScreens();
    if (screens.empty()) {
        closeSupplementalPanels();
        return {};
    }
    synchronizeSupplementalPanels(screens);
    std::vector<Target> targets{{window_.get(), screens.front()}};
    for (size_t i = 1; i < screens.size(); ++i) {
        if (!screens[i].displayNumber) continue;
        auto it = supplementalPanels_.find(*screens[i].displayNumber);
        if (it != supplementalPanels_.end()) targets.emplace_back(it->second.get(), screens[i]);
    }
    return targets;
}

void IslandWindowController::synchronizeSupplementalPanels(const std::vector<ScreenInfo>& screens) {
    if (AppSettings(defaults_).notificationDisplayScreen() != NotificationDisplayScreen::all) {
        closeSupplementalPanels();
        return;
    }
    std::set<uint32_t> wanted;
    for (size_t i = 1; i < screens.size(); ++i) {
        if (screens[i].displayNumber) wanted.insert(*screens[i].displayNumber);
    }
    for (auto it = supplementalPanels_.begin(); it != supplementalPanels_.end();) {
        if (wanted.count(it->first)) {
            ++it;
            continue;
        }
        it->second->orderOut();
        it->second->close();
        it = supplementalPanels_.erase(it);
    }
    // New panels are neither placed nor shown here; the show does both.
    for (size_t i = 1; i < screens.size(); ++i) {
        const auto& number = screens[i].displayNumber;
        if (number && !supplementalPanels_.count(*number)) supplementalPanels_.emplace(*number, makePanel());
    }
}

void IslandWindowController::closeSupplementalPanels() {
    for (auto& [number, panel] : supplementalPanels_) {
        panel->orderOut();
        panel->close();
    }
    supplementalPanels_.clear();
}

std::vector<IslandPanel*> IslandWindowController::allManagedWindows() const {
    std::vector<IslandPanel*> windows;
    if (window_) windows.push_back(window_.get());
    for (const auto& [number, panel] : supplementalPanels_) windows.push_back(panel.get());
    return windows;
}
