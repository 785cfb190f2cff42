#include "overlay/island_view.h"

#include "core/app_icon_helper.h"
#include "core/app_settings.h"
#include "core/format.h"
#include "core/l10n.h"
#include "core/log.h"
#include "core/runtime_diagnostics.h"
#include "overlay/glass_blur.h"
#include "overlay/glass_shape.h"
#include "overlay/glass_specular_highlight.h"
#include "overlay/layer_drawing.h"
#include "overlay/scroll_dismiss_view.h"
#include "platform/animation/frame_paint.h"
#include "platform/window_shape/blur_behind.h"
#include "platform/window_shape/compositor.h"
#include "platform/window_shape/input_catcher.h"
#include "platform/workspace/icon_lookup.h"

#include <QEnterEvent>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <set>

namespace {

constexpr double kMarqueeSpacing = 30;

bool isPresent(const std::optional<QString>& text) { return text && !text->isEmpty(); }

// The image fitted into `frame` with its aspect ratio kept, centred.
QRectF fitted(const QImage& image, const QRectF& frame) {
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) return frame;
    QSizeF size(image.width(), image.height());
    size.scale(frame.size(), Qt::KeepAspectRatio);
    return QRectF(frame.center().x() - size.width() / 2, frame.center().y() - size.height() / 2, size.width(),
                  size.height());
}

void paintIconImage(QPainter& painter, const IslandIcon& icon) {
    painter.save();
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    painter.setClipPath(glass::roundedRect(icon.frame, icon.cornerRadius), Qt::IntersectClip);
    painter.drawImage(fitted(icon.image, icon.frame), icon.image);
    painter.restore();
}

}  // namespace

IslandView::IslandView(QWidget* parent, EventBus& bus, platform::Scheduler& scheduler, platform::Defaults& defaults,
                       platform::Workspace& workspace)
    : QWidget(parent),
      bus_(bus),
      scheduler_(scheduler),
      defaults_(defaults),
      workspace_(workspace),
      state_(bus.overlayStateSubject.value()),
      contentScaleY_(1.0, scheduler),
      contentScaleX_(1.0, scheduler) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);

    composited_ = !platform::WindowShapeKeeper::cutsToDrawn();
    compositorWatch_ = platform::CompositorWatch::shared().observe(lifetime_.wrap([this] {
        composited_ = !platform::WindowShapeKeeper::cutsToDrawn();
        invalidateCaches();
        update();
    }));
    rebuild();
    subscriptions_.insert(contentScaleX_.onChange([this] { scaleChanged(); }));
    subscriptions_.insert(contentScaleY_.onChange([this] { scaleChanged(); }));
    // A stored setting change redraws every instance at once.
    subscriptions_.insert(defaults_.didChange().sink([this](const QString&) { rebuild(); }));
    subscriptions_.insert(bus_.overlayDismissSubject.sink([this] { shrink(); }));
    iconListener_ = platform::IconLookup::shared().addListener(
        [this, found = lifetime_.wrap([this] { iconFound(); })] { scheduler_.post(found); });
    // Delivers the current state first, as every later one.
    subscriptions_.insert(bus_.overlayStateSubject.sink([this](const OverlayState& s) { receiveState(s); }));
}

IslandView::~IslandView() { stop(); }

void IslandView::stop() {
    platform::IconLookup::shared().removeListener(iconListener_);
    compositorWatch_.cancel();
    subscriptions_.cancelAll();
    pendingHiddenStateWorkItem_.cancel();
    lifetime_.reset();
}

OverlayStyle IslandView::style() const { return AppSettings(&defaults_).overlayStyle(); }
OverlayTint IslandView::tint() const { return AppSettings(&defaults_).overlayTint(); }
bool IslandView::showAppName() const { return AppSettings(&defaults_).showAppNameInNotification(); }

QString IslandView::fallbackWord() { return L10n::pick(QStringLiteral("Notification"), QStringLiteral("通知")); }

QString IslandView::displayText() const {
    return isPresent(state_.message) ? format::clipped(*state_.message, maxMessageLength) : fallbackWord();
}

QString IslandView::appNameLine() const { return state_.sourceHint.value_or(fallbackWord()); }

