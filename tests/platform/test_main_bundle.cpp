#include "platform/shell/main_bundle.h"
#include "support/fixtures.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::MainBundle;

namespace {

QByteArray plist(const QByteArray& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\"><dict>" +
           body + "</dict></plist>\n";
}

TEST(MainBundleTest, ReadsTheIdentifierOnlyFromTheTopDictionary) {
    EXPECT_EQ(MainBundle::bundleIdentifierFromInfoPlist(plist("<key>CFBundleName</key><string>Quillvex</string>"
                                                              "<key>LSUIElement</key><true/>"
                                                              "<key>CFBundleIdentifier</key><string>com.varnock."
                                                              "Quillvex</string>")),
              QStringLiteral("com.varnock.Quillvex"));

    const QByteArray rejected[] = {
        plist("<key>CFBundleName</key><string>Quillvex</string>"),
        plist("<key>CFBundleIdentifier</key><integer>7</integer>"),
        plist("<key>CFBundleIdentifier</key><string></string>"),
        plist("<key>Nested</key><dict><key>CFBundleIdentifier</key><string>com.other</string></dict>"),
        plist("<key>CFBundleIdentifier</key><string>com.varnock.Quillvex</string><key>Broken</key>"),
        plist("<key>CFBundleIdentifier</key><string>com.varnock.Quillvex</string>").chopped(12),
        "<array><string>CFBundleIdentifier</string></array>",
        "",
        "\xff\xfe garbage",
    };
    for (const QByteArray& bytes : rejected) {
        EXPECT_FALSE(MainBundle::bundleIdentifierFromInfoPlist(bytes).has_value()) << bytes.constData();
    }
}

TEST(MainBundleTest, BundleIsTheAppFolderAroundTheExecutable) {
    QTemporaryDir dir;
    const QString app = dir.path() + QStringLiteral("/Quillvex.app");
    const QString info = app + QStringLiteral("/Contents/Info.plist");
    ASSERT_TRUE(testsupport::writeFile(info, plist("<key>CFBundleIdentifier</key><string>com.varnock.Quillvex</string>")));

    const MainBundle bundle = MainBundle::fromExecutable(app + QStringLiteral("/Contents/MacOS/Quillvex"));
    EXPECT_EQ(bundle.bundlePath(), app);
    EXPECT_EQ(bundle.bundleIdentifier(), QStringLiteral("com.varnock.Quillvex"));

    // Without the list the bundle has no identifier; outside a bundle the folder is the bundle.
    QFile::remove(info);
    EXPECT_FALSE(MainBundle::fromExecutable(app + QStringLiteral("/Contents/MacOS/Quillvex")).bundleIdentifier());
    const MainBundle loose = MainBundle::fromExecutable(dir.path() + QStringLiteral("/bin/quillvex"));
    EXPECT_EQ(loose.bundlePath(), dir.path() + QStringLiteral("/bin"));
    EXPECT_FALSE(loose.bundleIdentifier().has_value());
}

}  // namespace
