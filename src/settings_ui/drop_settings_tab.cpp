#include "drop_settings_tab.h"

#include "core/app_settings.h"

SingleSwitchTabModel::Config dropSettingsTabConfig() {
    return {
        AppSettings::enableDropKey,
        true,
        QStringLiteral("arrow.down.doc"),
        {QStringLiteral("Drop"), QStringLiteral("ドロップ")},
        {QStringLiteral("Drag & drop files to the notch"), QStringLiteral("ファイルをノッチにドラッグ＆ドロップ")},
        {QStringLiteral("Enable Drop"), QStringLiteral("ドロップ機能を有効化")},
        {QStringLiteral("Enables the notch drop target for files dragged from the file manager."),
         QStringLiteral("ファイルマネージャーからファイルをノッチへドラッグしたときの受け皿を有効化します。")},
    };
}

QWidget* makeDropSettingsTab(const SettingsEnvironment& environment) {
    auto* tab = new SingleSwitchTab(environment, dropSettingsTabConfig());
    tab->setObjectName(QStringLiteral("DropSettingsTab"));
    return tab;
}
