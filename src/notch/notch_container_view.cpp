#include "notch/notch_container_view.h"

#include "notch/notch_aware_shape.h"
#include "platform/window_shape/compositor.h"
#include "platform/window_shape/input_region.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QTransform>

#include <algorithm>

// ---- bookkeeping

bool NotchContainerState::receive(const NotchMode& mode) {
    if (mode == notchMode) return false;
    notchMode = mode;
    switch (mode.kind()) {
    case NotchMode::Kind::miniPlayer:
    case NotchMode::Kind::expanded:
    case NotchMode::Kind::glance:
    case NotchMode::Kind::drop:
    case NotchMode::Kind::switcher:
        lastVisibleMode = mode;
        break;
    case NotchMode::Kind::liveActivity:
        lastVisibleMode = NotchMode::idle;
        break;
    case NotchMode::Kind::idle:
    case NotchMode::Kind::notification:
        break;
    }
    return true;
}

NotchContent NotchContainerState::content() const {
    switch (notchMode.kind()) {
    case NotchMode::Kind::liveActivity: return NotchContent::liveActivity;
    case NotchMode::Kind::idle: return idleContent(lastVisibleMode);
    case NotchMode::Kind::miniPlayer: return NotchContent::miniPlayer;
    case NotchMode::Kind::expanded: return NotchContent::expanded;
    case NotchMode::Kind::notification: return NotchContent::none;
    case NotchMode::Kind::glance: return NotchContent::glance;
    case NotchMode::Kind::drop: return NotchContent::drop;
    case NotchMode::Kind::switcher: return NotchContent::switcher;
    }
    return NotchContent::none;
}

NotchContent NotchContainerState::idleContent(const NotchMode& lastVisible) {
    switch (lastVisible.kind()) {
    case NotchMode::Kind::expanded: return NotchContent::expanded;
    case NotchMode::Kind::glance: return NotchContent::glance;
    case NotchMode::Kind::drop: return NotchContent::drop;
    case NotchMode::Kind::switcher: return NotchContent::switcher;
    case NotchMode::Kind::miniPlayer:
    case NotchMode::Kind::idle:
    case NotchMode::Kind::notification:
    case NotchMode::Kind::liveActivity:
        return NotchContent::none;
    }
    return NotchContent::none;
}

std::optional<double> NotchContainerState::transitionScale(const NotchMode& mode) {
    switch (mode.kind()) {
    case NotchMode::Kind::liveActivity:
    case NotchMode::Kind::drop:
        return 0.9;
    case NotchMode::Kind::glance:
    case NotchMode::Kind::switcher:
        return 0.92;
    case NotchMode::Kind::idle:
    case NotchMode::Kind::miniPlayer:
    case NotchMode::Kind::expanded:
    case NotchMode::Kind::notification:
        return std::nullopt;
    }
    return std::nullopt;
}

// ---- transition effect

NotchTransitionEffect::NotchTransitionEffect(double scale, QObject* parent) : QGraphicsEffect(parent), scale_(scale) {}

void NotchTransitionEffect::setProgress(double progress) {
    if (progress == progress_) return;
    progress_ = progress;
    update();
}

void NotchTransitionEffect::draw(QPainter* painter) {
    if (progress_ == 1) {
        drawSource(painter);
        return;
    }
    const double opacity = std::clamp(progress_, 0.0, 1.0);
    if (opacity <= 0) return;
    QPoint offset;
    const QPixmap pixmap = sourcePixmap(Qt::LogicalCoordinates, &offset, QGraphicsEffect::NoPad);
    if (pixmap.isNull()) return;
    const QRectF frame(offset, pixmap.deviceIndependentSize());
    const QPointF centre = frame.center();
    const double k = scale_ + (1 - scale_) * progress_;
    painter->save();
    painter->setOpacity(painter->opacity() * opacity);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->translate(centre);
    painter->scale(k, k);
    painter->translate(-centre);
    painter->drawPixmap(offset, pixmap);
    painter->restore();
}

