#include "overlay/island_panel.h"

#include "overlay/staged_content.h"

#include "platform/window_shape/bypass_window_events.h"
#include "platform/window_shape/compositor.h"
#include "platform/window_shape/input_region.h"

#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
// Every live panel, for stacking by level. Main thread only.
std::vector<IslandPanel*>& livePanels() {
    static std::vector<IslandPanel*> panels;
    return panels;
}
}  // namespace

IslandPanel::IslandPanel(const QRectF& contentRect, platform::Screens* screens, platform::Scheduler& scheduler)
    : QWidget(nullptr,
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                  Qt::NoDropShadowWindowHint),
      screensOverride_(screens),
      frame_(contentRect, scheduler),
      alpha_(1.0, scheduler) {
    // Without a window manager in the way a frame above the screen's top edge is kept as set.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        setWindowFlag(Qt::X11BypassWindowManagerHint, true);
        // Qt would ask the server at every show what such a window's events already say.
        platform::spareBypassWindowRoundTrips(*this);
    }
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_MacAlwaysShowToolWindow);  // stays when the application deactivates
    setFocusPolicy(Qt::NoFocus);

    // A step that moves neither the card's whole points nor the window changes nothing applyFrame does.
    frame_.setLooksSame([this](const QRectF& value, const QRectF& heard) {
        return qtRect(value) == qtRect(heard) && (!staged_ || stagedGeometry(value) == stagedGeometry(heard));
    });
    frameWatch_ = frame_.onChange([this] { applyFrame(); });
    alphaWatch_ = alpha_.onChange([this] { applyAlpha(); });
    applyFrame();
    applyAlpha();
    livePanels().push_back(this);
    // A compositor that starts or stops decides whether the window is cut to what it draws. One
    // that starts shows all of the window: what frames left undrawn beyond the cut is drawn first.
    compositorWatch_ = platform::CompositorWatch::shared().observe([this] {
        if (staged_ && isVisible() && !platform::WindowShapeKeeper::cutsToDrawn()) repaint();
        applyShape();
    });
}

IslandPanel::~IslandPanel() {
    compositorWatch_.cancel();
    if (auto* outlined = dynamic_cast<platform::OutlinedView*>(content_.data())) outlined->setOnOutlineChange({});
    std::erase(livePanels(), this);
}

platform::Screens& IslandPanel::screens() const {
    return screensOverride_ ? *screensOverride_ : platform::Screens::shared();
}

QRect IslandPanel::qtRect(const QRectF& frame) const {
    const QRectF qt = screens().toQt(frame);
    return QRect(static_cast<int>(std::lround(qt.x())), static_cast<int>(std::lround(qt.y())),
                 static_cast<int>(std::lround(qt.width())), static_cast<int>(std::lround(qt.height())));
}

namespace {
// Whole points with a point to spare on each side, so a rounded frame at the edge stays inside.
QRectF withMargin(const QRectF& rect) { return QRectF(rect.toAlignedRect()).adjusted(-1, -1, 1, 1); }
}  // namespace

void IslandPanel::setStaged(bool staged) {
    if (staged_ == staged) return;
    staged_ = staged;
    updateAlphaRule();
    applyFrame();
    applyAlpha();
}

QRectF IslandPanel::drawnExtent(const QRectF& frame) const {
    // Content centres its own frame on the panel's: while the panel's is smaller, the window
    // holds the content's too, so the content never draws from beyond the window's edge.
    const auto* staged = stagedContent();
    if (!staged) return frame;
    const QSizeF size = staged->frameSize();
    return frame.united(QRectF(frame.center() - QPointF(size.width() / 2, size.height() / 2), size));
}

QRect IslandPanel::stagedGeometry(const QRectF& value) const {
    // Off screen, the frame with its margin. A motion gets the window it needs all the way to its
    // target at its start, so no frame of it resizes the window; on screen the window only grows,
    // keeping the room of the motions since it was shown: a card collapses back into the strip it
    // grew out of, and resizing a window on show costs a redraw of all of it.
    const QRectF frame = drawnExtent(value);
    const QRect needed = qtRect(withMargin(
        frame_.isAnimating() ? frame.united(drawnExtent(frame_.target())) : frame));
    return isVisible() && geometry().contains(needed) ? geometry() : needed;
}

void IslandPanel::applyFrame() {
    const QRect card = qtRect(frame_.value());
    const QRect window = staged_ ? stagedGeometry(frame_.value()) : card;
    if (geometry() != window) setGeometry(window);
    cardRect_ = card.translated(-window.topLeft());
    if (auto* staged = stagedContent()) {
        // The content fills the window and draws its frame where it lies now.
        const QRect whole(QPoint(0, 0), window.size());
        if (content_->geometry() != whole) content_->setGeometry(whole);
        staged->setPlacement(cardRect_);
    } else if (content_ && content_->geometry() != cardRect_) {
        content_->setGeometry(cardRect_);
    }
    applyShape();
}

