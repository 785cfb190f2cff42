#include "settings_tabs.h"

#include "core/l10n.h"
#include "settings_controls.h"

QWidget* makeEmptySettingsTab(const SettingsEnvironment&) { return new SettingsPage(); }

const std::vector<SettingsTabInfo>& settingsTabs() {
    // A tab's page arrives by naming its builder in its row.
    static const std::vector<SettingsTabInfo> tabs{
        {1, &L10n::tabGeneral, "gear", &makeGeneralSettingsTab},
        {2, &L10n::tabUI, "paintbrush", &makeUISettingsTab},
        {3, &L10n::tabMusic, "music.note", &makeMusicSettingsTab},
        {4, &L10n::tabLiveActivity, "sparkles.rectangle.stack", &makeLiveActivitySettingsTab},
        {5, &L10n::tabGlance, "calendar.badge.clock", &makeGlanceSettingsTab},
        {6, &L10n::tabDrop, "arrow.down.doc", &makeDropSettingsTab},
        {7, &L10n::tabSwitcher, "square.stack.3d.up", &makeSwitcherSettingsTab},
        {8, &L10n::tabUpdates, "arrow.triangle.2.circlepath", &makeUpdatesSettingsTab},
    };
    return tabs;
}
