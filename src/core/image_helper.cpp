#include "core/image_helper.h"

#include "core/app_icon_helper.h"
#include "core/format.h"
#include "core/log.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <deque>
#include <mutex>

QSizeF ImageHelper::reducedSize(const QSizeF& size, double maxSize) {
    const double w = size.width(), h = size.height();
    if (w <= maxSize && h <= maxSize) return size;
    const double scale = std::min(maxSize / w, maxSize / h);
    return QSizeF(w * scale, h * scale);
}

namespace {

// The last images encoded, by the image's own key: every notification of an application hands on
// the same remembered icon, which is then encoded once.
struct EncodedImage {
    qint64 key = 0;
    double maxSize = 0;
    QByteArray bytes;
};
std::mutex encodedMutex;
std::deque<EncodedImage> encoded;
constexpr size_t kEncodedKept = 16;

}  // namespace

std::optional<QByteArray> ImageHelper::pngData(const QImage& image, double maxSize) {
    Log& log = Log::shared();
    const QSizeF input = image.deviceIndependentSize();
    const QSizeF reduced = reducedSize(input, maxSize);
    const double w = reduced.width(), h = reduced.height();
    const auto logged = [&](const QByteArray& bytes) {
        log.debug(QStringLiteral("ImageHelper: Optimized image ") + format::size(input.width(), input.height()) +
                  QStringLiteral(" → ") + format::size(w, h) + QStringLiteral(", data: ") +
                  QString::number(bytes.size()) + QStringLiteral(" bytes"));
        return bytes;
    };
    if (!image.isNull()) {
        std::lock_guard lock(encodedMutex);
        for (const EncodedImage& e : encoded)
            if (e.key == image.cacheKey() && e.maxSize == maxSize) return logged(e.bytes);
    }

    // One pixel per point, the fraction dropped. Nothing to draw into counts as a failed bitmap.
    const bool drawable = !image.isNull() && w >= 1 && h >= 1 && w <= INT_MAX && h <= INT_MAX;
    QImage bitmap;
    if (drawable) bitmap = QImage(int(w), int(h), QImage::Format_ARGB32_Premultiplied);
    if (bitmap.isNull()) {
        log.warning(QStringLiteral("ImageHelper: Failed to create bitmap representation"));
        return std::nullopt;
    }
    bitmap.fill(Qt::transparent);
    {
        // One draw does the reduction too: the whole source into the unrounded size, so the
        // pixel grid cuts off the fraction rather than squeezing it in.
        QPainter painter(&bitmap);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(0, 0, w, h), image);
    }

    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(bitmap) || bytes.isEmpty()) {
        log.warning(QStringLiteral("ImageHelper: Failed to convert to PNG"));
        return std::nullopt;
    }

    {
        std::lock_guard lock(encodedMutex);
        encoded.push_front({image.cacheKey(), maxSize, bytes});
        if (encoded.size() > kEncodedKept) encoded.pop_back();
    }
    return logged(bytes);
}

std::optional<QByteArray> ImageHelper::appIconPNGData(const std::optional<QString>& appName,
                                                      const std::optional<QString>& bundleId, double maxSize) {
    const std::optional<QImage> icon = AppIconHelper::getIcon(appName, bundleId);
    if (!icon) {
        Log::shared().debug(QStringLiteral("ImageHelper: Could not get icon for app '") +
                            appName.value_or(QStringLiteral("unknown")) + QStringLiteral("' bundleId '") +
                            bundleId.value_or(QStringLiteral("unknown")) + QLatin1Char('\''));
        return std::nullopt;
    }
    return pngData(*icon, maxSize);
}

std::optional<QByteArray> ImageHelper::senderIconPNGData(const std::optional<QString>& themedName,
                                                         const std::optional<QByteArray>& png, double maxSize) {
    if (png && !png->isEmpty()) {
        QBuffer buffer;
        buffer.setData(*png);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "png");
        const QSize size = reader.size();
        if (reader.canRead() && size.isValid() && !size.isEmpty() && size.width() <= maxSize && size.height() <= maxSize)
            return png;
    }
    if (themedName && !themedName->isEmpty()) {
        if (const std::optional<QImage> icon = AppIconHelper::getIconForThemedName(*themedName))
            return pngData(*icon, maxSize);
    }
    return std::nullopt;
}

std::optional<QImage> ImageHelper::image(const QByteArray& data) {
    QImage decoded = QImage::fromData(data);
    if (decoded.isNull()) {
        Log::shared().warning(QStringLiteral("ImageHelper: Failed to create NSImage from data"));
        return std::nullopt;
    }
    const QSizeF size = decoded.deviceIndependentSize();
    if (size.width() > 0 && size.height() > 0) return decoded;
    Log::shared().warning(QStringLiteral("ImageHelper: Image has invalid size: ") +
                          format::size(size.width(), size.height()));
    return std::nullopt;
}
