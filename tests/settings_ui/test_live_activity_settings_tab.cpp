#include "core/app_settings.h"
#include "settings_fixture.h"
#include "settings_ui/live_activity_settings_tab.h"
#include "settings_ui/settings_card.h"

#include <QGridLayout>
#include <QLabel>

namespace {

const QStringList kEnglish{"Charging",   "Power Disconnect", "Bluetooth", "Volume",       "Display Brightness",
                           "Keyboard Brightness", "Lock / Unlock", "Screenshot", "Bluetooth File Received", "Input Source",
                           "Low Battery"};

}  // namespace

class LiveActivitySettingsTabTest : public SettingsTest {
protected:
    QList<SwitchToggle*> switches(QWidget* tab) {
        QList<SwitchToggle*> result;
        for (const auto& row : LiveActivitySettingsModel(defaults()).rows()) {
            result << find<SwitchToggle>(tab, row.key);
        }
        return result;
    }
};

TEST_F(LiveActivitySettingsTabTest, FreshSettingsShowEverySwitchOnInTableOrder) {
    LiveActivitySettingsTab tab(environment);
    QStringList titles;
    QStringList keys;
    for (const auto& row : tab.model().rows()) {
        titles << row.title;
        keys << row.key;
        EXPECT_TRUE(row.isOn);
    }
    EXPECT_EQ(titles, kEnglish);
    EXPECT_EQ(keys.first(), "liveActivity_charging");
    EXPECT_EQ(keys[6], "liveActivity_screenLock");
    EXPECT_EQ(keys.last(), "liveActivity_lowBattery");
    EXPECT_FALSE(keys.contains("liveActivity_screenUnlock"));
    for (auto* toggle : switches(&tab)) EXPECT_TRUE(toggle->isChecked());

    auto* card = tab.findChild<SettingsCard*>();
    EXPECT_EQ(card->titleLabel()->text(), "Live Activity");
    EXPECT_EQ(card->subtitleLabel()->text(), "Enable or disable individual Live Activities");

    // Two columns, six lines: Low Battery stands alone on the last.
    auto* grid = qobject_cast<QGridLayout*>(find<QWidget>(&tab, QStringLiteral("liveActivityGrid"))->layout());
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->rowCount(), 6);
    EXPECT_EQ(grid->verticalSpacing(), 10);
    EXPECT_NE(grid->itemAtPosition(5, 0), nullptr);
    EXPECT_EQ(grid->itemAtPosition(5, 1), nullptr);
    EXPECT_TRUE(grid->itemAtPosition(1, 1)->widget()->isAncestorOf(switches(&tab)[3]));
    EXPECT_TRUE(written.isEmpty());
}

TEST_F(LiveActivitySettingsTabTest, EachSwitchWritesOnlyItsOwnKey) {
    LiveActivitySettingsTab tab(environment);
    auto toggles = switches(&tab);
    toggles[3]->click();
    EXPECT_EQ(written, QStringList({"liveActivity_volume"}));
    EXPECT_EQ(defaults().boolValue(QStringLiteral("liveActivity_volume")), false);
    EXPECT_FALSE(AppSettings(&defaults()).isLiveActivityEnabled(LiveActivityType::volume));
    EXPECT_FALSE(toggles[3]->isChecked());
    EXPECT_FALSE(tab.model().rows()[3].isOn);

    toggles[3]->click();
    EXPECT_EQ(defaults().boolValue(QStringLiteral("liveActivity_volume")), true);

    written.clear();
    toggles[6]->click();
    EXPECT_EQ(written, QStringList({"liveActivity_screenLock"}));
    EXPECT_FALSE(defaults().contains(QStringLiteral("liveActivity_screenUnlock")));
}

TEST_F(LiveActivitySettingsTabTest, StartsFromAndFollowsTheStore) {
    defaults().set(QStringLiteral("liveActivity_airdrop"), false);
    defaults().set(QStringLiteral("liveActivity_lowBattery"), 0.0);
    LiveActivitySettingsTab tab(environment);
    auto toggles = switches(&tab);
    EXPECT_FALSE(toggles[8]->isChecked());
    EXPECT_FALSE(toggles[10]->isChecked());
    EXPECT_TRUE(toggles[9]->isChecked());

    written.clear();
    defaults().set(QStringLiteral("liveActivity_charging"), false);
    EXPECT_FALSE(toggles[0]->isChecked());
    EXPECT_EQ(written, QStringList({"liveActivity_charging"}));
}

TEST_F(LiveActivitySettingsTabTest, JapaneseLabels) {
    useJapanese();
    LiveActivitySettingsTab tab(environment);
    const auto rows = tab.model().rows();
    EXPECT_EQ(rows[0].title, "充電開始");
    EXPECT_EQ(rows[1].title, "電源切断");
    EXPECT_EQ(rows[8].title, "Bluetoothファイル受信");
    EXPECT_EQ(switches(&tab)[1]->text(), "電源切断");
    auto* card = tab.findChild<SettingsCard*>();
    EXPECT_EQ(card->titleLabel()->text(), "Live Activity");
    EXPECT_EQ(card->subtitleLabel()->text(), "各Live Activityの有効/無効を切り替え");
}
