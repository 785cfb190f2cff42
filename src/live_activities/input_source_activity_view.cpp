#include "live_activities/input_source_activity_view.h"

#include "notch/notch_drawing.h"
#include "platform/symbols/symbols.h"

#include <QPainter>

InputSourceActivityView::InputSourceActivityView(QWidget* parent, const LiveActivityEnvironment& environment)
    : LiveActivityView(environment, parent), iconScale_(0.5, scheduler()) {
    redrawOnChange(iconScale_);
}

QString InputSourceActivityView::displayName(const QString& sourceID) {
    if (sourceID.contains(QLatin1String("Katakana"))) return QStringLiteral("\u30A2");
    if (sourceID.contains(QLatin1String("Japanese")) && !sourceID.contains(QLatin1String("Roman")))
        return QStringLiteral("\u3042");
    return QStringLiteral("abc");
}

InputSourceActivityView::ViewModel InputSourceActivityView::viewModel() const {
    ViewModel model;
    model.symbolName = QStringLiteral("globe");
    const double side = iconFontSize * 1.15;
    model.iconFrame = QRectF(0, 0, side, side);
    model.iconFrame.moveCenter(band().leftCell().center());
    model.iconScale = iconScale_.value();
    model.glyph = displayName(inputSource_.id);
    return model;
}

void InputSourceActivityView::paintCells(QPainter& painter) const {
    const ViewModel model = viewModel();
    painter.save();
    const QPointF centre = model.iconFrame.center();
    painter.translate(centre);
    painter.scale(model.iconScale, model.iconScale);
    painter.translate(-centre);
    platform::Symbols::draw(painter, model.symbolName, model.iconFrame, Qt::white);
    painter.restore();

    painter.save();
    painter.setFont(notchFont(glyphFontSize, QFont::Bold, true));
    painter.setPen(Qt::white);
    painter.drawText(band().rightCell(), Qt::AlignCenter, model.glyph);
    painter.restore();
}

void InputSourceActivityView::didAppear() {
    platform::withoutAnimation([&] { iconScale_.set(0.5); });
    platform::withAnimation(platform::Animation::spring(0.4, 0.6, 0), [&] { iconScale_.set(1.0); }, {}, scheduler());
}

void InputSourceActivityView::didDismiss() {
    platform::withAnimation(platform::Animation::spring(0.35, 0.65, 0), [&] { iconScale_.set(0.5); }, {}, scheduler());
}

void InputSourceActivityView::didComeOnScreen() {
    syncInfo();
    sourceSubscription_ = bus().inputSourceSubject.sink(lifetime().wrap([this](const std::optional<InputSourceInfo>& info) {
        if (!info) return;
        inputSource_ = *info;
        update();
    }));
}

void InputSourceActivityView::didLeaveScreen() { sourceSubscription_.cancel(); }

void InputSourceActivityView::syncInfo() {
    if (const auto& info = bus().inputSourceSubject.value()) {
        inputSource_ = *info;
        update();
    }
}
