#include "overlay/island_layout.h"

#include "core/ui_fonts.h"
#include "overlay/glass_shape.h"

#include <QStringList>

QColor overlayTintColor(OverlayTint tint) {
    switch (tint) {
    case OverlayTint::black: return QColor::fromRgbF(0, 0, 0);
    case OverlayTint::midnight: return QColor::fromRgbF(0.05f, 0.06f, 0.08f);
    case OverlayTint::graphite: return QColor::fromRgbF(0.12f, 0.12f, 0.14f);
    case OverlayTint::smoke: return QColor::fromRgbF(0.2f, 0.2f, 0.22f);
    }
    return QColor::fromRgbF(0, 0, 0);
}

QFont overlayFont(double size, QFont::Weight weight) {
    // Sizes are points of the overlay's own coordinates, so they are pixel sizes to Qt.
    QFont font = UiFonts::withJapaneseFallback(QFont(QStringLiteral("DejaVu Sans")));
    font.setPixelSize(static_cast<int>(size));
    font.setWeight(weight);
    return font;
}

IslandLayout IslandLayout::framed(const IslandMetrics& metrics, OverlayStyle style, OverlayTint tint) {
    IslandLayout layout;
    layout.style = style;
    layout.tint = tint;
    const double pad = IslandMetrics::renderPadding;
    layout.frameSize = QSizeF(metrics.totalWidth + 2 * pad, metrics.height + 2 * pad);
    layout.contentRect = QRectF(pad, pad, metrics.totalWidth, metrics.height);
    return layout;
}

QPainterPath IslandLayout::drawnOutline() const {
    if (glass) return glass->glassShape(contentRect);
    QPainterPath outline;
    for (const IslandShape& shape : shapes) outline.addPath(glass::roundedRect(shape.rect, shape.cornerRadius));
    return outline;
}

const IslandTextLine* IslandLayout::line(const QString& key) const {
    for (const IslandTextLine& l : lines)
        if (l.key == key) return &l;
    return nullptr;
}

QStringList IslandLayout::texts() const {
    QStringList result;
    for (const IslandTextLine& l : lines) result << l.text;
    return result;
}
