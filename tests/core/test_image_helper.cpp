#include "core/image_helper.h"
#include "support/fake_workspace.h"
#include "support/fixtures.h"

#include <QBuffer>
#include <QColor>

using platform::LogLevel;

namespace {

class ImageHelperTest : public testsupport::QuillvexTest {
protected:
    static QImage solid(int width, int height, const QColor& color = QColor(30, 120, 200)) {
        QImage image(width, height, QImage::Format_ARGB32);
        image.fill(color);
        return image;
    }

    static QImage decode(const std::optional<QByteArray>& bytes) {
        EXPECT_TRUE(bytes.has_value());
        return bytes ? QImage::fromData(*bytes, "PNG") : QImage();
    }

    testsupport::FakeWorkspace workspace;
};

TEST_F(ImageHelperTest, LargeImageIsBoundedAndLogsUnroundedSize) {
    const std::optional<QByteArray> png = ImageHelper::pngData(solid(700, 300));
    const QImage decoded = decode(png);
    EXPECT_EQ(decoded.size(), QSize(512, 219));
    EXPECT_TRUE(log.contains(
        LogLevel::Debug, QStringLiteral("ImageHelper: Optimized image (700.0, 300.0) → (512.0, 219.42857142857142), "
                                        "data: %1 bytes")
                             .arg(png->size())));

    EXPECT_EQ(decode(ImageHelper::pngData(solid(300, 2000))).size(), QSize(76, 512));
}

TEST_F(ImageHelperTest, SmallImageKeepsItsPointSizeAndPixels) {
    QImage pattern(100, 50, QImage::Format_ARGB32);
    for (int y = 0; y < pattern.height(); ++y)
        for (int x = 0; x < pattern.width(); ++x) pattern.setPixel(x, y, (x + y) % 2 ? 0xff102030u : 0x80ffffffu);

    const QImage decoded = decode(ImageHelper::pngData(pattern));
    ASSERT_EQ(decoded.size(), QSize(100, 50));
    // Not scaled, so not resampled: every pixel survives, semi-transparent ones included.
    EXPECT_EQ(decoded.convertToFormat(QImage::Format_ARGB32), pattern);
    EXPECT_EQ(log.matching(QStringLiteral("ImageHelper: Optimized image (100.0, 50.0) → (100.0, 50.0), data: ")).size(),
              1);

    EXPECT_EQ(decode(ImageHelper::pngData(solid(512, 512))).size(), QSize(512, 512));

    // Sizes are points: twice as many pixels as points are encoded at the point size.
    QImage retina = solid(200, 200);
    retina.setDevicePixelRatio(2.0);
    EXPECT_EQ(decode(ImageHelper::pngData(retina)).size(), QSize(100, 100));
    EXPECT_EQ(log.matching(QStringLiteral("ImageHelper: Optimized image (100.0, 100.0) → (100.0, 100.0)")).size(), 1);
}

TEST_F(ImageHelperTest, EmptyImageFailsWithoutData) {
    EXPECT_FALSE(ImageHelper::pngData(QImage()).has_value());
    EXPECT_TRUE(log.contains(LogLevel::Warning, QStringLiteral("ImageHelper: Failed to create bitmap representation")));
    EXPECT_TRUE(log.matching(QStringLiteral("ImageHelper: Optimized")).isEmpty());
}

TEST_F(ImageHelperTest, DecodesOnlyRealImages) {
    const std::optional<QByteArray> png = ImageHelper::pngData(solid(40, 20));
    const std::optional<QImage> back = ImageHelper::image(*png);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->size(), QSize(40, 20));

    for (const QByteArray& junk : {QByteArray(), QByteArray("not an image"), png->left(png->size() / 3)}) {
        log.clear();
        EXPECT_FALSE(ImageHelper::image(junk).has_value());
        EXPECT_EQ(log.texts(), QStringList{QStringLiteral("ImageHelper: Failed to create NSImage from data")});
    }
}

TEST_F(ImageHelperTest, AppIconBecomesPngOrExplainsWhyNot) {
    workspace.addApplication(7, QStringLiteral("com.example.Mail"), QStringLiteral("Mail"),
                             testsupport::solidIcon(QColor(200, 40, 40), 128));
    const QImage decoded = decode(ImageHelper::appIconPNGData(QStringLiteral("Mail"), std::nullopt));
    EXPECT_EQ(decoded.size(), QSize(128, 128));
    EXPECT_EQ(decoded.pixelColor(64, 64), QColor(200, 40, 40));

    log.clear();
    EXPECT_FALSE(ImageHelper::appIconPNGData(std::nullopt, std::nullopt).has_value());
    EXPECT_TRUE(log.contains(QStringLiteral("AppIconHelper: No app name provided")));
    EXPECT_EQ(log.texts().last(),
              QStringLiteral("ImageHelper: Could not get icon for app 'unknown' bundleId 'unknown'"));
}

// The store's copy of a sender's icon: small PNG bytes pass unchanged, anything whose header
// promises more (or is no PNG) is refused without being decoded.
TEST_F(ImageHelperTest, SendersStoredIconPassesOnlyWhenSmallAndPng) {
    const QByteArray small = *ImageHelper::pngData(solid(128, 64));
    EXPECT_EQ(ImageHelper::senderIconPNGData(std::nullopt, small), small);
    EXPECT_EQ(ImageHelper::senderIconPNGData(QStringLiteral("no-such-icon-here"), small), small);

    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        solid(32, 32).save(&buffer, "JPG");
    }
    for (const QByteArray& refused : {*ImageHelper::pngData(solid(600, 20), 1000), jpeg, small.left(20), QByteArray()})
        EXPECT_FALSE(ImageHelper::senderIconPNGData(std::nullopt, refused).has_value());
    EXPECT_FALSE(ImageHelper::senderIconPNGData(QStringLiteral("no-such-icon-here"), std::nullopt).has_value());
}

}  // namespace
