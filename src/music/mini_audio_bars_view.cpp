#include "music/mini_audio_bars_view.h"

#include <QPainter>

MiniAudioBarsView::MiniAudioBarsView(AudioVisualizer& visualizer, QColor accentColor, QWidget* parent, double barWidth,
                                     double spacing, double maxHeight, platform::Scheduler& scheduler)
    : QWidget(parent), model_(visualizer, std::move(accentColor), barWidth, spacing, maxHeight, scheduler) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(sizeHint());
    redraw_ = model_.onChange([this] { update(); });
}

QSize MiniAudioBarsView::sizeHint() const {
    return QSize(static_cast<int>(MiniAudioBarsViewModel::kFrameWidth), static_cast<int>(MiniAudioBarsViewModel::kFrameHeight));
}

void MiniAudioBarsView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    model_.setPixelRatio(devicePixelRatioF());
    painter_.paint(painter, model_);
}
