// Which way a device scrolls, read from its XInput2 properties on a private X server. Xvfb's XTest
// pointer takes libinput's natural-scrolling property as a libinput device carries it (8-bit
// integer); the server's own mouse has none.

#include "platform/scrolling/scroll_directions.h"

#include "support/service_fixtures.h"

#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

const QString kProperty = QStringLiteral("libinput Natural Scrolling Enabled");

bool setNaturalScrolling(const QString& device, int on) {
    return testsupport::runTool(QStringLiteral("xinput"), {QStringLiteral("set-prop"), QStringLiteral("--type=int"),
                                                          QStringLiteral("--format=8"), device, kProperty,
                                                          QString::number(on)}) == 0;
}

// The id of the device named `name` ("Virtual core XTEST pointer"), -1 when there is none.
int deviceId(const QString& name) {
    QString id;
    if (testsupport::runTool(QStringLiteral("xinput"), {QStringLiteral("list"), QStringLiteral("--id-only"), name}, &id) != 0)
        return -1;
    bool ok = false;
    const int value = id.trimmed().toInt(&ok);
    return ok ? value : -1;
}

TEST(X11ScrollDirectionsTest, ReadsEachDevicesNaturalScrollingAfreshAndFalseWhereItHasNone) {
    QString error;
    if (QStandardPaths::findExecutable(QStringLiteral("xinput")).isEmpty()) QUILLVEX_SERVICE_MISSING("xinput is not installed");
    auto x = testsupport::PrivateXServer::start(QStringLiteral("640x480x24"), &error);
    if (!x) QUILLVEX_SERVICE_MISSING(error.toStdString());
    auto display = x->exportDisplay();
    const int xtest = deviceId(QStringLiteral("Virtual core XTEST pointer"));
    const int mouse = deviceId(QStringLiteral("Xvfb mouse"));
    ASSERT_GT(xtest, 0);
    ASSERT_GT(mouse, 0);

    platform::X11ScrollDirections directions(x->display().toUtf8());
    // No device has ever had the property: the server does not know its name yet.
    EXPECT_FALSE(directions.isInvertedFromDevice(xtest));
    ASSERT_TRUE(setNaturalScrolling(QStringLiteral("Virtual core XTEST pointer"), 1));
    EXPECT_TRUE(directions.isInvertedFromDevice(xtest));
    EXPECT_FALSE(directions.isInvertedFromDevice(mouse));
    // Changed in the desktop's settings: the next read sees it.
    ASSERT_TRUE(setNaturalScrolling(QStringLiteral("Virtual core XTEST pointer"), 0));
    EXPECT_FALSE(directions.isInvertedFromDevice(xtest));
    ASSERT_TRUE(setNaturalScrolling(QStringLiteral("Virtual core XTEST pointer"), 1));
    EXPECT_TRUE(directions.isInvertedFromDevice(xtest));
    // Devices that do not exist, and ids no device can have.
    EXPECT_FALSE(directions.isInvertedFromDevice(200));
    EXPECT_FALSE(directions.isInvertedFromDevice(0));
    EXPECT_FALSE(directions.isInvertedFromDevice(-4));
    EXPECT_FALSE(directions.isInvertedFromDevice(1 << 20));

    // Without an X server nothing is inverted.
    platform::X11ScrollDirections nowhere(QByteArrayLiteral(":9999"));
    EXPECT_FALSE(nowhere.isInvertedFromDevice(xtest));
}

}  // namespace
