#include "switcher_settings_tab.h"

#include "core/app_settings.h"

SingleSwitchTabModel::Config switcherSettingsTabConfig() {
    return {
        AppSettings::enableSwitcherKey,
        true,
        QStringLiteral("square.stack.3d.up"),
        {QStringLiteral("Switcher"), QStringLiteral("スイッチャー")},
        {QStringLiteral("Quickly switch between recent apps"), QStringLiteral("最近使ったアプリに素早く切替")},
        {QStringLiteral("Enable App Switcher"), QStringLiteral("アプリスイッチャーを有効化")},
        {QStringLiteral("Turn this on only if you want the notch app switcher UI."),
         QStringLiteral("アプリ切り替えのノッチ UI を使う場合だけ有効にします。")},
    };
}

QWidget* makeSwitcherSettingsTab(const SettingsEnvironment& environment) {
    auto* tab = new SingleSwitchTab(environment, switcherSettingsTabConfig());
    tab->setObjectName(QStringLiteral("SwitcherSettingsTab"));
    return tab;
}
