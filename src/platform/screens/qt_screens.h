#pragma once

#include "platform/screens/screens.h"

#include <QString>

#include <map>
#include <mutex>
#include <optional>

class QScreen;

namespace platform {

// Screens as Qt reports them. Ordinary screens have no camera housing; with
// QUILLVEX_SIMULATED_NOTCH=<width>x<height> the primary screen gets one, so the notch features
// can be tried here.
class QtScreens final : public Screens {
public:
    // Reads the simulated notch from the environment.
    QtScreens();
    explicit QtScreens(std::optional<QSizeF> simulatedNotch) : simulatedNotch_(simulatedNotch) {}

    std::vector<ScreenInfo> screens() const override;
    std::optional<ScreenInfo> mainScreen() const override;
    QPointF mouseLocation() const override;
    QRectF primaryQtGeometry() const override;

private:
    ScreenInfo info(QScreen* screen, const QRectF& primaryGeometry, bool primary) const;
    uint32_t displayNumber(QScreen* screen) const;

    std::optional<QSizeF> simulatedNotch_;
    mutable std::mutex mutex_;
    // Numbers stay with a screen's name for the life of the process.
    mutable std::map<QString, uint32_t> numbers_;
};

}  // namespace platform