// ---- container


NotchContainerView::NotchContainerView(QWidget* parent, EventBus& bus, platform::Scheduler& scheduler,
                                       const NotchContentFactory& factory)
    : QWidget(parent), bus_(bus), scheduler_(scheduler), factory_(factory), state_(bus.notchModeSubject.value()) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    current_.mode = state_.notchMode;
    current_.content = state_.content();
    current_.view = makeView(current_.content);
    if (current_.view) placeChild(current_.view, current_.content);
    applyInputRegion();
    modeSubscription_ = bus_.notchModeSubject.sink(lifetime_.wrap([this](const NotchMode& mode) { receive(mode); }));
    // A compositor that starts or stops changes what clear pixels show: shape again, or unshape.
    compositorWatch_ = platform::CompositorWatch::shared().observe(lifetime_.wrap([this] { applyInputRegion(); }));
}

NotchContainerView::~NotchContainerView() {
    modeSubscription_.cancel();
    compositorWatch_.cancel();
    lifetime_.reset();
    // Children go with the widget; their transitions must not outlive them.
    current_.redraw.cancel();
    for (auto& slot : removing_) slot.redraw.cancel();
}

QWidget* NotchContainerView::contentView() const { return current_.view.data(); }

const NotchTransitionEffect* NotchContainerView::contentTransition() const { return current_.effect.data(); }

std::vector<QWidget*> NotchContainerView::removingViews() const {
    std::vector<QWidget*> views;
    for (const auto& slot : removing_)
        if (slot.view) views.push_back(slot.view);
    return views;
}

void NotchContainerView::setTopSafeAreaInset(double inset) {
    topInset_ = inset;
    if (current_.view) placeChild(current_.view, current_.content);
    for (const auto& slot : removing_)
        if (slot.view) placeChild(slot.view, slot.content);
    applyInputRegion();
}

QRegion NotchContainerView::inputRegion() const { return inputRegion(currentOutline()); }

QRegion NotchContainerView::drawnRegion() const { return drawnRegion(currentOutline()); }

std::optional<QPainterPath> NotchContainerView::currentOutline() const {
    const auto* outlined = dynamic_cast<const NotchOutlinedView*>(current_.view.data());
    if (!outlined) return std::nullopt;
    return outlined->drawnOutline();
}

bool NotchContainerView::takesInputOnItsBand() const {
    return current_.content == NotchContent::miniPlayer || current_.content == NotchContent::liveActivity;
}

QRegion NotchContainerView::inputRegion(const std::optional<QPainterPath>& outline) const {
    QWidget* view = current_.view.data();
    if (!view) return {};
    QRegion region(view->geometry());
    if (outline && takesInputOnItsBand()) {
        // A band redraws far more often (level bars, artwork) than its outline moves.
        const QPainterPath placed = outline->translated(view->pos());
        if (placed != lastOutline_) {
            lastOutline_ = placed;
            lastOutlineRegion_ = platform::pixelsCovered(placed);
        }
        region = lastOutlineRegion_;
    }
    return region & rect();
}

QRegion NotchContainerView::drawnRegion(const std::optional<QPainterPath>& currentOutline) const {
    QRegion region;
    const auto add = [&](const Slot& slot, bool current) {
        QWidget* view = slot.view.data();
        if (!view || view->isHidden()) return;
        QPainterPath outline;
        const auto* outlined = dynamic_cast<const NotchOutlinedView*>(view);
        if (current && currentOutline) {
            outline = *currentOutline;
        } else if (outlined) {
            outline = outlined->drawnOutline();
        } else {
            outline.addRect(QRectF(QPointF(0, 0), view->size()));
        }
        const double progress = slot.effect ? slot.effect->progress() : 1.0;
        if (progress <= 0) return;
        if (progress != 1) {
            // As the transition draws it: scaled about the child's centre.
            const double k = slot.effect->scale() + (1 - slot.effect->scale()) * progress;
            const QPointF centre = QRectF(QPointF(0, 0), view->size()).center();
            outline = QTransform().translate(centre.x(), centre.y()).scale(k, k).translate(-centre.x(), -centre.y()).map(outline);
        }
        outline.translate(view->pos());
        if (!current) {
            region += platform::pixelsCovered(outline);
            return;
        }
        // The child at rest keeps its outline between redraws.
        if (outline != lastDrawnOutline_) {
            lastDrawnOutline_ = outline;
            lastDrawnOutlineRegion_ = platform::pixelsCovered(outline);
        }
        region += lastDrawnOutlineRegion_;
    };
    add(current_, true);
    for (const Slot& slot : removing_) add(slot, false);
    return region & rect();
}