IslandIcon IslandView::iconIn(const QRectF& frame, double cornerRadius) const {
    IslandIcon icon;
    icon.frame = frame;
    icon.cornerRadius = cornerRadius;
    icon.image = cachedIcon_ ? *cachedIcon_ : AppIconHelper::getDefaultNotificationIcon();
    icon.isDefault = !cachedIcon_ || cachedIconIsDefault_;
    return icon;
}

// MARK: state

void IslandView::receiveState(const OverlayState& s) {
    if (!s.isVisible) {
        shrink();
        pendingHiddenStateWorkItem_.cancel();
        // The previous content stays on show while it shrinks.
        pendingHiddenStateWorkItem_ = scheduler_.after(hiddenStateDelay, lifetime_.wrap([this, s] {
            platform::withoutAnimation([this, &s] {
                state_ = s;
                updateCachedIcon();
            });
            rebuild();
        }));
        return;
    }

    const bool wasVisible = state_.isVisible;
    if (swipeDismissed_) cardSinceSwipeDismissed_ = true;
    pendingHiddenStateWorkItem_.cancel();
    pendingHiddenStateWorkItem_ = platform::WorkItem();
    if (!wasVisible) {
        // Grow from the shrunk size.
        platform::withoutAnimation([this] {
            contentScaleX_.set(shrunkScale);
            contentScaleY_.set(shrunkScale);
        });
    }
    platform::withAnimation(platform::Animation::spring(0.4, 0.75, 0), [this, &s] {
        state_ = s;
        updateCachedIcon();
        contentScaleY_.set(1.0);
        contentScaleX_.set(1.0);
    }, {}, scheduler_);
    rebuild();
}

void IslandView::shrink() {
    platform::withAnimation(platform::Animation::spring(0.3, 0.85, 0), [this] {
        contentScaleX_.set(shrunkScale);
        contentScaleY_.set(shrunkScale);
    }, {}, scheduler_);
}

// MARK: click

void IslandView::openSourceApp() {
    Log& log = Log::shared();
    if (isPresent(state_.bundleId)) {
        const QString& bundleId = *state_.bundleId;
        if (workspace_.launchApplicationWithBundleIdentifier(bundleId)) {
            log.info(QStringLiteral("IslandView: Opened app with bundle ID: ") + bundleId);
            return;
        }
    }
    if (isPresent(state_.sourceHint)) {
        const QString name = *state_.sourceHint;
        const QString lowered = name.toLower();
        for (const platform::RunningApplication& app : workspace_.runningApplications()) {
            if (app.localizedName && app.localizedName->toLower() == lowered) {
                workspace_.activateApplication(app.processIdentifier, true);
                log.info(QStringLiteral("IslandView: Activated running app: ") + name);
                return;
            }
        }
        if (workspace_.launchApplicationNamed(name)) {
            log.info(QStringLiteral("IslandView: Launched app by name: ") + name);
            return;
        }
    }
    log.debug(QStringLiteral("IslandView: Could not open source app, opening Notification Center"));
    Actions::openNotificationCenter();
}

// MARK: layout

void IslandView::rebuild() {
    const OverlayStyle s = style();
    const OverlayTint t = tint();
    const IslandMetrics m = metrics(state_, s, showAppName());
    switch (s) {
    case OverlayStyle::singlePill: layout_ = singlePillBody(m, t); break;
    case OverlayStyle::splitPill: layout_ = splitPillBody(m, t); break;
    case OverlayStyle::notchSheet: layout_ = notchSheetBody(m, t); break;
    case OverlayStyle::liquidGlass: layout_ = liquidGlassBody(m, t); break;
    }
    outline_ = layout_.drawnOutline();
    glassGlow_.updateTrackingAreas(QRectF(QPointF(0, 0), layout_.contentRect.size()));
    invalidateCaches();
    syncMarquees();
    visibilityInputs_.reset();
    updateVisibleSteps();
    updateFrameDriver();
    updateGeometry();
    update();
    updateBlurRegion();
    updateHover();
    outlineChanged();
}

QString IslandView::marqueeKey(const QString& line) const {
    QString key = caseName(layout_.style) + QLatin1Char('/');
    // The card styles lay out a different set of lines with and without the application name.
    if (layout_.style == OverlayStyle::notchSheet || layout_.style == OverlayStyle::liquidGlass)
        key += showAppName() ? QStringLiteral("3/") : QStringLiteral("2/");
    return key + line;
}

