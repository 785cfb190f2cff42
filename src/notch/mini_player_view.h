#pragma once

// The compact player the notch shows while music plays: the black notch widened by a pill on each
// side, the track's artwork on the left, the level bars on the right. No controls of its own; the
// notch state manager decides when it comes and goes. It draws the band centred at the top of its
// width, 276 x 32 when fully revealed.

#include "music/mini_audio_bars_painter.h"
#include "music/mini_audio_bars_view_model.h"
#include "notch/mini_player_view_model.h"
#include "notch/notch_aware_shape.h"

#include <QImage>
#include <QWidget>

#include <optional>

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
    // What a frame of the level bars repaints: their 22 x 20 frame, within the right pill.
    QRect barsRect() const;
    // Draws the band into `painter` at the widget's size.
    void paintContent(QPainter& painter);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // What the band's layer shows besides the bars; while it stays the same the layer is reused.
    struct LayerKey {
        QSizeF size;
        QColor background;
        double cornerRadius;
        double notchWidth, notchHeight;
        bool notchHasSafeArea;
        double flipAngle;
        double contentOpacity;
        qint64 artwork;
        double dpr;
        friend bool operator==(const LayerKey&, const LayerKey&) = default;
    };
    LayerKey layerKey(const MiniPlayerLayout& layout, double dpr) const;
    void renderLayer(const MiniPlayerLayout& layout, double dpr, bool withBars);
    void paintLeftPill(QPainter& painter, const MiniPlayerLayout& layout, double dpr);
    void paintRightPill(QPainter& painter, const MiniPlayerLayout& layout);
    const QImage& scaledArtwork(const QImage& source, double dpr);

    MiniPlayerViewModel model_;
    MiniAudioBarsViewModel bars_;
    MiniAudioBarsPainter barsPainter_;
    QImage layer_;
    std::optional<LayerKey> layerKey_;
    bool layerSure_ = false;  // this paint covers the bars only
    QImage scaledArtwork_;
    qint64 scaledArtworkSource_ = 0;
    double scaledArtworkRatio_ = 0;
    platform::CancellableSet redraws_;
};
