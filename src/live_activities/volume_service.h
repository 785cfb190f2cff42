#pragma once

// Follows the default output's volume and mute state. Each real change goes out as a VolumeInfo;
// a burst of changes asks for the volume activity once at its start and once more 0.5 s after its
// end, so the activity's display time counts from the last change. Re-attaches when the default
// output changes.

#include "core/event_bus.h"
#include "platform/audio/audio_output.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <optional>

class VolumeService {
public:
    static constexpr double settleDelay = 0.5;
    static constexpr float changeThreshold = 0.01f;

    static VolumeService& shared();

    // Empty `audio` takes AudioOutput::shared() at the first start (it connects to the server).
    explicit VolumeService(EventBus& bus = EventBus::shared(), platform::Scheduler& scheduler = platform::Scheduler::shared(),
                           platform::AudioOutput* audio = nullptr);
    VolumeService(const VolumeService&) = delete;
    VolumeService& operator=(const VolumeService&) = delete;

    void start();
    void stop();

    bool isRunning() const { return isRunning_; }
    platform::AudioDeviceId currentDeviceID() const { return currentDeviceID_; }
    float lastVolume() const { return lastVolume_; }
    bool lastMuted() const { return lastMuted_; }
    bool isActivityShowing() const { return isActivityShowing_; }

private:
    void updateDefaultDevice();
    void handleVolumeChange(platform::AudioDeviceId device, float volume, bool muted);
    void handleDeviceChange();
    void endOfBurst();
    platform::AudioOutput& audio();

    EventBus& bus;
    platform::Scheduler& scheduler_;
    platform::AudioOutput* audio_;
    bool isRunning_ = false;
    platform::AudioDeviceId currentDeviceID_ = 0;
    // Compared and written on the main thread only: the listeners hop there first.
    float lastVolume_ = -1.0f;
    bool lastMuted_ = false;
    std::optional<platform::WorkItem> activityDebounceWorkItem_;
    bool isActivityShowing_ = false;
    platform::AnyCancellable volumeListener_;
    platform::AnyCancellable muteListener_;
    platform::AnyCancellable defaultDeviceListener_;
    // Reset at stop: hops queued before it do nothing after it, even across a new start.
    platform::Lifetime lifetime_;
};