void NotchContainerView::applyInputRegion() {
    QWidget* host = window();
    if (host == this) return;  // not in a panel (yet)
    const QPoint origin = mapTo(host, QPoint(0, 0));
    const qreal ratio = host->devicePixelRatioF();
    const bool cut = platform::WindowShapeKeeper::cutsToDrawn();
    // Read once for both shapes: a band that moves computes its outline from the clock at each
    // read, and two reads a moment apart would set an input-only window over it for the frame.
    const std::optional<QPainterPath> outline = cut || takesInputOnItsBand() ? currentOutline() : std::nullopt;
    const QRegion input = platform::toDevicePixels(inputRegion(outline).translated(origin), ratio);
    // Where transparency is honoured the window keeps its full size, as the input shape alone decides clicks.
    const QRegion drawn = cut ? platform::toDevicePixels(drawnRegion(outline).translated(origin), ratio) : QRegion();
    shape_.apply(*host, drawn, input);
}

bool NotchContainerView::eventFilter(QObject* watched, QEvent* event) {
    // A child that animates its band redraws at every step. Its outline changes only with a repaint
    // of the whole child: a frame of a part of it (the level bars) leaves the input region alone.
    if (watched == current_.view) {
        const QEvent::Type type = event->type();
        if (type == QEvent::Resize || type == QEvent::Move ||
            (type == QEvent::Paint && static_cast<QPaintEvent*>(event)->rect().contains(current_.view->visibleRegion().boundingRect())))
            applyInputRegion();
    }
    return QWidget::eventFilter(watched, event);
}

void NotchContainerView::receive(const NotchMode& mode) {
    const NotchMode previous = state_.notchMode;
    if (!state_.receive(mode)) return;
    replaceContent(previous);
}

void NotchContainerView::replaceContent(const NotchMode& previousMode) {
    const NotchMode& mode = state_.notchMode;
    // Another activity type keeps the child where it is; the live-activity view changes itself.
    if (previousMode.isLiveActivity() && mode.isLiveActivity()) {
        current_.mode = mode;
        if (current_.view && factory_.updateLiveActivity) factory_.updateLiveActivity(current_.view, *mode.activityType());
        return;
    }

    const auto spring = platform::Animation::spring(springResponse, springDampingFraction, 0);

    Slot old = std::move(current_);
    current_ = Slot{};
    if (old.view) {
        const auto scale = NotchContainerState::transitionScale(old.mode);
        if (scale) {
            if (!old.effect) {
                old.effect = new NotchTransitionEffect(*scale);
                old.view->setGraphicsEffect(old.effect);
                old.progress = std::make_shared<platform::Animated<double>>(1.0, scheduler_);
                old.effect->setProgress(1.0);
                QPointer<NotchTransitionEffect> effect = old.effect;
                auto progress = old.progress;
                old.redraw = old.progress->onChange([this, effect, progress] {
                    if (effect) effect->setProgress(progress->value());
                    applyInputRegion();
                });
            }
            old.view->setAttribute(Qt::WA_TransparentForMouseEvents);
            QPointer<QWidget> view = old.view;
            // Dropped on the next pass: the animation that calls back is the slot's own.
            old.progress->animate(0, spring, lifetime_.wrap([this, view] {
                scheduler_.post(lifetime_.wrap([this, view] { finishRemoval(view); }));
            }));
            removing_.push_back(std::move(old));
        } else {
            old.redraw.cancel();
            discard(old.view);
        }
    }

    current_.mode = mode;
    current_.content = state_.content();
    current_.view = makeView(current_.content);
    if (!current_.view) {
        applyInputRegion();
        return;
    }
    placeChild(current_.view, current_.content);
    current_.view->raise();
    applyInputRegion();
    if (const auto scale = NotchContainerState::transitionScale(mode)) {
        current_.effect = new NotchTransitionEffect(*scale);
        current_.effect->setProgress(0);
        current_.view->setGraphicsEffect(current_.effect);
        current_.progress = std::make_shared<platform::Animated<double>>(0.0, scheduler_);
        QPointer<NotchTransitionEffect> effect = current_.effect;
        auto progress = current_.progress;
        current_.redraw = current_.progress->onChange([this, effect, progress] {
            if (effect) effect->setProgress(progress->value());
            applyInputRegion();
        });
        QPointer<QWidget> view = current_.view;
        current_.progress->animate(1, spring, lifetime_.wrap([this, view] {
            // Once in, the child paints directly again.
            if (view && current_.view == view && current_.effect) view->setGraphicsEffect(nullptr);
        }));
    }
}

