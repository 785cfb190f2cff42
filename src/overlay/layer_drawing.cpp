#include "overlay/layer_drawing.h"

#include <QPaintDevice>
#include <QPaintEngine>

#include <cmath>
#include <functional>

namespace {
// Device rows per band. A picture drawn through a scale has about three spans a row: 16 rows
// stay below the engine's threshold, with room for a paint region of two pieces side by side. A
// filled outline's round ends have a span for each pixel they partly cover.
constexpr int kPictureBandRows = 16;
constexpr int kFillBandRows = 8;

bool wholePixels(double value) { return value == std::round(value); }

// Runs `draw` once for each band of `rows` device rows across `area` (in the painter's logical
// coordinates), clipped to the band; once, unclipped, where bands cannot be cut along whole
// device rows (a rotation, a fractional pixel ratio).
void inRowBands(QPainter& painter, const QRectF& area, int rows, const std::function<void()>& draw) {
    const QTransform world = painter.worldTransform();
    // The device drawn on: a widget's painter draws on its window's backing store.
    const QPaintEngine* engine = painter.paintEngine();
    const QPaintDevice* device = engine && engine->paintDevice() ? engine->paintDevice() : painter.device();
    const qreal ratio = device ? device->devicePixelRatio() : 1.0;
    if (world.type() > QTransform::TxScale || !wholePixels(ratio) || ratio < 1) {
        draw();
        return;
    }
    const int bandPoints = std::max(1, rows / static_cast<int>(ratio));
    const QRect drawn = world.mapRect(area).toAlignedRect();
    for (int top = drawn.top(); top <= drawn.bottom(); top += bandPoints) {
        painter.save();
        painter.resetTransform();
        painter.setClipRect(QRect(drawn.left(), top, drawn.width(), bandPoints), Qt::IntersectClip);
        painter.setTransform(world);
        draw();
        painter.restore();
    }
}
}  // namespace

void drawLayer(QPainter& painter, const QRectF& frame, const QPixmap& layer) {
    const QRectF source(QPointF(0, 0), layer.size());
    if (layer.isNull() || frame.isEmpty()) return;
    // Where each of the layer's pixels lands on the device.
    const QTransform toDevice = QTransform::fromScale(frame.width() / source.width(), frame.height() / source.height()) *
                                QTransform::fromTranslate(frame.x(), frame.y()) * painter.deviceTransform();
    if (toDevice.type() <= QTransform::TxTranslate && wholePixels(toDevice.dx()) && wholePixels(toDevice.dy())) {
        // Smoothing would sample every pixel exactly where it lies and send it the slow way.
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawPixmap(frame, layer, source);
        painter.restore();
        return;
    }
    inRowBands(painter, frame, kPictureBandRows, [&] { painter.drawPixmap(frame, layer, source); });
}

void fillInBands(QPainter& painter, const QPainterPath& path, const QBrush& brush) {
    inRowBands(painter, path.boundingRect(), kFillBandRows, [&] { painter.fillPath(path, brush); });
}
