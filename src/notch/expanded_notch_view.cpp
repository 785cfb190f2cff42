#include "notch/expanded_notch_view.h"

#include "notch/notch_aware_shape.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

const platform::Animation surfaceSpring = platform::Animation::spring(0.5, 0.78, 0);

}  // namespace

ExpandedNotchView::ExpandedNotchView(QWidget* parent, NotchViewServices services)
    : QWidget(parent),
      services_(std::move(services)),
      expandProgress_(0.0, services_.scheduler),
      contentOpacity_(0.0, services_.scheduler) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    player_ = new ExpandedPlayerView(this, services_);
    player_->setContentOpacity(0);
    subscriptions_.insert(expandProgress_.onChange([this] {
        placePlayer();
        update();
    }));
    subscriptions_.insert(contentOpacity_.onChange([this] { player_->setContentOpacity(contentOpacity_.value()); }));
    subscriptions_.insert(services_.bus.expandedDismissSubject.sink([this] { dismiss(); }));
    placePlayer();
}

ExpandedNotchView::~ExpandedNotchView() = default;

NotchInfo ExpandedNotchView::notchInfo() const {
    const std::vector<platform::ScreenInfo> screens = services_.screens.screens();
    if (!screens.empty()) return NotchInfo::detect(screens.front());
    if (const auto main = services_.screens.mainScreen()) return NotchInfo::detect(*main);
    return NotchInfo{noNotchWidth, bandHeight, false};
}

QSizeF ExpandedNotchView::baseSize() const {
    const NotchInfo notch = notchInfo();
    if (!notch.hasSafeArea) return {noNotchWidth, bandHeight};
    return {std::max(notch.width, minimumNotchWidth), std::max(notch.height, bandHeight)};
}

QSizeF ExpandedNotchView::surfaceSize(double progress) const {
    const QSizeF base = baseSize();
    return {base.width() + (expandedWidth - base.width()) * progress, base.height() + expandedHeight * progress};
}

ExpandedNotchModel ExpandedNotchView::model() const {
    ExpandedNotchModel model;
    model.notchInfo = notchInfo();
    model.baseSize = baseSize();
    model.expandProgress = expandProgress_.value();
    model.contentOpacity = contentOpacity_.value();
    model.currentSize = surfaceSize(model.expandProgress);
    model.surface = QRectF((width() - model.currentSize.width()) / 2, 0, model.currentSize.width(),
                           model.currentSize.height());
    return model;
}

QSize ExpandedNotchView::sizeHint() const {
    const QSizeF open = surfaceSize(1);
    return QSize(static_cast<int>(std::ceil(open.width())), static_cast<int>(std::ceil(open.height())));
}

void ExpandedNotchView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    open();
}

void ExpandedNotchView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placePlayer();
}

void ExpandedNotchView::open() {
    platform::withoutAnimation([&] {
        expandProgress_.set(0.0);
        contentOpacity_.set(0.0);
    });
    platform::withAnimation(surfaceSpring, [&] { expandProgress_.set(1.0); }, {}, services_.scheduler);
    // The player fades in while the surface is still growing.
    platform::withAnimation(platform::Animation::easeOut(0.25).delay(0.15), [&] { contentOpacity_.set(1.0); }, {},
                            services_.scheduler);
}

void ExpandedNotchView::dismiss() {
    // Both retarget from wherever they stand. The answer on the bus comes from the handshake,
    // 0.55 s after the request, even when this view is gone by then.
    platform::withAnimation(platform::Animation::easeIn(0.15), [&] { contentOpacity_.set(0.0); }, {},
                            services_.scheduler);
    platform::withAnimation(surfaceSpring, [&] { expandProgress_.set(0.0); }, {}, services_.scheduler);
}

void ExpandedNotchView::placePlayer() {
    const ExpandedNotchModel m = model();
    const double band = m.baseSize.height();
    // The player lies below the notch band, as wide as the surface is now.
    const QRectF frame(m.surface.left(), band, m.surface.width(), std::max(0.0, m.surface.height() - band));
    player_->setGeometry(frame.toAlignedRect());
    const QPointF origin = player_->geometry().topLeft();
    player_->setSurfaceClip(NotchAwareShape{cornerRadius, m.notchInfo}.path(m.surface).translated(-origin));
}

QPainterPath ExpandedNotchView::drawnOutline() const {
    const ExpandedNotchModel m = model();
    return NotchAwareShape{cornerRadius, m.notchInfo}.drawnArea(m.surface, topLineInset);
}

void ExpandedNotchView::paintEvent(QPaintEvent*) {
    const ExpandedNotchModel m = model();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath outline = NotchAwareShape{cornerRadius, m.notchInfo}.path(m.surface);
    outline.setFillRule(Qt::WindingFill);
    painter.fillPath(outline, Qt::black);
    // Covers the top edge between the two flares, against the menu bar.
    painter.fillRect(QRectF(m.surface.left() + topLineInset, 0, std::max(0.0, m.surface.width() - 2 * topLineInset), 1),
                     Qt::black);
}
