#include "switcher/app_switcher_view.h"

#include "core/app_settings.h"
#include "notch/notch_aware_shape.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr double labelSpacing = 6;
constexpr double hoverInset = 6;
constexpr double topLineInset = 6;

QFont nameFont() { return notchFont(10, QFont::Medium); }

}  // namespace

AppSwitcherView::AppSwitcherView(QWidget* parent, SwitcherViewServices services)
    : QWidget(parent), services_(std::move(services)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setMouseTracking(true);
    setFixedSize(static_cast<int>(panelWidth), static_cast<int>(panelHeight));
}

double AppSwitcherView::cornerRadius(const platform::Defaults& defaults) {
    double radius = defaults.doubleValue(AppSettings::dynamicIslandCornerRadiusKey).value_or(0);
    // Not a number reads like a missing value rather than slipping through both clamps.
    if (!(radius > 0)) radius = 16;
    return std::min(std::max(radius, 8.0), 24.0);
}

NotchInfo AppSwitcherView::notchInfo() const {
    const std::vector<platform::ScreenInfo> screens = services_.screens.screens();
    if (!screens.empty()) return NotchInfo::detect(screens.front());
    if (const auto main = services_.screens.mainScreen()) return NotchInfo::detect(*main);
    return {};
}

double AppSwitcherView::itemHeight() const { return iconSize + labelSpacing + lineHeight(nameFont()); }

double AppSwitcherView::contentWidth() const {
    const auto n = static_cast<double>(recentApps_.size());
    return 2 * rowPadding + n * nameWidth + std::max(0.0, n - 1) * itemSpacing;
}

QRectF AppSwitcherView::itemFrame(qsizetype index) const {
    // The row sits centred in a strip below the notch space that leaves room for the hover highlight.
    const double stripHeight = itemHeight() + 2 * hoverInset;
    const double top = topSpace + (stripHeight - itemHeight()) / 2;
    const double left = rowPadding + static_cast<double>(index) * (nameWidth + itemSpacing) - scrollOffset_;
    return QRectF(left, top, nameWidth, itemHeight());
}

void AppSwitcherView::scrollBy(double dx) {
    const double maxOffset = std::max(0.0, contentWidth() - panelWidth);
    scrollOffset_ = std::clamp(scrollOffset_ + dx, 0.0, maxOffset);
}

DrawList AppSwitcherView::layout() const {
    DrawList out;
    const QFont font = nameFont();
    for (qsizetype i = 0; i < recentApps_.size(); ++i) {
        const platform::RunningApplication& app = recentApps_[i];
        const double progress = hoverProgress(app.processIdentifier);
        const QRectF frame = itemFrame(i);
        const QString prefix = QStringLiteral("switcher.item.%1.").arg(i);

        DrawItem background;
        background.kind = DrawItem::Kind::fill;
        background.key = prefix + QStringLiteral("background");
        background.frame = frame.adjusted(-hoverInset, -hoverInset, hoverInset, hoverInset);
        background.color = whiteAt(0.1 * progress);
        background.cornerRadius = 8;
        out.add(background);

        // The label grows about its centre; the highlight behind it does not.
        const double scale = 1.0 + (hoverScale - 1.0) * progress;
        const QPointF centre = frame.center();
        const auto scaled = [&](const QRectF& r) {
            return QRectF(centre.x() + (r.left() - centre.x()) * scale, centre.y() + (r.top() - centre.y()) * scale,
                          r.width() * scale, r.height() * scale);
        };
        const QRectF iconFrame(frame.center().x() - iconSize / 2, frame.top(), iconSize, iconSize);
        DrawItem icon;
        icon.key = prefix + QStringLiteral("icon");
        if (app.icon && !app.icon->isNull()) {
            icon.kind = DrawItem::Kind::image;
            icon.frame = scaled(iconFrame);
            const int pixels = static_cast<int>(std::ceil(iconSize * hoverScale * 2));
            const QImage image = app.icon->pixmap(QSize(pixels, pixels)).toImage();
            // Fitted: the whole icon shows with its aspect ratio kept.
            const QSizeF fitted = QSizeF(image.size()).scaled(icon.frame.size(), Qt::KeepAspectRatio);
            icon.frame = QRectF(icon.frame.center().x() - fitted.width() / 2,
                                icon.frame.center().y() - fitted.height() / 2, fitted.width(), fitted.height());
            icon.image = image;
        } else {
            icon.kind = DrawItem::Kind::symbol;
            icon.symbol = QStringLiteral("app.fill");
            icon.color = whiteAt(0.5);
            const QRectF glyph(iconFrame.center().x() - 16, iconFrame.center().y() - 16, 32, 32);
            icon.frame = scaled(glyph);
        }
        out.add(icon);

        DrawItem name;
        name.kind = DrawItem::Kind::text;
        name.key = prefix + QStringLiteral("name");
        name.text = app.localizedName.value_or(QStringLiteral("Unknown"));
        name.font = font;
        if (scale != 1.0) name.font.setPointSizeF(font.pointSizeF() * scale);
        name.color = whiteAt(0.8);
        name.alignment = Qt::AlignHCenter | Qt::AlignVCenter;
        name.maxLines = 1;
        name.frame = scaled(QRectF(frame.left(), iconFrame.bottom() + labelSpacing, nameWidth, lineHeight(font)));
        out.add(name);
    }
    return out;
}