void IslandPanel::updateAlphaRule() {
    // Staged content draws less than half an alpha step no differently (applyAlpha), and no
    // alpha at all while it draws nothing.
    const StagedContent* staged = stagedContent();
    const AlphaRule rule = !staged_                                 ? AlphaRule::everyStep
                           : staged && staged->drawsNothing()       ? AlphaRule::unseen
                                                                    : AlphaRule::halfAlphaStep;
    if (rule == alphaRule_) return;
    alphaRule_ = rule;
    switch (rule) {
    case AlphaRule::everyStep: alpha_.clearVisibleStep(); break;
    case AlphaRule::halfAlphaStep: alpha_.setVisibleStep(0.5 / 255); break;
    case AlphaRule::unseen: alpha_.setLooksSame([](double, double) { return true; }); break;
    }
}

StagedContent* IslandPanel::stagedContent() const {
    return staged_ ? dynamic_cast<StagedContent*>(content_.data()) : nullptr;
}

void IslandPanel::applyAlpha() {
    const double opacity = std::clamp(alpha_.value(), 0.0, 1.0);
    if (!staged_) {
        if (windowOpacity() != opacity) setWindowOpacity(opacity);
        return;
    }
    if (windowOpacity() != 1.0) setWindowOpacity(1.0);
    if (auto* staged = stagedContent()) {
        staged->setContentOpacity(opacity);
    } else if (content_) {
        // Drawn through an effect only while it fades: at full opacity the content paints directly.
        auto* effect = qobject_cast<QGraphicsOpacityEffect*>(content_->graphicsEffect());
        if (opacity >= 1.0) {
            if (effect) content_->setGraphicsEffect(nullptr);
        } else {
            if (!effect) {
                effect = new QGraphicsOpacityEffect;
                content_->setGraphicsEffect(effect);
            }
            // Less than half an alpha step draws the same pixels; the value it comes to rest at is set exactly.
            const bool atRest = alpha_.value() == alpha_.target();
            if (atRest || std::abs(effect->opacity() - opacity) * 255 >= 0.5) effect->setOpacity(opacity);
        }
    }
    applyShape();
}

QRegion IslandPanel::drawnPixels(qreal ratio) const {
    const QRegion frame = platform::toDevicePixels(QRegion(cardRect_ & rect()), ratio);
    const auto* outlined = dynamic_cast<const platform::OutlinedView*>(content_.data());
    if (!outlined) return frame;
    return outlined->drawnPixels(ratio, content_->pos()) & frame;
}

void IslandPanel::applyShape() {
    if (!staged_) return;
    // While the content shows, its shape is taken as it paints, once a frame whatever moved.
    if (isVisible() && content_ && content_->isVisible() && alpha_.value() > 0) {
        shapeDirty_ = true;
        return;
    }
    reshapeAndRepaint();
}

const QRegion& IslandPanel::shape() {
    if (shapeDirty_) reshapeAndRepaint();
    return shape_;
}

const QRegion& IslandPanel::inputArea() {
    if (shapeDirty_) reshapeAndRepaint();
    return input_;
}

void IslandPanel::holdInput() {
    if (!isVisible()) return;
    heldInput_ = cardRect_.translated(geometry().topLeft());
    applyShape();
}

std::optional<QRegion> IslandPanel::shownArea() {
    if (!staged_ || !platform::WindowShapeKeeper::cutsToDrawn()) return std::nullopt;
    // What the new shape uncovers changed in this frame, so the frame draws it.
    if (shapeDirty_) reshape();
    return shownColumns_;
}

QRegion IslandPanel::reshape() {
    shapeDirty_ = false;
    const qreal ratio = devicePixelRatioF();
    QRegion region;
    if (content_ && alpha_.value() > 0) region = drawnPixels(ratio);
    shape_ = region;
    // The whole frame, transparent parts too, takes the pointer while the window shows. A hide under
    // way keeps it until the window is ordered out, faded or not: alpha is read off the clock, and a
    // frame that runs late finds it 0 before the hide's end has run.
    QRegion input;
    if (isVisible() && (alpha_.value() > 0 || heldInput_)) {
        input = cardRect_;
        if (heldInput_) input += heldInput_->translated(-geometry().topLeft());
        input = platform::toDevicePixels(input & rect(), ratio);
    }
    input_ = input;
    // Whole columns, so a capsule's rounded ends cost no request per row in each frame. Taken once
    // per shape, as every frame asks for them twice; a compositor that stops reshapes the window.
    if (platform::WindowShapeKeeper::cutsToDrawn()) shownColumns_ = platform::fromDevicePixels(platform::columnBounds(region), ratio);
    // What a grown shape uncovers is repainted, as the content moves or fades in anyway: the
    // window system need not report it exposed.
    // Off screen the input shape follows the bounding one, so a window shown again holds no input
    // shape its keeper, told the window is new, does not know of.
    const QRegion given = isVisible() ? input : region;
    return platform::fromDevicePixels(shapeKeeper_.apply(*this, region, given, isVisible()), ratio);
}

