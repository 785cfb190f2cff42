#pragma once

// The volume activity: a speaker that follows the level and the mute state, and the level bar
// (empty while muted).

#include "live_activities/level_activity_view.h"

class VolumeActivityView final : public LevelActivityView {
    Q_OBJECT

public:
    explicit VolumeActivityView(QWidget* parent = nullptr, const LiveActivityEnvironment& environment = {});

    const VolumeInfo& volumeInfo() const { return volumeInfo_; }
    static QString volumeIconName(const VolumeInfo& info);

protected:
    QString symbolName() const override { return volumeIconName(volumeInfo_); }
    QColor symbolColor() const override { return Qt::white; }
    QColor barColor() const override { return Qt::white; }
    double targetLevel() const override;
    platform::AnyCancellable followRecords() override;

private:
    VolumeInfo volumeInfo_{0.5f, false};
};
