#pragma once

#include <QColor>
#include <QPainterPath>
#include <QRectF>

#include <array>
#include <optional>

class HoverEdgeGlowView;
class QPainter;

// The layered glass behind the liquid-glass card: two materials, the sweeping highlight, a tinted
// gradient, the pointer glow, a light rim and a soft dark inner edge, all cut to one shape, with
// two drop shadows under the whole.
class LiquidGlassModifier {
public:
    double cornerRadius = 20;
    QColor tintColor = Qt::black;
    std::optional<QColor> accentColor;  // replaces the tint wherever the glass is tinted
    bool topCornersRounded = true;

    // The colour the glass is tinted with.
    QColor glassColor() const { return accentColor.value_or(tintColor); }
    // Bottom corners always rounded; top ones only when topCornersRounded.
    QPainterPath glassShape(const QRectF& rect) const;
    // The pointer glow's colour: the glass colour at alpha 0.3.
    QColor glowColor() const;

    struct Shadow {
        QColor color;
        double radius;
        QPointF offset;
    };
    // In the order they are applied.
    std::array<Shadow, 2> shadows() const;

    // Draws shadows and background stack into `rect` (the content's frame). `phase` is the
    // highlight's point in its cycle; `pointer` supplies the hover state of the glow, whose colour
    // and intensity come from this modifier.
    void paintBackground(QPainter& painter, const QRectF& rect, double phase, const HoverEdgeGlowView& pointer) const;

    // The stack in slices, bottom to top, so a host can keep the still ones drawn once: the
    // drop shadows; the blurs; the highlight, tint gradient and pointer glow (these move); the two rims.
    enum Layers : unsigned { dropShadows = 1, below = 2, moving = 4, above = 8, all = 15 };
    void paintLayers(QPainter& painter, const QRectF& rect, double phase, const HoverEdgeGlowView& pointer,
                     Layers layers) const;
};
