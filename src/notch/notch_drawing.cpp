#include "notch/notch_drawing.h"

#include "platform/symbols/symbols.h"

#include <QFontMetricsF>
#include <QHash>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

#include <cmath>

QFont notchFont(double size, QFont::Weight weight, bool rounded) {
    // Sizes are points of the view's own coordinates, so they are pixel sizes to Qt. The desktop
    // has no rounded system face; the plain one stands in for it.
    Q_UNUSED(rounded);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans CJK JP")});
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(size))));
    font.setWeight(weight);
    return font;
}

double lineHeight(const QFont& font) { return std::ceil(QFontMetricsF(font).height()); }

double textWidth(const QFont& font, const QString& text) {
    // Layout asks for the same few widths on every pass.
    static QHash<QString, double> cache;
    const QString key = font.key() + QChar(0) + text;
    if (auto it = cache.constFind(key); it != cache.cend()) return *it;
    if (cache.size() > 2048) cache.clear();
    const double width = QFontMetricsF(font).horizontalAdvance(text);
    cache.insert(key, width);
    return width;
}

DrawItem textItem(const QString& key, const QString& text, const QRectF& frame, const QFont& font, const QColor& color,
                  int alignment, int maxLines) {
    DrawItem item;
    item.kind = DrawItem::Kind::text;
    item.key = key;
    item.text = text;
    item.frame = frame;
    item.font = font;
    item.color = color;
    item.alignment = alignment;
    item.maxLines = maxLines;
    return item;
}

DrawItem symbolItem(const QString& key, const QString& name, const QRectF& frame, const QColor& color) {
    DrawItem item;
    item.kind = DrawItem::Kind::symbol;
    item.key = key;
    item.symbol = name;
    item.frame = frame;
    item.color = color;
    return item;
}

DrawItem shapeItem(DrawItem::Kind kind, const QString& key, const QRectF& frame, const QColor& color, double radius,
                   double lineWidth) {
    DrawItem item;
    item.kind = kind;
    item.key = key;
    item.frame = frame;
    item.color = color;
    item.cornerRadius = radius;
    item.lineWidth = lineWidth;
    return item;
}

const DrawItem* DrawList::find(const QString& key) const {
    for (const DrawItem& item : items)
        if (item.key == key) return &item;
    return nullptr;
}

QStringList DrawList::keys() const {
    QStringList result;
    for (const DrawItem& item : items) result << item.key;
    return result;
}

QStringList DrawList::texts() const {
    QStringList result;
    for (const DrawItem& item : items)
        if (item.kind == DrawItem::Kind::text) result << item.text;
    return result;
}

void DrawList::append(const DrawList& other, double dx, double dy) {
    for (DrawItem item : other.items) {
        item.frame.translate(dx, dy);
        items.push_back(std::move(item));
    }
}

