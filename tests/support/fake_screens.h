#pragma once

#include "platform/screens/screens.h"

namespace testsupport {

// A screen of `width` x `height` points at `origin` (global coordinates) with a menu bar of
// `menuBar` points and no notch.
platform::ScreenInfo plainScreen(double x, double y, double width, double height, double menuBar = 25,
                                 std::optional<uint32_t> displayNumber = std::nullopt);
// The same with a notch of `inset` height between auxiliary areas `leftWidth` and `rightWidth`
// wide; the screen is built in.
platform::ScreenInfo notchedScreen(double x, double y, double width, double height, double inset, double leftWidth,
                                   double rightWidth, std::optional<uint32_t> displayNumber = std::nullopt);

// Scripted screens and pointer. The main screen is the first unless one is chosen; the primary
// screen's Qt geometry is the first screen's size at the Qt origin. Installs itself as the
// shared provider while alive.
class FakeScreens final : public platform::Screens {
public:
    FakeScreens();
    ~FakeScreens() override;
    FakeScreens(const FakeScreens&) = delete;
    FakeScreens& operator=(const FakeScreens&) = delete;

    std::vector<platform::ScreenInfo> screenList;
    std::optional<size_t> mainIndex;
    QPointF mouse;
    // How often the pointer was read.
    mutable int mouseQueries = 0;

    std::vector<platform::ScreenInfo> screens() const override { return screenList; }
    std::optional<platform::ScreenInfo> mainScreen() const override;
    QPointF mouseLocation() const override {
        ++mouseQueries;
        return mouse;
    }
    QRectF primaryQtGeometry() const override;

private:
    platform::Screens* previous_;
};

}  // namespace testsupport
