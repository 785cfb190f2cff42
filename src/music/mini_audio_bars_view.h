#pragma once

// The six level bars of the mini player: rounded bars with a top-to-bottom accent gradient, in a
// 22 x 20 frame. Place it in a layout or at a position; it sizes itself.
//
//   auto* bars = new MiniAudioBarsView(AudioVisualizer::shared(), accent, parent);  // 2 / 1.5 / 16
//   bars->setAccentColor(artworkColour);                                           // fades over 0.5 s

#include "music/mini_audio_bars_painter.h"
#include "music/mini_audio_bars_view_model.h"

#include <QWidget>

class MiniAudioBarsView : public QWidget {
public:
    MiniAudioBarsView(AudioVisualizer& visualizer, QColor accentColor, QWidget* parent = nullptr, double barWidth = 2,
                      double spacing = 1.5, double maxHeight = 16,
                      platform::Scheduler& scheduler = platform::Scheduler::shared());

    void setAccentColor(const QColor& color) { model_.setAccentColor(color); }
    MiniAudioBarsViewModel& model() { return model_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    MiniAudioBarsViewModel model_;
    MiniAudioBarsPainter painter_;
    platform::AnyCancellable redraw_;
};
