#include "notch/mini_player_view.h"

#include "music/audio_visualizer.h"
#include "notch/notch_aware_shape.h"
#include "platform/symbols/symbols.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

AudioVisualizer& visualizerOf(const MiniPlayerEnvironment& environment) {
    return environment.visualizer ? *environment.visualizer : AudioVisualizer::shared();
}

platform::Scheduler& schedulerOf(const MiniPlayerEnvironment& environment) {
    return environment.scheduler ? *environment.scheduler : platform::Scheduler::shared();
}

const QString kNoteSymbol = QStringLiteral("music.note");

}  // namespace

MiniPlayerView::MiniPlayerView(QWidget* parent, const MiniPlayerEnvironment& environment)
    : QWidget(parent),
      model_(environment),
      bars_(visualizerOf(environment), model_.accentColor(), 2, 1.5, 16, schedulerOf(environment)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    redraws_.insert(model_.onChange([this] {
        bars_.setAccentColor(model_.accentColor());
        update();
    }));
    // A frame of the bars repaints their own small rectangle, not the band; the bars ask for one
    // only when it shows other pixels than the last. It is drawn at once: the bars' own wake-up
    // is the frame, with no second turn of the event loop for a queued update.
    redraws_.insert(bars_.onChange([this] { repaint(barsRect()); }));
}

MiniPlayerView::~MiniPlayerView() {
    redraws_.cancelAll();
    model_.disappear();
}

QSize MiniPlayerView::sizeHint() const {
    const QSizeF full = MiniPlayerViewModel::fullSize();
    return QSize(static_cast<int>(full.width()), static_cast<int>(full.height()));
}

void MiniPlayerView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    model_.appear();
}

void MiniPlayerView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    model_.disappear();
}

QRectF MiniPlayerView::bandRect() const {
    const QSizeF band = model_.size();
    return QRectF((width() - band.width()) / 2, 0, band.width(), band.height());
}

QPainterPath MiniPlayerView::drawnOutline() const {
    return NotchAwareShape{model_.cornerRadius(), model_.notchInfo()}.path(bandRect());
}

void MiniPlayerView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // What the kept layer shows changes through the model, which repaints the whole band: a frame of
    // the bars alone reuses it without reading again what it is keyed on (the screens among them).
    layerSure_ = layerKey_ && barsRect().contains(event->rect());
    paintContent(painter);
    layerSure_ = false;
}

QRect MiniPlayerView::barsRect() const {
    const MiniPlayerLayout layout = model_.layout();
    const QSizeF frame = MiniAudioBarsViewModel::frameSize();
    const QPointF centre = layout.rightPill.center();
    const QRectF bars(centre.x() - frame.width() / 2, centre.y() - frame.height() / 2, frame.width(), frame.height());
    return bars.intersected(layout.rightPill).translated(bandRect().topLeft()).toAlignedRect();
}

MiniPlayerView::LayerKey MiniPlayerView::layerKey(const MiniPlayerLayout& layout, double dpr) const {
    const NotchInfo notch = model_.notchInfo();
    const auto& artwork = model_.displayedArtwork();
    return LayerKey{layout.size,
                    model_.notchBackgroundColor(),
                    model_.cornerRadius(),
                    notch.width,
                    notch.height,
                    notch.hasSafeArea,
                    model_.flipAngle(),
                    model_.contentOpacity(),
                    artwork && !artwork->isNull() ? artwork->cacheKey() : 0,
                    dpr};
}

void MiniPlayerView::paintContent(QPainter& painter) {
    const MiniPlayerLayout layout = model_.layout();
    const QRectF band = bandRect();
    if (band.width() <= 0 || band.height() <= 0) return;
    const double dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    bars_.setPixelRatio(dpr);

    // Fully revealed, the bars lie well inside the outline at every corner radius, so they can be
    // drawn over a layer kept from frame to frame: a frame of the bars draws the six bars only.
    const bool barsApart = model_.pillReveal() == 1;
    if (barsApart) {
        if (!layerSure_) {
            const LayerKey key = layerKey(layout, dpr);
            if (!layerKey_ || !(*layerKey_ == key)) {
                renderLayer(layout, dpr, false);
                layerKey_ = key;
            }
        }
    } else {
        renderLayer(layout, dpr, true);
        layerKey_.reset();
    }
    painter.drawImage(band.topLeft(), layer_);
    if (barsApart) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(band.topLeft());
        paintRightPill(painter, layout);
        painter.restore();
    }
    painter.fillRect(layout.topLine.translated(band.topLeft()), Qt::black);
}

