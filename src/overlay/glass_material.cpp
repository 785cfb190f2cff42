#include "overlay/glass_material.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

struct Fill {
    QColor top;
    QColor bottom;
};

Fill fillFor(const VisualEffectBlur& blur) {
    Fill fill;
    switch (blur.material) {
    case VisualEffectBlur::Material::hudWindow:
        fill = {QColor::fromRgbF(0.16f, 0.16f, 0.17f, 0.80f), QColor::fromRgbF(0.10f, 0.10f, 0.11f, 0.84f)};
        break;
    case VisualEffectBlur::Material::popover:
        fill = {QColor::fromRgbF(0.24f, 0.24f, 0.26f, 0.86f), QColor::fromRgbF(0.19f, 0.19f, 0.21f, 0.88f)};
        break;
    }
    // Inside a window there is content below to soften, so the material lets more of it through;
    // behind the window the fill must carry legibility on its own.
    if (blur.blendingMode == VisualEffectBlur::BlendingMode::withinWindow) {
        fill.top.setAlphaF(fill.top.alphaF() * 0.85f);
        fill.bottom.setAlphaF(fill.bottom.alphaF() * 0.85f);
    }
    // An inactive material loses its sheen and reads flat.
    if (blur.state == VisualEffectBlur::State::inactive) fill.top = fill.bottom;
    return fill;
}

}  // namespace

QColor VisualEffectBlur::topColor() const { return fillFor(*this).top; }
QColor VisualEffectBlur::bottomColor() const { return fillFor(*this).bottom; }

void VisualEffectBlur::paint(QPainter& painter, const QPainterPath& shape) const {
    const Fill fill = fillFor(*this);
    const QRectF bounds = shape.boundingRect();
    QLinearGradient gradient(bounds.topLeft(), bounds.bottomLeft());
    gradient.setColorAt(0.0, fill.top);
    gradient.setColorAt(1.0, fill.bottom);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawPath(shape);
    painter.restore();
}
