#pragma once

// What one overlay style draws, as plain values: the overlay view paints it and tests read it.
// Coordinates are the overlay frame's (the drawn content plus the render padding, origin at its
// top-left).

#include "core/settings_enums.h"
#include "overlay/island_metrics.h"
#include "overlay/liquid_glass_modifier.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <optional>
#include <vector>

// The background colour of a tint, at full opacity; each style applies its own opacity.
QColor overlayTintColor(OverlayTint tint);

// The system font of the overlay at `size` points.
QFont overlayFont(double size, QFont::Weight weight);

struct IslandShadow {
    QColor color;
    double radius = 0;
    QPointF offset;
};

// A filled background shape.
struct IslandShape {
    QRectF rect;
    double cornerRadius = 0;
    QColor fill;
};

struct IslandIcon {
    QRectF frame;
    double cornerRadius = 0;
    QImage image;
    bool isDefault = false;  // the default notification icon stands in
    std::optional<IslandShadow> shadow;
};

// A blurred disc behind the icon.
struct IslandGlow {
    QRectF frame;
    QColor color;
    double blurRadius = 0;
};

// One line of text, shown by the view's marquee registered under `key`.
struct IslandTextLine {
    QString key;
    QString text;
    QRectF frame;  // the marquee's frame: its width is the room offered, its height the line height
    QFont font;
    QColor color;
    std::optional<IslandShadow> shadow;
};

struct IslandLayout {
    OverlayStyle style = OverlayStyle::splitPill;
    OverlayTint tint = OverlayTint::black;
    QSizeF frameSize;    // content plus the render padding on every side
    QRectF contentRect;  // totalWidth × height, inside the padding
    QPainterPath clip;   // what the style clips its drawing to
    std::vector<IslandShape> shapes;
    std::optional<LiquidGlassModifier> glass;
    std::optional<IslandGlow> iconGlow;
    IslandIcon icon;
    std::vector<IslandTextLine> lines;

    // A layout of `style` with its frame and content rectangle set from `metrics`; nothing drawn yet.
    static IslandLayout framed(const IslandMetrics& metrics, OverlayStyle style, OverlayTint tint);

    // Where the style draws, in frame coordinates: its pills, or its card (shadows that fall
    // outside the card aside).
    QPainterPath drawnOutline() const;

    const IslandTextLine* line(const QString& key) const;
    QStringList texts() const;
};
