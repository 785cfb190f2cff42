#include "music/mini_audio_bars_view_model.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kTimeEpsilon = 5e-7;
// A wake-up this close to a frame's time serves for it (timers count whole milliseconds).
constexpr double kWakeTolerance = 0.002;
constexpr double kMinWakePeriod = 0.001;

}  // namespace

MiniAudioBarsViewModel::MiniAudioBarsViewModel(AudioVisualizer& visualizer, QColor accentColor, double barWidth, double spacing,
                                               double maxHeight, platform::Scheduler& scheduler)
    : visualizer_(visualizer),
      scheduler_(scheduler),
      barWidth_(barWidth),
      spacing_(spacing),
      maxHeight_(maxHeight),
      accent_(accentColor, scheduler) {
    accentListener_ = accent_.onChange([this] { notify(); });
    levelsSubscription_ = visualizer.barHeights.sink([this](const AudioVisualizer::Heights& levels) { applyLevels(levels); });
}

MiniAudioBarsViewModel::~MiniAudioBarsViewModel() {
    levelsSubscription_.cancel();
    accentListener_.cancel();
    frame_.invalidate();
}

double MiniAudioBarsViewModel::levelAt(size_t i, double t) const {
    const Motion& m = motions_[i];
    if (!movingAt(i, t)) return m.to;
    if (t <= m.start) return m.from;
    const double p = platform::TimingCurve::easeInOut().valueAt((t - m.start) / kHeightAnimation);
    return m.from + (m.to - m.from) * p;
}

bool MiniAudioBarsViewModel::movingAt(size_t i, double t) const {
    const Motion& m = motions_[i];
    return m.moving && t < m.start + kHeightAnimation - kTimeEpsilon;
}

double MiniAudioBarsViewModel::heightAt(size_t i, double t) const { return std::max(levelAt(i, t) * maxHeight_, kMinBarHeight); }

bool MiniAudioBarsViewModel::edgesMoved(size_t i, double t) const {
    // A bar grows and shrinks about its centre: each edge moves half the change in height.
    return std::abs(heightAt(i, t) - shown_[i]) / 2 >= 0.5 / pixelRatio_;
}

double MiniAudioBarsViewModel::level(int i) const { return levelAt(static_cast<size_t>(i), now()); }

bool MiniAudioBarsViewModel::isMoving(int i) const { return movingAt(static_cast<size_t>(i), now()); }

void MiniAudioBarsViewModel::applyLevels(const AudioVisualizer::Heights& levels) {
    const double t = now();
    if (levels.size() != motions_.size()) {
        // A new set of bars appears at its levels; only later changes move.
        motions_.assign(levels.size(), Motion{});
        for (size_t i = 0; i < levels.size(); ++i) motions_[i].to = levels[i];
        frame_.invalidate();
        showFrame();
        return;
    }
    bool started = false;
    for (size_t i = 0; i < levels.size(); ++i) {
        Motion& m = motions_[i];
        if (levels[i] == m.to) continue;  // already going there
        m = Motion{levelAt(i, t), levels[i], t, true};
        started = true;
    }
    if (started) gridStart_ = t;
    scheduleFrame();
}

void MiniAudioBarsViewModel::scheduleFrame() {
    const double t = now();
    double end = -1;
    for (size_t i = 0; i < motions_.size(); ++i) {
        motions_[i].moving = movingAt(i, t);
        if (motions_[i].moving) end = std::max(end, motions_[i].start + kHeightAnimation);
    }
    if (end < 0) {
        // At rest: the resting values are shown exactly, now if the last frame missed them.
        frame_.invalidate();
        for (size_t i = 0; i < motions_.size(); ++i) {
            if (heightAt(i, t) != shown_[i]) {
                showFrame();
                break;
            }
        }
        return;
    }
    auto movedEnough = [&](double at) {
        for (size_t i = 0; i < motions_.size(); ++i) {
            if (edgesMoved(i, at)) return true;
        }
        return false;
    };
    double due = end;
    for (int k = std::max(1, static_cast<int>(std::floor((t - gridStart_) / kFrameInterval)) + 1);; ++k) {
        const double at = gridStart_ + k * kFrameInterval;
        if (at >= end - kTimeEpsilon) break;
        if (movedEnough(at)) {
            due = at;
            break;
        }
    }
    // While the walk runs, its next step comes when a motion ends and moves on from there: the end
    // is then shown by that step's frames, and a wake of its own is kept only in case none comes.
    if (due == end && visualizer_.isAnimating()) due += kFrameInterval;
    wakeAt(due, t);
}

void MiniAudioBarsViewModel::wakeAt(double due, double t) {
    // Frames in a row come from one repeating timer; a timer of our own rather than a work item,
    // as a frame put off must not wake the thread for nothing.
    if (frame_.isValid() && std::abs(nextWake_ - due) < kWakeTolerance) return;
    wakePeriod_ = std::max(due - t, kMinWakePeriod);
    nextWake_ = t + wakePeriod_;
    frame_ = scheduler_.every(wakePeriod_, [this] {
        nextWake_ = now() + wakePeriod_;
        frameDue();
    });
}

void MiniAudioBarsViewModel::frameDue() {
    const double t = now();
    for (size_t i = 0; i < motions_.size(); ++i) {
        if (edgesMoved(i, t)) {
            showFrame();
            break;
        }
    }
    scheduleFrame();  // which also shows where the bars came to rest
}

void MiniAudioBarsViewModel::showFrame() {
    const double t = now();
    shown_.resize(motions_.size());
    for (size_t i = 0; i < motions_.size(); ++i) shown_[i] = heightAt(i, t);
    notify();
}

void MiniAudioBarsViewModel::setAccentColor(const QColor& color) {
    // Keyed on the colour's text form, as the view compares it.
    if (color.name(QColor::HexArgb) == accent_.target().name(QColor::HexArgb)) return;
    accent_.animate(color, platform::Animation::easeInOut(kColorAnimation));
}

void MiniAudioBarsViewModel::setPixelRatio(double ratio) {
    if (ratio > 0 && std::isfinite(ratio)) pixelRatio_ = ratio;
}

double MiniAudioBarsViewModel::barHeight(int i) const { return heightAt(static_cast<size_t>(i), now()); }

QRectF MiniAudioBarsViewModel::barRect(int i) const {
    const int count = barCount();
    const double total = count * barWidth_ + std::max(0, count - 1) * spacing_;
    const double left = (kFrameWidth - total) / 2;
    const double height = barHeight(i);
    return {left + i * (barWidth_ + spacing_), (kFrameHeight - height) / 2, barWidth_, height};
}

QColor MiniAudioBarsViewModel::bottomColor() const {
    QColor color = accent_.value();
    color.setAlphaF(static_cast<float>(color.alphaF() * kBottomOpacity));
    return color;
}

platform::AnyCancellable MiniAudioBarsViewModel::onChange(std::function<void()> listener) {
    return changed_.sink(std::move(listener));
}

void MiniAudioBarsViewModel::notify() { changed_.send(platform::Unit{}); }
