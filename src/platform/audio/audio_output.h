#pragma once

// The default output device of the sound server: its volume and mute state, and notices when they
// or the default device change. Notices come on the sound server's own thread; the reads may be
// called from any thread and never block on the server.

#include "platform/runtime/reactive.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace platform {

// 0 means "no device".
using AudioDeviceId = uint32_t;

class AudioOutput {
public:
    using Listener = std::function<void()>;

    virtual ~AudioOutput() = default;

    // The process-wide output (the PulseAudio client, connected on first use).
    static AudioOutput& shared();

    // Absent when the server is unreachable or has no default output.
    virtual std::optional<AudioDeviceId> defaultOutputDevice() = 0;
    // The device's volume scalar, 0 to 1; absent for an unknown device.
    virtual std::optional<float> volume(AudioDeviceId device) = 0;
    virtual std::optional<bool> isMuted(AudioDeviceId device) = 0;

    // Listeners run on the server's thread until their handle is cancelled; a cancel returns only
    // once no call of that listener is running (unless it is made from inside the listener).
    virtual AnyCancellable addVolumeListener(AudioDeviceId device, Listener listener) = 0;
    virtual AnyCancellable addMuteListener(AudioDeviceId device, Listener listener) = 0;
    virtual AnyCancellable addDefaultDeviceListener(Listener listener) = 0;
};

// PulseAudio (or PipeWire's PulseAudio server) through libpulse's threaded main loop. The server's
// state is mirrored on its loop thread, so reads are answered from the mirror. A sink's device id
// is its index + 1: sink 0 is a real device.
std::unique_ptr<AudioOutput> makePulseAudioOutput(const char* applicationName = "Quillvex");

}  // namespace platform