void IslandView::syncMarquees() {
    std::set<QString> live;
    lineMarquees_.clear();
    for (const IslandTextLine& line : layout_.lines) {
        const QString key = marqueeKey(line.key);
        live.insert(key);
        std::unique_ptr<MarqueeText>& marquee = marquees_[key];
        if (!marquee) {
            marquee = std::make_unique<MarqueeText>(line.text, line.font, line.color, kMarqueeSpacing, scheduler_);
            const QString lineKey = line.key;
            marquee->setOnChange([this, lineKey] { updateLine(lineKey); });
        } else {
            marquee->setText(line.text);
        }
        marquee->setFont(line.font);
        marquee->setColor(line.color);
        marquee->setAvailableWidth(line.frame.width());
        if (isVisible()) marquee->appear();
        lineMarquees_.push_back(marquee.get());
    }
    std::erase_if(marquees_, [&live](const auto& entry) { return !live.count(entry.first); });
}

const MarqueeText* IslandView::marquee(const QString& key) const {
    if (!layout_.line(key)) return nullptr;
    auto it = marquees_.find(marqueeKey(key));
    return it == marquees_.end() ? nullptr : it->second.get();
}

void IslandView::updateFrameDriver() {
    // The glass highlight moves with the clock, so the card redraws while it is on screen.
    const bool wantsFrames = isVisible() && layout_.glass.has_value();
    if (wantsFrames && !highlightTimer_.isValid()) {
        highlightTimer_ = scheduler_.every(SpecularHighlightView::kFrameInterval, lifetime_.wrap([this] {
            const platform::FrameScope frame;
            platform::paintInFrame(*this, placement());
        }));
    } else if (!wantsFrames) {
        highlightTimer_.invalidate();
    }
}

QRectF IslandView::frameRect() const {
    const QSizeF size = layout_.frameSize;
    const QRect area = placement();
    return QRectF(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2,
                  size.width(), size.height());
}

void IslandView::setPlacement(const QRect& placement) {
    if (placement_ == placement) return;
    const QRect before = this->placement();
    placement_ = placement;
    updateHover();
    updateVisibleSteps();
    platform::paintInFrame(*this, QRegion(before) | placement);
    updateBlurRegion();
}

QSize IslandView::sizeHint() const {
    return QSize(static_cast<int>(std::ceil(layout_.frameSize.width())),
                 static_cast<int>(std::ceil(layout_.frameSize.height())));
}

QTransform IslandView::contentTransform() const { return transformAt(shownScale_); }

QTransform IslandView::transformAt(QPointF scale) const {
    // Scaled about the frame's top centre.
    const QRectF frame = frameRect();
    QTransform transform;
    transform.translate(frame.left() + frame.width() / 2, frame.top());
    transform.scale(scale.x(), scale.y());
    transform.translate(-frame.width() / 2, 0);
    return transform;
}

// MARK: painting

QRectF IslandView::drawnRect() const { return contentTransform().mapRect(QRectF(QPointF(0, 0), layout_.frameSize)); }

void IslandView::scaleChanged() {
    updateVisibleSteps();  // a motion starting or ending, or another screen
    const QPointF live(contentScaleX_.value(), contentScaleY_.value());
    if (live == shownScale_) return;
    const QRectF shown = drawnRect();
    const QRectF now = transformAt(live).mapRect(QRectF(QPointF(0, 0), layout_.frameSize));
    const bool atRest = contentScaleX_.value() == contentScaleX_.target() &&
                        contentScaleY_.value() == contentScaleY_.target();
    // A spring's tail moves by less than half a device pixel per frame: nothing visible changes
    // until it has moved that far, or until it rests (the end value is always drawn exactly).
    // Every paint and the outline keep the scale shown until then.
    const double shift = std::max({std::abs(now.left() - shown.left()), std::abs(now.top() - shown.top()),
                                   std::abs(now.right() - shown.right()), std::abs(now.bottom() - shown.bottom())});
    if (!atRest && shift * devicePixelRatioF() < 0.5) return;
    shownScale_ = live;
    // The card draws nowhere outside its scaled frame.
    platform::paintInFrame(*this, QRectF(now | shown).toAlignedRect().adjusted(-1, -1, 1, 1));
    updateBlurRegion();
    outlineChanged();
}

