#include "core/notch_info.h"
#include "support/fake_screens.h"

#include <gtest/gtest.h>

#include <cmath>

using testsupport::notchedScreen;
using testsupport::plainScreen;

namespace {

void expectNotch(const NotchInfo& info, double width, double height, bool hasSafeArea) {
    EXPECT_DOUBLE_EQ(info.width, width);
    EXPECT_DOUBLE_EQ(info.height, height);
    EXPECT_EQ(info.hasSafeArea, hasSafeArea);
}

}  // namespace

TEST(NotchInfoTest, TheInsetAndTheAuxiliaryAreasMeasureTheNotch) {
    expectNotch(NotchInfo::detect(plainScreen(1512, 0, 1920, 1080)), 0, 0, false);
    // Auxiliary areas alone do not make a notch; neither does a negative or non-number inset.
    platform::ScreenInfo screen = notchedScreen(0, 0, 1512, 982, 32, 662, 662);
    for (double inset : {0.0, -5.0, std::nan("")}) {
        screen.safeAreaTopInset = inset;
        expectNotch(NotchInfo::detect(screen), 0, 0, false);
    }
    // Both areas measure it wherever the screen sits.
    expectNotch(NotchInfo::detect(notchedScreen(0, 0, 1512, 982, 32, 662, 662)), 188, 32, true);
    expectNotch(NotchInfo::detect(notchedScreen(-3000, 400, 1728, 1117, 38, 760, 780)), 188, 38, true);
    // An inset without one of them falls back to the typical notch.
    screen = notchedScreen(0, 0, 1512, 982, 40, 662, 662);
    screen.auxiliaryTopRightArea.reset();
    expectNotch(NotchInfo::detect(screen), 200, 32, true);
    screen.auxiliaryTopLeftArea.reset();
    expectNotch(NotchInfo::detect(screen), 200, 32, true);
}