bool AppSwitcherView::activate(platform::Workspace& workspace, const platform::RunningApplication& app) {
    const std::optional<platform::RunningApplication> current =
        workspace.runningApplicationWithProcessIdentifier(app.processIdentifier);
    if (!current || current->bundleIdentifier != app.bundleIdentifier) return false;
    // Without identifiers the name is all that tells two programs apart.
    if (!app.bundleIdentifier && current->localizedName != app.localizedName) return false;
    workspace.activateApplication(app.processIdentifier, true);
    return true;
}

std::optional<qsizetype> AppSwitcherView::itemAt(const QPointF& point) const {
    for (qsizetype i = 0; i < recentApps_.size(); ++i) {
        if (itemFrame(i).contains(point)) return i;
    }
    return std::nullopt;
}

double AppSwitcherView::hoverProgress(qint64 pid) const {
    const auto it = hoverAnimations_.find(pid);
    return it == hoverAnimations_.end() ? 0.0 : std::clamp(it->second->value(), 0.0, 1.5);
}

platform::Animated<double>& AppSwitcherView::hoverAnimation(qint64 pid) {
    auto& slot = hoverAnimations_[pid];
    if (!slot) {
        slot = std::make_unique<platform::Animated<double>>(0.0, services_.scheduler);
        hoverRedraws_.insert(slot->onChange([this] { update(); }));
    }
    return *slot;
}

void AppSwitcherView::setHovered(std::optional<qint64> pid) {
    if (hoveredPID_ == pid) return;
    const std::optional<qint64> previous = std::exchange(hoveredPID_, pid);
    const auto spring = platform::Animation::spring(0.25, 0.7, 0);
    platform::withAnimation(
        spring,
        [&] {
            if (previous) hoverAnimation(*previous).set(0.0);
            if (pid) hoverAnimation(*pid).set(1.0);
        },
        {}, services_.scheduler);
    update();
}

void AppSwitcherView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (cancellable_) return;
    cancellable_ = services_.bus.recentAppsSubject.receiveOnMain(&services_.scheduler)
                       .sink([this](const QList<platform::RunningApplication>& apps) {
                           recentApps_ = apps;
                           scrollBy(0);
                           update();
                       });
}

void AppSwitcherView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (cancellable_) cancellable_->cancel();
    cancellable_.reset();
}

void AppSwitcherView::mouseMoveEvent(QMouseEvent* event) {
    const std::optional<qsizetype> index = itemAt(event->position());
    setHovered(index ? std::optional<qint64>(recentApps_[*index].processIdentifier) : std::nullopt);
}

void AppSwitcherView::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    setHovered(std::nullopt);
}

void AppSwitcherView::mousePressEvent(QMouseEvent* event) {
    const std::optional<qsizetype> index = itemAt(event->position());
    pressedPID_ = index ? std::optional<qint64>(recentApps_[*index].processIdentifier) : std::nullopt;
    event->accept();
}

void AppSwitcherView::mouseReleaseEvent(QMouseEvent* event) {
    const std::optional<qint64> pressed = std::exchange(pressedPID_, std::nullopt);
    const std::optional<qsizetype> index = itemAt(event->position());
    // A button fires only when released over the item it was pressed on.
    if (event->button() != Qt::LeftButton || !index || !pressed ||
        recentApps_[*index].processIdentifier != *pressed) {
        return;
    }
    activate(services_.workspace, recentApps_[*index]);
}

void AppSwitcherView::wheelEvent(QWheelEvent* event) {
    const QPoint pixels = event->pixelDelta();
    const QPoint angle = event->angleDelta();
    double dx = 0;
    if (!pixels.isNull()) dx = -(pixels.x() != 0 ? pixels.x() : pixels.y());
    else dx = -(angle.x() != 0 ? angle.x() : angle.y()) / 4.0;
    const double before = scrollOffset_;
    scrollBy(dx);
    if (scrollOffset_ != before) {
        // The item under the pointer changed with the row.
        const std::optional<qsizetype> index = itemAt(event->position());
        setHovered(index ? std::optional<qint64>(recentApps_[*index].processIdentifier) : std::nullopt);
        update();
    }
    event->accept();
}

QPainterPath AppSwitcherView::drawnOutline() const {
    return NotchAwareShape{cornerRadius(), notchInfo()}.drawnArea(QRectF(0, 0, panelWidth, panelHeight), topLineInset);
}

void AppSwitcherView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF bounds(0, 0, panelWidth, panelHeight);
    QPainterPath outline = NotchAwareShape{cornerRadius(), notchInfo()}.path(bounds);
    outline.setFillRule(Qt::WindingFill);
    painter.save();
    painter.setClipPath(outline);
    painter.fillRect(bounds, Qt::black);
    layout().paint(painter);
    painter.restore();
    painter.fillRect(QRectF(topLineInset, 0, panelWidth - 2 * topLineInset, 1), Qt::black);
}