QPainterPath IslandView::drawnOutline() const { return contentTransform().map(outline_); }

QRegion IslandView::blurRegion() const {
    if (!layout_.glass) return {};
    // The glass is the liquid-glass style's only material that blurs what lies behind the window.
    const QPoint origin = mapTo(window(), QPoint(0, 0));
    const QTransform toWindow = contentTransform() * QTransform::fromTranslate(origin.x(), origin.y());
    const QPainterPath shape = layout_.glass->glassShape(layout_.contentRect);
    return QRegion(shape.toFillPolygon(toWindow).toPolygon(), Qt::WindingFill);
}

void IslandView::updateBlurRegion() {
    // Only a window on screen carries the request (asking earlier would make this view a native
    // window of its own); showing it sends the request again.
    QWidget* top = window();
    if (!top->isVisible() || !top->windowHandle()) return;
    const QRegion region = blurRegion();
    if (region == requestedBlur_) return;
    requestedBlur_ = region;
    platform::setBlurBehindRegion(*top, region);
}

void IslandView::invalidateCaches() {
    belowCache_ = QPixmap();
    aboveCache_ = QPixmap();
    bakedLines_.clear();
    lineCache_.clear();
    pictureAlpha_ = QImage();
    placedPixels_.reset();
    scaledPixels_.reset();
}

