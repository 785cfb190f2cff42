#pragma once

// What the level bars show, without pixels: one rounded bar per level, its rectangle inside the
// 22 x 20 frame, its corner radius and gradient, each height and the accent moving as the view
// animates them. Any view that shows the bars draws from this.
//
//   MiniAudioBarsViewModel model(AudioVisualizer::shared(), accent);   // 2 / 1.5 / 16 by default
//   auto redraw = model.onChange([widget] { widget->update(); });
//   model.setPixelRatio(widget->devicePixelRatioF());
//   for (int i = 0; i < model.barCount(); ++i) paint(model.barRect(i), model.cornerRadius(), ...);

#include "music/audio_visualizer.h"
#include "platform/animation/animation.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <QColor>
#include <QRectF>
#include <QSizeF>

#include <functional>
#include <vector>

class MiniAudioBarsViewModel {
public:
    static constexpr double kFrameWidth = 22;
    static constexpr double kFrameHeight = 20;
    static constexpr double kMinBarHeight = 4;
    static constexpr double kHeightAnimation = 0.1;  // ease-in-out, per bar
    static constexpr double kColorAnimation = 0.5;   // ease-in-out
    static constexpr double kBottomOpacity = 0.4;
    static constexpr double kFrameInterval = 1.0 / 60.0;

    MiniAudioBarsViewModel(AudioVisualizer& visualizer, QColor accentColor, double barWidth = 2, double spacing = 1.5,
                           double maxHeight = 16, platform::Scheduler& scheduler = platform::Scheduler::shared());
    ~MiniAudioBarsViewModel();
    MiniAudioBarsViewModel(const MiniAudioBarsViewModel&) = delete;
    MiniAudioBarsViewModel& operator=(const MiniAudioBarsViewModel&) = delete;

    // A new accent colour moves there over 0.5 s; the same colour changes nothing.
    void setAccentColor(const QColor& color);
    // Device pixels per point where the bars are drawn (1 until told).
    void setPixelRatio(double ratio);

    static platform::Animation heightAnimation() { return platform::Animation::easeInOut(kHeightAnimation); }

    int barCount() const { return static_cast<int>(motions_.size()); }
    // The level bar i shows now (moving towards the visualizer's with heightAnimation()).
    double level(int i) const;
    bool isMoving(int i) const;
    // Height in points: level × maximum height, never under 4 points.
    double barHeight(int i) const;
    // Bar i inside the frame (origin top left): bars side by side, centred both ways.
    QRectF barRect(int i) const;
    double cornerRadius() const { return barWidth_ * 0.5; }
    QColor topColor() const { return accent_.value(); }
    QColor bottomColor() const;
    static QSizeF frameSize() { return {kFrameWidth, kFrameHeight}; }

    // Called whenever what is shown changes: new bars, the accent's frames, and the frames of the
    // bars' motion, on the 60 Hz grid of their start, that show a bar's edges at least half a
    // device pixel away from where the last such frame showed them; the end of a motion is always
    // shown.
    platform::AnyCancellable onChange(std::function<void()> listener);

private:
    struct Motion {
        double from = 0;
        double to = 0;
        double start = 0;  // scheduler seconds; over once kHeightAnimation has passed
        bool moving = false;
    };

    double levelAt(size_t i, double t) const;
    double heightAt(size_t i, double t) const;
    bool movingAt(size_t i, double t) const;
    // Whether bar i's edges at `t` lie half a device pixel or more from where the last frame showed them.
    bool edgesMoved(size_t i, double t) const;
    double now() const { return scheduler_.monotonicSeconds(); }
    void applyLevels(const AudioVisualizer::Heights& levels);
    // Sets a wake-up for the next frame worth showing, if any motion runs.
    void scheduleFrame();
    void wakeAt(double due, double now);
    void frameDue();
    void showFrame();
    void notify();

    AudioVisualizer& visualizer_;
    platform::Scheduler& scheduler_;
    double barWidth_;
    double spacing_;
    double maxHeight_;
    double pixelRatio_ = 1;
    platform::Animated<QColor> accent_;
    std::vector<Motion> motions_;
    std::vector<double> shown_;  // heights in points the last frame showed
    double gridStart_ = 0;
    platform::RepeatingTimer frame_;
    double nextWake_ = 0;
    double wakePeriod_ = 0;
    platform::AnyCancellable accentListener_;
    platform::PassthroughSubject<> changed_;
    platform::AnyCancellable levelsSubscription_;
};
