#include "live_activities/live_activity_view.h"

#include <QPainter>

#include <algorithm>

LiveActivityEnvironment LiveActivityEnvironment::resolved() const {
    LiveActivityEnvironment e = *this;
    if (!e.bus) e.bus = &EventBus::shared();
    if (!e.scheduler) e.scheduler = &platform::Scheduler::shared();
    if (!e.defaults) e.defaults = &platform::Defaults::standard();
    if (!e.screens) e.screens = &platform::Screens::shared();
    return e;
}

LiveActivityView::LiveActivityView(const LiveActivityEnvironment& environment, QWidget* parent)
    : QWidget(parent),
      environment_(environment.resolved()),
      // Every activity calls the shell the same way.
      shell_(true, environment_.bus->liveActivityDismissSubject, 0.0, 0.65, false, lifetime_.wrap([this] { didAppear(); }),
             lifetime_.wrap([this] { didDismiss(); }), *environment_.scheduler) {
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(sizeHint());
    redraws_.insert(shell_.onChange([this] { update(); }));
}

LiveActivityView::~LiveActivityView() {
    // Hooks and delayed steps must not reach a half-destroyed subclass.
    lifetime_.reset();
    shell_.disappear();
}

double LiveActivityView::cornerRadius() const { return ActivityBand::cornerRadius(*environment_.defaults); }

NotchInfo LiveActivityView::notchInfo() const { return ActivityBand::notchInfo(*environment_.screens); }

QSize LiveActivityView::sizeHint() const { return band_.size().toSize(); }

void LiveActivityView::redrawOnChange(const platform::Animated<double>& value) {
    redraws_.insert(value.onChange([this] { update(); }));
}

void LiveActivityView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (onScreen_) return;
    onScreen_ = true;
    shell_.appear();
    didComeOnScreen();
}

void LiveActivityView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!onScreen_) return;
    onScreen_ = false;
    didLeaveScreen();
    shell_.disappear();
}

void LiveActivityView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setOpacity(std::clamp(shell_.outerOpacity(), 0.0, 1.0));
    painter.setTransform(shell_.transform(band_.bounds()), true);
    band_.paint(painter, cornerRadius(), notchInfo(), [this](QPainter& p) { paintCells(p); });
}
