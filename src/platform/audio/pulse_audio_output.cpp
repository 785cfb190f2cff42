#include "platform/audio/audio_output.h"
#include "platform/runtime/retry_backoff.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

namespace {

// Listener lists shared by the three kinds of notice. Calls and removals exclude each other, so a
// removed listener is never running once its handle's cancel returns.
class ListenerList {
public:
    AnyCancellable add(AudioDeviceId device, AudioOutput::Listener fn) {
        std::lock_guard lock(state_->mutex);
        const uint64_t id = state_->nextId++;
        state_->entries.push_back({id, device, std::move(fn)});
        return AnyCancellable([id, state = state_] {
            std::lock_guard relock(state->mutex);
            std::erase_if(state->entries, [id](const Entry& e) { return e.id == id; });
        });
    }

    void fire(AudioDeviceId device) {
        std::lock_guard lock(state_->mutex);
        // A copy: a listener may remove itself.
        const std::vector<Entry> entries = state_->entries;
        for (const Entry& e : entries)
            if (e.device == device) e.fn();
    }

private:
    struct Entry {
        uint64_t id;
        AudioDeviceId device;
        AudioOutput::Listener fn;
    };
    // Shared with the handles, which may outlive the list.
    struct State {
        std::recursive_mutex mutex;
        std::vector<Entry> entries;
        uint64_t nextId = 1;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

class PulseAudioOutput final : public AudioOutput {
public:
    explicit PulseAudioOutput(const char* applicationName) { connect(applicationName); }

    ~PulseAudioOutput() override {
        if (!loop_) return;
        pa_threaded_mainloop_lock(loop_);
        if (reconnectEvent_) {
            pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
            api->time_free(reconnectEvent_);
            reconnectEvent_ = nullptr;
        }
        if (context_) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_set_subscribe_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
        pa_threaded_mainloop_unlock(loop_);
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
    }

    std::optional<AudioDeviceId> defaultOutputDevice() override {
        std::lock_guard lock(stateMutex_);
        if (defaultDevice_ == 0) return std::nullopt;
        return defaultDevice_;
    }

    std::optional<float> volume(AudioDeviceId device) override {
        std::lock_guard lock(stateMutex_);
        const auto it = sinks_.find(device);
        if (it == sinks_.end()) return std::nullopt;
        return it->second.volume;
    }

    std::optional<bool> isMuted(AudioDeviceId device) override {
        std::lock_guard lock(stateMutex_);
        const auto it = sinks_.find(device);
        if (it == sinks_.end()) return std::nullopt;
        return it->second.muted;
    }

    AnyCancellable addVolumeListener(AudioDeviceId device, Listener listener) override {
        return volumeListeners_.add(device, std::move(listener));
    }
    AnyCancellable addMuteListener(AudioDeviceId device, Listener listener) override {
        return muteListeners_.add(device, std::move(listener));
    }
    AnyCancellable addDefaultDeviceListener(Listener listener) override {
        return defaultListeners_.add(0, std::move(listener));
    }

private:
    struct Sink {
        std::string name;
        float volume = 0;
        bool muted = false;
    };

    static constexpr auto connectTimeout = std::chrono::seconds(3);

    void connect(const char* applicationName) {
        applicationName_ = applicationName;
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) return;
        if (pa_threaded_mainloop_start(loop_) < 0) return;
        pa_threaded_mainloop_lock(loop_);
        openContext();
        pa_threaded_mainloop_unlock(loop_);

        // Wait for the first mirror of the server, bounded: a server that never answers leaves
        // the output without devices rather than hanging the caller.
        std::unique_lock lock(readyMutex_);
        readyCondition_.wait_for(lock, connectTimeout, [this] { return settled_; });
    }

