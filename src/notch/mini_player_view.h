#pragma once

// The compact player the notch shows while music plays: the black notch widened by a pill on each
// side, the track's artwork on the left, the level bars on the right. No controls of its own; the
// notch state manager decides when it comes and goes. It draws the band centred at the top of its
// width, 276 x 32 when fully revealed.

#include "music/mini_audio_bars_view_model.h"
#include "notch/mini_player_view_model.h"
#include "notch/notch_aware_shape.h"

#include <QImage>
#include <QWidget>

class MiniPlayerView : public QWidget, public NotchOutlinedView {
    Q_OBJECT

public:
    explicit MiniPlayerView(QWidget* parent = nullptr, const MiniPlayerEnvironment& environment = {});
    ~MiniPlayerView() override;

    MiniPlayerViewModel& model() { return model_; }
    const MiniPlayerViewModel& model() const { return model_; }
    MiniAudioBarsViewModel& bars() { return bars_; }

    // Where the band lies in the widget now.
    QRectF bandRect() const;
    QPainterPath drawnOutline() const override;
    // Draws the band into `painter` at the widget's size.
    void paintContent(QPainter& painter);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void paintLeftPill(QPainter& painter, const MiniPlayerLayout& layout, double dpr);
    void paintRightPill(QPainter& painter, const MiniPlayerLayout& layout);
    const QImage& scaledArtwork(const QImage& source, double dpr);

    MiniPlayerViewModel model_;
    MiniAudioBarsViewModel bars_;
    QImage scaledArtwork_;
    qint64 scaledArtworkSource_ = 0;
    double scaledArtworkRatio_ = 0;
    platform::CancellableSet redraws_;
};
