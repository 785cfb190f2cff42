#pragma once

// What the level bars show, without pixels: one rounded bar per level, its rectangle inside the
// 22 x 20 frame, its corner radius and gradient, each height and the accent moving as the view
// animates them. Any view that shows the bars draws from this.
//
//   MiniAudioBarsViewModel model(AudioVisualizer::shared(), accent);   // 2 / 1.5 / 16 by default
//   auto redraw = model.onChange([widget] { widget->update(); });
//   for (int i = 0; i < model.barCount(); ++i) paint(model.barRect(i), model.cornerRadius(), ...);

#include "music/audio_visualizer.h"
#include "platform/animation/animation.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <QColor>
#include <QRectF>
#include <QSizeF>

#include <functional>
#include <memory>
#include <vector>

class MiniAudioBarsViewModel {
public:
    static constexpr double kFrameWidth = 22;
    static constexpr double kFrameHeight = 20;
    static constexpr double kMinBarHeight = 4;
    static constexpr double kHeightAnimation = 0.1;  // ease-in-out, per bar
    static constexpr double kColorAnimation = 0.5;   // ease-in-out
    static constexpr double kBottomOpacity = 0.4;

    MiniAudioBarsViewModel(AudioVisualizer& visualizer, QColor accentColor, double barWidth = 2, double spacing = 1.5,
                           double maxHeight = 16, platform::Scheduler& scheduler = platform::Scheduler::shared());
    ~MiniAudioBarsViewModel();
    MiniAudioBarsViewModel(const MiniAudioBarsViewModel&) = delete;
    MiniAudioBarsViewModel& operator=(const MiniAudioBarsViewModel&) = delete;

    // A new accent colour moves there over 0.5 s; the same colour changes nothing.
    void setAccentColor(const QColor& color);

    int barCount() const { return static_cast<int>(heights_.size()); }
    // The level bar i shows now (animated towards the visualizer's).
    double level(int i) const { return heights_[static_cast<size_t>(i)]->value(); }
    // Height in points: level × maximum height, never under 4 points.
    double barHeight(int i) const;
    // Bar i inside the frame (origin top left): bars side by side, centred both ways.
    QRectF barRect(int i) const;
    double cornerRadius() const { return barWidth_ * 0.5; }
    QColor topColor() const { return accent_.value(); }
    QColor bottomColor() const;
    static QSizeF frameSize() { return {kFrameWidth, kFrameHeight}; }

    // What a frame shows at `dpr`: while a bar moves its height counts in whole device pixels, so a
    // view skips a frame equal to the one it drew last; at rest every bar counts exactly, so the
    // resting frame is always drawn where it lies.
    struct Frame {
        std::vector<double> heights;
        QRgb color = 0;
        friend bool operator==(const Frame&, const Frame&) = default;
    };
    Frame frame(double dpr) const;

    // Called whenever what is shown changes (new levels, animation frames, the accent).
    platform::AnyCancellable onChange(std::function<void()> listener);

private:
    void applyLevels(const AudioVisualizer::Heights& levels);
    void notify();

    platform::Scheduler& scheduler_;
    double barWidth_;
    double spacing_;
    double maxHeight_;
    platform::Animated<QColor> accent_;
    std::vector<std::unique_ptr<platform::Animated<double>>> heights_;
    platform::CancellableSet animationListeners_;
    platform::PassthroughSubject<> changed_;
    platform::AnyCancellable levelsSubscription_;
};
