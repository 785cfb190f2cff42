// The two card styles: the dark notch sheet and the liquid-glass card. Both show the icon on the
// left and up to three lines (application name, title, body) beside it.

#include "overlay/island_view.h"

#include "core/l10n.h"
#include "overlay/glass_shape.h"

#include <algorithm>

namespace {

const QString kSeparator = QStringLiteral(" \u2022 ");

QColor white(double opacity) {
    QColor color(Qt::white);
    color.setAlphaF(static_cast<float>(opacity));
    return color;
}

struct LineStyle {
    QString key;
    QString text;
    double size;
    QFont::Weight weight;
    double opacity;
    bool shadow;
};

// The measurements that differ between the two cards.
struct CardMeasures {
    double horizontalPadding;
    double verticalPadding;
    double iconGroupSize;  // the icon column's square frame
    double spacing;        // between icon, text column and the trailing spacer
    double lineSpacing;
};

constexpr double kTrailingSpacerMinimum = 4;

IslandLayout cardFrame(const IslandMetrics& metrics, OverlayStyle style, OverlayTint tint) {
    IslandLayout layout;
    layout.style = style;
    layout.tint = tint;
    const double pad = IslandView::renderPadding;
    layout.frameSize = QSizeF(metrics.totalWidth + 2 * pad, metrics.height + 2 * pad);
    layout.contentRect = QRectF(pad, pad, metrics.totalWidth, metrics.height);
    return layout;
}

// Lays out [icon column, text column, spacer] the way a stack shares its room: after the fixed
// icon column, the text column and the spacer are equally flexible and split what is left. The
// lines are centred beside the icon, or start at the top when a spacer stands in for a missing
// body. Returns the icon column's frame and fills `lines`.
QRectF layoutCard(const QRectF& content, const CardMeasures& card, const std::vector<LineStyle>& lineStyles,
                  bool fillsHeight, std::vector<IslandTextLine>& lines) {
    const QRectF inner = content.adjusted(card.horizontalPadding, card.verticalPadding, -card.horizontalPadding,
                                          -card.verticalPadding);
    const double shared = std::max(0.0, inner.width() - card.iconGroupSize - 2 * card.spacing);
    const double textWidth = std::max(0.0, std::min(shared / 2, shared - kTrailingSpacerMinimum));

    double columnHeight = 0;
    for (size_t i = 0; i < lineStyles.size(); ++i) columnHeight += lineStyles[i].size + (i ? card.lineSpacing : 0);
    // A spacer standing in for the body takes whatever height the row offers.
    if (fillsHeight) columnHeight = std::max(columnHeight + card.lineSpacing, inner.height());

    // The row is centred in the card, and the icon and the column each in the row.
    const double centreY = inner.center().y();
    const QRectF iconColumn(inner.left(), centreY - card.iconGroupSize / 2, card.iconGroupSize, card.iconGroupSize);

    const double textLeft = inner.left() + card.iconGroupSize + card.spacing;
    double y = centreY - columnHeight / 2;
    for (const LineStyle& s : lineStyles) {
        IslandTextLine line{s.key, s.text, QRectF(textLeft, y, textWidth, s.size), overlayFont(s.size, s.weight),
                            white(s.opacity), std::nullopt};
        if (s.shadow) line.shadow = IslandShadow{QColor::fromRgbF(0, 0, 0, 0.3f), 2, QPointF(0, 1)};
        lines.push_back(line);
        y += s.size + card.lineSpacing;
    }
    return iconColumn;
}

QRectF centredSquare(const QRectF& around, double size) {
    return QRectF(around.center().x() - size / 2, around.center().y() - size / 2, size, size);
}

}  // namespace

IslandView::TitleAndBody IslandView::titleAndBody(const std::optional<QString>& message) {
    if (!message || message->isEmpty())
        return {L10n::pick(QStringLiteral("Notification"), QStringLiteral("通知")), std::nullopt};
    const qsizetype at = message->indexOf(kSeparator);
    if (at < 0) return {*message, std::nullopt};
    return {message->left(at), message->mid(at + kSeparator.size())};
}

