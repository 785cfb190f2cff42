#pragma once

#include "settings_tab_pages.h"

#include <QString>

#include <vector>

// One tab of the settings window: its tag, label, symbol and page.
struct SettingsTabInfo {
    int tag;
    QString (*label)();  // read at each use, in the language in force
    const char* symbol;
    SettingsTabBuilder build;
};

// The eight tabs in window order.
const std::vector<SettingsTabInfo>& settingsTabs();
