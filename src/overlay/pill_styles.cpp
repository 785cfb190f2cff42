// The two pill styles: one capsule holding icon and text, or two capsules either side of the notch
// with the icon in the left one and the text in the right one.

#include "overlay/island_view.h"

#include "overlay/glass_shape.h"

namespace {

constexpr double kFillOpacity = 0.9;
constexpr double kIconSize = 20;
constexpr double kIconCornerRadius = 4;
constexpr double kTextSize = 13;

QColor pillFill(OverlayTint tint) {
    QColor color = overlayTintColor(tint);
    color.setAlphaF(static_cast<float>(kFillOpacity));
    return color;
}

IslandLayout pillFrame(const IslandMetrics& metrics, OverlayStyle style, OverlayTint tint) {
    IslandLayout layout = IslandLayout::framed(metrics, style, tint);
    layout.clip = glass::roundedRect(layout.contentRect, metrics.height / 2);
    return layout;
}

// A row of the text alone, `left` to `right`, centred on the content's middle.
IslandTextLine pillText(const QString& text, double left, double right, double centreY) {
    return {QStringLiteral("text"),  text,
            QRectF(left, centreY - kTextSize / 2, std::max(0.0, right - left), kTextSize),
            overlayFont(kTextSize, QFont::DemiBold), QColor(Qt::white), std::nullopt};
}

}  // namespace

IslandLayout IslandView::singlePillBody(const IslandMetrics& metrics, OverlayTint tint) const {
    IslandLayout layout = pillFrame(metrics, OverlayStyle::singlePill, tint);
    const QRectF content = layout.contentRect;
    layout.shapes.push_back({content, metrics.height / 2, pillFill(tint)});

    const double left = content.left() + 14;
    const double right = content.right() - 14;
    const double centreY = content.center().y();
    layout.icon = iconIn(QRectF(left, centreY - kIconSize / 2, kIconSize, kIconSize), kIconCornerRadius);
    layout.lines.push_back(pillText(displayText(), left + kIconSize + 10, right, centreY));
    return layout;
}

IslandLayout IslandView::splitPillBody(const IslandMetrics& metrics, OverlayTint tint) const {
    IslandLayout layout = pillFrame(metrics, OverlayStyle::splitPill, tint);
    const QRectF content = layout.contentRect;
    const QRectF leftPill(content.left(), content.top(), metrics.pillWidth, metrics.height);
    const QRectF rightPill(leftPill.right() + metrics.gap, content.top(), metrics.pillWidth, metrics.height);
    layout.shapes.push_back({leftPill, metrics.height / 2, pillFill(tint)});
    layout.shapes.push_back({rightPill, metrics.height / 2, pillFill(tint)});

    const double centreY = content.center().y();
    // The icon keeps to the leading edge of the left pill; the right pill holds only the text.
    layout.icon = iconIn(QRectF(leftPill.left() + 12, centreY - kIconSize / 2, kIconSize, kIconSize),
                         kIconCornerRadius);
    layout.lines.push_back(pillText(displayText(), rightPill.left() + 12, rightPill.right() - 12, centreY));
    return layout;
}
