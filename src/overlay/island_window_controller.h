#pragma once

// Puts the published overlay state on screen: grows the overlay panels out of the notch (show),
// moves them to a new size (resize), or takes them away (collapse into the notch and fade, or
// slide up and fade), on the main, current or all screens as the user chose. Visible states that
// arrive while a hide runs are replayed after it; a hidden state that still carries content is
// cleared on the bus shortly after the panels are gone.

#include "core/event_bus.h"
#include "overlay/island_panel.h"
#include "overlay/island_placement.h"
#include "platform/storage/defaults.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"
#include "platform/screens/screens.h"

#include <QPointer>
#include <QSizeF>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

class IslandWindowController {
public:
    // Makes the content of a new panel; the panel owns what it returns.
    using ContentViewFactory = std::function<QWidget*()>;

    enum class Presentation { hidden, overlay };

    // An empty factory hosts a fresh IslandView on this bus, scheduler and defaults. `screens` and
    // `defaults` nullptr use the shared ones at each use.
    explicit IslandWindowController(ContentViewFactory makeContentView = {}, EventBus& bus = EventBus::shared(),
                                    platform::Screens* screens = nullptr,
                                    platform::Scheduler& scheduler = platform::Scheduler::shared(),
                                    platform::Defaults* defaults = nullptr);
    ~IslandWindowController();
    IslandWindowController(const IslandWindowController&) = delete;
    IslandWindowController& operator=(const IslandWindowController&) = delete;

    // Places every window again for the last state handled.
    void windowDidLoad();

    // Ends following the bus and the settings, and every pending step of a show or hide; each
    // panel's IslandView stops too. The windows stay as they are until the process ends.
    void stop();

    IslandPanel* window() const { return window_.get(); }
    // The main window followed by every supplemental panel, by display number.
    std::vector<IslandPanel*> allManagedWindows() const;
    const std::map<uint32_t, std::unique_ptr<IslandPanel>>& supplementalPanels() const { return supplementalPanels_; }

    Presentation activePresentation() const { return activePresentation_; }
    bool isShowAnimating() const { return isShowAnimating_; }
    bool isHideAnimating() const { return isHideAnimating_; }

private:
    enum class HideStyle { slideUp, collapseIntoNotch };
    using WindowAnchor = IslandPlacement::WindowAnchor;
    using Target = std::pair<IslandPanel*, platform::ScreenInfo>;

    std::unique_ptr<IslandPanel> makePanel() const;
    void placeWindows();
    void observeState();
    void handleOverlayState(const OverlayState& state);
    void updateWindowSize(const OverlayState& state);
    void showWindowAnimated(const OverlayState& state, WindowAnchor anchor);
    void hideWindowAnimated(HideStyle style, bool skipStateClearing, std::function<void()> completion);
    void finishHide(const std::vector<QPointer<IslandPanel>>& shown, bool skipStateClearing,
                    const std::function<void()>& completion);
    void flushPendingOverlayQueueIfNeeded();
    // Only the bus is needed, so the delayed clear also runs after the controller is gone.
    static void clearHiddenStateIfNeeded(EventBus& bus);

    QSizeF metricsForPresentation(const OverlayState& state) const;
    std::vector<platform::ScreenInfo> targetScreens() const;
    std::vector<Target> resolvedWindowTargets();
    void synchronizeSupplementalPanels(const std::vector<platform::ScreenInfo>& screens);
    void closeSupplementalPanels();
    QRectF endFrame(const platform::ScreenInfo& screen, const QSizeF& size, WindowAnchor anchor) const;

    platform::Screens& screens() const;
    platform::Defaults& defaults() const;

    platform::CancellableSet cancellables;
    EventBus& bus;
    std::map<uint32_t, std::unique_ptr<IslandPanel>> supplementalPanels_;
    bool isShowAnimating_ = false;
    bool isHideAnimating_ = false;
    std::vector<OverlayState> pendingOverlayQueue;
    OverlayState lastOverlayState;
    Presentation activePresentation_ = Presentation::hidden;

    ContentViewFactory makeContentView_;
    platform::Screens* screensOverride_;
    platform::Scheduler& scheduler_;
    platform::Defaults* defaults_;
    std::unique_ptr<IslandPanel> window_;
    platform::Lifetime lifetime_;
};
