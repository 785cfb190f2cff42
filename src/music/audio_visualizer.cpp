#include "music/audio_visualizer.h"

#include "core/log.h"

AudioVisualizer& AudioVisualizer::shared() {
    static AudioVisualizer visualizer;
    return visualizer;
}

AudioVisualizer::AudioVisualizer(EventBus& bus, platform::Scheduler& scheduler) : scheduler_(scheduler), bus_(bus) {
    setupObservers();
}

AudioVisualizer::~AudioVisualizer() = default;

void AudioVisualizer::setupObservers() {
    // No hop: the record comes on the main thread, and its current value decides at once.
    cancellables_.insert(bus_.nowPlayingSubject.sink(lifetime_.wrap([this](const std::optional<NowPlayingInfo>& info) {
        if (!info || !(info->playbackRate > 0)) {
            stop();
        } else {
            start();
        }
    })));
}

void AudioVisualizer::start() {
    if (isAnimating_) return;
    isAnimating_ = true;
    timer_ = scheduler_.every(kTickInterval, lifetime_.wrap([this] {
        if (!isAnimating_) return;
        scheduler_.post(lifetime_.wrap([this] { updateBars(); }));
    }));
    Log::shared().debug(QStringLiteral("AudioVisualizer: Started"));
}

void AudioVisualizer::stop() {
    isAnimating_ = false;
    timer_.invalidate();
    scheduler_.post(lifetime_.wrap([this] { barHeights.send(Heights(kBarCount, kRestHeight)); }));
    Log::shared().debug(QStringLiteral("AudioVisualizer: Stopped"));
}

void AudioVisualizer::updateBars() {
    barHeights.send(step(barHeights.value(), [this](size_t) { return scheduler_.randomUniform(-kMaxStep, kMaxStep); }));
}
