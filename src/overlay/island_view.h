#pragma once

#include "core/event_bus.h"
#include "core/notification_records.h"
#include "core/settings_enums.h"
#include "overlay/glass_hover_glow.h"
#include "overlay/island_layout.h"
#include "overlay/staged_content.h"
#include "overlay/island_metrics.h"
#include "overlay/marquee_text.h"
#include "platform/animation/animation.h"
#include "platform/storage/defaults.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"
#include "platform/window_shape/window_shape.h"
#include "platform/workspace/workspace.h"

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QRegion>
#include <QString>
#include <QTransform>
#include <QWidget>

#include <map>
#include <memory>
#include <optional>
#include <vector>

// The drawing inside every overlay panel. Each instance follows the bus on its own: it keeps its
// copy of the overlay state (adopting a hidden one only after the shrink has played), draws it in
// the style and tint of the settings, resolves and caches the posting application's icon and its
// accent colour, scales itself in and out from its top centre, opens the posting application on a
// click and turns an upward scroll into a dismiss. It announces each change of its outline.
class IslandView : public QWidget, public platform::OutlinedView, public StagedContent {
    Q_OBJECT

public:
    static constexpr double renderPadding = IslandMetrics::renderPadding;
    static constexpr double shrunkScale = 0.35;
    static constexpr double hiddenStateDelay = 0.55;
    // How long the icon waits for a lookup still under way before it is resolved without it.
    static constexpr double iconWait = 1.0;

    explicit IslandView(QWidget* parent = nullptr, EventBus& bus = EventBus::shared(),
                        platform::Scheduler& scheduler = platform::Scheduler::shared(),
                        platform::Defaults& defaults = platform::Defaults::standard(),
                        platform::Workspace& workspace = platform::Workspace::shared());
    ~IslandView() override;

    // Ends following the bus, the settings and the compositor and drops the hidden state still to
    // be adopted: the view stays as drawn. For the application's end, whose event loop still turns
    // a while after its last line.
    void stop();

    static IslandMetrics metrics(const OverlayState& state, OverlayStyle style, bool showAppName) {
        return IslandMetrics::metrics(state, style, showAppName);
    }

    // What any style lays out of a message at most: far more than one shows, and a summary of
    // any length then costs what this does.
    static constexpr qsizetype maxMessageLength = 2000;

    // The message (cut to maxMessageLength), or the fallback word when there is none.
    QString displayText() const;

    // The card styles' split of a message (cut to maxMessageLength) at its first " \u2022 ": the
    // title before it, the body after it (none without a separator); the fallback word alone when
    // there is no message.
    struct TitleAndBody {
        QString title;
        std::optional<QString> body;
    };
    static TitleAndBody titleAndBody(const std::optional<QString>& message);

    // The style bodies: what each style draws for the current state, icon and settings.
    IslandLayout singlePillBody(const IslandMetrics& metrics, OverlayTint tint) const;
    IslandLayout splitPillBody(const IslandMetrics& metrics, OverlayTint tint) const;
    IslandLayout notchSheetBody(const IslandMetrics& metrics, OverlayTint tint) const;
    IslandLayout liquidGlassBody(const IslandMetrics& metrics, OverlayTint tint) const;

    // What is drawn now (the style chosen by the settings), and where the frame stands in the
    // widget: centred in its placement, by default the whole widget.
    const IslandLayout& layout() const { return layout_; }
    QRectF frameRect() const;
    QRect placement() const { return placement_.value_or(rect()); }

