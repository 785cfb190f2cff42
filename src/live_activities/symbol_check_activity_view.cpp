#include "live_activities/symbol_check_activity_view.h"

#include "platform/symbols/symbols.h"

#include <QPainter>

namespace {

// The platform's standard named colours.
const QColor kBlue = QColor::fromRgbF(0.0f, 0.478f, 1.0f);
const QColor kGreen = QColor::fromRgbF(0.204f, 0.78f, 0.349f);

// A 14-point symbol centred in its cell: its glyph box is a little taller than the font size.
QRectF symbolFrame(const QRectF& cell) {
    QRectF frame(0, 0, cell.width(), SymbolCheckActivityView::iconFontSize * 1.15);
    frame.moveCenter(cell.center());
    return frame;
}

}  // namespace

SymbolCheckActivityView::SymbolCheckActivityView(Look look, const LiveActivityEnvironment& environment, QWidget* parent)
    : LiveActivityView(environment, parent),
      look_(std::move(look)),
      iconScale_(startScale, scheduler()),
      secondState_(0.0, scheduler()) {
    redrawOnChange(iconScale_);
    redrawOnChange(secondState_);
}

SymbolCheckActivityView::ViewModel SymbolCheckActivityView::viewModel() const {
    return ViewModel{look_.leftSymbol,
                     look_.leftColor,
                     symbolFrame(band().leftCell()),
                     iconScale_.value(),
                     look_.rightSymbol,
                     look_.rightColor,
                     symbolFrame(band().rightCell()),
                     secondState_.value()};
}

void SymbolCheckActivityView::paintCells(QPainter& painter) const {
    const ViewModel model = viewModel();
    painter.save();
    const QPointF centre = model.leftFrame.center();
    painter.translate(centre);
    painter.scale(model.iconScale, model.iconScale);
    painter.translate(-centre);
    platform::Symbols::draw(painter, model.leftSymbol, model.leftFrame, model.leftColor);
    painter.restore();

    if (model.rightOpacity <= 0) return;
    painter.save();
    painter.setOpacity(painter.opacity() * std::min(model.rightOpacity, 1.0));
    platform::Symbols::draw(painter, model.rightSymbol, model.rightFrame, model.rightColor);
    painter.restore();
}

void SymbolCheckActivityView::didAppear() {
    platform::withoutAnimation([&] {
        iconScale_.set(startScale);
        secondState_.set(0.0);
    });
    platform::withAnimation(platform::Animation::spring(0.4, 0.6, 0), [&] { iconScale_.set(1.0); }, {}, scheduler());
    platform::withAnimation(platform::Animation::easeIn(checkFadeDuration).delay(checkDelay),
                            [&] { secondState_.set(1.0); }, {}, scheduler());
}

void SymbolCheckActivityView::didDismiss() {
    platform::withAnimation(platform::Animation::spring(0.35, 0.65, 0), [&] {
        iconScale_.set(startScale);
        secondState_.set(0.0);
    }, {}, scheduler());
}

AirDropActivityView::AirDropActivityView(QWidget* parent, const LiveActivityEnvironment& environment)
    : SymbolCheckActivityView({QStringLiteral("airplayaudio"), kBlue, QStringLiteral("checkmark.circle.fill"), kBlue},
                              environment, parent) {}

ScreenshotActivityView::ScreenshotActivityView(QWidget* parent, const LiveActivityEnvironment& environment)
    : SymbolCheckActivityView({QStringLiteral("camera.fill"), Qt::white, QStringLiteral("checkmark.circle.fill"), kGreen},
                              environment, parent) {}