    // Loop thread, or with the loop locked. A context that cannot even start connecting is
    // retried later, like one the server dropped.
    void openContext() {
        if (context_) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_set_subscribe_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, applicationName_.c_str());
        context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), applicationName_.c_str(), props);
        pa_proplist_free(props);
        if (!context_) return;
        pa_context_set_state_callback(context_, &PulseAudioOutput::stateChanged, this);
        pa_context_set_subscribe_callback(context_, &PulseAudioOutput::serverEvent, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            settle();
            scheduleReconnect();
        }
    }

    // The sound server restarts (a PipeWire update, a crashed daemon): come back when it does.
    // A desktop without one is asked less and less often.
    void scheduleReconnect() {
        if (reconnectEvent_) return;
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        timeval when{};
        pa_gettimeofday(&when);
        const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(reconnectBackoff_.next());
        pa_timeval_add(&when, static_cast<pa_usec_t>(wait.count()));
        reconnectEvent_ = api->time_new(api, &when, &PulseAudioOutput::reconnectDue, this);
    }

    static void reconnectDue(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* userdata) {
        auto* self = static_cast<PulseAudioOutput*>(userdata);
        api->time_free(event);
        self->reconnectEvent_ = nullptr;
        self->openContext();
    }

    void settle() {
        {
            std::lock_guard lock(readyMutex_);
            settled_ = true;
        }
        readyCondition_.notify_all();
    }

    static void stateChanged(pa_context* context, void* userdata) {
        auto* self = static_cast<PulseAudioOutput*>(userdata);
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY: {
            self->reconnectBackoff_.reset();
            if (pa_operation* op = pa_context_subscribe(
                    context, static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER),
                    nullptr, nullptr))
                pa_operation_unref(op);
            if (pa_operation* op = pa_context_get_sink_info_list(context, &PulseAudioOutput::sinkListed, self))
                pa_operation_unref(op);
            break;
        }
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED: {
            bool hadDevice = false;
            {
                std::lock_guard lock(self->stateMutex_);
                hadDevice = self->defaultDevice_ != 0;
                self->sinks_.clear();
                self->defaultDevice_ = 0;
                self->defaultSinkName_.clear();
            }
            if (hadDevice) self->defaultListeners_.fire(0);
            self->settle();
            self->scheduleReconnect();
            break;
        }
        default: break;
        }
    }

    // The first listing: every sink, then the server's default.
    static void sinkListed(pa_context* context, const pa_sink_info* info, int eol, void* userdata) {
        auto* self = static_cast<PulseAudioOutput*>(userdata);
        if (eol != 0) {
            if (pa_operation* op = pa_context_get_server_info(context, &PulseAudioOutput::serverInfo, self))
                pa_operation_unref(op);
            else self->settle();
            return;
        }
        std::lock_guard lock(self->stateMutex_);
        self->sinks_[info->index + 1] = sinkFrom(info);
    }

    static Sink sinkFrom(const pa_sink_info* info) {
        // Above the normal volume counts as full: the level is a scalar from 0 to 1. Volumes are
        // whole steps of 1/65536, so 40 % is stored as 0.39999; rounded to four places it reads
        // back as the 40 % the user set.
        double level = static_cast<double>(pa_cvolume_avg(&info->volume)) / PA_VOLUME_NORM;
        level = std::round(level * 10000.0) / 10000.0;
        return Sink{info->name ? info->name : "", static_cast<float>(std::clamp(level, 0.0, 1.0)), info->mute != 0};
    }

    static void serverEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t index, void* userdata) {
        auto* self = static_cast<PulseAudioOutput*>(userdata);
        const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
            if (pa_operation* op = pa_context_get_server_info(context, &PulseAudioOutput::serverInfo, self))
                pa_operation_unref(op);
        } else if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
            if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
                std::lock_guard lock(self->stateMutex_);
                self->sinks_.erase(index + 1);
            } else if (pa_operation* op = pa_context_get_sink_info_by_index(context, index, &PulseAudioOutput::sinkChanged,
                                                                             self)) {
                pa_operation_unref(op);
            }
        }
    }

    static void sinkChanged(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
        if (eol != 0 || !info) return;
        auto* self = static_cast<PulseAudioOutput*>(userdata);
        const AudioDeviceId device = info->index + 1;
        const Sink fresh = sinkFrom(info);
        bool volumeMoved = false;
        bool muteMoved = false;
        bool becameDefault = false;
        {
            std::lock_guard lock(self->stateMutex_);
            const auto it = self->sinks_.find(device);
            volumeMoved = it == self->sinks_.end() || it->second.volume != fresh.volume;
            muteMoved = it == self->sinks_.end() || it->second.muted != fresh.muted;
            self->sinks_[device] = fresh;
            // A default named before its sink was known.
            if (self->defaultDevice_ == 0 && !self->defaultSinkName_.empty() && self->defaultSinkName_ == fresh.name) {
                self->defaultDevice_ = device;
                becameDefault = true;
            }
        }
        if (volumeMoved) self->volumeListeners_.fire(device);
        if (muteMoved) self->muteListeners_.fire(device);
        if (becameDefault) self->defaultListeners_.fire(0);
    }

    static void serverInfo(pa_context*, const pa_server_info* info, void* userdata) {
        auto* self = static_cast<PulseAudioOutput*>(userdata);
        bool changed = false;
        {
            std::lock_guard lock(self->stateMutex_);
            const std::string name = info && info->default_sink_name ? info->default_sink_name : "";
            AudioDeviceId device = 0;
            for (const auto& [id, sink] : self->sinks_)
                if (sink.name == name) device = id;
            changed = name != self->defaultSinkName_ || device != self->defaultDevice_;
            self->defaultSinkName_ = name;
            self->defaultDevice_ = device;
        }
        if (changed) self->defaultListeners_.fire(0);
        self->settle();
    }

    std::string applicationName_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;  // guarded by the loop's lock
    pa_time_event* reconnectEvent_ = nullptr;
    platform::RetryBackoff reconnectBackoff_{std::chrono::seconds(2), std::chrono::seconds(64)};  // loop thread

    std::mutex readyMutex_;
    std::condition_variable readyCondition_;
    bool settled_ = false;

    std::mutex stateMutex_;  // guards the mirror below
    std::map<AudioDeviceId, Sink> sinks_;
    std::string defaultSinkName_;
    AudioDeviceId defaultDevice_ = 0;

    ListenerList volumeListeners_;
    ListenerList muteListeners_;
    ListenerList defaultListeners_;
};

}  // namespace

std::unique_ptr<AudioOutput> makePulseAudioOutput(const char* applicationName) {
    return std::make_unique<PulseAudioOutput>(applicationName);
}

AudioOutput& AudioOutput::shared() {
    static AudioOutput* instance = makePulseAudioOutput().release();
    return *instance;
}

}  // namespace platform
