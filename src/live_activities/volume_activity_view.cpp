#include "live_activities/volume_activity_view.h"

VolumeActivityView::VolumeActivityView(QWidget* parent, const LiveActivityEnvironment& environment)
    : LevelActivityView(environment, parent) {}

QString VolumeActivityView::volumeIconName(const VolumeInfo& info) {
    if (info.isMuted) return QStringLiteral("speaker.slash.fill");
    if (info.level < 0.01f) return QStringLiteral("speaker.slash.fill");
    if (info.level < 0.33f) return QStringLiteral("speaker.wave.1.fill");
    if (info.level < 0.66f) return QStringLiteral("speaker.wave.2.fill");
    return QStringLiteral("speaker.wave.3.fill");
}

double VolumeActivityView::targetLevel() const { return volumeInfo_.isMuted ? 0.0 : static_cast<double>(volumeInfo_.level); }

platform::AnyCancellable VolumeActivityView::followRecords() {
    if (const std::optional<VolumeInfo> current = bus().volumeInfoSubject.value())
        takeRecord([&] { volumeInfo_ = *current; }, false);
    return bus().volumeInfoSubject.sink(lifetime().wrap([this](const std::optional<VolumeInfo>& info) {
        if (info) takeRecord([&] { volumeInfo_ = *info; }, true);
    }));
}
