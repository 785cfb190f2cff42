#pragma once

#include <QColor>
#include <QPainterPath>
#include <QPen>
#include <QPointF>
#include <QRectF>

#include <functional>

class QPainter;

// Soft shapes for shadows, glows and blurred strokes: the shape is rendered once into an image,
// blurred with an approximate Gaussian (standard deviation radius / 2) and drawn through the
// painter's transform. Results are cached, so a view that repaints every frame blurs only when
// its geometry changes.
namespace glass {

// Device pixels per point where `painter` draws. A widget rendered into an image or pixmap (a drag
// picture, a screenshot) has its painter report the widget, whose ratio is its window's, not the target's.
double pixelRatio(const QPainter& painter);

void paintBlurredFill(QPainter& painter, const QPainterPath& path, const QColor& color, double radius,
                      QPointF offset = {});
void paintBlurredStroke(QPainter& painter, const QPainterPath& path, const QPen& pen, double radius,
                        QPointF offset = {});

// A shadow of whatever `draw` paints inside `area` (in the painter's coordinates): its silhouette
// in `color`, blurred and moved by `offset`. Not cached; meant for small, changing content.
void paintShadowOf(QPainter& painter, const QRectF& area, const std::function<void(QPainter&)>& draw,
                   const QColor& color, double radius, QPointF offset);

// A drop shadow of `path`: the blurred fill, moved by `offset`.
inline void paintShadow(QPainter& painter, const QPainterPath& path, const QColor& color, double radius,
                        QPointF offset) {
    paintBlurredFill(painter, path, color, radius, offset);
}

}  // namespace glass
