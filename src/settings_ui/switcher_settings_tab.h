#pragma once

#include "single_switch_tab.h"

// The Switcher tab: whether the recent-apps service starts with the notch features.
SingleSwitchTabModel::Config switcherSettingsTabConfig();
QWidget* makeSwitcherSettingsTab(const SettingsEnvironment& environment);
