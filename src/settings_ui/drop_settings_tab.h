#pragma once

#include "single_switch_tab.h"

// The Drop tab: whether files dragged to the notch open the drop zone.
SingleSwitchTabModel::Config dropSettingsTabConfig();
QWidget* makeDropSettingsTab(const SettingsEnvironment& environment);
