#include "music/mini_audio_bars_view.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

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
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QColor top = model_.topColor();
    const QColor bottom = model_.bottomColor();
    const double radius = model_.cornerRadius();
    for (int i = 0; i < model_.barCount(); ++i) {
        const QRectF rect = model_.barRect(i);
        QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
        gradient.setColorAt(0, top);
        gradient.setColorAt(1, bottom);
        QPainterPath path;
        path.addRoundedRect(rect, radius, radius);
        painter.fillPath(path, gradient);
    }
}
