#pragma once

#include <QByteArray>
#include <QImage>
#include <QSizeF>
#include <QString>

#include <optional>

// Icons as the compact PNG bytes that travel in notification records, and back. Sizes are in
// points: an image's pixel size divided by its device pixel ratio.
class ImageHelper {
public:
    // The image, reduced to at most `maxSize` points on its longer edge, as PNG bytes of one
    // pixel per point (fractions dropped).
    static std::optional<QByteArray> pngData(const QImage& image, double maxSize = maxIconSize);
    // The icon the full application lookup finds, as PNG bytes.
    static std::optional<QByteArray> appIconPNGData(const std::optional<QString>& appName,
                                                    const std::optional<QString>& bundleId,
                                                    double maxSize = maxIconSize);
    // The icon a notification's sender named, as the store keeps it, as PNG bytes: stored PNG
    // bytes whose header says they are within `maxSize` pixels pass as they are (anything larger
    // or not a PNG is refused undecoded); a themed name is looked up in the icon theme.
    static std::optional<QByteArray> senderIconPNGData(const std::optional<QString>& themedName,
                                                       const std::optional<QByteArray>& png,
                                                       double maxSize = maxIconSize);
    // Decodes image bytes; absent when they are no image or the image is empty.
    static std::optional<QImage> image(const QByteArray& data);

private:
    static constexpr double maxIconSize = 512.0;

    // The size within `maxSize` points: unchanged when it fits (never enlarged), else scaled
    // down with its aspect kept and fractions left in place.
    static QSizeF reducedSize(const QSizeF& size, double maxSize);
};
