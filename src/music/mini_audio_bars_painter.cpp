#include "music/mini_audio_bars_painter.h"

#include "music/mini_audio_bars_view_model.h"

#include <QLinearGradient>
#include <QPainter>

#include <cmath>

namespace {

constexpr double kMovingSteps = 8;  // per device pixel
constexpr qsizetype kMaxSprites = 1024;

void fillBar(QPainter& painter, const QRectF& rect, double radius, const QColor& top, const QColor& bottom) {
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    painter.setBrush(gradient);
    painter.drawRoundedRect(rect, radius, radius);
}

// Draws `image` with its top left at device pixel `at`, whatever the painter's own transform;
// `toDevice` takes device pixels to the painter's world.
void drawSprite(QPainter& painter, const QTransform& toDevice, QPoint at, const QImage& image) {
    painter.setWorldTransform(QTransform::fromTranslate(at.x(), at.y()) * toDevice);
    painter.drawImage(QPointF(0, 0), image);
}

}  // namespace

void MiniAudioBarsPainter::paint(QPainter& painter, const MiniAudioBarsViewModel& bars) {
    const QColor top = bars.topColor();
    const QColor bottom = bars.bottomColor();
    const double radius = bars.cornerRadius();
    const QTransform device = painter.deviceTransform();
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setRenderHint(QPainter::Antialiasing);
    // Pictures are copied pixel for pixel: only where the painter moves and scales evenly.
    if (device.type() > QTransform::TxScale || device.m11() != device.m22() || !(device.m11() > 0)) {
        for (int i = 0; i < bars.barCount(); ++i) fillBar(painter, bars.barRect(i), radius, top, bottom);
        painter.restore();
        return;
    }
    const double scale = device.m11();
    const QTransform toDevice = device.inverted() * painter.worldTransform();
    for (int i = 0; i < bars.barCount(); ++i) {
        QRectF rect = bars.barRect(i);
        QPoint at;
        if (bars.isMoving(i)) {
            // A moving bar's picture is kept by where it starts within its pixel and its height,
            // whichever bar and place it is for: the few heights of a motion soon are all kept.
            const double height = std::round(rect.height() * scale * kMovingSteps) / kMovingSteps / scale;
            const QRectF pixels = device.mapRect(QRectF(rect.x(), rect.center().y() - height / 2, rect.width(), height));
            at = QPoint(static_cast<int>(std::floor(pixels.x())), static_cast<int>(std::floor(pixels.y())));
            const Sprite& bar = sprite(Key{pixels.x() - at.x(), pixels.y() - at.y(), pixels.width(), pixels.height(),
                                           radius * scale, 1, 0, 0, top.rgba64(), bottom.rgba64()});
            drawSprite(painter, toDevice, at + bar.origin, bar.image);
        } else {
            const Sprite& bar = sprite(Key{rect.x(), rect.y(), rect.width(), rect.height(), radius, scale, device.dx(),
                                           device.dy(), top.rgba64(), bottom.rgba64()});
            drawSprite(painter, toDevice, bar.origin, bar.image);
        }
    }
    painter.restore();
}

const MiniAudioBarsPainter::Sprite& MiniAudioBarsPainter::sprite(const Key& key) {
    if (auto it = sprites_.constFind(key); it != sprites_.constEnd()) return *it;
    if (sprites_.size() >= kMaxSprites) sprites_.clear();
    const QTransform device(key.scale, 0, 0, key.scale, key.dx, key.dy);
    const QRectF rect(key.x, key.y, key.width, key.height);
    const QRectF pixels = device.mapRect(rect);
    const QPoint origin(static_cast<int>(std::floor(pixels.left())), static_cast<int>(std::floor(pixels.top())));
    QImage image(static_cast<int>(std::ceil(pixels.right())) - origin.x(), static_cast<int>(std::ceil(pixels.bottom())) - origin.y(),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setWorldTransform(device * QTransform::fromTranslate(-origin.x(), -origin.y()));
    fillBar(p, rect, key.radius, QColor::fromRgba64(key.top), QColor::fromRgba64(key.bottom));
    p.end();
    return *sprites_.insert(key, Sprite{image, origin});
}
