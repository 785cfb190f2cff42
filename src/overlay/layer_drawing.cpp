#include "overlay/layer_drawing.h"

#include <QPaintDevice>
#include <QPaintEngine>

#include <cmath>

namespace {
// Device rows per band: three spans a row stay below the engine's threshold, with room for a
// paint region of two pieces side by side.
constexpr int kBandRows = 16;

bool wholePixels(double value) { return value == std::round(value); }
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
    const QTransform world = painter.worldTransform();
    // The device drawn on: a widget's painter draws on its window's backing store.
    const QPaintEngine* engine = painter.paintEngine();
    const QPaintDevice* device = engine && engine->paintDevice() ? engine->paintDevice() : painter.device();
    const qreal ratio = device ? device->devicePixelRatio() : 1.0;
    // Bands are cut along whole device rows, which points are only at a whole pixel ratio.
    if (world.type() > QTransform::TxScale || !wholePixels(ratio) || ratio < 1) {
        painter.drawPixmap(frame, layer, source);
        return;
    }
    const int bandPoints = std::max(1, kBandRows / static_cast<int>(ratio));
    const QRect drawn = world.mapRect(frame).toAlignedRect();
    for (int top = drawn.top(); top <= drawn.bottom(); top += bandPoints) {
        painter.save();
        painter.resetTransform();
        painter.setClipRect(QRect(drawn.left(), top, drawn.width(), bandPoints), Qt::IntersectClip);
        painter.setTransform(world);
        painter.drawPixmap(frame, layer, source);
        painter.restore();
    }
}
