#include "notch/notch_hover_detector.h"

#include "core/log.h"
#include "platform/screens/screen_geometry.h"

namespace {

bool usesOpenArea(const NotchMode& mode) {
    return mode == NotchMode::expanded || mode == NotchMode::glance || mode == NotchMode::drop ||
           mode == NotchMode::switcher;
}

}  // namespace

NotchHoverDetector& NotchHoverDetector::shared() {
    static NotchHoverDetector* instance = new NotchHoverDetector();
    return *instance;
}

NotchHoverDetector::NotchHoverDetector(EventBus& bus, platform::Scheduler& scheduler, platform::Screens* screens,
                                       platform::Defaults* defaults, platform::PointerMonitor* pointer,
                                       platform::DragPasteboard* pasteboard, platform::HapticFeedbackPerformer* haptics)
    : bus(bus),
      scheduler_(scheduler),
      screens_(screens),
      settings_(defaults),
      pointer_(pointer),
      pasteboard_(pasteboard),
      haptics_(haptics) {}

NotchHoverDetector::~NotchHoverDetector() {
    lifetime_.reset();
    if (globalMonitor) pointer().removeMonitor(*globalMonitor);
    if (localMonitor) pointer().removeMonitor(*localMonitor);
    invalidateHoverTimer();
    invalidateExitTimer();
}

platform::Screens& NotchHoverDetector::screens() const { return screens_ ? *screens_ : platform::Screens::shared(); }
platform::PointerMonitor& NotchHoverDetector::pointer() const {
    return pointer_ ? *pointer_ : platform::PointerMonitor::shared();
}
platform::DragPasteboard& NotchHoverDetector::pasteboard() const {
    return pasteboard_ ? *pasteboard_ : platform::DragPasteboard::shared();
}
platform::HapticFeedbackPerformer& NotchHoverDetector::haptics() const {
    return haptics_ ? *haptics_ : platform::HapticFeedbackPerformer::shared();
}

void NotchHoverDetector::start() {
    stop();
    auto onEvent = lifetime_.wrap([this](const platform::PointerEvent& event) { handleMouseMoved(event); });
    globalMonitor = pointer().addGlobalMonitor(onEvent);
    localMonitor = pointer().addLocalMonitor(onEvent);
    // A drag is recognised from its start on only.
    pasteboard().startWatching();
    Log::shared().info(QStringLiteral("NotchHoverDetector: Started monitoring"));
}

void NotchHoverDetector::stop() {
    if (globalMonitor) pointer().removeMonitor(*globalMonitor);
    if (localMonitor) pointer().removeMonitor(*localMonitor);
    globalMonitor.reset();
    localMonitor.reset();
    invalidateHoverTimer();
    invalidateExitTimer();
    Log::shared().info(QStringLiteral("NotchHoverDetector: Stopped monitoring"));
}

void NotchHoverDetector::invalidateHoverTimer() {
    if (hoverTimer) hoverTimer->cancel();
    hoverTimer.reset();
}

void NotchHoverDetector::invalidateExitTimer() {
    if (exitTimer) exitTimer->cancel();
    exitTimer.reset();
}

std::optional<platform::ScreenInfo> NotchHoverDetector::targetNotchScreen() const {
    const auto list = screens().screens();
    for (const platform::ScreenInfo& screen : list) {
        if (screen.safeAreaTopInset > 0) return screen;
    }
    if (!list.empty()) return list.front();
    return screens().mainScreen();
}

QRectF NotchHoverDetector::openArea() const {
    const auto screen = targetNotchScreen();
    if (!screen) return QRectF();
    const QRectF& f = screen->frame;
    return QRectF(f.center().x() - 310, platform::frameTop(f) - 200, 620, 200);
}

QRectF NotchHoverDetector::compactArea() const {
    const auto screen = targetNotchScreen();
    if (!screen) return QRectF();
    const QRectF& f = screen->frame;
    const double width = notchWidth + 100;
    const double height = 40;
    return QRectF(f.center().x() - width / 2, platform::frameTop(f) - height, width, height);
}

bool NotchHoverDetector::areaContains(const QRectF& area, const QPointF& point) {
    if (area.width() <= 0 || area.height() <= 0) return false;
    return point.x() >= area.left() && point.x() < area.left() + area.width() && point.y() >= area.top() &&
           point.y() < area.top() + area.height();
}

