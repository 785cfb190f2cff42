#pragma once

// Shows the one activity view that belongs to the notch's live-activity type. A change to another
// type replaces the view, and the new one plays its entrance from the start.

#include "core/notch_records.h"
#include "live_activities/live_activity_view.h"
#include "notch/notch_aware_shape.h"

#include <QWidget>

// Stands where an activity's own view has not been built yet: draws nothing.
class LiveActivityPlaceholderView : public QWidget {
    Q_OBJECT

public:
    explicit LiveActivityPlaceholderView(LiveActivityType type, QWidget* parent = nullptr);
    LiveActivityType activityType() const { return type_; }
    QSize sizeHint() const override;

private:
    LiveActivityType type_;
};

class LiveActivityContainerView : public QWidget, public NotchOutlinedView {
    Q_OBJECT

public:
    explicit LiveActivityContainerView(LiveActivityType activityType, QWidget* parent = nullptr,
                                       const LiveActivityEnvironment& environment = {});

    LiveActivityType activityType() const { return activityType_; }
    void setActivityType(LiveActivityType type);
    // The view shown now (owned by the container).
    QWidget* activityView() const { return view_; }

    QSize sizeHint() const override;
    // The activity's band.
    QPainterPath drawnOutline() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // One branch per type, no default: a new type must be given its view here.
    QWidget* makeView(LiveActivityType type);
    void replaceView();

    LiveActivityType activityType_;
    LiveActivityEnvironment environment_;
    QWidget* view_ = nullptr;
};