QRegion IslandView::drawnPixels(qreal ratio, QPoint origin) const {
    // The text and the glass's moving layers lie on the still layers: their alpha is the card's.
    if (pictureAlpha_.isNull() || pictureAlpha_.devicePixelRatio() != ratio) {
        pictureAlpha_ = QImage((layout_.frameSize * ratio).toSize().expandedTo(QSize(1, 1)),
                               QImage::Format_ARGB32_Premultiplied);
        pictureAlpha_.setDevicePixelRatio(ratio);
        pictureAlpha_.fill(Qt::transparent);
        QPainter painter(&pictureAlpha_);
        const QRectF frame(QPointF(0, 0), layout_.frameSize);
        for (const bool below : {true, false}) {
            if (below && !layout_.glass) continue;
            const QPixmap& layer = stillLayer(below, ratio);
            painter.drawPixmap(frame, layer, QRectF(QPointF(0, 0), layer.size()));
        }
        painter.end();
        pictureAlphaPixels_ = platform::opaquePixels(pictureAlpha_);
        placedPixels_.reset();
        scaledPixels_.reset();
    }
    // Placed in the window's device pixels as the paint places it, rounding included.
    const QTransform transform = contentTransform() * QTransform::fromTranslate(origin.x(), origin.y()) *
                                 QTransform::fromScale(ratio, ratio);
    const QRect area = placement();
    const QRect inView = QRectF(QPointF(origin + area.topLeft()) * ratio, QSizeF(area.size()) * ratio).toAlignedRect();
    if (placedPixels_ && placedPixels_->transform == transform && placedPixels_->area == inView) return placedPixels_->pixels;

    QRegion pixels;
    const bool whole = transform.type() <= QTransform::TxTranslate && transform.dx() == std::round(transform.dx()) &&
                       transform.dy() == std::round(transform.dy());
    if (whole) {
        // Drawn pixel for pixel, as at rest.
        pixels = pictureAlphaPixels_.translated(static_cast<int>(transform.dx()), static_cast<int>(transform.dy())) & inView;
    } else {
        // From the picture's own top-left pixel, so a half pixel rounds as it does in the window.
        // Drawn there, the picture's pixels depend only on the scale, the offset within a pixel and
        // the extent: a card that slides at one scale is drawn once and moved by whole pixels.
        const QRect area = transform.mapRect(QRectF(QPointF(0, 0), layout_.frameSize)).toAlignedRect();
        const QTransform local = transform * QTransform::fromTranslate(-area.left(), -area.top());
        if (!scaledPixels_ || scaledPixels_->transform != local || scaledPixels_->size != area.size()) {
            QImage placed(area.size().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
            placed.fill(Qt::transparent);
            QPainter painter(&placed);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.setTransform(local);
            painter.drawImage(QRectF(QPointF(0, 0), layout_.frameSize), pictureAlpha_,
                              QRectF(QPointF(0, 0), pictureAlpha_.size()));
            painter.end();
            scaledPixels_ = ScaledPixels{local, area.size(), platform::opaquePixels(placed)};
            ++scaledRenders_;
        }
        pixels = scaledPixels_->pixels.translated(area.topLeft()) & inView;
    }
    placedPixels_ = PlacedPixels{transform, inView, pixels};
    return pixels;
}

void IslandView::updateLine(const QString& key) {
    const IslandTextLine* line = layout_.line(key);
    if (!line || contentScaleX_.isAnimating() || contentScaleY_.isAnimating()) {
        platform::paintInFrame(*this, placement());
        return;
    }
    // A row at rest is drawn at whole device pixels: a pass at 30 points a second moves it by one
    // every other frame on a 1x screen, and the frames between would send the same pixels.
    const MarqueeText* rowMarquee = marquee(key);
    const auto cached = lineCache_.find(line->key);
    if (rowMarquee && rowMarquee->isAnimating() && cached != lineCache_.end() && cached->second.paintedX &&
        cached->second.paintedScrolling == rowMarquee->isScrolling() &&
        rowDeviceX(*line, *rowMarquee) == cached->second.paintedX) {
        return;
    }
    platform::paintInFrame(*this, lineArea(*line));
}

QRect IslandView::lineArea(const IslandTextLine& line) const {
    // The line's row and whatever its shadow may reach.
    const QRectF area = line.frame.adjusted(-8, -8, 8, line.frame.height() + 8);
    return contentTransform().mapRect(area).toAlignedRect();
}

void IslandView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
    painter.setClipRect(placement());
    painter.setTransform(contentTransform());
    painter.setClipRect(QRectF(QPointF(0, 0), layout_.frameSize), Qt::IntersectClip);
    painter.setOpacity(opacity_);
    paintLayout(painter, glass::pixelRatio(painter));
    // Where each row now stands on screen, for rows this paint fully reached where the window shows.
    QRegion shown = placement();
    if (auto* partly = dynamic_cast<platform::PartlyShownWindow*>(window())) {
        if (const std::optional<QRegion> area = partly->shownArea()) shown &= area->translated(-mapTo(window(), QPoint(0, 0)));
    }
    for (size_t i = 0; i < layout_.lines.size() && i < lineMarquees_.size(); ++i) {
        const IslandTextLine& line = layout_.lines[i];
        const auto cached = lineCache_.find(line.key);
        if (cached == lineCache_.end()) continue;
        const bool reached = ((QRegion(lineArea(line)) & shown) - event->region()).isEmpty();
        cached->second.paintedX = reached ? rowDeviceX(line, *lineMarquees_[i]) : std::nullopt;
        cached->second.paintedScrolling = lineMarquees_[i]->isScrolling();
    }
    updateVisibleSteps();
}

void IslandView::paintStill(QPainter& painter, bool below) const {
    const IslandLayout& l = layout_;
    if (below) {
        if (!l.glass) return;
        painter.save();
        painter.translate(l.contentRect.topLeft());
        const unsigned layers = LiquidGlassModifier::Layers::below | (composited_ ? LiquidGlassModifier::Layers::dropShadows : 0u);
        l.glass->paintLayers(painter, QRectF(QPointF(0, 0), l.contentRect.size()), 0, glassGlow_,
                             LiquidGlassModifier::Layers(layers));
        painter.restore();
        return;
    }
    if (l.glass) {
        painter.save();
        painter.translate(l.contentRect.topLeft());
        l.glass->paintLayers(painter, QRectF(QPointF(0, 0), l.contentRect.size()), 0, glassGlow_,
                             LiquidGlassModifier::Layers::above);
        painter.restore();
    }
    painter.save();
    painter.setClipPath(l.clip, Qt::IntersectClip);
    for (const IslandShape& shape : l.shapes) fillInBands(painter, glass::roundedRect(shape.rect, shape.cornerRadius), shape.fill);
    if (l.iconGlow) {
        QPainterPath disc;
        disc.addEllipse(l.iconGlow->frame);
        glass::paintBlurredFill(painter, disc, l.iconGlow->color, l.iconGlow->blurRadius);
    }
    if (l.icon.shadow) {
        const IslandShadow& s = *l.icon.shadow;
        glass::paintShadowOf(painter, l.icon.frame, [&l](QPainter& p) { paintIconImage(p, l.icon); }, s.color, s.radius,
                             s.offset);
    }
    paintIconImage(painter, l.icon);
    painter.restore();
}

