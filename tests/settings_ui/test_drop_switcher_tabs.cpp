#include "core/app_settings.h"
#include "settings_fixture.h"
#include "settings_ui/drop_settings_tab.h"
#include "settings_ui/settings_card.h"
#include "settings_ui/switcher_settings_tab.h"

#include <QLabel>

using DropSwitcherTabsTest = SettingsTest;

TEST_F(DropSwitcherTabsTest, FreshSettingsShowBothSwitchesOnAndFlipsAreStored) {
    std::unique_ptr<QWidget> drop(makeDropSettingsTab(environment));
    std::unique_ptr<QWidget> switcher(makeSwitcherSettingsTab(environment));
    auto* dropSwitch = find<SwitchToggle>(drop.get(), QStringLiteral("enableDropSwitch"));
    auto* switcherSwitch = find<SwitchToggle>(switcher.get(), QStringLiteral("enableSwitcherSwitch"));
    EXPECT_TRUE(dropSwitch->isChecked());
    EXPECT_TRUE(switcherSwitch->isChecked());
    EXPECT_EQ(dropSwitch->text(), "Enable Drop");
    EXPECT_EQ(switcherSwitch->text(), "Enable App Switcher");
    EXPECT_EQ(find<QLabel>(drop.get(), QStringLiteral("note"))->text(),
              "Enables the notch drop target for files dragged from the file manager.");
    EXPECT_EQ(find<QLabel>(switcher.get(), QStringLiteral("note"))->text(),
              "Turn this on only if you want the notch app switcher UI.");
    EXPECT_TRUE(written.isEmpty());

    dropSwitch->click();
    EXPECT_EQ(written, QStringList({AppSettings::enableDropKey}));
    EXPECT_FALSE(AppSettings(&defaults()).enableDrop());
    switcherSwitch->click();
    EXPECT_FALSE(AppSettings(&defaults()).enableSwitcher());
    dropSwitch->click();
    EXPECT_TRUE(AppSettings(&defaults()).enableDrop());

    // A value written elsewhere shows at once, with nothing written back.
    written.clear();
    defaults().set(AppSettings::enableSwitcherKey, true);
    EXPECT_TRUE(switcherSwitch->isChecked());
    EXPECT_EQ(written, QStringList({AppSettings::enableSwitcherKey}));
}

TEST_F(DropSwitcherTabsTest, JapaneseTexts) {
    useJapanese();
    std::unique_ptr<QWidget> drop(makeDropSettingsTab(environment));
    std::unique_ptr<QWidget> switcher(makeSwitcherSettingsTab(environment));
    auto* dropCard = drop->findChild<SettingsCard*>();
    EXPECT_EQ(dropCard->titleLabel()->text(), "ドロップ");
    EXPECT_EQ(dropCard->subtitleLabel()->text(), "ファイルをノッチにドラッグ＆ドロップ");
    EXPECT_EQ(find<QLabel>(drop.get(), QStringLiteral("note"))->text(),
              "ファイルマネージャーからファイルをノッチへドラッグしたときの受け皿を有効化します。");
    auto* switcherCard = switcher->findChild<SettingsCard*>();
    EXPECT_EQ(switcherCard->titleLabel()->text(), "スイッチャー");
    EXPECT_EQ(switcherCard->subtitleLabel()->text(), "最近使ったアプリに素早く切替");
    EXPECT_EQ(find<SwitchToggle>(switcher.get(), QStringLiteral("enableSwitcherSwitch"))->text(),
              "アプリスイッチャーを有効化");
}