void MiniPlayerView::renderLayer(const MiniPlayerLayout& layout, double dpr, bool withBars) {
    // The band is drawn on a layer and cut out with the antialiased outline; a clip path alone
    // would leave the flares and the rounded corners jagged.
    const QSize pixels(static_cast<int>(std::ceil(layout.size.width() * dpr)),
                       static_cast<int>(std::ceil(layout.size.height() * dpr)));
    if (layer_.size() != pixels) layer_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    layer_.setDevicePixelRatio(dpr);
    layer_.fill(Qt::transparent);
    QPainter p(&layer_);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF whole(QPointF(0, 0), layout.size);
    p.fillRect(whole, model_.notchBackgroundColor());
    // Over the camera housing it stays black in every colour mode.
    p.fillRect(layout.middle, Qt::black);
    paintLeftPill(p, layout, dpr);
    if (withBars) paintRightPill(p, layout);
    // Composition applies only where something is drawn: the mask covers the whole layer.
    QImage mask(layer_.size(), QImage::Format_ARGB32_Premultiplied);
    mask.setDevicePixelRatio(dpr);
    mask.fill(Qt::transparent);
    {
        QPainter m(&mask);
        m.setRenderHint(QPainter::Antialiasing);
        m.fillPath(NotchAwareShape{model_.cornerRadius(), model_.notchInfo()}.path(whole), Qt::black);
    }
    p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    p.drawImage(QPointF(0, 0), mask);
}

void MiniPlayerView::paintLeftPill(QPainter& p, const MiniPlayerLayout& layout, double dpr) {
    const double opacity = model_.contentOpacity();
    if (layout.leftPill.width() <= 0 || opacity <= 0) return;
    p.save();
    p.setClipRect(layout.leftPill);
    p.setOpacity(opacity);
    const QPointF centre = layout.leftPill.center();
    QTransform flip;
    flip.translate(centre.x(), centre.y());
    flip.rotate(model_.flipAngle(), Qt::YAxis);
    flip.translate(-centre.x(), -centre.y());
    p.setTransform(flip, true);
    if (const auto& artwork = model_.displayedArtwork(); artwork && !artwork->isNull()) {
        QPainterPath rounded;
        rounded.addRoundedRect(layout.artwork, MiniPlayerViewModel::artworkCornerRadius,
                               MiniPlayerViewModel::artworkCornerRadius);
        p.setClipPath(rounded, Qt::IntersectClip);
        p.drawImage(layout.artwork, scaledArtwork(*artwork, dpr));
    } else {
        platform::Symbols::draw(p, kNoteSymbol, layout.symbol, Qt::white);
    }
    p.restore();
}

void MiniPlayerView::paintRightPill(QPainter& p, const MiniPlayerLayout& layout) {
    const double opacity = model_.contentOpacity();
    if (layout.rightPill.width() <= 0 || opacity <= 0) return;
    p.save();
    p.setClipRect(layout.rightPill);
    p.setOpacity(opacity);
    const QSizeF frame = MiniAudioBarsViewModel::frameSize();
    const QPointF centre = layout.rightPill.center();
    p.translate(centre.x() - frame.width() / 2, centre.y() - frame.height() / 2);
    barsPainter_.paint(p, bars_);
    p.restore();
}

// The artwork filled into its square (aspect kept, the excess cut), scaled once per image.
const QImage& MiniPlayerView::scaledArtwork(const QImage& source, double dpr) {
    if (source.cacheKey() != scaledArtworkSource_ || dpr != scaledArtworkRatio_ || scaledArtwork_.isNull()) {
        const int side = static_cast<int>(std::ceil(MiniPlayerViewModel::artworkSize * dpr));
        // A large cover is first thinned out cheaply; the smooth pass then works on a small image.
        const QImage reduced = std::min(source.width(), source.height()) > 4 * side
                                   ? source.scaled(4 * side, 4 * side, Qt::KeepAspectRatioByExpanding, Qt::FastTransformation)
                                   : source;
        QImage filled = reduced.scaled(side, side, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
        scaledArtwork_ = filled.copy((filled.width() - side) / 2, (filled.height() - side) / 2, side, side);
        scaledArtwork_.setDevicePixelRatio(dpr);
        scaledArtworkSource_ = source.cacheKey();
        scaledArtworkRatio_ = dpr;
    }
    return scaledArtwork_;
}