const QPixmap& IslandView::stillLayer(bool below, qreal pixelRatio) const {
    QPixmap& cache = below ? belowCache_ : aboveCache_;
    if (!below && !cache.isNull()) {
        // A line that starts or stops moving leaves the picture, or joins it.
        for (size_t i = 0; i < layout_.lines.size() && i < lineMarquees_.size(); ++i) {
            if (i >= bakedLines_.size() || bakedLines_[i] != baked(*lineMarquees_[i])) {
                cache = QPixmap();
                break;
            }
        }
    }
    if (!cache.isNull() && cache.devicePixelRatio() == pixelRatio) return cache;
    const QSizeF size = layout_.frameSize;
    cache = QPixmap((size * pixelRatio).toSize().expandedTo(QSize(1, 1)));
    cache.setDevicePixelRatio(pixelRatio);
    cache.fill(Qt::transparent);
    QPainter painter(&cache);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
    paintStill(painter, below);
    if (!below) {
        // The lines standing still, so the card at rest (and through its fade) is one picture.
        bakedLines_.assign(layout_.lines.size(), false);
        painter.setClipRect(QRectF(QPointF(0, 0), size));
        for (size_t i = 0; i < layout_.lines.size() && i < lineMarquees_.size(); ++i) {
            if (!baked(*lineMarquees_[i])) continue;
            paintLine(painter, layout_.lines[i], *lineMarquees_[i], pixelRatio);
            bakedLines_[i] = true;
        }
    }
    return cache;
}

void IslandView::setContentOpacity(double opacity) {
    if (opacity == opacity_) return;
    // Less than half an alpha step draws the same pixels; none and full are always drawn exactly.
    if (opacity > 0 && opacity < 1 && opacity_ < 1 && std::abs(opacity - opacity_) * 255 < 0.5) return;
    opacity_ = opacity;
    platform::paintInFrame(*this, drawnRect().toAlignedRect().adjusted(-1, -1, 1, 1));
}

void IslandView::paintLayout(QPainter& painter, qreal pixelRatio) const {
    const IslandLayout& l = layout_;
    const QRectF frame(QPointF(0, 0), l.frameSize);
    if (l.glass) {
        drawLayer(painter, frame, stillLayer(true, pixelRatio));
        const double phase = SpecularHighlightView::phase(scheduler_.wallNow());
        painter.save();
        painter.translate(l.contentRect.topLeft());
        l.glass->paintLayers(painter, QRectF(QPointF(0, 0), l.contentRect.size()), phase, glassGlow_,
                             LiquidGlassModifier::Layers::moving);
        painter.restore();
    }
    drawLayer(painter, frame, stillLayer(false, pixelRatio));
    for (size_t i = 0; i < l.lines.size() && i < lineMarquees_.size(); ++i) {
        if (i < bakedLines_.size() && bakedLines_[i]) continue;
        paintLine(painter, l.lines[i], *lineMarquees_[i], pixelRatio);
    }
}

const IslandView::LineImage& IslandView::lineImage(const IslandTextLine& line, const MarqueeText& marquee,
                                                   qreal pixelRatio) const {
    LineImage& image = lineCache_[line.key];
    if (!image.pixmap.isNull() && image.pixmap.devicePixelRatio() == pixelRatio) return image;
    // One copy of the text at rest, with room for its shadow.
    const double margin = line.shadow ? line.shadow->radius * 2 + std::abs(line.shadow->offset.y()) + 1 : 1;
    const QFontMetricsF metrics(line.font);
    const QSizeF size(std::max(marquee.textWidth(), metrics.horizontalAdvance(line.text)) + 2 * margin,
                      std::max(metrics.height(), line.frame.height() * 1.6) + 2 * margin);
    image.origin = QPointF(margin, margin);
    image.pixmap = QPixmap((size * pixelRatio).toSize().expandedTo(QSize(1, 1)));
    image.pixmap.setDevicePixelRatio(pixelRatio);
    image.pixmap.fill(Qt::transparent);
    QPainter painter(&image.pixmap);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    const QRectF at(image.origin, QSizeF(size.width() - 2 * margin, line.frame.height()));
    auto draw = [&line, &metrics, &at](QPainter& p) {
        if (line.text.isEmpty()) return;
        p.setFont(line.font);
        p.setPen(line.color);
        p.drawText(QPointF(at.left(), at.top() + metrics.ascent()), line.text);
    };
    if (line.shadow) {
        const IslandShadow& s = *line.shadow;
        const QRectF area(at.left(), at.top(), at.width(), at.height() * 1.6);
        glass::paintShadowOf(painter, area, draw, s.color, s.radius, s.offset);
    }
    draw(painter);
    return image;
}

