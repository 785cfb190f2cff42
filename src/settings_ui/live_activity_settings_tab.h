#pragma once

#include "core/system_event_records.h"
#include "settings_binding.h"
#include "settings_controls.h"
#include "settings_environment.h"

#include <array>
#include <vector>

class SettingsCard;
class SwitchToggle;

// One switch per live activity (Lock / Unlock covers both lock types with the lock key). The
// switches start from the stored settings and follow them; flipping one stores its own key.
class LiveActivitySettingsModel {
public:
    struct Row {
        LiveActivityType type;
        QString title;
        QString icon;
        QString key;
        bool isOn = true;
    };
    static constexpr int rowCount = 11;

    explicit LiveActivitySettingsModel(platform::Defaults& defaults);

    QString cardTitle() const;
    QString cardSubtitle() const;
    // In table order.
    std::vector<Row> rows() const;
    void setEnabled(int row, bool on);

    const platform::PassthroughSubject<>& changed() const { return watch_.changed(); }

private:
    void reload();

    platform::Defaults& defaults_;
    std::array<bool, rowCount> enabled_{};
    SettingsKeyWatch watch_;
    platform::AnyCancellable reloadSubscription_;
};

class LiveActivitySettingsTab final : public SettingsPage {
    Q_OBJECT

public:
    explicit LiveActivitySettingsTab(const SettingsEnvironment& environment, QWidget* parent = nullptr);
    LiveActivitySettingsModel& model() { return model_; }

private:
    void refresh();

    LiveActivitySettingsModel model_;
    SettingsCard* card_;
    std::vector<SwitchToggle*> switches_;
    platform::AnyCancellable subscription_;
};

QWidget* makeLiveActivitySettingsTab(const SettingsEnvironment& environment);
