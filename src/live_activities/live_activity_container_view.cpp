#include "live_activities/live_activity_container_view.h"

#include "live_activities/bluetooth_activity_view.h"
#include "live_activities/brightness_activity_views.h"
#include "live_activities/charging_activity_view.h"
#include "live_activities/input_source_activity_view.h"
#include "live_activities/low_battery_activity_view.h"
#include "live_activities/power_disconnect_activity_view.h"
#include "live_activities/screen_lock_activity_view.h"
#include "live_activities/symbol_check_activity_view.h"
#include "live_activities/volume_activity_view.h"

LiveActivityPlaceholderView::LiveActivityPlaceholderView(LiveActivityType type, QWidget* parent)
    : QWidget(parent), type_(type) {
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(sizeHint());
}

QSize LiveActivityPlaceholderView::sizeHint() const { return ActivityBand{}.size().toSize(); }

LiveActivityContainerView::LiveActivityContainerView(LiveActivityType activityType, QWidget* parent,
                                                     const LiveActivityEnvironment& environment)
    : QWidget(parent), activityType_(activityType), environment_(environment) {
    setAttribute(Qt::WA_TranslucentBackground);
    replaceView();
}

void LiveActivityContainerView::setActivityType(LiveActivityType type) {
    if (type == activityType_) return;
    activityType_ = type;
    replaceView();
}

QWidget* LiveActivityContainerView::makeView(LiveActivityType type) {
    switch (type) {
    case LiveActivityType::charging: return new ChargingActivityView(this, environment_);
    case LiveActivityType::powerDisconnect: return new PowerDisconnectActivityView(this, environment_);
    case LiveActivityType::bluetooth: return new BluetoothActivityView(this, environment_);
    case LiveActivityType::volume: return new VolumeActivityView(this, environment_);
    case LiveActivityType::displayBrightness: return new DisplayBrightnessActivityView(this, environment_);
    case LiveActivityType::keyboardBrightness: return new KeyboardBrightnessActivityView(this, environment_);
    case LiveActivityType::screenLock: return new ScreenLockActivityView(false, this, environment_);
    case LiveActivityType::screenUnlock: return new ScreenLockActivityView(true, this, environment_);
    case LiveActivityType::screenshot: return new ScreenshotActivityView(this, environment_);
    case LiveActivityType::airdrop: return new AirDropActivityView(this, environment_);
    case LiveActivityType::inputSource: return new InputSourceActivityView(this, environment_);
    case LiveActivityType::lowBattery: return new LowBatteryActivityView(this, environment_);
    }
    // Only a value outside the enumeration gets here: an empty band rather than no view.
    return new LiveActivityPlaceholderView(type, this);
}

void LiveActivityContainerView::replaceView() {
    // The old view goes now, not later: its delayed steps die with it.
    delete view_;
    view_ = makeView(activityType_);
    view_->move(0, 0);
    if (isVisible()) view_->show();
}

QSize LiveActivityContainerView::sizeHint() const { return view_ ? view_->sizeHint() : QSize(); }

QPainterPath LiveActivityContainerView::drawnOutline() const {
    QPainterPath outline;
    if (auto* activity = qobject_cast<const LiveActivityView*>(view_)) {
        outline = activity->band().clipPath(activity->cornerRadius(), activity->notchInfo());
    } else if (view_) {
        outline.addRect(QRectF(QPointF(0, 0), view_->size()));
    }
    return view_ ? outline.translated(view_->pos()) : outline;
}

void LiveActivityContainerView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (view_) view_->move((width() - view_->width()) / 2, 0);
}
