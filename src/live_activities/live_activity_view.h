#pragma once

// The common part of every activity view: the band, the shell around it, and the collaborators
// the views bind themselves to. A subclass draws its cells and starts and ends its inner
// animations from the shell's hooks; everything it schedules must go through lifetime() so it
// dies with the view.

#include "core/event_bus.h"
#include "live_activities/activity_band.h"
#include "live_activities/live_activity_animated_shell.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"
#include "platform/screens/screens.h"
#include "platform/storage/defaults.h"

#include <QWidget>

struct LiveActivityEnvironment {
    EventBus* bus = nullptr;
    platform::Scheduler* scheduler = nullptr;
    platform::Defaults* defaults = nullptr;
    const platform::Screens* screens = nullptr;

    // Any field left empty takes the shared one.
    LiveActivityEnvironment resolved() const;
};

class LiveActivityView : public QWidget {
    Q_OBJECT

public:
    ~LiveActivityView() override;

    const LiveActivityAnimatedShell& shell() const { return shell_; }
    const ActivityBand& band() const { return band_; }
    // The outline's radius and notch, as the next layout pass reads them.
    double cornerRadius() const;
    NotchInfo notchInfo() const;

    QSize sizeHint() const override;

protected:
    LiveActivityView(const LiveActivityEnvironment& environment, QWidget* parent);

    // The row's cells, in band coordinates, inside the outline.
    virtual void paintCells(QPainter& painter) const = 0;
    // The shell's hooks: the entrance springs started / the exit started.
    virtual void didAppear() {}
    virtual void didDismiss() {}
    // The view came on screen / left it (after and before the shell's own steps).
    virtual void didComeOnScreen() {}
    virtual void didLeaveScreen() {}

    // Redraws whenever `value` moves.
    void redrawOnChange(const platform::Animated<double>& value);

    EventBus& bus() const { return *environment_.bus; }
    platform::Scheduler& scheduler() const { return *environment_.scheduler; }
    const platform::Lifetime& lifetime() const { return lifetime_; }

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Declared before the shell: the shell's hooks are wrapped in it.
    platform::Lifetime lifetime_;
    LiveActivityEnvironment environment_;
    ActivityBand band_;
    LiveActivityAnimatedShell shell_;
    bool onScreen_ = false;
    platform::CancellableSet redraws_;
};
