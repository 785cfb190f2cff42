// The two card styles: the dark notch sheet and the liquid-glass card. Both show the icon on the
// left and up to three lines (application name, title, body) beside it.

#include "overlay/island_view.h"

#include "core/format.h"

#include "overlay/glass_shape.h"

#include <algorithm>

namespace {

const QString kSeparator = QStringLiteral(" \u2022 ");

QColor white(double opacity) {
    QColor color(Qt::white);
    color.setAlphaF(static_cast<float>(opacity));
    return color;
}

// How one text line looks: font size (also its line height), weight, white at `opacity`, and an
// optional soft shadow.
struct LineLook {
    double size;
    QFont::Weight weight;
    double opacity;
    bool shadow = false;
};

// Everything that differs between the two cards.
struct CardLook {
    double horizontalPadding;
    double verticalPadding;
    double iconGroupSize;  // the icon column's square frame
    double spacing;        // between icon, text column and the trailing spacer
    double lineSpacing;
    // With the application-name line: name, title, body; without it: title, body.
    LineLook appName, title, body, titleAlone, bodyAlone;
};

constexpr CardLook kNotchSheet{14, 12, 34, 10, 2,
                               {12, QFont::DemiBold, 0.9},
                               {13, QFont::DemiBold, 1.0},
                               {11, QFont::Normal, 0.7},
                               {14, QFont::DemiBold, 1.0},
                               {12, QFont::Normal, 0.7}};
constexpr CardLook kLiquidGlass{16, 14, 48, 12, 3,
                                {12, QFont::DemiBold, 0.85},
                                {14, QFont::Bold, 1.0, true},
                                {12, QFont::Medium, 0.75},
                                {15, QFont::Bold, 1.0, true},
                                {13, QFont::Medium, 0.75}};

constexpr double kTrailingSpacerMinimum = 4;

struct CardLine {
    QString key;
    QString text;
    LineLook look;
};

// Lays out [icon column, text column, spacer]. The text lines take all the width the icon leaves
// them: a stack hands its leftover to the flexible lines before a spacer, which keeps only its
// minimum. The lines are centred beside the icon, or start at the top when, without the
// application name, a spacer stands in for a missing body and takes the rest of the height.
// Returns the icon column's frame and fills `lines`.
QRectF layoutCard(const QRectF& content, const CardLook& card, bool showAppName, const QString& appName,
                  const IslandView::TitleAndBody& text, std::vector<IslandTextLine>& lines) {
    std::vector<CardLine> column;
    if (showAppName) {
        column.push_back({QStringLiteral("appName"), appName, card.appName});
        column.push_back({QStringLiteral("title"), text.title, card.title});
        if (text.body) column.push_back({QStringLiteral("body"), *text.body, card.body});
    } else {
        column.push_back({QStringLiteral("title"), text.title, card.titleAlone});
        if (text.body) column.push_back({QStringLiteral("body"), *text.body, card.bodyAlone});
    }
    const bool fillsHeight = !showAppName && !text.body;

    const QRectF inner = content.adjusted(card.horizontalPadding, card.verticalPadding, -card.horizontalPadding,
                                          -card.verticalPadding);
    const double textWidth =
        std::max(0.0, inner.width() - card.iconGroupSize - 2 * card.spacing - kTrailingSpacerMinimum);

    double columnHeight = 0;
    for (size_t i = 0; i < column.size(); ++i) columnHeight += column[i].look.size + (i ? card.lineSpacing : 0);
    if (fillsHeight) columnHeight = std::max(columnHeight + card.lineSpacing, inner.height());

    // The row is centred in the card, and the icon and the column each in the row.
    const double centreY = inner.center().y();
    const QRectF iconColumn(inner.left(), centreY - card.iconGroupSize / 2, card.iconGroupSize, card.iconGroupSize);

    const double textLeft = inner.left() + card.iconGroupSize + card.spacing;
    double y = centreY - columnHeight / 2;
    for (const CardLine& c : column) {
        const LineLook& look = c.look;
        IslandTextLine line{c.key,  c.text, QRectF(textLeft, y, textWidth, look.size),
                            overlayFont(look.size, look.weight), white(look.opacity), std::nullopt};
        if (look.shadow) line.shadow = IslandShadow{QColor::fromRgbF(0, 0, 0, 0.3f), 2, QPointF(0, 1)};
        lines.push_back(line);
        y += look.size + card.lineSpacing;
    }
    return iconColumn;
}

QRectF centredSquare(const QRectF& around, double size) {
    return QRectF(around.center().x() - size / 2, around.center().y() - size / 2, size, size);
}

}  // namespace

IslandView::TitleAndBody IslandView::titleAndBody(const std::optional<QString>& message) {
    if (!message || message->isEmpty()) return {fallbackWord(), std::nullopt};
    const QString shown = format::clipped(*message, maxMessageLength);
    const qsizetype at = shown.indexOf(kSeparator);
    if (at < 0) return {shown, std::nullopt};
    return {shown.left(at), shown.mid(at + kSeparator.size())};
}

IslandLayout IslandView::notchSheetBody(const IslandMetrics& metrics, OverlayTint tint) const {
    IslandLayout layout = IslandLayout::framed(metrics, OverlayStyle::notchSheet, tint);
    const QRectF content = layout.contentRect;
    QColor fill = overlayTintColor(tint);
    fill.setAlphaF(0.95f);
    layout.shapes.push_back({content, 18, fill});
    // The card's drop shadow falls wholly outside this clip, so it is never drawn.
    layout.clip = glass::roundedRect(content, 18);

    const QRectF iconColumn =
        layoutCard(content, kNotchSheet, showAppName(), appNameLine(), titleAndBody(state_.message), layout.lines);
    layout.icon = iconIn(iconColumn, 8);
    return layout;
}

IslandLayout IslandView::liquidGlassBody(const IslandMetrics& metrics, OverlayTint tint) const {
    IslandLayout layout = IslandLayout::framed(metrics, OverlayStyle::liquidGlass, tint);
    layout.glass = LiquidGlassModifier{20, overlayTintColor(tint), accentColor_, false};
    // The glass brings its own shape; only the overlay's frame cuts its shadows.
    layout.clip = QPainterPath();
    layout.clip.addRect(QRectF(QPointF(0, 0), layout.frameSize));

    const QRectF iconColumn = layoutCard(layout.contentRect, kLiquidGlass, showAppName(), appNameLine(),
                                         titleAndBody(state_.message), layout.lines);
    QColor glow = accentColor_.value_or(QColor(Qt::white));
    glow.setAlphaF(0.15f);
    layout.iconGlow = IslandGlow{iconColumn, glow, 10};
    layout.icon = iconIn(centredSquare(iconColumn, 40), 10);
    layout.icon.shadow = IslandShadow{QColor::fromRgbF(0, 0, 0, 0.25f), 6, QPointF(0, 3)};
    return layout;
}
