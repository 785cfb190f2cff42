#include "live_activities/level_activity_view.h"

#include "platform/symbols/symbols.h"

#include <QPainter>

LevelActivityView::LevelActivityView(const LiveActivityEnvironment& environment, QWidget* parent)
    : LiveActivityView(environment, parent), iconScale_(0.5, scheduler()), barLevel_(0.5, scheduler()) {
    redrawOnChange(iconScale_);
    redrawOnChange(barLevel_);
}

LevelActivityView::ViewModel LevelActivityView::viewModel() const {
    const LevelBar bar{barLevel_.value(), barColor(), barWidth, barHeight};
    QRectF barFrame = bar.trackRect();
    barFrame.moveCenter(band().rightCell().center());
    return ViewModel{symbolName(), symbolColor(), iconScale_.value(), bar, barFrame};
}

void LevelActivityView::takeRecord(const std::function<void()>& store, bool animated) {
    auto apply = [&] {
        store();
        barLevel_.set(targetLevel());
    };
    if (animated)
        platform::withAnimation(platform::Animation::easeInOut(levelAnimationDuration), apply, {}, scheduler());
    else platform::withoutAnimation(apply);
    // The symbol follows the record at once, outside the animation.
    update();
}

void LevelActivityView::paintCells(QPainter& painter) const {
    const ViewModel model = viewModel();
    painter.save();
    const QPointF centre = band().leftCell().center();
    painter.translate(centre);
    painter.scale(model.iconScale, model.iconScale);
    painter.translate(-centre);
    QRectF glyph(0, 0, ActivityBand::cellWidth, iconFontSize * 1.15);
    glyph.moveCenter(centre);
    platform::Symbols::draw(painter, model.symbolName, glyph, model.symbolColor);
    painter.restore();
    model.bar.paint(painter, model.barFrame.topLeft());
}

void LevelActivityView::didAppear() {
    platform::withoutAnimation([&] { iconScale_.set(0.5); });
    platform::withAnimation(platform::Animation::spring(0.4, 0.6, 0), [&] { iconScale_.set(1.0); }, {}, scheduler());
}

void LevelActivityView::didDismiss() {
    platform::withAnimation(platform::Animation::spring(0.35, 0.65, 0), [&] { iconScale_.set(0.5); }, {}, scheduler());
}

void LevelActivityView::didComeOnScreen() { recordSubscription_ = followRecords(); }

void LevelActivityView::didLeaveScreen() { recordSubscription_.cancel(); }
