#include "overlay/island_queue.h"

#include "core/app_settings.h"
#include "core/format.h"
#include "core/log.h"
#include "core/wall_clock.h"

#include <algorithm>

IslandQueue::IslandQueue(EventBus& bus, platform::Scheduler& scheduler, platform::Defaults* defaults)
    : bus(bus), scheduler_(scheduler), defaults_(defaults) {
    // Handlers run on the sender's thread; the cancellables end both with the queue.
    std::function<void(const NotificationSignal&)> signalHandler =
        lifetime_.wrap([this](const NotificationSignal& s) { onSignal(s); });
    std::function<void()> dismissHandler = lifetime_.wrap([this] { dismiss(); });
    cancellables.insert(bus.signalSubject.sink(signalHandler));
    cancellables.insert(bus.overlayDismissSubject.sink(dismissHandler));
}

QDateTime IslandQueue::now() const { return wallClockNow(scheduler_); }

double IslandQueue::displayDelay() const {
    platform::Defaults& d = defaults_ ? *defaults_ : platform::Defaults::standard();
    const double t = d.doubleValue(AppSettings::displayTimeoutKey).value_or(0.0);
    const double delay = t > 0 ? t : AppSettings::defaultDisplayTimeout;
    return std::clamp(delay, AppSettings::minDisplayTimeout, AppSettings::maxDisplayTimeout);
}

void IslandQueue::onSignal(const NotificationSignal& signal) {
    Log::shared().info(QStringLiteral("IslandQueue: Received signal - app: '") +
                       signal.sourceHint.value_or(QStringLiteral("unknown")) + QStringLiteral("', message: '") +
                       signal.message.value_or(QStringLiteral("no message")) + QStringLiteral("', confidence: ") +
                       caseName(signal.confidence) + QStringLiteral(", hasIcon: ") +
                       format::boolean(signal.appIconData.has_value()));
    pendingCount += 1;

    const QDateTime current = now();
    const bool expand = !lastEmit || lastEmit->msecsTo(current) / 1000.0 > debounceWindow;
    if (expand) {
        lastEmit = current;
        Log::shared().debug(QStringLiteral("IslandQueue: Expanding island"));
    } else {
        // lastEmit stays: the window counts from the last expand, not from the last signal.
        Log::shared().debug(QStringLiteral("IslandQueue: Stacking notification"));
    }
    emitState(expand, signal.message, signal.sourceHint, signal.appIconData, signal.bundleId);
    scheduleAutoHide();
}

void IslandQueue::emitState(bool expand, const std::optional<QString>& message,
                            const std::optional<QString>& sourceHint, const std::optional<QByteArray>& appIconData,
                            const std::optional<QString>& bundleId) {
    OverlayState state = bus.overlayStateSubject.value();
    if (!state.isVisible) {
        state.count = 0;
        state.mode = IslandMode::peek;
        state.message.reset();
        state.sourceHint.reset();
        state.appIconData.reset();
        state.bundleId.reset();
    }
    state.isVisible = true;
    if (expand) {
        state.mode = IslandMode::expanded;
    } else if (state.count >= 2) {
        state.mode = IslandMode::stacked;
    }
    state.count = static_cast<int>(std::max<int64_t>(pendingCount, int64_t{state.count} + 1));

    auto nonEmpty = [](const std::optional<QString>& text) { return text && !text->isEmpty(); };
    if (nonEmpty(message)) state.message = message;
    if (nonEmpty(sourceHint)) state.sourceHint = sourceHint;
    if (appIconData) state.appIconData = appIconData;
    if (nonEmpty(bundleId)) state.bundleId = bundleId;
    state.lastUpdated = now();

    Log::shared().debug(QStringLiteral("IslandQueue: Emitting state - visible: true, count: ") +
                        QString::number(state.count) + QStringLiteral(", mode: ") + caseName(state.mode) +
                        QStringLiteral(", app: '") + state.sourceHint.value_or(QStringLiteral("none")) +
                        QStringLiteral("', hasIcon: ") + format::boolean(state.appIconData.has_value()));
    bus.overlayStateSubject.send(state);
}

void IslandQueue::scheduleAutoHide() { armAutoHide(displayDelay()); }

void IslandQueue::armAutoHide(double delay) {
    if (autoHideTask) autoHideTask->cancel();
    // Refers to the queue weakly: after the queue is gone the item runs and does nothing.
    autoHideTask = scheduler_.after(delay, lifetime_.wrap([this] { autoHideFired(); }));
}

void IslandQueue::autoHideFired() {
    OverlayState state = bus.overlayStateSubject.value();
    const double elapsed = state.lastUpdated.msecsTo(now()) / 1000.0;
    const double delay = displayDelay();
    if (elapsed < delay - 0.01) {
        // The timeout was raised while this item was armed: wait out the rest of the new time
        // instead of leaving the overlay up until the next notification.
        armAutoHide(delay - elapsed);
        return;
    }
    state.isVisible = false;
    state.lastUpdated = now();
    bus.overlayStateSubject.send(state);
    pendingCount = 0;
}

void IslandQueue::stop() {
    cancellables.cancelAll();
    if (autoHideTask) autoHideTask->cancel();
    lifetime_.reset();
}

void IslandQueue::dismiss() {
    if (autoHideTask) autoHideTask->cancel();
    OverlayState state = bus.overlayStateSubject.value();
    state.isVisible = false;
    state.lastUpdated = now();
    bus.overlayStateSubject.send(state);
    pendingCount = 0;
}
