#pragma once

// Display and keyboard brightness, polled every 0.3 s (the backlights send no notices). Each
// change above 0.02 goes out on the service's subject; the first change of a burst asks for the
// activity, and when the level moved on meanwhile the settled level asks once more. Without a
// device every reading is 0, so after one such poll the service waits for a device to come
// instead of polling; polls resume on their 0.3 s grid.

#include "core/event_bus.h"
#include "platform/brightness/backlight.h"
#include "platform/brightness/backlight_watch.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/grid_timer.h"

#include <QString>

#include <optional>

class BrightnessService {
public:
    static constexpr double pollInterval = 0.3;
    static constexpr double settleDelay = 0.5;
    static constexpr float publishThreshold = 0.02f;
    static constexpr float reportThreshold = 0.01f;

    virtual ~BrightnessService() = default;
    BrightnessService(const BrightnessService&) = delete;
    BrightnessService& operator=(const BrightnessService&) = delete;

    void start();
    // No guard: runs its steps and logs at every call.
    void stop();

    bool isRunning() const { return isRunning_; }
    float lastBrightness() const { return lastBrightness_; }
    float lastReportedBrightness() const { return lastReportedBrightness_; }
    bool isActivityShowing() const { return isActivityShowing_; }
    // Running and polling (not waiting for a device).
    bool isPolling() const { return pollTimer_.isTicking(); }

    // Near the ends a backlight rarely reads exactly 0 or 1.
    static float snap(float level);

protected:
    BrightnessService(EventBus& bus, platform::Scheduler& scheduler, const platform::Backlights& backlights,
                      platform::BacklightWatch& watch,
                      const platform::CurrentValueSubject<std::optional<BrightnessInfo>>& subject, LiveActivityType event,
                      QString name);

    // Whether start may run; logs why not.
    virtual bool canStart() { return true; }
    // One snapped reading; absent when the device could not be read.
    virtual std::optional<float> currentLevel() = 0;
    // Whether the last reading found the device; without one later readings cannot change.
    virtual bool hadDevice() const { return true; }

    EventBus& bus;
    const platform::Backlights& backlights_;

private:
    void poll();
    void readAndPublish();
    void waitForDeviceIfNone();
    void settle();
    QString line(const char* text, float level) const;

    platform::Scheduler& scheduler_;
    const platform::CurrentValueSubject<std::optional<BrightnessInfo>>& subject_;
    const LiveActivityType event_;
    const QString name_;
    bool isRunning_ = false;
    platform::BacklightWatch& watch_;
    platform::GridTimer pollTimer_;
    platform::AnyCancellable deviceWatch_;
    float lastBrightness_ = -1.0f;
    float lastReportedBrightness_ = -1.0f;
    // A start whose reading failed: the first good poll sets the base instead of publishing.
    bool needsBase_ = false;
    std::optional<platform::WorkItem> activityDebounceWorkItem_;
    bool isActivityShowing_ = false;
    platform::Lifetime lifetime_;
};

// The display's backlight, looked up once at creation; without one the service never starts.
class DisplayBrightnessService final : public BrightnessService {
public:
    static DisplayBrightnessService& shared();
    explicit DisplayBrightnessService(EventBus& bus = EventBus::shared(),
                                      platform::Scheduler& scheduler = platform::Scheduler::shared(),
                                      const platform::Backlights& backlights = platform::Backlights::shared(),
                                      platform::BacklightWatch& watch = platform::BacklightWatch::shared());

    bool isAvailable() const { return devicePath_.has_value(); }

protected:
    bool canStart() override;
    std::optional<float> currentLevel() override;

private:
    std::optional<QString> devicePath_;
};

// The keyboard's backlight, looked up at every read: keyboards come and go. None reads as 0.
class KeyboardBrightnessService final : public BrightnessService {
public:
    static KeyboardBrightnessService& shared();
    explicit KeyboardBrightnessService(EventBus& bus = EventBus::shared(),
                                       platform::Scheduler& scheduler = platform::Scheduler::shared(),
                                       const platform::Backlights& backlights = platform::Backlights::shared(),
                                       platform::BacklightWatch& watch = platform::BacklightWatch::shared());

protected:
    std::optional<float> currentLevel() override;
    bool hadDevice() const override { return hadDevice_; }

private:
    bool hadDevice_ = true;
};
