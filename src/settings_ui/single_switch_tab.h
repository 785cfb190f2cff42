#pragma once

#include "settings_binding.h"
#include "settings_controls.h"
#include "settings_environment.h"

class QLabel;
class SettingsCard;
class SwitchToggle;

// A tab made of one card with one Boolean setting and a note (the Drop and Switcher tabs).
class SingleSwitchTabModel {
public:
    struct Texts {
        QString english;
        QString japanese;
    };
    struct Config {
        QString key;
        bool fallback = true;
        QString icon;
        Texts title;
        Texts subtitle;
        Texts switchLabel;
        Texts note;
    };

    SingleSwitchTabModel(platform::Defaults& defaults, Config config);

    QString cardTitle() const;
    QString cardSubtitle() const;
    QString icon() const { return config_.icon; }
    QString switchLabel() const;
    QString note() const;
    QString key() const { return config_.key; }

    bool isOn() const;
    void setOn(bool on);

    const platform::PassthroughSubject<>& changed() const { return watch_.changed(); }

private:
    platform::Defaults& defaults_;
    Config config_;
    SettingsKeyWatch watch_;
};

class SingleSwitchTab final : public SettingsPage {
    Q_OBJECT

public:
    SingleSwitchTab(const SettingsEnvironment& environment, SingleSwitchTabModel::Config config,
                    QWidget* parent = nullptr);
    SingleSwitchTabModel& model() { return model_; }

private:
    void refresh();

    SingleSwitchTabModel model_;
    SettingsCard* card_;
    SwitchToggle* switch_;
    QLabel* note_;
    platform::AnyCancellable subscription_;
};
