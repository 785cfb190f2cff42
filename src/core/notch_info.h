#pragma once

#include "platform/screens/screens.h"

// The camera notch of one screen: its width and height in points, and whether there is one.
struct NotchInfo {
    double width = 0;
    double height = 0;
    bool hasSafeArea = false;

    // Measures the notch from the screen's geometry as it is now. A screen with a top inset but
    // without both auxiliary areas gets a typical notch, since the real one cannot be measured.
    static NotchInfo detect(const platform::ScreenInfo& screen);
};