QWidget* NotchContainerView::makeView(NotchContent content) {
    QWidget* view = nullptr;
    switch (content) {
    case NotchContent::none: return nullptr;
    case NotchContent::liveActivity:
        view = factory_.makeLiveActivity(*state_.notchMode.activityType(), this);
        break;
    case NotchContent::miniPlayer: view = factory_.makeMiniPlayer(this); break;
    case NotchContent::expanded: view = factory_.makeExpanded(this); break;
    case NotchContent::glance: view = factory_.makeGlance(this); break;
    case NotchContent::drop: view = factory_.makeDrop(this); break;
    case NotchContent::switcher: view = factory_.makeSwitcher(this); break;
    }
    if (view) {
        if (view->parentWidget() != this) view->setParent(this);
        view->installEventFilter(this);
        view->show();
    }
    return view;
}

void NotchContainerView::placeChild(QWidget* view, NotchContent content) const {
    const int top = -static_cast<int>(topInset_);
    if (content == NotchContent::expanded) {
        // The expanded notch fills the panel from its top edge.
        view->setGeometry(0, top, width(), height());
        return;
    }
    // A child of fixed size (glance, drop zone, switcher) is centred under the notch.
    if (view->minimumSize() == view->maximumSize()) {
        const QSize size = view->minimumSize();
        view->setGeometry((width() - size.width()) / 2, top, size.width(), size.height());
        return;
    }
    // The others span the width at their own height, from the top.
    const int hinted = view->sizeHint().height();
    const int h = hinted > 0 ? std::min(hinted, height()) : height();
    view->setGeometry(0, top, width(), h);
}

void NotchContainerView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (current_.view) placeChild(current_.view, current_.content);
    for (const auto& slot : removing_)
        if (slot.view) placeChild(slot.view, slot.content);
    applyInputRegion();
}

void NotchContainerView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The panel's native window may be new: it starts out taking input everywhere.
    shape_.forget();
    applyInputRegion();
}

void NotchContainerView::finishRemoval(QWidget* view) {
    const auto it = std::find_if(removing_.begin(), removing_.end(), [view](const Slot& s) { return s.view == view; });
    if (it == removing_.end()) return;
    it->redraw.cancel();
    discard(it->view);
    removing_.erase(it);
    applyInputRegion();
}

// Hidden at once (it leaves the screen now) and deleted on the next pass: a mode change may come
// from inside one of the child's own callbacks.
void NotchContainerView::discard(QWidget* view) {
    if (!view) return;
    view->hide();
    view->deleteLater();
}