    // View state, for inspection.
    const OverlayState& state() const { return state_; }
    const std::optional<QImage>& cachedIcon() const { return cachedIcon_; }
    const std::optional<QString>& cachedIconSourceHint() const { return cachedIconSourceHint_; }
    const std::optional<QColor>& accentColor() const { return accentColor_; }
    bool isHovering() const { return isHovering_; }
    const platform::Animated<double>& contentScaleX() const { return contentScaleX_; }
    const platform::Animated<double>& contentScaleY() const { return contentScaleY_; }
    bool hasPendingHiddenState() const { return pendingHiddenStateWorkItem_.isPending(); }
    // The marquee drawing the layout's line `key` (nullptr when the style has no such line).
    const MarqueeText* marquee(const QString& key) const;
    // The part of the view a change of `line`'s row redraws.
    QRect lineArea(const IslandTextLine& line) const;
    // Where the compositor is asked to blur behind the card, in the window's coordinates: the
    // glass card's scaled shape; empty for the other styles.
    QRegion blurRegion() const;
    // The style's pills or card as the next paint scales them, in the view's coordinates.
    QPainterPath drawnOutline() const override;
    // Every pixel the next paint draws: where the card's picture, as that paint places and scales
    // it, is not clear.
    QRegion drawnPixels(qreal ratio, QPoint origin) const override;
    // How many times the picture was drawn through a scale or a part of a pixel for drawnPixels.
    int scaledPictureRenders() const { return scaledRenders_; }
    // The whole card drawn at `opacity`, as one picture (the window's fade).
    void setContentOpacity(double opacity) override;
    double contentOpacity() const { return opacity_; }
    void setPlacement(const QRect& placement) override;
    QSizeF frameSize() const override { return layout_.frameSize; }
    bool drawsNothing() const override { return clippedAwayAt(contentScaleY_.value()); }
    void wheelStepWhileAway(uint32_t time) override { continueSwipe(time); }

    OverlayStyle style() const;
    OverlayTint tint() const;
    bool showAppName() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void receiveState(const OverlayState& state);
    void shrink();
    void updateCachedIcon();
    // A lookup ended, or the icon theme changed: an icon waited for, or one of the old theme, is
    // resolved again.
    void iconFound();
    void updateAccentColor(const QImage& image);
    void openSourceApp();
    // A wheel step at the server's time `at`: the swipe under way goes on, or a new one begins.
    void continueSwipe(uint32_t at);
    void trackGlow(std::optional<QPointF> widgetPoint);
    // Hovering: the pointer lies on the card's frame, which may also grow or shrink under it.
    void updateHover();

    // Re-evaluates the layout for the current state and settings and brings the marquees in line.
    void rebuild();
    void syncMarquees();
    QString marqueeKey(const QString& line) const;
    void updateFrameDriver();
    QTransform contentTransform() const;
    QTransform transformAt(QPointF scale) const;
    // Where the scaled frame lies in the widget.
    QRectF drawnRect() const;
    void scaleChanged();
    // Hands the window's blur region to the compositor when it changed.
    void updateBlurRegion();
    void paintLayout(QPainter& painter, qreal pixelRatio) const;
    void paintLine(QPainter& painter, const IslandTextLine& line, const MarqueeText& marquee, qreal pixelRatio) const;
    // A line standing still on the card at its full size is drawn into the still picture above
    // the card, once (scaled, each picture is filtered on its own, as it always was).
    bool baked(const MarqueeText& marquee) const {
        return !marquee.isScrolling() && marquee.offset() == 0 && shownScale_ == QPointF(1, 1);
    }
    // Redraws only the part of the widget where `line` lies, when the content stands still.
    void updateLine(const QString& key);

    // What stays still between frames is drawn once into pixmaps (in frame coordinates, at the
    // device's pixel ratio): everything below the glass highlight, everything above it but the
    // text, and each text line with its shadow. Any layout change drops them.
    struct LineImage {
        QPixmap pixmap;
        QPointF origin;  // where the line's top-left lies in the pixmap, in points
        // The device pixel column the row was last drawn at, and whether with its second copy.
        std::optional<long> paintedX;
        bool paintedScrolling = false;
    };
    // The device pixel column the row's image is drawn at now; none before its image exists.
    std::optional<long> rowDeviceX(const IslandTextLine& line, const MarqueeText& marquee) const;
    // Before rounding, with the row shifted by `offset`.
    double rowDevicePosition(const IslandTextLine& line, const LineImage& image, double offset) const;
    // Tells the scale springs and the scrolling rows how far they must move to change the picture,
    // so the frame clock skips the frames that would draw the same pixels.
    void updateVisibleSteps();
    // The card drawn at vertical scale `scaleY` misses its placement (it shrank into the strip it
    // collapses to): nothing of it shows, whatever else moves.
    bool clippedAwayAt(double scaleY) const;
    struct VisibilityInputs {
        qreal ratio = 0;
        QSizeF size;
        QRect placement;
        bool clippedAway = false;
        bool operator==(const VisibilityInputs&) const = default;
    };
    std::optional<VisibilityInputs> visibilityInputs_;
    void invalidateCaches();
    void paintStill(QPainter& painter, bool below) const;
    const QPixmap& stillLayer(bool below, qreal pixelRatio) const;
    const LineImage& lineImage(const IslandTextLine& line, const MarqueeText& marquee, qreal pixelRatio) const;