NotchMode NotchHoverDetector::determineCollapseTargetMode() const {
    const auto& nowPlaying = bus.nowPlayingSubject.value();
    if (settings_.showMiniPlayerWhenPlaying() && nowPlaying && nowPlaying->playbackRate > 0) {
        return NotchMode::miniPlayer;
    }
    return NotchMode::idle;
}

void NotchHoverDetector::handleMouseMoved(const platform::PointerEvent& event) {
    const QPointF point = event.location;
    const NotchMode mode = bus.notchModeSubject.value();
    const bool hovering = bus.hoverStateSubject.value();
    if (handleFileDrag(point, mode, hovering, event)) return;

    const bool inside = areaContains(usesOpenArea(mode) ? openArea() : compactArea(), point);
    if (inside && !hovering) {
        handleMouseEntered();
    } else if (!inside && hovering) {
        handleMouseExited();
    } else if (inside && hovering) {
        // Back over the notch before the collapse: the pointer never really left.
        invalidateExitTimer();
    }
}

bool NotchHoverDetector::isFileDragEvent(const platform::PointerEvent& event) {
    const bool dragging =
        event.kind != platform::PointerEventKind::mouseMoved || pointer().pressedMouseButtons() != 0;
    return dragging && pasteboard().canReadFileURLs();
}

bool NotchHoverDetector::handleFileDrag(const QPointF& point, const NotchMode& currentMode, bool isCurrentlyHovering,
                                        const platform::PointerEvent& event) {
    if (!settings_.enableDrop()) return false;
    if (currentMode == NotchMode::notification || currentMode.isLiveActivity()) return false;
    if (!isFileDragEvent(event)) return false;
    if (!areaContains(openArea(), point) && !areaContains(compactArea(), point)) return false;

    invalidateHoverTimer();
    invalidateExitTimer();
    if (!isCurrentlyHovering) bus.hoverStateSubject.send(true);
    if (currentMode == NotchMode::drop) return true;
    bus.notchModeSubject.send(NotchMode::drop);
    Log::shared().info(QStringLiteral("NotchHoverDetector: Opened drop zone for file drag"));
    return true;
}

void NotchHoverDetector::handleMouseEntered() {
    invalidateExitTimer();
    if (bus.hoverStateSubject.value()) return;
    const NotchMode mode = bus.notchModeSubject.value();
    // The pointer over a live activity does not count as hovering.
    if (mode.isLiveActivity()) return;

    haptics().perform(platform::HapticPattern::generic);
    bus.hoverStateSubject.send(true);
    if (mode != NotchMode::notification) {
        invalidateHoverTimer();
        hoverTimer = scheduler_.after(hoverDelay, lifetime_.wrap([this] {
            hoverTimer.reset();
            expandNotch();
        }));
    }
    Log::shared().debug(QStringLiteral("NotchHoverDetector: Mouse entered notch area"));
}

void NotchHoverDetector::handleMouseExited() {
    invalidateHoverTimer();
    invalidateExitTimer();
    exitTimer = scheduler_.after(exitDelay, lifetime_.wrap([this] {
        exitTimer.reset();
        collapseNotch();
    }));
}

void NotchHoverDetector::expandNotch() {
    if (bus.screenLockedSubject.value()) return;
    const NotchMode mode = bus.notchModeSubject.value();
    if (mode == NotchMode::idle || mode == NotchMode::miniPlayer) {
        bus.notchModeSubject.send(NotchMode::expanded);
        Log::shared().info(QStringLiteral("NotchHoverDetector: Expanded notch"));
    }
}

void NotchHoverDetector::collapseNotch() {
    if (bus.screenLockedSubject.value()) return;
    if (bus.hoverStateSubject.value()) bus.hoverStateSubject.send(false);

    const NotchMode mode = bus.notchModeSubject.value();
    const NotchMode target = determineCollapseTargetMode();
    if (mode == NotchMode::expanded) {
        // The mode stays expanded while the panel shrinks, so the expanded view plays its exit.
        EventBus::Completion afterShrink = lifetime_.wrap([this, target] {
            if (bus.notchModeSubject.value() == NotchMode::expanded) bus.notchModeSubject.send(target);
            Log::shared().info(QStringLiteral("NotchHoverDetector: Collapsed notch to ") + target.description() +
                               QStringLiteral(" (after shrink)"));
        });
        bus.notchHideRequestSubject.send(std::optional<EventBus::Completion>(afterShrink));
        return;
    }
    if (mode != target) bus.notchModeSubject.send(target);
    Log::shared().info(QStringLiteral("NotchHoverDetector: Collapsed notch (immediate)"));
}
