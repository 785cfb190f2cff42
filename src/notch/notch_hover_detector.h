#pragma once

// Turns the pointer into notch modes: opens the expanded player after a short dwell over the
// notch, closes it again shortly after the pointer leaves, and opens the drop zone while a file
// is dragged over the notch. Writes the hover flag and the notch mode on the bus and asks the
// notch window to shrink before it leaves the expanded mode. Has no window of its own.

#include "core/app_settings.h"
#include "core/event_bus.h"
#include "platform/pointer/drag_pasteboard.h"
#include "platform/pointer/haptic_feedback.h"
#include "platform/pointer/pointer_monitor.h"
#include "platform/runtime/dispatch.h"
#include "platform/screens/screens.h"

#include <QRectF>

#include <optional>

class NotchHoverDetector {
public:
    static NotchHoverDetector& shared();

    static constexpr double hoverDelay = 0.15;
    static constexpr double exitDelay = 0.2;

    // Platform ports nullptr use the shared ones at each use.
    explicit NotchHoverDetector(EventBus& bus = EventBus::shared(),
                                platform::Scheduler& scheduler = platform::Scheduler::shared(),
                                platform::Screens* screens = nullptr, platform::Defaults* defaults = nullptr,
                                platform::PointerMonitor* pointer = nullptr,
                                platform::DragPasteboard* pasteboard = nullptr,
                                platform::HapticFeedbackPerformer* haptics = nullptr);
    ~NotchHoverDetector();
    NotchHoverDetector(const NotchHoverDetector&) = delete;
    NotchHoverDetector& operator=(const NotchHoverDetector&) = delete;

    // Replaces any monitors installed before.
    void start();
    // Safe when nothing is installed.
    void stop();
    bool isMonitoring() const { return globalMonitor.has_value() || localMonitor.has_value(); }

    const double notchWidth = 200;

    // Where the pointer counts as over the notch, on the target screen; empty without a screen.
    // The open area serves the expanded, glance, drop and switcher modes, the compact one the rest.
    QRectF openArea() const;
    QRectF compactArea() const;
    // The edges at the minimum belong to an area, those at the maximum do not.
    static bool areaContains(const QRectF& area, const QPointF& point);
    NotchMode determineCollapseTargetMode() const;
    bool hasPendingHover() const { return hoverTimer && hoverTimer->isPending(); }
    bool hasPendingExit() const { return exitTimer && exitTimer->isPending(); }

private:
    void handleMouseMoved(const platform::PointerEvent& event);
    bool handleFileDrag(const QPointF& point, const NotchMode& currentMode, bool isCurrentlyHovering,
                        const platform::PointerEvent& event);
    void handleMouseEntered();
    void handleMouseExited();
    void expandNotch();
    void collapseNotch();
    bool isFileDragEvent(const platform::PointerEvent& event);
    std::optional<platform::ScreenInfo> targetNotchScreen() const;
    void invalidateHoverTimer();
    void invalidateExitTimer();

    platform::Screens& screens() const;
    platform::PointerMonitor& pointer() const;
    platform::DragPasteboard& pasteboard() const;
    platform::HapticFeedbackPerformer& haptics() const;

    std::optional<platform::PointerMonitor::Token> globalMonitor;
    std::optional<platform::PointerMonitor::Token> localMonitor;
    std::optional<platform::WorkItem> hoverTimer;
    std::optional<platform::WorkItem> exitTimer;
    EventBus& bus;

    platform::Scheduler& scheduler_;
    platform::Screens* screens_;
    AppSettings settings_;
    platform::PointerMonitor* pointer_;
    platform::DragPasteboard* pasteboard_;
    platform::HapticFeedbackPerformer* haptics_;
    platform::Lifetime lifetime_;
};