    // Shared by the style bodies.
    // What stands for a notification without text, in the user's language.
    static QString fallbackWord();
    // The cached icon (or the default one) in `frame`, its corners rounded by `cornerRadius`.
    IslandIcon iconIn(const QRectF& frame, double cornerRadius) const;
    QString appNameLine() const;

    EventBus& bus_;
    platform::Scheduler& scheduler_;
    platform::Defaults& defaults_;
    platform::Workspace& workspace_;

    OverlayState state_;
    platform::WorkItem pendingHiddenStateWorkItem_;
    std::optional<QImage> cachedIcon_;
    std::optional<QString> cachedIconSourceHint_;
    std::optional<QColor> accentColor_;
    bool cachedIconIsDefault_ = false;
    QString cachedIconTheme_;  // the icon theme it was resolved in
    bool iconPending_ = false;
    bool givingUp_ = false;
    platform::WorkItem iconGiveUp_;
    int iconListener_ = 0;
    bool isHovering_ = false;
    // Where the pointer is while over the view, in global coordinates.
    std::optional<QPointF> pointer_;
    // The swipe under way, by the server's times of its steps: when its last step came, whether
    // it sent a card away, and whether a card came since (the rest of that swipe is not for it).
    std::optional<uint32_t> lastWheelStep_;
    bool swipeDismissed_ = false;
    bool cardSinceSwipeDismissed_ = false;
    platform::Animated<double> contentScaleY_;
    platform::Animated<double> contentScaleX_;

    IslandLayout layout_;
    QPainterPath outline_;  // the layout's, unscaled
    std::map<QString, std::unique_ptr<MarqueeText>> marquees_;
    // The marquee of each of the layout's lines, in order: painting looks up nothing.
    std::vector<MarqueeText*> lineMarquees_;
    HoverEdgeGlowView glassGlow_;
    // Whether a compositor shows what the window draws beyond its card: the glass card's shadows
    // are drawn only then (without one the window is cut to the card).
    bool composited_ = true;
    platform::AnyCancellable compositorWatch_;
    bool appeared_ = false;
    bool pressed_ = false;
    platform::RepeatingTimer highlightTimer_;

    // The scale every paint draws with: the springs' value when it last moved far enough to show.
    QPointF shownScale_{1.0, 1.0};
    double opacity_ = 1.0;
    std::optional<QRect> placement_;
    QRegion requestedBlur_;
    mutable QPixmap belowCache_;
    mutable QPixmap aboveCache_;
    // Which lines the picture above the card holds.
    mutable std::vector<bool> bakedLines_;
    mutable std::map<QString, LineImage> lineCache_;
    // The still layers' alpha, frame coordinates at a device's pixel ratio, and its pixels.
    mutable QImage pictureAlpha_;
    mutable QRegion pictureAlphaPixels_;
    // The pixels last asked for, with what placed them.
    struct PlacedPixels {
        QTransform transform;
        QRect area;
        QRegion pixels;
    };
    mutable std::optional<PlacedPixels> placedPixels_;
    // The picture drawn through a transform that is not a whole-pixel move, from its own top-left
    // pixel: its pixels there, and how many such drawings were made.
    struct ScaledPixels {
        QTransform transform;
        QSize size;
        QRegion pixels;
    };
    mutable std::optional<ScaledPixels> scaledPixels_;
    mutable int scaledRenders_ = 0;

    platform::CancellableSet subscriptions_;
    platform::Lifetime lifetime_;
};
