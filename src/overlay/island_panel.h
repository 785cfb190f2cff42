#pragma once

// The window of the overlay: a transparent, shadowless, frameless top-level widget that never
// takes focus, floats above ordinary windows and may stand anywhere, also beyond a screen's top
// edge. The overlay window controller uses one per target screen; the notch window uses the same
// class one level lower.
//
// Its frame and alpha are model values in global screen coordinates (bottom-left origin, y up),
// animated with the animation kit. Reads of frame() and alphaValue() give the value on show, also
// in the middle of an animation. Unstaged, the widget's geometry and opacity follow them.
// Staged, the window stays at full opacity and the content moves and fades inside it: the window
// is the frame with a point to spare when ordered in, and grows at a motion's start to all the
// motion covers, so the frames between never resize it; it shrinks again off screen. Its frame
// takes pointer input, clear parts included, while it is on screen; without a compositor the window
// is cut to where the content draws (the outline of content that declares one, else its frame), so
// its clear pixels show nothing, and its frames draw only within the cut.

#include "platform/animation/animation.h"
#include "platform/animation/frame_paint.h"
#include "platform/runtime/reactive.h"
#include "platform/screens/screens.h"
#include "platform/window_shape/window_shape.h"

#include <QPointer>
#include <QRectF>
#include <QRegion>
#include <QWidget>

#include <optional>

class StagedContent;

class IslandPanel : public QWidget, public platform::PartlyShownWindow {
    Q_OBJECT

public:
    // Window levels do not exist in Qt: panels keep theirs as a property and are stacked by it.
    static constexpr int screenSaverLevel = 1000;

    // `screens` nullptr uses the shared provider at each use.
    explicit IslandPanel(const QRectF& contentRect = QRectF(0, 0, 320, 36), platform::Screens* screens = nullptr,
                         platform::Scheduler& scheduler = platform::Scheduler::shared());
    ~IslandPanel() override;

    // Never key, never main: clicking the overlay leaves the keyboard focus where it was.
    bool canBecomeKey() const { return false; }
    bool canBecomeMain() const { return false; }

    QRectF frame() const { return frame_.value(); }
    // Taken as given, never constrained to a screen. Animates inside platform::withAnimation.
    void setFrame(const QRectF& frame) { frame_.set(frame); }
    double alphaValue() const { return alpha_.value(); }
    void setAlphaValue(double alpha) { alpha_.set(alpha); }
    // What the frame was last animated with (tests).
    const platform::Animated<QRectF>& frameAnimator() const { return frame_; }

    int level() const { return level_; }
    void setLevel(int level);

    // Shows the panel above every panel of its level or lower, without activating anything.
    void orderFront();
    // Off the screen; after a wheel step, an input-only window keeps where it stood until the swipe ends.
    void orderOut();
    // Ordered in (shown), whatever its alpha.
    bool isOrderedIn() const { return isVisible(); }

    // Staged, the window covers the frame with a point to spare and, while shown, every motion of
    // it since it was ordered in; unstaged, the window is the frame.
    void setStaged(bool staged);
    // Where a staged window's content draws, in the window's device pixels: the pixels its
    // outline touches within its frame, empty while fully transparent. The window takes input
    // only there and, without a compositor, exists only there.
    const QRegion& shape();
    // Cut to its content's shape, the columns of the shape's parts (in points, each part's
    // bounding box); none while the window shows all of itself.
    std::optional<QRegion> shownArea() override;
    // Where a staged window takes pointer input, in its device pixels: its frame, and where the
    // frame stood at holdInput(); empty while it is off screen, or fully transparent with no input held.
    const QRegion& inputArea();
    // Until ordered out, the place the frame stands now keeps taking input, and so does the frame
    // at any alpha: a card going away still takes the rest of the swipe that sent it.
    void holdInput();

    // The screen holding the largest part of the frame; none when it lies on no screen.
    std::optional<platform::ScreenInfo> currentScreen() const;

    // Replaces the content (the panel takes ownership); it fills the frame.
    void setContentView(QWidget* view);
    QWidget* contentView() const { return content_; }
    // Where the frame lies in the window. Staged content that takes its placement fills the
    // window and draws there; any other content is placed there.
    QRect cardRect() const { return cardRect_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    // The wheel steps of a swipe that goes on after the window left the screen.
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    platform::Screens& screens() const;
    void applyFrame();
    QRectF drawnExtent(const QRectF& frame) const;
    // The staged window while the frame stands at `value`.
    QRect stagedGeometry(const QRectF& value) const;
    void applyAlpha();
    // Which changes of alpha its listeners hear: every one unstaged, else only those the content shows.
    void updateAlphaRule();
    enum class AlphaRule { everyStep, halfAlphaStep, unseen };
    AlphaRule alphaRule_ = AlphaRule::everyStep;
    void applyShape();
    QRegion reshape();
    void reshapeAndRepaint();
    QRegion drawnPixels(qreal ratio) const;
    StagedContent* stagedContent() const;
    void restackByLevel();
    void raiseWithInput();
    QRect qtRect(const QRectF& frame) const;

    platform::Screens* screensOverride_;
    // A wheel step reached the content since the window was shown: a swipe may run on as it goes,
    // and its rest lands where the card stood, not on what lies below.
    bool wheeledSinceShown_ = false;
    platform::Animated<QRectF> frame_;
    platform::Animated<double> alpha_;
    int level_ = screenSaverLevel;
    QPointer<QWidget> content_;
    bool staged_ = false;
    QRect cardRect_;
    QRegion shape_;
    QRegion input_;
    std::optional<QRect> heldInput_;  // in Qt's global coordinates
    QRegion shownColumns_;  // shownArea() of shape_, in points
    bool shapeDirty_ = false;
    platform::WindowShapeKeeper shapeKeeper_;
    platform::AnyCancellable compositorWatch_;
    platform::AnyCancellable frameWatch_;
    platform::AnyCancellable alphaWatch_;
};