namespace {

QColor withOpacity(QColor color, double opacity) {
    color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return color;
}

QPainterPath roundedPath(const QRectF& rect, double radius) {
    QPainterPath path;
    if (radius <= 0) {
        path.addRect(rect);
    } else {
        const double r = std::min(radius, std::min(rect.width(), rect.height()) / 2);
        path.addRoundedRect(rect, r, r);
    }
    return path;
}

// Smooth scaling is the dearest step of a frame (large images are even scaled on worker threads),
// and the artwork keeps its size for many frames: keep the last few scaled copies.
QImage scaledForDevice(const QImage& image, const QSize& pixels) {
    struct Entry {
        qint64 key;
        QSize pixels;
        QImage scaled;
    };
    static std::vector<Entry> cache;
    for (const Entry& entry : cache)
        if (entry.key == image.cacheKey() && entry.pixels == pixels) return entry.scaled;
    // Premultiplied, as the raster engine blends it; otherwise each draw converts it again.
    QImage scaled = image.scaled(pixels, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation)
                        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (cache.size() >= 8) cache.erase(cache.begin());
    cache.push_back({image.cacheKey(), pixels, scaled});
    return scaled;
}

void paintText(QPainter& painter, const DrawItem& item) {
    painter.setFont(item.font);
    painter.setPen(withOpacity(item.color, item.opacity));
    const QFontMetricsF metrics(item.font);
    if (item.maxLines <= 1) {
        const QString shown = metrics.elidedText(item.text, Qt::ElideRight, item.frame.width() + 0.5);
        painter.drawText(item.frame, item.alignment | Qt::TextSingleLine, shown);
        return;
    }
    // Wrap into at most maxLines lines; the last one keeps the rest, cut with an ellipsis.
    QTextLayout layout(item.text, item.font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    while (lines.size() < item.maxLines) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(item.frame.width());
        if (lines.size() == item.maxLines - 1) {
            lines << metrics.elidedText(item.text.mid(line.textStart()), Qt::ElideRight, item.frame.width() + 0.5);
            break;
        }
        lines << item.text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    const double height = metrics.height();
    const double total = height * lines.size();
    double y = item.frame.top();
    if (item.alignment & Qt::AlignVCenter) y += (item.frame.height() - total) / 2;
    const int horizontal = item.alignment & Qt::AlignHorizontal_Mask;
    for (const QString& line : lines) {
        painter.drawText(QRectF(item.frame.left(), y, item.frame.width(), height), horizontal | Qt::AlignVCenter, line);
        y += height;
    }
}

}  // namespace

void DrawList::paint(QPainter& painter) const {
    for (const DrawItem& item : items) {
        if (item.opacity <= 0) continue;
        switch (item.kind) {
        case DrawItem::Kind::fill:
            painter.fillPath(roundedPath(item.frame, item.cornerRadius), withOpacity(item.color, item.opacity));
            break;
        case DrawItem::Kind::stroke: {
            const double half = item.lineWidth / 2;
            painter.strokePath(roundedPath(item.frame.adjusted(half, half, -half, -half), item.cornerRadius - half),
                               QPen(withOpacity(item.color, item.opacity), item.lineWidth));
            break;
        }
        case DrawItem::Kind::text:
            paintText(painter, item);
            break;
        case DrawItem::Kind::symbol: {
            painter.save();
            const QPointF centre = item.frame.center();
            painter.translate(centre);
            painter.scale(item.scale, item.scale);
            painter.translate(-centre);
            platform::Symbols::draw(painter, item.symbol, item.frame, withOpacity(item.color, item.opacity));
            painter.restore();
            break;
        }
        case DrawItem::Kind::image: {
            if (item.image.isNull()) break;
            painter.save();
            painter.setClipPath(roundedPath(item.frame, item.cornerRadius), Qt::IntersectClip);
            painter.setOpacity(painter.opacity() * item.opacity);
            // Scale to fill: the shorter side fits, the longer one is cut evenly.
            const QSizeF size = QSizeF(item.image.size()).scaled(item.frame.size(), Qt::KeepAspectRatioByExpanding);
            const QRectF target(item.frame.center() - QPointF(size.width() / 2, size.height() / 2), size);
            const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
            const QSize pixels = (size * ratio).toSize();
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            if (pixels.isEmpty() || pixels.width() > 4096 || pixels.height() > 4096)
                painter.drawImage(target, item.image);
            else {
                // Drawn at the device's own pixels: no further scaling while painting.
                QImage scaled = scaledForDevice(item.image, pixels);
                scaled.setDevicePixelRatio(ratio);
                painter.drawImage(target.topLeft(), scaled);
            }
            painter.restore();
            break;
        }
        case DrawItem::Kind::shadow: {
            // A few widening, fading copies of the shape stand in for a gaussian blur.
            const int steps = 4;
            for (int i = steps; i >= 1; --i) {
                const double grow = item.lineWidth * i / steps;
                QColor color = withOpacity(item.color, item.opacity / (steps + 1));
                painter.fillPath(roundedPath(item.frame.adjusted(-grow / 2, -grow / 2, grow / 2, grow / 2),
                                             item.cornerRadius + grow / 2),
                                 color);
            }
            break;
        }
        }
    }
}