IslandLayout IslandView::notchSheetBody(const IslandMetrics& metrics, OverlayTint tint) const {
    IslandLayout layout = cardFrame(metrics, OverlayStyle::notchSheet, tint);
    const QRectF content = layout.contentRect;
    QColor fill = overlayTintColor(tint);
    fill.setAlphaF(0.95f);
    layout.shapes.push_back({content, 18, fill});
    // The card's drop shadow falls wholly outside this clip, so it is never drawn.
    layout.clip = glass::roundedRect(content, 18);

    const TitleAndBody text = titleAndBody(state_.message);
    std::vector<LineStyle> lineStyles;
    bool fillsHeight = false;
    if (showAppName()) {
        lineStyles.push_back({QStringLiteral("appName"), appNameLine(), 12, QFont::DemiBold, 0.9, false});
        lineStyles.push_back({QStringLiteral("title"), text.title, 13, QFont::DemiBold, 1.0, false});
        if (text.body) lineStyles.push_back({QStringLiteral("body"), *text.body, 11, QFont::Normal, 0.7, false});
    } else {
        lineStyles.push_back({QStringLiteral("title"), text.title, 14, QFont::DemiBold, 1.0, false});
        if (text.body) lineStyles.push_back({QStringLiteral("body"), *text.body, 12, QFont::Normal, 0.7, false});
        fillsHeight = !text.body;
    }
    const QRectF iconColumn = layoutCard(content, {14, 12, 34, 10, 2}, lineStyles, fillsHeight, layout.lines);
    layout.icon.frame = iconColumn;
    layout.icon.cornerRadius = 8;
    layout.icon.image = iconImage();
    layout.icon.isDefault = drawsDefaultIcon();
    return layout;
}

IslandLayout IslandView::liquidGlassBody(const IslandMetrics& metrics, OverlayTint tint) const {
    IslandLayout layout = cardFrame(metrics, OverlayStyle::liquidGlass, tint);
    const QRectF content = layout.contentRect;
    layout.glass = LiquidGlassModifier{20, overlayTintColor(tint), accentColor_, false};
    // The glass brings its own shape; only the overlay's frame cuts its shadows.
    layout.clip = QPainterPath();
    layout.clip.addRect(QRectF(QPointF(0, 0), layout.frameSize));

    const TitleAndBody text = titleAndBody(state_.message);
    std::vector<LineStyle> lineStyles;
    bool fillsHeight = false;
    if (showAppName()) {
        lineStyles.push_back({QStringLiteral("appName"), appNameLine(), 12, QFont::DemiBold, 0.85, false});
        lineStyles.push_back({QStringLiteral("title"), text.title, 14, QFont::Bold, 1.0, true});
        if (text.body) lineStyles.push_back({QStringLiteral("body"), *text.body, 12, QFont::Medium, 0.75, false});
    } else {
        lineStyles.push_back({QStringLiteral("title"), text.title, 15, QFont::Bold, 1.0, true});
        if (text.body) lineStyles.push_back({QStringLiteral("body"), *text.body, 13, QFont::Medium, 0.75, false});
        fillsHeight = !text.body;
    }
    const QRectF iconColumn = layoutCard(content, {16, 14, 48, 12, 3}, lineStyles, fillsHeight, layout.lines);

    QColor glow = accentColor_.value_or(QColor(Qt::white));
    glow.setAlphaF(0.15f);
    layout.iconGlow = IslandGlow{iconColumn, glow, 10};
    layout.icon.frame = centredSquare(iconColumn, 40);
    layout.icon.cornerRadius = 10;
    layout.icon.image = iconImage();
    layout.icon.isDefault = drawsDefaultIcon();
    layout.icon.shadow = IslandShadow{QColor::fromRgbF(0, 0, 0, 0.25f), 6, QPointF(0, 3)};
    return layout;
}
