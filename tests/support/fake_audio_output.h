#pragma once

// A scriptable default output. Changes are stored at once; their notices are delivered from a
// thread of their own (joined before the call returns), as the sound server's thread would.

#include "platform/audio/audio_output.h"

#include <map>
#include <mutex>
#include <vector>

namespace testsupport {

class FakeAudioOutput final : public platform::AudioOutput {
public:
    using DeviceId = platform::AudioDeviceId;

    // Scripting, without notices. A device with no level set cannot be read.
    void setDefaultDevice(DeviceId device);  // 0: none
    void setVolume(DeviceId device, float volume);
    void setMuted(DeviceId device, bool muted);
    void forget(DeviceId device);  // reads of it fail from now on

    // Change, then notify from another thread.
    void changeVolume(DeviceId device, float volume);
    void changeMute(DeviceId device, bool muted);
    void switchDefault(DeviceId device);
    void notifyVolume(DeviceId device);
    void notifyMute(DeviceId device);

    int listenerCount() const;

    std::optional<DeviceId> defaultOutputDevice() override;
    std::optional<float> volume(DeviceId device) override;
    std::optional<bool> isMuted(DeviceId device) override;
    platform::AnyCancellable addVolumeListener(DeviceId device, Listener listener) override;
    platform::AnyCancellable addMuteListener(DeviceId device, Listener listener) override;
    platform::AnyCancellable addDefaultDeviceListener(Listener listener) override;

private:
    enum class Kind { volume, mute, defaultDevice };
    struct Entry {
        uint64_t id;
        Kind kind;
        DeviceId device;
        Listener fn;
    };
    platform::AnyCancellable add(Kind kind, DeviceId device, Listener fn);
    void notify(Kind kind, DeviceId device);

    mutable std::mutex mutex_;
    DeviceId defaultDevice_ = 0;
    std::map<DeviceId, float> volumes_;
    std::map<DeviceId, bool> muted_;
    std::shared_ptr<std::vector<Entry>> entries_ = std::make_shared<std::vector<Entry>>();
    uint64_t nextId_ = 1;
};

}  // namespace testsupport
