#pragma once

// The root view of the notch panel: follows the notch mode on the bus and shows one child for it
// (a live activity, the mini player, the expanded notch, the glance panel, the drop zone or the
// app switcher), nothing during a notification, and while idle the last content that had a view
// of its own, so the panel can shrink away with it still drawn. Children come from a
// NotchContentFactory; insertions and removals run on one spring.
//
// Hosting it: the notch window controller makes it as the panel's content, which it fills,
//   NotchWindowController controller([] { return new NotchContainerView; });
// and the bus's mode is shown at once. Install the views of other folders in
// NotchContentFactory::standard() before (live activities; glance, drop and switcher later).
// setTopSafeAreaInset() pulls the content up where a panel reports an inset (none on Linux).

#include "core/event_bus.h"
#include "notch/notch_content_factory.h"
#include "platform/animation/animation.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"
#include "platform/window_shape/window_shape.h"

#include <QGraphicsEffect>
#include <QPainterPath>
#include <QPointer>
#include <QRegion>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

// What is drawn for a mode.
enum class NotchContent { none, liveActivity, miniPlayer, expanded, glance, drop, switcher };

// The container's bookkeeping, without widgets.
struct NotchContainerState {
    NotchMode notchMode;
    NotchMode lastVisibleMode = NotchMode::idle;

    explicit NotchContainerState(const NotchMode& initial) : notchMode(initial) {}

    // Takes a mode from the bus; false when it equals the one shown (nothing changes).
    bool receive(const NotchMode& mode);
    // What is drawn now: the mode's own view, or while idle the last visible one.
    NotchContent content() const;
    // What idle shows after `lastVisible`: only the expanded, glance, drop and switcher views
    // stay; the mini player and live activities have played their own exit already.
    static NotchContent idleContent(const NotchMode& lastVisible);
    // The scale a mode's child enters from and leaves to, faded with it; none: no transition.
    static std::optional<double> transitionScale(const NotchMode& mode);
};

// Fades and scales a child about its centre: at progress 1 it is drawn as it is, at 0 it is
// invisible at `scale`.
class NotchTransitionEffect : public QGraphicsEffect {
    Q_OBJECT

public:
    NotchTransitionEffect(double scale, QObject* parent = nullptr);
    void setProgress(double progress);
    double progress() const { return progress_; }
    double scale() const { return scale_; }

protected:
    void draw(QPainter* painter) override;

private:
    double scale_;
    double progress_ = 1;
};

class NotchContainerView : public QWidget {
    Q_OBJECT

public:
    static constexpr double springResponse = 0.4;
    static constexpr double springDampingFraction = 0.75;

    explicit NotchContainerView(QWidget* parent = nullptr, EventBus& bus = EventBus::shared(),
                                platform::Scheduler& scheduler = platform::Scheduler::shared(),
                                const NotchContentFactory& factory = NotchContentFactory::standard());
    ~NotchContainerView() override;

    const NotchMode& notchMode() const { return state_.notchMode; }
    const NotchMode& lastVisibleMode() const { return state_.lastVisibleMode; }
    NotchContent content() const { return state_.content(); }
    // The child shown for the mode now; nullptr when nothing is drawn.
    QWidget* contentView() const;
    // The current child's transition, absent when it entered without one.
    const NotchTransitionEffect* contentTransition() const;
    // Children still playing their removal.
    std::vector<QWidget*> removingViews() const;

    // The content is pulled up by the panel's top safe-area inset so it starts at the screen's edge.
    void setTopSafeAreaInset(double inset);
    double topSafeAreaInset() const { return topInset_; }

    // Where the panel takes pointer input, in this view's coordinates: the outline of a child that
    // draws a band (the mini player, a live activity), else the whole child (the open surfaces);
    // nothing while nothing is shown. Kept on the hosting window's X input shape through every
    // mode change, resize and redraw of the child, so clicks elsewhere reach the windows below.
    QRegion inputRegion() const;
    // Every pixel the panel draws now, in this view's coordinates: the outline of each child shown
    // or still leaving (the whole child where it declares none), as its transition scales it.
    // Without a compositor the hosting window is shaped to it through every mode change and
    // animation, as clear pixels would show black; with one the window keeps its full size.
    QRegion drawnRegion() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Slot {
        NotchMode mode;
        NotchContent content = NotchContent::none;
        QPointer<QWidget> view;
        QPointer<NotchTransitionEffect> effect;
        std::shared_ptr<platform::Animated<double>> progress;
        platform::AnyCancellable redraw;
    };

    void receive(const NotchMode& mode);
    void replaceContent(const NotchMode& previousMode);
    QWidget* makeView(NotchContent content);
    void placeChild(QWidget* view, NotchContent content) const;
    void finishRemoval(QWidget* view);
    void applyInputRegion();
    // The current child's outline, read now; none when it declares none.
    std::optional<QPainterPath> currentOutline() const;
    bool takesInputOnItsBand() const;
    QRegion inputRegion(const std::optional<QPainterPath>& outline) const;
    QRegion drawnRegion(const std::optional<QPainterPath>& currentOutline) const;
    static void discard(QWidget* view);

    EventBus& bus_;
    platform::Scheduler& scheduler_;
    NotchContentFactory factory_;
    NotchContainerState state_;
    double topInset_ = 0;
    mutable QPainterPath lastOutline_;
    mutable QRegion lastOutlineRegion_;
    platform::WindowShapeKeeper shape_;
    mutable QPainterPath lastDrawnOutline_;
    mutable QRegion lastDrawnOutlineRegion_;
    platform::AnyCancellable compositorWatch_;
    Slot current_;
    std::vector<Slot> removing_;
    platform::AnyCancellable modeSubscription_;
    platform::Lifetime lifetime_;
};
