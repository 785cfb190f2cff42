#include "live_activities/screen_lock_activity_view.h"

#include "platform/symbols/symbols.h"

#include <QPainter>

ScreenLockActivityView::ScreenLockActivityView(bool isUnlock, QWidget* parent, const LiveActivityEnvironment& environment)
    : LiveActivityView(environment, parent),
      isUnlock_(isUnlock),
      iconScale_(0.5, scheduler()),
      iconRotation_(0.0, scheduler()) {
    redrawOnChange(iconScale_);
    redrawOnChange(iconRotation_);
}

ScreenLockActivityView::ViewModel ScreenLockActivityView::viewModel() const {
    const bool open = isUnlock_ || showUnlockIcon_;
    const QRectF cell = band().leftCell();
    QRectF frame(0, 0, iconFrameWidth, iconFrameHeight);
    frame.moveCenter(cell.center());
    if (open) frame.translate(openIconOffset, 0);
    return ViewModel{open ? QStringLiteral("lock.open.fill") : QStringLiteral("lock.fill"), frame, iconScale_.value(),
                     iconRotation_.value()};
}

void ScreenLockActivityView::paintCells(QPainter& painter) const {
    const ViewModel model = viewModel();
    painter.save();
    const QPointF centre = model.iconFrame.center();
    painter.translate(centre);
    painter.rotate(model.iconRotation);
    painter.scale(model.iconScale, model.iconScale);
    painter.translate(-centre);
    // A 14-point symbol: its glyph box is a little taller than the font size.
    QRectF glyph(0, 0, model.iconFrame.width(), iconFontSize * 1.15);
    glyph.moveCenter(centre);
    platform::Symbols::draw(painter, model.symbolName, glyph, Qt::white);
    painter.restore();
}

void ScreenLockActivityView::didAppear() {
    platform::withoutAnimation([&] { iconScale_.set(0.5); });
    platform::withAnimation(platform::Animation::spring(0.4, 0.6, 0), [&] { iconScale_.set(1.0); }, {}, scheduler());
}

void ScreenLockActivityView::didDismiss() {
    platform::withAnimation(platform::Animation::spring(0.35, 0.65, 0), [&] { iconScale_.set(0.5); }, {}, scheduler());
}

void ScreenLockActivityView::didComeOnScreen() {
    eventSubscription_ = bus().liveActivityEventSubject.sink(
        lifetime().wrap([this](const std::optional<LiveActivityType>& event) {
            if (event == LiveActivityType::screenUnlock) reactToUnlock();
        }));
}

void ScreenLockActivityView::didLeaveScreen() { eventSubscription_.cancel(); }

void ScreenLockActivityView::reactToUnlock() {
    platform::withAnimation(platform::Animation::spring(0.35, 0.6, 0), [&] {
        showUnlockIcon_ = true;
        iconRotation_.set(unlockRotation);
    }, {}, scheduler());
    // The swing back is the animation's own delay, so it cannot outlive the view.
    platform::withAnimation(platform::Animation::spring(0.3, 0.7, 0).delay(0.1), [&] { iconRotation_.set(0.0); }, {},
                            scheduler());
    update();
}
