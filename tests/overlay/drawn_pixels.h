#pragma once

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QRegion>
#include <QWidget>

namespace overlaytest {

// `widget` and its children as they paint at `ratio`, on a clear canvas.
inline QImage rendered(QWidget& widget, qreal ratio = 1) {
    QApplication::sendPostedEvents();
    QImage image(widget.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    widget.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// The pixels of `image` at least `minimumAlpha` opaque.
inline QRegion drawnPixels(const QImage& image, int minimumAlpha = 1) {
    QRegion region;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width();) {
            if (qAlpha(row[x]) < minimumAlpha) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < image.width() && qAlpha(row[x]) >= minimumAlpha) ++x;
            region += QRect(start, y, x - start, 1);
        }
    }
    return region;
}

}  // namespace overlaytest
