#pragma once

// Six bar levels that wander while a track plays and rest low otherwise. Nothing is measured:
// it is a random walk, started and stopped by the now-playing record's rate.
//
// Views draw the levels with MiniAudioBarsView (or any view over MiniAudioBarsViewModel) and
// share AudioVisualizer::shared(), which lives from its first use to the end of the process.

#include "core/event_bus.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <algorithm>
#include <vector>

class AudioVisualizer {
public:
    using Heights = std::vector<double>;

    static constexpr int kBarCount = 6;
    static constexpr double kInitialHeight = 0.2;
    static constexpr double kRestHeight = 0.15;  // also the walk's floor
    static constexpr double kMaxHeight = 1.0;
    static constexpr double kMaxStep = 0.3;
    static constexpr double kMiddleBoost = 1.1;  // third and fourth bars
    static constexpr double kTickInterval = 0.1;

    static AudioVisualizer& shared();

    // Subscribes to the now-playing record at once (its current value starts or stops the walk).
    // The scheduler gives the timer, the main queue and the random steps.
    explicit AudioVisualizer(EventBus& bus = EventBus::shared(), platform::Scheduler& scheduler = platform::Scheduler::shared());
    ~AudioVisualizer();
    AudioVisualizer(const AudioVisualizer&) = delete;
    AudioVisualizer& operator=(const AudioVisualizer&) = delete;

    // Fractions of a bar's full height, each in kRestHeight ... kMaxHeight; a whole new list per step.
    const platform::CurrentValueSubject<Heights> barHeights{Heights(kBarCount, kInitialHeight)};

    bool isAnimating() const { return isAnimating_; }
    bool hasTimer() const { return timer_.isValid(); }

    void start();
    void stop();
    // One step of the walk, published.
    void updateBars();

    // The walk's step on its own: `delta(i)` is bar i's random step in -kMaxStep ... kMaxStep.
    template <class Delta>
    static Heights step(const Heights& current, Delta&& delta) {
        Heights next;
        next.reserve(current.size());
        for (size_t i = 0; i < current.size(); ++i) {
            const double v = current[i] + delta(i);
            double clamped = v >= kMaxHeight ? kMaxHeight : std::max(v, kRestHeight);
            if (i == 2 || i == 3) clamped = std::min(clamped * kMiddleBoost, kMaxHeight);
            next.push_back(clamped);
        }
        return next;
    }

private:
    void setupObservers();

    platform::Scheduler& scheduler_;
    platform::RepeatingTimer timer_;
    bool isAnimating_ = false;
    platform::CancellableSet cancellables_;
    EventBus& bus_;
    platform::Lifetime lifetime_;
};
