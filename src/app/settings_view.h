#pragma once

class QWidget;

// The content of the settings window, opened on its General tab. Its tabs are not part of the
// application yet, so the window opens empty.
QWidget* makeSettingsView();
