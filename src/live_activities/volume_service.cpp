#include "live_activities/volume_service.h"

#include "core/format.h"
#include "core/log.h"

#include <charconv>
#include <cmath>

namespace {

// The shortest text that reads back as the same single-precision value, with a decimal point.
QString floatText(float value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    QString text = QString::fromLatin1(buffer, static_cast<int>(result.ptr - buffer));
    if (std::isfinite(value) && !text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')))
        text += QStringLiteral(".0");
    return text;
}

QString percentLine(float volume, bool muted, const char* suffix) {
    const int percent = static_cast<int>(volume * 100.0f);
    return QStringLiteral("VolumeService: Volume=%1% muted=%2 %3")
        .arg(percent)
        .arg(format::boolean(muted), QString::fromLatin1(suffix));
}

}  // namespace

VolumeService& VolumeService::shared() {
    static auto* instance = new VolumeService();
    return *instance;
}

VolumeService::VolumeService(EventBus& bus, platform::Scheduler& scheduler, platform::AudioOutput* audio)
    : bus(bus), scheduler_(scheduler), audio_(audio) {}

platform::AudioOutput& VolumeService::audio() {
    if (!audio_) audio_ = &platform::AudioOutput::shared();
    return *audio_;
}

void VolumeService::start() {
    if (isRunning_) return;
    isRunning_ = true;
    updateDefaultDevice();
    auto hop = lifetime_.wrap([this] { handleDeviceChange(); });
    platform::Scheduler* scheduler = &scheduler_;
    defaultDeviceListener_ = audio().addDefaultDeviceListener([hop, scheduler] { scheduler->post(hop); });
    Log::shared().info(QStringLiteral("VolumeService: Started"));
}

void VolumeService::stop() {
    if (!isRunning_) return;
    isRunning_ = false;
    volumeListener_.cancel();
    muteListener_.cancel();
    defaultDeviceListener_.cancel();
    lifetime_.reset();
    if (activityDebounceWorkItem_) activityDebounceWorkItem_->cancel();
    activityDebounceWorkItem_.reset();
    isActivityShowing_ = false;
    Log::shared().info(QStringLiteral("VolumeService: Stopped"));
}

void VolumeService::updateDefaultDevice() {
    volumeListener_.cancel();
    muteListener_.cancel();
    const std::optional<platform::AudioDeviceId> device = audio().defaultOutputDevice();
    if (!device || *device == 0) {
        Log::shared().warning(QStringLiteral("VolumeService: Failed to get default output device"));
        return;
    }
    currentDeviceID_ = *device;
    lastVolume_ = audio().volume(currentDeviceID_).value_or(0.0f);
    lastMuted_ = audio().isMuted(currentDeviceID_).value_or(false);

    // Read on the server's thread (the values of this very notice), compared on the main thread.
    auto hop = lifetime_.wrap([this](platform::AudioDeviceId id, float volume, bool muted) {
        handleVolumeChange(id, volume, muted);
    });
    platform::Scheduler* scheduler = &scheduler_;
    platform::AudioOutput* audio = audio_;
    const platform::AudioDeviceId id = currentDeviceID_;
    auto listener = [hop, scheduler, audio, id] {
        const float volume = audio->volume(id).value_or(0.0f);
        const bool muted = audio->isMuted(id).value_or(false);
        scheduler->post([hop, id, volume, muted]() mutable { hop(id, volume, muted); });
    };
    volumeListener_ = audio_->addVolumeListener(id, listener);
    muteListener_ = audio_->addMuteListener(id, listener);
    Log::shared().info(QStringLiteral("VolumeService: Monitoring device %1, volume=%2, muted=%3")
                           .arg(currentDeviceID_)
                           .arg(floatText(lastVolume_), format::boolean(lastMuted_)));
}

void VolumeService::handleVolumeChange(platform::AudioDeviceId device, float volume, bool muted) {
    if (!isRunning_) return;
    // A notice of the device the service has just left: its values are not this device's.
    if (device != currentDeviceID_) return;
    if (!(std::fabs(volume - lastVolume_) > changeThreshold) && muted == lastMuted_) return;
    lastVolume_ = volume;
    lastMuted_ = muted;

    bus.volumeInfoSubject.send(VolumeInfo{volume, muted});
    if (!isActivityShowing_) {
        isActivityShowing_ = true;
        bus.liveActivityEventSubject.send(LiveActivityType::volume);
        Log::shared().info(percentLine(volume, muted, "(show)"));
    }
    if (activityDebounceWorkItem_) activityDebounceWorkItem_->cancel();
    activityDebounceWorkItem_ = scheduler_.after(settleDelay, lifetime_.wrap([this] { endOfBurst(); }));
}

void VolumeService::endOfBurst() {
    if (!isRunning_) return;
    isActivityShowing_ = false;
    bus.liveActivityEventSubject.send(LiveActivityType::volume);
    Log::shared().info(percentLine(lastVolume_, lastMuted_, "(final)"));
}

void VolumeService::handleDeviceChange() {
    if (isRunning_) updateDefaultDevice();
}