std::optional<long> IslandView::rowDeviceX(const IslandTextLine& line, const MarqueeText& marquee) const {
    const auto cached = lineCache_.find(line.key);
    if (cached == lineCache_.end() || cached->second.pixmap.isNull()) return std::nullopt;
    return std::lround(rowDevicePosition(line, cached->second, marquee.offset()));
}

double IslandView::rowDevicePosition(const IslandTextLine& line, const LineImage& image, double offset) const {
    const double x = line.frame.left() + offset - image.origin.x();
    const double inWindow = mapTo(window(), QPoint(0, 0)).x() + contentTransform().map(QPointF(x, 0)).x();
    return inWindow * devicePixelRatioF();
}

bool IslandView::clippedAwayAt(double scaleY) const {
    const QRectF frame(QPointF(0, 0), layout_.frameSize);
    return !transformAt(QPointF(shownScale_.x(), scaleY)).mapRect(frame).intersects(QRectF(placement()));
}

void IslandView::updateVisibleSteps() {
    const double ratio = devicePixelRatioF();
    const QSizeF size = layout_.frameSize;
    const bool clippedAway = clippedAwayAt(contentScaleY_.value());
    const VisibilityInputs inputs{ratio, size, placement(), clippedAway};
    if (inputs != visibilityInputs_) {
        const bool flipped = visibilityInputs_ && visibilityInputs_->clippedAway != clippedAway;
        visibilityInputs_ = inputs;
        if (flipped) outlineChanged();  // the panel's fade shows, or stops showing
        if (size.width() > 0 && size.height() > 0) {
            // Scaled about the top centre: a side moves by half the width times the change, the
            // bottom by the height times it, and less than half a device pixel is not drawn
            // (scaleChanged). Nothing is drawn while the card misses its placement.
            const double stepX = 1.0 / (ratio * size.width()) * (1 - 1e-9);
            const double stepY = 0.5 / (ratio * size.height()) * (1 - 1e-9);
            contentScaleX_.setLooksSame([clippedAway, stepX](double value, double heard) {
                return clippedAway || std::abs(value - heard) < stepX;
            });
            contentScaleY_.setLooksSame([this, stepY](double value, double heard) {
                return (clippedAwayAt(value) && clippedAwayAt(heard)) || std::abs(value - heard) < stepY;
            });
        } else {
            contentScaleX_.clearVisibleStep();
            contentScaleY_.clearVisibleStep();
        }
        if (clippedAway) {
            for (MarqueeText* marquee : lineMarquees_) marquee->setLooksSame([](double, double) { return true; });
        }
    }
    if (clippedAway) return;
    // A row is drawn at whole device pixels once its place is known; while the card scales every
    // frame redraws the card (updateLine).
    const bool scaling = contentScaleX_.isAnimating() || contentScaleY_.isAnimating();
    for (size_t i = 0; i < layout_.lines.size() && i < lineMarquees_.size(); ++i) {
        MarqueeText& marquee = *lineMarquees_[i];
        const IslandTextLine& line = layout_.lines[i];
        const auto cached = lineCache_.find(line.key);
        if (scaling || cached == lineCache_.end() || cached->second.pixmap.isNull() || !cached->second.paintedX) {
            marquee.clearVisibleStep();
            continue;
        }
        const double at = rowDevicePosition(line, cached->second, 0);
        const double perPoint = ratio * contentTransform().m11();
        if (!(perPoint > 0)) {
            marquee.clearVisibleStep();
            continue;
        }
        marquee.setVisibleGrid(1.0 / perPoint, at);
    }
}

