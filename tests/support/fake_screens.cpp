#include "support/fake_screens.h"

namespace testsupport {

platform::ScreenInfo plainScreen(double x, double y, double width, double height, double menuBar,
                                 std::optional<uint32_t> displayNumber) {
    platform::ScreenInfo screen;
    screen.frame = QRectF(x, y, width, height);
    screen.visibleFrame = QRectF(x, y, width, height - menuBar);
    screen.displayNumber = displayNumber;
    return screen;
}

platform::ScreenInfo notchedScreen(double x, double y, double width, double height, double inset, double leftWidth,
                                   double rightWidth, std::optional<uint32_t> displayNumber) {
    platform::ScreenInfo screen = plainScreen(x, y, width, height, inset, displayNumber);
    screen.safeAreaTopInset = inset;
    screen.auxiliaryTopLeftArea = QRectF(x, y + height - inset, leftWidth, inset);
    screen.auxiliaryTopRightArea = QRectF(x + width - rightWidth, y + height - inset, rightWidth, inset);
    screen.isBuiltIn = true;
    return screen;
}

FakeScreens::FakeScreens() : previous_(platform::Screens::setShared(this)) {}

FakeScreens::~FakeScreens() { platform::Screens::setShared(previous_); }

std::optional<platform::ScreenInfo> FakeScreens::mainScreen() const {
    const size_t index = mainIndex.value_or(0);
    if (index >= screenList.size()) return std::nullopt;
    return screenList[index];
}

QRectF FakeScreens::primaryQtGeometry() const {
    if (screenList.empty()) return QRectF();
    return QRectF(QPointF(0, 0), screenList.front().frame.size());
}

}  // namespace testsupport