void IslandPanel::reshapeAndRepaint() {
    const QRegion uncovered = reshape();
    if (!uncovered.isEmpty()) update(uncovered);
}

bool IslandPanel::eventFilter(QObject* watched, QEvent* event) {
    // Before the content draws a frame, so the shape goes out with it; the paint under way draws
    // what it uncovers.
    if (watched == content_ && event->type() == QEvent::Paint && shapeDirty_) reshape();
    if (watched == content_ && event->type() == QEvent::Wheel) wheeledSinceShown_ = true;
    return QWidget::eventFilter(watched, event);
}

void IslandPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    wheeledSinceShown_ = false;
    // The native window may be new; it starts unshaped.
    shapeKeeper_.forget();
    applyShape();
}

void IslandPanel::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    heldInput_.reset();
    input_ = QRegion();
    // The desktop gets the pointer back at once, not at the next reshape, unless a swipe runs on.
    if (!shapeKeeper_.isLingering()) shapeKeeper_.hidden();
}

void IslandPanel::wheelEvent(QWheelEvent* event) {
    if (auto* staged = stagedContent(); staged && !isVisible())
        staged->wheelStepWhileAway(static_cast<uint32_t>(event->timestamp()));
    event->accept();
}

void IslandPanel::setLevel(int level) {
    level_ = level;
    if (isVisible()) restackByLevel();
}

void IslandPanel::orderFront() {
    applyFrame();
    applyAlpha();
    show();
    restackByLevel();
}

void IslandPanel::orderOut() {
    // Where a swipe may run on, an input-only window takes the card's place before the card goes,
    // so no step falls between; the server's times of the steps, not when they are read, end it.
    if (isVisible() && wheeledSinceShown_) shapeKeeper_.lingerOver();
    // Hiding asks for a redraw of what the window showed, which a window taken off the screen never
    // needs: it would only wake the event loop once more.
    setUpdatesEnabled(false);
    hide();
    setUpdatesEnabled(true);
}

void IslandPanel::restackByLevel() {
    // The offscreen platform has no stacking order (and warns at every raise).
    static const bool hasStacking = QGuiApplication::platformName() != QLatin1String("offscreen");
    if (!hasStacking) return;
    raiseWithInput();
    // Panels of a higher level go back above this one, lowest first.
    std::vector<IslandPanel*> higher;
    for (IslandPanel* panel : livePanels()) {
        if (panel != this && panel->isVisible() && panel->level_ > level_) higher.push_back(panel);
    }
    std::stable_sort(higher.begin(), higher.end(), [](auto* a, auto* b) { return a->level_ < b->level_; });
    for (IslandPanel* panel : higher) panel->raiseWithInput();
}

void IslandPanel::raiseWithInput() {
    raise();
    shapeKeeper_.raised();
}

std::optional<platform::ScreenInfo> IslandPanel::currentScreen() const {
    const QRectF f = frame();
    std::optional<platform::ScreenInfo> best;
    double bestArea = 0;
    for (const platform::ScreenInfo& screen : screens().screens()) {
        const QRectF overlap = screen.frame.intersected(f);
        const double area = overlap.width() * overlap.height();
        if (area > bestArea) {
            bestArea = area;
            best = screen;
        }
    }
    return best;
}

void IslandPanel::setContentView(QWidget* view) {
    if (content_ == view) return;
    if (content_) {
        if (auto* outlined = dynamic_cast<platform::OutlinedView*>(content_.data())) outlined->setOnOutlineChange({});
        content_->deleteLater();
    }
    content_ = view;
    if (!view) return;
    view->setParent(this);
    view->installEventFilter(this);
    // Content that draws inside an outline keeps the shape on it through its own animations.
    if (auto* outlined = dynamic_cast<platform::OutlinedView*>(view)) {
        outlined->setOnOutlineChange([this] {
            applyShape();
            updateAlphaRule();
        });
    }
    view->show();
    updateAlphaRule();
    applyFrame();
    applyAlpha();
}

void IslandPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Unstaged, the content fills the window, whoever sized it.
    if (!staged_ && content_) {
        cardRect_ = rect();
        content_->setGeometry(rect());
    }
}