void IslandView::paintLine(QPainter& painter, const IslandTextLine& line, const MarqueeText& marquee,
                           qreal pixelRatio) const {
    if (marquee.text().isEmpty()) return;
    const LineImage& image = lineImage(line, marquee, pixelRatio);
    const QSizeF size = image.pixmap.deviceIndependentSize();
    const double margin = image.origin.x();
    painter.save();
    // The container's width; the shadow may spill below and around the row.
    painter.setClipRect(QRectF(line.frame.left(), line.frame.top() - margin, line.frame.width(),
                               size.height()),
                        Qt::IntersectClip);
    const double x = line.frame.left() + marquee.offset() - margin;
    const double y = line.frame.top() - image.origin.y();
    painter.drawPixmap(QPointF(x, y), image.pixmap);
    if (marquee.isScrolling()) painter.drawPixmap(QPointF(x + marquee.textWidth() + marquee.spacing(), y), image.pixmap);
    painter.restore();
}

// MARK: events

void IslandView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!appeared_) {
        appeared_ = true;
        updateCachedIcon();
        rebuild();
    }
    for (auto& [key, marquee] : marquees_) marquee->appear();
    updateFrameDriver();
    // The window may be a new one, without the request.
    requestedBlur_ = QRegion();
    updateBlurRegion();
}

void IslandView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Pending marquee steps of a hidden view must not act.
    for (auto& [key, marquee] : marquees_) marquee->disappear();
    updateFrameDriver();
}

void IslandView::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    updateBlurRegion();
}

void IslandView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateBlurRegion();
}

void IslandView::trackGlow(std::optional<QPointF> widgetPoint) {
    if (!layout_.glass) return;
    std::optional<QPointF> local;
    if (widgetPoint) {
        bool invertible = false;
        const QTransform inverse = contentTransform().inverted(&invertible);
        if (invertible) local = inverse.map(*widgetPoint) - layout_.contentRect.topLeft();
    }
    if (glassGlow_.trackPointer(local)) update();
}

void IslandView::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    pointer_ = event->globalPosition();
    updateHover();
    trackGlow(event->position());
}

void IslandView::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    pointer_.reset();
    updateHover();
    trackGlow(std::nullopt);
}

void IslandView::mouseMoveEvent(QMouseEvent* event) {
    pointer_ = event->globalPosition();
    updateHover();
    trackGlow(event->position());
    QWidget::mouseMoveEvent(event);
}

void IslandView::updateHover() {
    // A card that grows under a pointer at rest is hovered without a motion.
    isHovering_ = pointer_ && frameRect().contains(mapFromGlobal(*pointer_));
}

void IslandView::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton && frameRect().contains(event->position());
    event->accept();
}

void IslandView::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton && frameRect().contains(event->position());
    pressed_ = false;
    event->accept();
    if (click) openSourceApp();
}

void IslandView::continueSwipe(uint32_t at) {
    if (!lastWheelStep_ || at - *lastWheelStep_ >= platform::InputCatcher::kSwipeGapMs) {
        swipeDismissed_ = false;
        cardSinceSwipeDismissed_ = false;
    }
    lastWheelStep_ = at;
}

void IslandView::wheelEvent(QWheelEvent* event) {
    // The steps of one swipe come less than the gap apart by the server's clock. What remains of a
    // swipe that sent a card away only goes on sending that card away: a card that came since
    // (while the last one still went) is left for a swipe of its own.
    continueSwipe(static_cast<uint32_t>(event->timestamp()));
    // The step lands where the pointer is, which a card that came under it at rest may have heard
    // of from no crossing: the catcher's and the window's own cross on their way in.
    pointer_ = event->globalPosition();
    updateHover();
    const ScrollDismissView layer{isHovering_ && !cardSinceSwipeDismissed_, [this] {
                                      swipeDismissed_ = true;
                                      bus_.overlayDismissSubject.send();
                                  }};
    if (layer.scrollWheel(*event)) {
        event->accept();
    } else {
        event->ignore();  // on to whatever lies under the overlay
    }
}
