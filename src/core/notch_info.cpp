#include "core/notch_info.h"

NotchInfo NotchInfo::detect(const platform::ScreenInfo& screen) {
    const double top = screen.safeAreaTopInset;
    // Also true for a non-number.
    if (!(top > 0)) return {0, 0, false};

    if (screen.auxiliaryTopLeftArea && screen.auxiliaryTopRightArea) {
        const double width =
            screen.frame.width() - screen.auxiliaryTopLeftArea->width() - screen.auxiliaryTopRightArea->width();
        return {width, top, true};
    }
    return {200, 32, true};
}
