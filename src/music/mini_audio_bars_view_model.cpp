#include "music/mini_audio_bars_view_model.h"

#include <algorithm>
#include <cmath>

MiniAudioBarsViewModel::MiniAudioBarsViewModel(AudioVisualizer& visualizer, QColor accentColor, double barWidth, double spacing,
                                               double maxHeight, platform::Scheduler& scheduler)
    : scheduler_(scheduler), barWidth_(barWidth), spacing_(spacing), maxHeight_(maxHeight), accent_(accentColor, scheduler) {
    animationListeners_.insert(accent_.onChange([this] { notify(); }));
    levelsSubscription_ = visualizer.barHeights.sink([this](const AudioVisualizer::Heights& levels) { applyLevels(levels); });
}

MiniAudioBarsViewModel::~MiniAudioBarsViewModel() {
    levelsSubscription_.cancel();
    animationListeners_.cancelAll();
}

void MiniAudioBarsViewModel::applyLevels(const AudioVisualizer::Heights& levels) {
    if (levels.size() != heights_.size()) {
        // A new set of bars appears at its levels; only later changes move.
        animationListeners_.cancelAll();
        animationListeners_.insert(accent_.onChange([this] { notify(); }));
        heights_.clear();
        for (double level : levels) {
            heights_.push_back(std::make_unique<platform::Animated<double>>(level, scheduler_));
            animationListeners_.insert(heights_.back()->onChange([this] { notify(); }));
        }
        notify();
        return;
    }
    platform::withAnimation(
        platform::Animation::easeInOut(kHeightAnimation),
        [&] {
            for (size_t i = 0; i < levels.size(); ++i) heights_[i]->set(levels[i]);
        },
        {}, scheduler_);
}

void MiniAudioBarsViewModel::setAccentColor(const QColor& color) {
    // Keyed on the colour's text form, as the view compares it.
    if (color.name(QColor::HexArgb) == accent_.target().name(QColor::HexArgb)) return;
    accent_.animate(color, platform::Animation::easeInOut(kColorAnimation));
}

double MiniAudioBarsViewModel::barHeight(int i) const { return std::max(level(i) * maxHeight_, kMinBarHeight); }

QRectF MiniAudioBarsViewModel::barRect(int i) const {
    const int count = barCount();
    const double total = count * barWidth_ + std::max(0, count - 1) * spacing_;
    const double left = (kFrameWidth - total) / 2;
    const double height = barHeight(i);
    return {left + i * (barWidth_ + spacing_), (kFrameHeight - height) / 2, barWidth_, height};
}

MiniAudioBarsViewModel::Frame MiniAudioBarsViewModel::frame(double dpr) const {
    Frame out;
    out.heights.reserve(heights_.size());
    for (int i = 0; i < barCount(); ++i) {
        const double pixels = barHeight(i) * dpr;
        out.heights.push_back(heights_[static_cast<size_t>(i)]->isAnimating() ? std::round(pixels) : pixels);
    }
    out.color = accent_.value().rgba();
    return out;
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
