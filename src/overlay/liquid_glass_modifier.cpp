#include "overlay/liquid_glass_modifier.h"

#include "overlay/glass_blur.h"
#include "overlay/glass_hover_glow.h"
#include "overlay/glass_material.h"
#include "overlay/glass_shape.h"
#include "overlay/glass_specular_highlight.h"

#include <QLinearGradient>
#include <QPainter>

namespace {

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

// A path whose stroke of `width` lies wholly inside `rect`'s shape.
QPainterPath insetShape(const LiquidGlassModifier& glass, const QRectF& rect, double width) {
    const double inset = width / 2.0;
    LiquidGlassModifier inner = glass;
    inner.cornerRadius = std::max(0.0, glass.cornerRadius - inset);
    return inner.glassShape(rect.adjusted(inset, inset, -inset, -inset));
}

}  // namespace

QPainterPath LiquidGlassModifier::glassShape(const QRectF& rect) const {
    const double top = topCornersRounded ? cornerRadius : 0.0;
    return glass::unevenRoundedRect(rect, top, top, cornerRadius, cornerRadius);
}

QColor LiquidGlassModifier::glowColor() const { return withAlpha(glassColor(), 0.3); }

std::array<LiquidGlassModifier::Shadow, 2> LiquidGlassModifier::shadows() const {
    return {{{withAlpha(Qt::black, 0.35), 25, QPointF(0, 10)}, {withAlpha(glassColor(), 0.15), 20, QPointF(0, 5)}}};
}

void LiquidGlassModifier::paintBackground(QPainter& painter, const QRectF& rect, double phase,
                                          const HoverEdgeGlowView& pointer) const {
    paintLayers(painter, rect, phase, pointer, Layers::all);
}

void LiquidGlassModifier::paintLayers(QPainter& painter, const QRectF& rect, double phase,
                                      const HoverEdgeGlowView& pointer, Layers layers) const {
    const QPainterPath shape = glassShape(rect);
    const QColor c = glassColor();
    const bool below = layers & Layers::below;
    const bool moving = layers & Layers::moving;
    const bool above = layers & Layers::above;

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (layers & Layers::dropShadows) {
        for (const Shadow& shadow : shadows()) glass::paintShadow(painter, shape, shadow.color, shadow.radius, shadow.offset);
    }

    painter.save();
    painter.setClipPath(shape, Qt::IntersectClip);

    if (below) {
        VisualEffectBlur{VisualEffectBlur::Material::hudWindow, VisualEffectBlur::BlendingMode::behindWindow,
                         VisualEffectBlur::State::active}
            .paint(painter, shape);
        painter.save();
        painter.setOpacity(painter.opacity() * 0.3);
        VisualEffectBlur{VisualEffectBlur::Material::popover, VisualEffectBlur::BlendingMode::withinWindow,
                         VisualEffectBlur::State::active}
            .paint(painter, shape);
        painter.restore();
    }

    if (moving) {
        SpecularHighlightView{Qt::white, 0.15}.paint(painter, rect, phase);

        QLinearGradient tint(rect.topLeft(), rect.bottomRight());
        tint.setColorAt(0.0, withAlpha(c, 0.3));
        tint.setColorAt(0.5, withAlpha(c, 0.1));
        tint.setColorAt(1.0, withAlpha(c, 0.15));
        painter.fillPath(shape, tint);

        HoverEdgeGlowView glow = pointer;
        glow.glowColor = glowColor();
        glow.glowIntensity = 0.4;
        glow.paint(painter, rect);
    }

    if (above) {
        QLinearGradient rim(rect.topLeft(), rect.bottomLeft());
        rim.setColorAt(0.0, withAlpha(Qt::white, 0.35));
        rim.setColorAt(0.5, withAlpha(Qt::white, 0.15));
        rim.setColorAt(1.0, withAlpha(Qt::white, 0.05));
        QPen rimPen(QBrush(rim), 1.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        rimPen.setMiterLimit(10);
        painter.strokePath(insetShape(*this, rect, 1.0), rimPen);

        QPen edgePen(withAlpha(Qt::black, 0.2), 1.5, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        edgePen.setMiterLimit(10);
        glass::paintBlurredStroke(painter, insetShape(*this, rect, 1.5), edgePen, 2.0, QPointF(0, 1));
    }

    painter.restore();
    painter.restore();
}
