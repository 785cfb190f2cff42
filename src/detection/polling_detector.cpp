#include "detection/polling_detector.h"

#include "core/format.h"
#include "core/image_helper.h"
#include "core/log.h"
#include "core/wall_clock.h"
#include "detection/notification_center_name.h"
#include "detection/popup_content.h"

#include <QImage>
#include <QUuid>

#include <algorithm>

PollingDetector::PollingDetector(EventBus& bus, platform::Scheduler& scheduler, SnapshotSource takeSnapshot,
                                 PopupSource readPopup)
    : bus_(bus), scheduler_(scheduler), takeSnapshot_(std::move(takeSnapshot)), readPopup_(std::move(readPopup)) {
    if (!takeSnapshot_) takeSnapshot_ = [] { return AXTreeSnapshot::take(); };
    if (!readPopup_)
        readPopup_ = [](const platform::AXElement& window) {
            return AXTreeSnapshot::take(AXTreeSnapshot::Sources::shared(), {window});
        };
}

void PollingDetector::start() {
    if (timer_.isValid()) return;
    Log::shared().info(
        QStringLiteral("PollingDetector: Starting polling (interval: %1s)").arg(format::number(pollingInterval_)));
    timer_ = scheduler_.every(pollingInterval_, lifetime_.wrap([this] { poll(); }));
    lastSnapshot_ = takeSnapshot_();
}

void PollingDetector::stop() {
    timer_.invalidate();
    lastSnapshot_.reset();
    bulkIncreaseDetectedAt_.reset();
    Log::shared().info(QStringLiteral("PollingDetector: Stopped"));
}

void PollingDetector::poll() {
    std::optional<AXTreeSnapshot> fresh = takeSnapshot_();
    if (!fresh) return;
    const AXTreeSnapshot& now = *fresh;

    // Measured on the monotonic clock, so a change of the wall clock cannot stretch the window.
    const double t = scheduler_.monotonicSeconds();
    const bool inCooldown = bulkIncreaseDetectedAt_ && t - *bulkIncreaseDetectedAt_ < bulkIncreaseCooldown_;

    bool describe = true;  // step 7's debug line; a decrease or an ignored increase skips it
    if (lastSnapshot_) {
        const AXTreeSnapshot& old = *lastSnapshot_;
        if (now.notificationCount < old.notificationCount) {
            Log::shared().debug(QStringLiteral("PollingDetector: Notification count decreased - ignoring"));
            describe = false;
        } else if (now.notificationCount > old.notificationCount) {
            const int64_t d = now.notificationCount - old.notificationCount;
            if (d >= 4) {
                Log::shared().debug(QStringLiteral("PollingDetector: Ignoring bulk notification increase (%1 "
                                                   "notifications) - likely notification center opened")
                                        .arg(d));
                bulkIncreaseDetectedAt_ = t;
                describe = false;
            } else if (inCooldown) {
                Log::shared().debug(QStringLiteral("PollingDetector: Ignoring notification during cooldown period"));
                describe = false;
            } else {
                emitReading(d == 1 ? SignalConfidence::normal : SignalConfidence::strong, now, old);
            }
        } else if (!inCooldown && now.notificationCount != 0) {
            const bool newMessage = now.message && (!old.message || *old.message != *now.message);
            if (newMessage || now.signature != old.signature) emitReading(SignalConfidence::weak, now, old);
        }
    }

    if (describe && now.message && !now.message->isEmpty()) {
        Log::shared().debug(QStringLiteral("PollingDetector: snapshot count=%1 message=%2 appName=%3")
                                .arg(now.notificationCount)
                                .arg(*now.message, now.appName.value_or(QStringLiteral("unknown"))));
    }
    lastSnapshot_ = std::move(fresh);
}

// The newest window that was not there before, read alone as the observer reads a popup; the
// whole reading when no new window can be told apart (a popup whose text changed in place).
void PollingDetector::emitReading(SignalConfidence confidence, const AXTreeSnapshot& now, const AXTreeSnapshot& old) {
    std::optional<AXTreeSnapshot> popup;
    for (auto window = now.windows.rbegin(); window != now.windows.rend() && !popup; ++window) {
        if (std::find(old.windows.begin(), old.windows.end(), *window) != old.windows.end()) continue;
        popup = readPopup_(*window);
        if (popup && popup->texts.isEmpty()) popup.reset();
    }
    const AXTreeSnapshot& reading = popup ? *popup : now;
    const PopupContent content =
        reading.texts.isEmpty() ? PopupContent{reading.message, reading.appName} : PopupContent::of(reading);
    emitSignal(confidence, content.appName, content.message, reading.appIconData, reading.bundleId);
}

void PollingDetector::emitSignal(SignalConfidence confidence, const std::optional<QString>& appName,
                                 const std::optional<QString>& message, std::optional<QByteArray> appIconData,
                                 const std::optional<QString>& bundleId) {
    if (appName && namesNotificationCenter(*appName)) {
        Log::shared().debug(QStringLiteral("PollingDetector: Ignoring notification from Notification Center"));
        return;
    }

    if (appIconData) {
        // Bytes that do not decode as an image are passed on as they came.
        const QImage image = QImage::fromData(*appIconData);
        if (!image.isNull()) appIconData = ImageHelper::pngData(image);
    } else {
        appIconData = ImageHelper::appIconPNGData(appName, bundleId);
    }

    Log::shared().debug(
        QStringLiteral("PollingDetector: Emitting signal for '%1' with icon: %2")
            .arg(appName.value_or(QStringLiteral("unknown")), format::boolean(appIconData.has_value())));
    bus_.signalSubject.send(NotificationSignal{QUuid::createUuid(), wallClockNow(scheduler_), confidence, appName,
                                               message, appIconData, bundleId, false});
}
