#pragma once

// The one panel at the notch in which the notch's content is drawn. It is always 620 points wide
// and hangs from the top edge of the screen with the notch; only its height follows the notch
// mode: shown at once for the mini player and the expanded player, grown out of the notch for a
// live activity, the glance, the drop zone and the switcher, shrunk back into the notch and hidden
// for idle and notifications. A hide request while the expanded player shows hands the exit to
// the expanded view first and hides the panel only when the view answers.
//
// Hosting it:
//   auto controller = std::make_unique<NotchWindowController>();
//   controller->windowDidLoad();        // placed at the notch, still hidden
//   ...
//   controller->window()->close();      // when the notch features stop; then drop the controller

#include "core/event_bus.h"
#include "overlay/island_panel.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"
#include "platform/screens/screens.h"

#include <QRectF>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class NotchWindowController {
public:
    // Makes the panel's content; the panel owns what it returns.
    using ContentViewFactory = std::function<QWidget*()>;
    // Asks the expanded view to play its exit and calls `done` once it answers that request;
    // cancelling the result drops the wait.
    using ExpandedDismissRequester = std::function<platform::AnyCancellable(std::function<void()> done)>;

    static constexpr double fixedWindowWidth = 620;
    static constexpr double glanceHeight = 200;
    static constexpr double dropHeight = 180;
    static constexpr double switcherHeight = 160;
    // What the expanded surface adds below the notch band, and its least height.
    static constexpr double expandedSurfaceExtra = 143;
    static constexpr double minimumExpandedHeight = 175;
    static constexpr double parkedHeight = 2;

    // An empty factory gives a transparent placeholder; an empty requester sends the request on
    // expandedDismissSubject and takes the next expandedDismissCompleteSubject as the answer.
    // `screens` nullptr uses the shared provider at each use.
    explicit NotchWindowController(ContentViewFactory makeContentView = {}, EventBus& bus = EventBus::shared(),
                                   platform::Screens* screens = nullptr,
                                   platform::Scheduler& scheduler = platform::Scheduler::shared(),
                                   ExpandedDismissRequester requestExpandedDismiss = {});
    ~NotchWindowController();
    NotchWindowController(const NotchWindowController&) = delete;
    NotchWindowController& operator=(const NotchWindowController&) = delete;

    void windowDidLoad();
    // The notch frame for `height` on the target screen (else the main screen), without
    // animation and without changing visibility or alpha; nothing without a screen.
    void positionAtNotch(double height);
    IslandPanel* window() const { return window_.get(); }

    const double miniPlayerHeight = 32;
    const double liveActivityHeight = 32;
    // The expanded surface's height: base band + 143, never less than 175, so a taller notch
    // band is not clipped.
    double expandedHeight() const;

    bool isShrinking() const { return isShrinking_; }
    uint64_t shrinkGeneration() const { return shrinkGeneration_; }

    // Frame of a panel of `height` hanging from the top edge of `screen`, centred on it.
    static QRectF notchFrame(const platform::ScreenInfo& screen, double height);
    // The first screen with a camera notch, else the first screen, else the main screen.
    std::optional<platform::ScreenInfo> targetNotchScreen() const;

private:
    void observeState();
    void handleModeChange(const NotchMode& mode, bool isOverlayVisible);
    void showWindowImmediately(double height);
    enum class Growth { standard, liveActivity };
    void expandFromNotch(double height, Growth growth);
    void shrinkWindowAnimated(std::optional<EventBus::Completion> completion);
    void finishShrink(const std::optional<EventBus::Completion>& completion);
    void cancelShrinkAnimation();
    // Target, else the panel's own screen, else the main screen.
    std::optional<platform::ScreenInfo> placementScreen() const;
    bool isPanelShown() const;

    platform::Screens& screens() const;

    platform::CancellableSet cancellables;
    EventBus& bus;
    bool isShrinking_ = false;
    uint64_t shrinkGeneration_ = 0;
    platform::AnyCancellable dismissCompleteCancellable;

    // The last mode and overlay visibility handled, to tell a re-run caused only by the overlay.
    std::optional<NotchMode> lastMode_;
    std::optional<bool> lastOverlayVisible_;

    platform::Screens* screensOverride_;
    platform::Scheduler& scheduler_;
    ExpandedDismissRequester requestExpandedDismiss_;
    std::unique_ptr<IslandPanel> window_;
    platform::Lifetime lifetime_;
};
