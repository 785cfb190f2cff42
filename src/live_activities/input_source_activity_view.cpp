#include "live_activities/input_source_activity_view.h"

#include "notch/notch_drawing.h"
#include "platform/symbols/symbols.h"

#include <QPainter>

#include <algorithm>

InputSourceActivityView::InputSourceActivityView(QWidget* parent, const LiveActivityEnvironment& environment)
    : LiveActivityView(environment, parent), iconScale_(0.5, scheduler()), glyphFade_(1.0, scheduler()) {
    redrawOnChange(iconScale_);
    redrawOnChange(glyphFade_);
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
    model.glyphFade = glyphFade_.value();
    model.previousGlyph = displayName(previousSource_.id);
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
    const double fade = std::clamp(model.glyphFade, 0.0, 1.0);
    const double opacity = painter.opacity();
    if (fade < 1.0 && model.previousGlyph != model.glyph) {
        painter.setOpacity(opacity * (1.0 - fade));
        painter.drawText(band().rightCell(), Qt::AlignCenter, model.previousGlyph);
        painter.setOpacity(opacity * fade);
    }
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
        if (info) takeRecord(*info);
    }));
}

void InputSourceActivityView::didLeaveScreen() { sourceSubscription_.cancel(); }

void InputSourceActivityView::takeRecord(const InputSourceInfo& info) {
    if (info == inputSource_) return;
    previousSource_ = inputSource_;
    inputSource_ = info;
    platform::withoutAnimation([&] { glyphFade_.set(0.0); });
    platform::withAnimation(platform::Animation::easeInOut(recordAnimationDuration), [&] { glyphFade_.set(1.0); }, {},
                            scheduler());
    update();
}

void InputSourceActivityView::syncInfo() {
    if (const auto& info = bus().inputSourceSubject.value()) {
        inputSource_ = *info;
        update();
    }
}
