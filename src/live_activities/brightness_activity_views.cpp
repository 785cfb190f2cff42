#include "live_activities/brightness_activity_views.h"

BrightnessActivityView::BrightnessActivityView(const platform::CurrentValueSubject<std::optional<BrightnessInfo>>& subject,
                                               const LiveActivityEnvironment& environment, QWidget* parent)
    : LevelActivityView(environment, parent), subject_(subject) {}

platform::AnyCancellable BrightnessActivityView::followRecords() {
    if (const std::optional<BrightnessInfo> current = subject_.value())
        takeRecord([&] { brightnessInfo_ = *current; }, false);
    return subject_.sink(lifetime().wrap([this](const std::optional<BrightnessInfo>& info) {
        if (info) takeRecord([&] { brightnessInfo_ = *info; }, true);
    }));
}

DisplayBrightnessActivityView::DisplayBrightnessActivityView(QWidget* parent, const LiveActivityEnvironment& environment)
    : BrightnessActivityView(environment.resolved().bus->displayBrightnessSubject, environment, parent) {}

QString DisplayBrightnessActivityView::brightnessIconName(float level) {
    if (level < 0.01f) return QStringLiteral("sun.min");
    if (level < 0.5f) return QStringLiteral("sun.min.fill");
    return QStringLiteral("sun.max.fill");
}

KeyboardBrightnessActivityView::KeyboardBrightnessActivityView(QWidget* parent, const LiveActivityEnvironment& environment)
    : BrightnessActivityView(environment.resolved().bus->keyboardBrightnessSubject, environment, parent) {}
