#pragma once

#include "settings_environment.h"

class QWidget;

// Every tab page is built by one function of this shape, defined in the tab's own file. A page
// is built when its tab is first selected and belongs to the window from then on.
using SettingsTabBuilder = QWidget* (*)(const SettingsEnvironment& environment);

// An empty page, for a tab whose content is not part of the application yet.
QWidget* makeEmptySettingsTab(const SettingsEnvironment& environment);

QWidget* makeUISettingsTab(const SettingsEnvironment& environment);
QWidget* makeLiveActivitySettingsTab(const SettingsEnvironment& environment);
QWidget* makeDropSettingsTab(const SettingsEnvironment& environment);
QWidget* makeSwitcherSettingsTab(const SettingsEnvironment& environment);

// Defined by their tabs' files as those arrive; until then the table shows an empty page.
QWidget* makeGeneralSettingsTab(const SettingsEnvironment& environment);
QWidget* makeMusicSettingsTab(const SettingsEnvironment& environment);
QWidget* makeGlanceSettingsTab(const SettingsEnvironment& environment);
QWidget* makeUpdatesSettingsTab(const SettingsEnvironment& environment);
