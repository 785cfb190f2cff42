#include "overlay/glass_blur.h"

#include <QCache>
#include <QImage>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

namespace glass {
namespace {

// Three box blurs whose widths approximate a Gaussian of standard deviation `sigma`.
std::vector<int> boxRadii(double sigma) {
    const int passes = 3;
    const double ideal = std::sqrt(12.0 * sigma * sigma / passes + 1.0);
    int lower = static_cast<int>(std::floor(ideal));
    if (lower % 2 == 0) --lower;
    const int upper = lower + 2;
    const double m = std::round((12.0 * sigma * sigma - passes * lower * lower - 4.0 * passes * lower - 3.0 * passes) /
                                (-4.0 * lower - 4.0));
    std::vector<int> radii;
    for (int i = 0; i < passes; ++i) radii.push_back(((i < m ? lower : upper) - 1) / 2);
    return radii;
}

// One horizontal then vertical running-sum pass over every channel of a premultiplied image.
void boxBlur(QImage& image, int r) {
    if (r <= 0) return;
    const int w = image.width();
    const int h = image.height();
    std::vector<int> sums(4);
    std::vector<QRgb> line(static_cast<size_t>(std::max(w, h)));
    auto blurLine = [&](auto get, auto set, int n) {
        for (int i = 0; i < n; ++i) line[static_cast<size_t>(i)] = get(i);
        std::fill(sums.begin(), sums.end(), 0);
        const int window = 2 * r + 1;
        auto add = [&](int i, int sign) {
            if (i < 0 || i >= n) return;
            const QRgb p = line[static_cast<size_t>(i)];
            sums[0] += sign * qRed(p);
            sums[1] += sign * qGreen(p);
            sums[2] += sign * qBlue(p);
            sums[3] += sign * qAlpha(p);
        };
        for (int i = -r; i < r; ++i) add(i, 1);
        for (int i = 0; i < n; ++i) {
            add(i + r, 1);
            set(i, qRgba(sums[0] / window, sums[1] / window, sums[2] / window, sums[3] / window));
            add(i - r, -1);
        }
    };
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        blurLine([row](int i) { return row[i]; }, [row](int i, QRgb v) { row[i] = v; }, w);
    }
    for (int x = 0; x < w; ++x) {
        blurLine([&image, x](int i) { return reinterpret_cast<const QRgb*>(image.constScanLine(i))[x]; },
                 [&image, x](int i, QRgb v) { reinterpret_cast<QRgb*>(image.scanLine(i))[x] = v; }, h);
    }
}

struct Blurred {
    QImage image;
    QPointF origin;  // in the path's coordinates
    double scale = 1;
};

size_t hashPath(const QPainterPath& path) {
    size_t seed = 0;
    for (int i = 0; i < path.elementCount(); ++i) {
        const auto e = path.elementAt(i);
        seed = qHashMulti(seed, e.x, e.y, static_cast<int>(e.type));
    }
    return seed;
}

QCache<QString, Blurred>& cache() {
    static QCache<QString, Blurred> instance(48);
    return instance;
}

double deviceScale(const QPainter& painter) {
    const QTransform t = painter.worldTransform();
    const double transformScale = std::max(std::hypot(t.m11(), t.m12()), std::hypot(t.m21(), t.m22()));
    return std::clamp(transformScale * pixelRatio(painter), 0.25, 4.0);
}

void paintBlurred(QPainter& painter, const QPainterPath& path, const QBrush& brush, const QPen& pen, double radius,
                  QPointF offset) {
    if (path.isEmpty()) return;
    const double scale = deviceScale(painter);
    const double sigma = std::max(0.0, radius / 2.0);
    const QString key = QStringLiteral("%1|%2|%3|%4|%5|%6|%7")
                            .arg(hashPath(path))
                            .arg(brush.color().rgba())
                            .arg(brush.style())
                            .arg(pen.color().rgba())
                            .arg(pen.style() == Qt::NoPen ? 0.0 : pen.widthF())
                            .arg(radius)
                            .arg(scale);
    Blurred* blurred = cache().object(key);
    if (!blurred) {
        const double margin = std::ceil(3.0 * sigma + (pen.style() == Qt::NoPen ? 0.0 : pen.widthF()) + 1.0);
        const QRectF bounds = path.boundingRect().adjusted(-margin, -margin, margin, margin);
        const QSize pixels(std::max(1, static_cast<int>(std::ceil(bounds.width() * scale))),
                           std::max(1, static_cast<int>(std::ceil(bounds.height() * scale))));
        auto* made = new Blurred{QImage(pixels, QImage::Format_ARGB32_Premultiplied), bounds.topLeft(), scale};
        made->image.fill(Qt::transparent);
        {
            QPainter p(&made->image);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(scale, scale);
            p.translate(-bounds.topLeft());
            p.setPen(pen);
            p.setBrush(brush);
            p.drawPath(path);
        }
        for (int r : boxRadii(sigma * scale)) boxBlur(made->image, r);
        cache().insert(key, made);
        blurred = made;
    }
    const QRectF target(blurred->origin + offset,
                        QSizeF(blurred->image.width() / blurred->scale, blurred->image.height() / blurred->scale));
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, blurred->image);
    painter.restore();
}

}  // namespace

double pixelRatio(const QPainter& painter) {
    const QPaintEngine* engine = painter.paintEngine();
    const QPaintDevice* target = engine && engine->paintDevice() ? engine->paintDevice() : painter.device();
    return target ? target->devicePixelRatioF() : 1.0;
}

void paintBlurredFill(QPainter& painter, const QPainterPath& path, const QColor& color, double radius, QPointF offset) {
    paintBlurred(painter, path, QBrush(color), Qt::NoPen, radius, offset);
}

void paintShadowOf(QPainter& painter, const QRectF& area, const std::function<void(QPainter&)>& draw,
                   const QColor& color, double radius, QPointF offset) {
    if (area.isEmpty()) return;
    const double scale = deviceScale(painter);
    const double sigma = std::max(0.0, radius / 2.0);
    const double margin = std::ceil(3.0 * sigma + 1.0);
    const QRectF bounds = area.adjusted(-margin, -margin, margin, margin);
    QImage layer(QSize(std::max(1, static_cast<int>(std::ceil(bounds.width() * scale))),
                       std::max(1, static_cast<int>(std::ceil(bounds.height() * scale)))),
                 QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter p(&layer);
        p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
        p.scale(scale, scale);
        p.translate(-bounds.topLeft());
        draw(p);
        // Keep only the silhouette, in the shadow's colour.
        p.resetTransform();
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(layer.rect(), color);
    }
    for (int r : boxRadii(sigma * scale)) boxBlur(layer, r);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(bounds.translated(offset), layer);
    painter.restore();
}

void paintBlurredStroke(QPainter& painter, const QPainterPath& path, const QPen& pen, double radius, QPointF offset) {
    paintBlurred(painter, path, Qt::NoBrush, pen, radius, offset);
}

}  // namespace glass
