#include "support/fake_audio_output.h"

#include <thread>

namespace testsupport {

void FakeAudioOutput::setDefaultDevice(DeviceId device) {
    std::lock_guard lock(mutex_);
    defaultDevice_ = device;
}

void FakeAudioOutput::setVolume(DeviceId device, float volume) {
    std::lock_guard lock(mutex_);
    volumes_[device] = volume;
}

void FakeAudioOutput::setMuted(DeviceId device, bool muted) {
    std::lock_guard lock(mutex_);
    muted_[device] = muted;
}

void FakeAudioOutput::forget(DeviceId device) {
    std::lock_guard lock(mutex_);
    volumes_.erase(device);
    muted_.erase(device);
}

void FakeAudioOutput::changeVolume(DeviceId device, float volume) {
    setVolume(device, volume);
    notify(Kind::volume, device);
}

void FakeAudioOutput::changeMute(DeviceId device, bool muted) {
    setMuted(device, muted);
    notify(Kind::mute, device);
}

void FakeAudioOutput::switchDefault(DeviceId device) {
    setDefaultDevice(device);
    notify(Kind::defaultDevice, 0);
}

void FakeAudioOutput::notifyVolume(DeviceId device) { notify(Kind::volume, device); }
void FakeAudioOutput::notifyMute(DeviceId device) { notify(Kind::mute, device); }

int FakeAudioOutput::listenerCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(entries_->size());
}

std::optional<FakeAudioOutput::DeviceId> FakeAudioOutput::defaultOutputDevice() {
    std::lock_guard lock(mutex_);
    if (defaultDevice_ == 0) return std::nullopt;
    return defaultDevice_;
}

std::optional<float> FakeAudioOutput::volume(DeviceId device) {
    std::lock_guard lock(mutex_);
    const auto it = volumes_.find(device);
    if (it == volumes_.end()) return std::nullopt;
    return it->second;
}

std::optional<bool> FakeAudioOutput::isMuted(DeviceId device) {
    std::lock_guard lock(mutex_);
    const auto it = muted_.find(device);
    if (it == muted_.end()) return std::nullopt;
    return it->second;
}

platform::AnyCancellable FakeAudioOutput::addVolumeListener(DeviceId device, Listener listener) {
    return add(Kind::volume, device, std::move(listener));
}
platform::AnyCancellable FakeAudioOutput::addMuteListener(DeviceId device, Listener listener) {
    return add(Kind::mute, device, std::move(listener));
}
platform::AnyCancellable FakeAudioOutput::addDefaultDeviceListener(Listener listener) {
    return add(Kind::defaultDevice, 0, std::move(listener));
}

platform::AnyCancellable FakeAudioOutput::add(Kind kind, DeviceId device, Listener fn) {
    std::lock_guard lock(mutex_);
    const uint64_t id = nextId_++;
    entries_->push_back({id, kind, device, std::move(fn)});
    return platform::AnyCancellable([this, id] {
        std::lock_guard relock(mutex_);
        std::erase_if(*entries_, [id](const Entry& e) { return e.id == id; });
    });
}

void FakeAudioOutput::notify(Kind kind, DeviceId device) {
    std::vector<Listener> due;
    {
        std::lock_guard lock(mutex_);
        for (const Entry& e : *entries_)
            if (e.kind == kind && e.device == device) due.push_back(e.fn);
    }
    std::thread([&due] {
        for (const Listener& fn : due) fn();
    }).join();
}

}  // namespace testsupport
